#pragma once

// What the two viewers have in common. The module's door is viewers.h.

#include "form.h"
#include "keeping.h"
#include "viewers_export.h"
#include "user32.h"

class ViewerView;

// What both viewers share: a close button, and a load that hands the link it was shown
// for to the viewer's component and then joins the topmost band.
class VIEWERS_EXPORT ViewerForm : public forms::Form
{
    Q_OBJECT
public:
    ViewerForm(forms::Runtime &runtime, const forms::FormDesign &design);
    // Shows the viewer for link (the link field's text as the press found it), which its
    // load opens; title says what it is (the chosen entry, or the address).
    void showFor(const QString &link, const QString &title);
    // Unloads it to make room for the next press's viewer (viewers::unload): what it
    // showed may be kept for what comes next, where the user's close lets it go.
    void unloadForNextPress();

    forms::CommandButton &Command1() { return control<forms::CommandButton>(QStringLiteral("Command1")); }
    forms::Label &Label1() { return control<forms::Label>(QStringLiteral("Label1")); }
    forms::Label &Image1() { return control<forms::Label>(QStringLiteral("Image1")); }

protected:
    void Form_Load() override;
    void connectEvents() override;
    void Form_Unload(std::int16_t &Cancel) override;
    // The one control showing what the viewer is for.
    virtual ViewerView &view() = 0;
    // Hands the link, unchanged, to the browser or the player.
    virtual void open(const QString &link, const QString &title) = 0;

private:
    void Command1_Click();
    user32::Binding<user32::SetWindowPos_t> SetWindowPos;
    QString m_link;
    QString m_title;
    keeping::Keeping::By m_unloadBy = keeping::Keeping::By::User;
};
