#include "viewerform.h"

#include "Form1.h"
#include "Form2.h"
#include "runtime.h"

ViewerForm::ViewerForm(forms::Runtime &runtime, const forms::FormDesign &design)
    : Form(runtime, design), SetWindowPos(runtime.user32(), QStringLiteral("user32"), "SetWindowPos")
{
}

void ViewerForm::connectEvents()
{
    on(&Command1(), &forms::CommandButton::Click, [this] { Command1_Click(); });
}

void ViewerForm::Form_Load()
{
    // The main window's link field; reading it loads the main window if it is not loaded.
    forms::Form &main = runtime().formNamed(QStringLiteral("frmtest"));
    open(main.control<forms::TextBox>(QStringLiteral("Text1")).Text());
    SetWindowPos(user32::toHandle(hWnd()), user32::HWND_TOPMOST, 0, 0, 0, 0, user32::SWP_NOMOVE | user32::SWP_NOSIZE);
}

void ViewerForm::Command1_Click()
{
    Unload();
}

// The module's entry point: the program calls it once it has loaded the module, the
// first time it needs a viewer.
extern "C" VIEWERS_EXPORT void photoforKP_registerViewers(forms::Runtime &runtime)
{
    runtime.registerForm(QStringLiteral("Form1"), [](forms::Runtime &rt) { return std::make_unique<Form1>(rt); });
    runtime.registerForm(QStringLiteral("Form2"), [](forms::Runtime &rt) { return std::make_unique<Form2>(rt); });
}
