#pragma once

#include "form.h"
#include "user32.h"
#include "webcontrols.h"

// The web page viewer: a small topmost tool window showing the current link.
class Form2 : public forms::Form
{
    Q_OBJECT
public:
    explicit Form2(forms::Runtime &runtime);
    static const forms::FormDesign &Design();

    forms::CommandButton &Command1() { return control<forms::CommandButton>(QStringLiteral("Command1")); }
    WebBrowser &WebBrowser1() { return control<WebBrowser>(QStringLiteral("WebBrowser1")); }
    forms::Label &Label1() { return control<forms::Label>(QStringLiteral("Label1")); }
    forms::Label &Image1() { return control<forms::Label>(QStringLiteral("Image1")); }

protected:
    void Form_Load() override;
    void connectEvents() override;
    QWidget *createCustomControl(const forms::ControlDesign &d, QWidget *parent) override;

private:
    void Command1_Click();
    user32::Binding<user32::SetWindowPos_t> SetWindowPos;
};
