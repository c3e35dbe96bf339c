#include "viewermodule.h"

#include "errors.h"
#include "messages.h"
#include "runtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QLibrary>
#include <QWidget>

#include <memory>

namespace viewermodule {

namespace {

using ShowFn = void (*)(forms::Runtime &, Viewer, const QString &, const QString &);
using ViewerFn = void (*)(forms::Runtime &, Viewer);
using SaveFn = QWidget *(*)(forms::Runtime &);
struct Module
{
    ShowFn show = nullptr;
    ViewerFn unload = nullptr;
    ViewerFn prepare = nullptr;
    SaveFn save = nullptr;
};

Module &theModule()
{
    static Module loaded;
    return loaded;
}

const Module &loadModule()
{
    Module &module = theModule();
    if (module.show)
        return module;
    // Loading the browser engine after start-up is deliberate (the viewers module provides
    // the shared GL context itself), so the engine's advice about start-up order is noise.
    forms::dropMessages({"Qt WebEngine seems to be initialized from a plugin"});
    const QString appDir = QCoreApplication::applicationDirPath();
    QString errors;
    // Where the environment says (programs run from elsewhere in the build tree, such as
    // tests), beside the program (the build tree), or in its private library folder.
    QStringList dirs{appDir, appDir + QStringLiteral("/../" PHOTOFORKP_INSTALL_LIBDIR "/photoforKP")};
    if (qEnvironmentVariableIsSet("PHOTOFORKP_VIEWERS_DIR"))
        dirs.prepend(qEnvironmentVariable("PHOTOFORKP_VIEWERS_DIR"));
    for (const QString &dir : std::as_const(dirs)) {
        // Owned by the application and never unloaded: the viewers' code runs until the
        // program ends (deleting a QLibrary leaves its code mapped).
        auto library = std::make_unique<QLibrary>(QDir(dir).filePath(QStringLiteral("photoforKP-viewers")));
        const auto show = reinterpret_cast<ShowFn>(library->resolve("photoforKP_showViewer"));
        const auto unload = reinterpret_cast<ViewerFn>(library->resolve("photoforKP_unloadViewer"));
        const auto prepare = reinterpret_cast<ViewerFn>(library->resolve("photoforKP_prepareViewer"));
        const auto save = reinterpret_cast<SaveFn>(library->resolve("photoforKP_saveCatalogue"));
        if (show && unload && prepare && save) {
            library.release()->setParent(QCoreApplication::instance());
            module = {show, unload, prepare, save};
            return module;
        }
        errors += library->errorString() + QLatin1Char('\n');
    }
    forms::raise(forms::err::CantLoadLibrary,
                 QStringLiteral("Error in loading DLL: the viewers module\n%1").arg(errors.trimmed()));
}

} // namespace

void load()
{
    loadModule();
}

QWidget *saveCatalogue(forms::Runtime &runtime)
{
    return loadModule().save(runtime);
}

void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title)
{
    loadModule().show(runtime, viewer, link, title);
}

void prepare(forms::Runtime &runtime, Viewer viewer)
{
    try {
        loadModule().prepare(runtime, viewer);
    } catch (const forms::RuntimeError &) {
        // The press says what is wrong; a warm-up says nothing.
    }
}

namespace {

struct PrepareAhead
{ };

class IntentWatcher : public QObject
{
public:
    IntentWatcher(forms::Runtime &runtime, Viewer viewer, std::function<bool()> ready, QObject *parent)
        : QObject(parent), m_runtime(runtime), m_viewer(viewer), m_ready(std::move(ready))
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::Enter || event->type() == QEvent::FocusIn) && m_ready())
            prepare(m_runtime, m_viewer);
        return QObject::eventFilter(watched, event);
    }

private:
    forms::Runtime &m_runtime;
    Viewer m_viewer;
    std::function<bool()> m_ready;
};

} // namespace

void enablePreparingAhead(forms::Runtime &runtime)
{
    runtime.service<PrepareAhead>([] { return new PrepareAhead; });
}

bool preparesAhead(const forms::Runtime &runtime)
{
    return runtime.hasService<PrepareAhead>();
}

void prepareOnIntent(forms::Runtime &runtime, Viewer viewer, const QList<QWidget *> &controls,
                     std::function<bool()> ready)
{
    if (controls.isEmpty())
        return;
    auto *watcher = new IntentWatcher(runtime, viewer, std::move(ready), controls.first()->window());
    for (QWidget *control : controls)
        control->installEventFilter(watcher);
}

void unload(forms::Runtime &runtime, Viewer viewer)
{
    if (theModule().unload) // with the module not loaded, no viewer was made
        theModule().unload(runtime, viewer);
}

} // namespace viewermodule
