#include "viewerform.h"

#include "runtime.h"
#include "webcontrols.h"

#include <QScopeGuard>

ViewerForm::ViewerForm(forms::Runtime &runtime, const forms::FormDesign &design)
    : Form(runtime, design), SetWindowPos(runtime.user32(), QStringLiteral("user32"), "SetWindowPos")
{ }

void ViewerForm::connectEvents()
{
    on(&Command1(), &forms::CommandButton::Click, [this] { Command1_Click(); });
}

void ViewerForm::showFor(const QString &link, const QString &title)
{
    m_link = link;
    m_title = title;
    Show();
    // The keyboard comes to the viewer as it opens: what has it shows its focus mark, as
    // after Tab, until a click. (Showing the window clears the mark's flag, so after it.)
    if (isLoaded())
        window().setAttribute(Qt::WA_KeyboardFocusChange);
}

void ViewerForm::unloadForNextPress()
{
    m_unloadBy = keeping::Keeping::By::NextPress;
    const auto reset = qScopeGuard([this] { m_unloadBy = keeping::Keeping::By::User; });
    Unload();
}

void ViewerForm::Form_Unload(std::int16_t &)
{
    view().finish(m_unloadBy);
}

void ViewerForm::Form_Load()
{
    // What it shows, for screen readers: the viewers' caption is the same for all.
    window().setAccessibleDescription(m_title);
    // The line that says an archived copy is shown: in the strip below the view, left of
    // the close button, where it covers nothing of the page or movie.
    const QRect v = view().geometry();
    const QRect close = Command1().geometry();
    view().setArchiveLabelArea(
        QRect(QPoint(v.left(), v.bottom() + 1), QPoint(close.left() - 8, window().height() - 1)));
    open(m_link, m_title);
    SetWindowPos(user32::toHandle(hWnd()), user32::HWND_TOPMOST, 0, 0, 0, 0, user32::SWP_NOMOVE | user32::SWP_NOSIZE);
}

void ViewerForm::Command1_Click()
{
    Unload();
}
