#pragma once

#include "form.h"
#include "user32.h"
#include "webcontrols.h"

// The album viewer: a small topmost tool window playing the current link's movie.
class Form1 : public forms::Form
{
    Q_OBJECT
public:
    explicit Form1(forms::Runtime &runtime);
    static const forms::FormDesign &Design();

    forms::CommandButton &Command1() { return control<forms::CommandButton>(QStringLiteral("Command1")); }
    ShockwaveFlash &ShockwaveFlash1() { return control<ShockwaveFlash>(QStringLiteral("ShockwaveFlash1")); }
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
