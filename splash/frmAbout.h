#pragma once

// frmAbout: the splash window that fades in at start and opens the main window.

#include "form.h"
#include "opacity.h"

#include <cstdint>

// The splash: fades in, holds two seconds, fades out while bringing up the main window,
// then unloads itself. Its "X" closes it at once.
class frmAbout : public forms::Form
{
    Q_OBJECT
public:
    explicit frmAbout(forms::Runtime &runtime);
    static const forms::FormDesign &Design();

    forms::Label &Label7() { return control<forms::Label>(QStringLiteral("Label7")); }
    forms::Timer &Timer1() { return control<forms::Timer>(QStringLiteral("Timer1")); }
    forms::Timer &Timer3() { return control<forms::Timer>(QStringLiteral("Timer3")); }
    forms::Timer &Trans() { return control<forms::Timer>(QStringLiteral("Trans")); }

    void Timer3_Timer();
    void Timer1_Timer();
    void Trans_Timer();
    void Label7_Click();

    std::int16_t CurrentAlpha = 0;
    std::int16_t AlphaLimit = 0;

protected:
    void Form_Load() override;
    void connectEvents() override;

private:
    std::int32_t ApplyAlpha(quintptr hWnd, std::int16_t alpha);
    opacity::LayeredWindowFunctions m_user32;
};
