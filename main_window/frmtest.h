#pragma once

// The main window and its catalogue commands; it reaches the viewers through
// viewermodule.h.

#include "form.h"

#include "catalogue.h"

#include <QString>

// The catalogue window: five framed catalogue sections, the hidden link field Text1.
class frmtest : public forms::Form
{
    Q_OBJECT
public:
    explicit frmtest(forms::Runtime &runtime);

    forms::Frame &Frame1() { return control<forms::Frame>(QStringLiteral("Frame1")); }
    forms::Frame &Frame2() { return control<forms::Frame>(QStringLiteral("Frame2")); }
    forms::Frame &Frame3() { return control<forms::Frame>(QStringLiteral("Frame3")); }
    forms::Frame &Frame4() { return control<forms::Frame>(QStringLiteral("Frame4")); }
    forms::Frame &Frame5() { return control<forms::Frame>(QStringLiteral("Frame5")); }
    forms::DropDownList &Combo1() { return control<forms::DropDownList>(QStringLiteral("Combo1")); }
    forms::DropDownList &Combo2() { return control<forms::DropDownList>(QStringLiteral("Combo2")); }
    forms::DropDownList &Combo3() { return control<forms::DropDownList>(QStringLiteral("Combo3")); }
    forms::DropDownList &Combo4() { return control<forms::DropDownList>(QStringLiteral("Combo4")); }
    forms::CommandButton &Command1() { return control<forms::CommandButton>(QStringLiteral("Command1")); }
    forms::CommandButton &Command2() { return control<forms::CommandButton>(QStringLiteral("Command2")); }
    forms::CommandButton &Command3() { return control<forms::CommandButton>(QStringLiteral("Command3")); }
    forms::CommandButton &Command4() { return control<forms::CommandButton>(QStringLiteral("Command4")); }
    forms::CommandButton &Command5() { return control<forms::CommandButton>(QStringLiteral("Command5")); }
    forms::TextBox &Text1() { return control<forms::TextBox>(QStringLiteral("Text1")); }
    forms::TextBox &Text2() { return control<forms::TextBox>(QStringLiteral("Text2")); }
    forms::Label &Label1() { return control<forms::Label>(QStringLiteral("Label1")); }
    forms::Label &Label2() { return control<forms::Label>(QStringLiteral("Label2")); }
    forms::Label &Label3() { return control<forms::Label>(QStringLiteral("Label3")); }
    forms::Timer &Timer1() { return control<forms::Timer>(QStringLiteral("Timer1")); }

    // The host the catalogue links point at; the build's content host unless a test
    // points the window at a server of its own.
    const QString &contentHost() const { return m_contentHost; }
    void setContentHost(const QString &host) { m_contentHost = host; }

    static const forms::FormDesign &Design();
    // The outer size, in twips, the window keeps whatever it is resized to.
    static constexpr std::int32_t KeptHeight = 6105;
    static constexpr std::int32_t KeptWidth = 4365;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Text2_Change();
    void Text2_GotFocus();
    void Timer1_Timer();

    // Fade state: the opacity last computed, its direction, and leave to close.
    bool FadingIn = false;
    std::int16_t CurrentAlpha = 0;
    bool CloseAllowed = false;

protected:
    void Form_Load() override;
    void Form_Resize() override;
    void Form_Unload(std::int16_t &Cancel) override;
    void connectEvents() override;

private:
    // Resolution, then both viewers unloaded, then the catalogue's viewer shown for the
    // link field's text; any failure ends it. describe: how the matched key is told.
    void openCatalogue(const catalogue::Catalogue &c, const std::function<QString()> &key,
                       const std::function<QString(const QString &)> &describe);
    QString m_contentHost;
};
