#pragma once

// The viewers module (loaded when the first viewer opens): the web page viewer (Form2),
// the album viewer (Form1), their browser engine and its safety rules.

#include "form.h"
#include "viewers_export.h"
#include "user32.h"

// What both viewers share: a close button, and a load that hands the main window's link
// to the viewer's component and then joins the topmost band.
class VIEWERS_EXPORT ViewerForm : public forms::Form
{
    Q_OBJECT
public:
    ViewerForm(forms::Runtime &runtime, const forms::FormDesign &design);

    forms::CommandButton &Command1() { return control<forms::CommandButton>(QStringLiteral("Command1")); }
    forms::Label &Label1() { return control<forms::Label>(QStringLiteral("Label1")); }
    forms::Label &Image1() { return control<forms::Label>(QStringLiteral("Image1")); }

protected:
    void Form_Load() override;
    void connectEvents() override;
    // Hands the link, unchanged, to the browser or the player.
    virtual void open(const QString &link) = 0;

private:
    void Command1_Click();
    user32::Binding<user32::SetWindowPos_t> SetWindowPos;
};
