#include "viewers.h"

#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "cataloguesaver.h"
#include "playerhost.h"
#include "runtime.h"

namespace viewers {

namespace {

template<class T>
void unloadIfMade(forms::Runtime &runtime)
{
    if (forms::Form *form = runtime.findForm(forms::Runtime::formKey<T>()))
        static_cast<T *>(form)->unloadForNextPress();
}

ViewerForm &formOf(forms::Runtime &runtime, Viewer viewer)
{
    return viewer == Viewer::Album ? static_cast<ViewerForm &>(runtime.form<Form1>())
                                   : static_cast<ViewerForm &>(runtime.form<Form2>());
}

} // namespace

void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title)
{
    unload(runtime, viewer); // a fresh window per press, whoever presses
    formOf(runtime, viewer).showFor(link, title);
}

void unload(forms::Runtime &runtime, Viewer viewer)
{
    if (viewer == Viewer::Album)
        unloadIfMade<Form1>(runtime);
    else
        unloadIfMade<Form2>(runtime);
}

void prepare(forms::Runtime &runtime, Viewer viewer)
{
    BrowserEngine &engine = ViewerServices::of(runtime).engine();
    QWebEngineProfile *profile = engine.profile();
    auto &host = ViewerServices::of(runtime).host();
    if (viewer == Viewer::Album && host.start())
        engine.pages().warmPlayer(profile, host.warmUrl());
}

} // namespace viewers

void photoforKP_showViewer(forms::Runtime &runtime, catalogue::Viewer viewer, const QString &link, const QString &title)
{
    viewers::show(runtime, viewer, link, title);
}

void photoforKP_unloadViewer(forms::Runtime &runtime, catalogue::Viewer viewer)
{
    viewers::unload(runtime, viewer);
}

void photoforKP_prepareViewer(forms::Runtime &runtime, catalogue::Viewer viewer)
{
    viewers::prepare(runtime, viewer);
}

QWidget *photoforKP_saveCatalogue(forms::Runtime &runtime)
{
    auto *saver = new CatalogueSaver(runtime, CatalogueSaver::everyEntry(catalogue::contentHost()),
                                     CatalogueSaver::timesFromEnvironment());
    saver->setAttribute(Qt::WA_DeleteOnClose);
    saver->show();
    saver->start();
    return saver;
}
