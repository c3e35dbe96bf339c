#include "viewerform.h"

#include "frmtest.h"
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
    // Reading the link loads the main window if it is not loaded yet.
    open(runtime().form<frmtest>().Text1().Text());
    SetWindowPos(user32::toHandle(hWnd()), user32::HWND_TOPMOST, 0, 0, 0, 0, user32::SWP_NOMOVE | user32::SWP_NOSIZE);
}

void ViewerForm::Command1_Click()
{
    Unload();
}
