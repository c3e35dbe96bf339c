#include "viewermodule.h"

#include "errors.h"
#include "runtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

#include <memory>

namespace viewermodule {

namespace {

using RegisterFn = void (*)(forms::Runtime &);
using ShowFn = void (*)(forms::Runtime &, int, const QString &, const QString &);

struct Module
{
    RegisterFn registerViewers = nullptr;
    ShowFn show = nullptr;
};

QtMessageHandler previousHandler = nullptr;

// Loading the browser engine after start-up is deliberate (the viewers module provides
// the shared GL context itself), so the engine's advice about start-up order is noise.
void quietLateStartNotice(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("Qt WebEngine seems to be initialized from a plugin")))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}

const Module &loadModule()
{
    static Module module;
    if (module.show)
        return module;
    static const bool filtering = [] {
        previousHandler = qInstallMessageHandler(quietLateStartNotice);
        return true;
    }();
    Q_UNUSED(filtering);
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
        const auto registerViewers = reinterpret_cast<RegisterFn>(library->resolve("photoforKP_registerViewers"));
        const auto show = reinterpret_cast<ShowFn>(library->resolve("photoforKP_showViewer"));
        if (registerViewers && show) {
            library.release()->setParent(QCoreApplication::instance());
            module = {registerViewers, show};
            return module;
        }
        errors += library->errorString() + QLatin1Char('\n');
    }
    forms::raise(forms::err::CantLoadLibrary, QStringLiteral("Error in loading DLL: the viewers module\n%1").arg(errors.trimmed()));
}

QString classOf(Viewer viewer)
{
    return viewer == Viewer::Album ? QStringLiteral("Form1") : QStringLiteral("Form2");
}

} // namespace

void load(forms::Runtime &runtime)
{
    const Module &module = loadModule();
    if (!runtime.isRegistered(classOf(Viewer::Page)) || !runtime.isRegistered(classOf(Viewer::Album)))
        module.registerViewers(runtime);
}

void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title)
{
    load(runtime);
    loadModule().show(runtime, viewer == Viewer::Album ? 1 : 0, link, title);
}

void unload(forms::Runtime &runtime, Viewer viewer)
{
    if (forms::Form *form = runtime.findForm(classOf(viewer)))
        form->Unload();
}

} // namespace viewermodule
