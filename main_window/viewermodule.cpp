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

RegisterFn loadModule()
{
    static RegisterFn registerViewers = nullptr;
    if (registerViewers)
        return registerViewers;
    static const bool filtering = [] {
        previousHandler = qInstallMessageHandler(quietLateStartNotice);
        return true;
    }();
    Q_UNUSED(filtering);
    const QString appDir = QCoreApplication::applicationDirPath();
    QString errors;
    for (const QString &dir : {appDir, appDir + QStringLiteral("/../" PHOTOFORKP_INSTALL_LIBDIR "/photoforKP"),
                               QStringLiteral(PHOTOFORKP_MODULE_BUILD_DIR)}) {
        // Owned by the application and never unloaded: the viewers' code runs until the
        // program ends (deleting a QLibrary leaves its code mapped).
        auto library = std::make_unique<QLibrary>(QDir(dir).filePath(QStringLiteral("photoforKP-viewers")));
        registerViewers = reinterpret_cast<RegisterFn>(library->resolve("photoforKP_registerViewers"));
        if (registerViewers) {
            library.release()->setParent(QCoreApplication::instance());
            return registerViewers;
        }
        errors += library->errorString() + QLatin1Char('\n');
    }
    forms::raise(forms::err::CantLoadLibrary, QStringLiteral("Error in loading DLL: the viewers module\n%1").arg(errors.trimmed()));
}

} // namespace

forms::Form &viewer(forms::Runtime &runtime, const QString &className)
{
    if (!runtime.isRegistered(className))
        loadModule()(runtime);
    return runtime.formNamed(className);
}

void unload(forms::Runtime &runtime, const QString &className)
{
    if (forms::Form *form = runtime.findForm(className))
        form->Unload();
}

} // namespace viewermodule
