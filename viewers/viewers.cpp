#include "viewers.h"

#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "playerhost.h"
#include "runtime.h"

namespace viewers {

void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title)
{
    ViewerForm &form = viewer == Viewer::Album ? static_cast<ViewerForm &>(runtime.form<Form1>())
                                               : static_cast<ViewerForm &>(runtime.form<Form2>());
    form.showFor(link, title);
}

void prepare(forms::Runtime &runtime, Viewer viewer)
{
    BrowserEngine &engine = BrowserEngine::of(runtime);
    QWebEngineProfile *profile = engine.profile();
    auto &host = runtime.service<PlayerHost>();
    if (viewer == Viewer::Album && host.start())
        engine.pages().warmPlayer(profile, host.warmUrl());
}

} // namespace viewers

void photoforKP_registerViewers(forms::Runtime &runtime)
{
    runtime.registerForm(QStringLiteral("Form1"), [](forms::Runtime &rt) { return std::make_unique<Form1>(rt); });
    runtime.registerForm(QStringLiteral("Form2"), [](forms::Runtime &rt) { return std::make_unique<Form2>(rt); });
}

void photoforKP_showViewer(forms::Runtime &runtime, int viewer, const QString &link, const QString &title)
{
    viewers::show(runtime, viewer == 1 ? viewers::Viewer::Album : viewers::Viewer::Page, link, title);
}

void photoforKP_prepareViewer(forms::Runtime &runtime, int viewer)
{
    viewers::prepare(runtime, viewer == 1 ? viewers::Viewer::Album : viewers::Viewer::Page);
}

void photoforKP_setArchive(const QString &prefix, const QString &date, bool everything)
{
    BrowserEngine::setArchiveForRun(QUrl(prefix), date, everything);
}
