#include "application.h"

#include "frmAbout.h"
#include "identity.h"
#include "runtime.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace app {

void prepareEnvironment()
{
    // Qt's shader cache and Mesa's would otherwise land under ~/.cache.
    qputenv("QT_DISABLE_SHADER_DISK_CACHE", "1");
    qputenv("MESA_SHADER_CACHE_DISABLE", "true");
    qputenv("MESA_GLSL_CACHE_DISABLE", "true");
}

void applyDefaultFont()
{
#ifndef Q_OS_WIN
    const QString family = QStringLiteral("WenQuanYi Micro Hei");
    if (QFontDatabase::hasFamily(family)) {
        QFont font(family);
        font.setPointSize(9);
        QApplication::setFont(font);
    }
#endif
}

int run(const std::function<void(forms::Runtime &)> &beforeStart)
{
    QApplication::setApplicationName(QString::fromUtf8(identity::ApplicationTitle));
    QApplication::setApplicationVersion(QString::fromUtf8(identity::Version));
    QApplication::setDesktopFileName(QStringLiteral("photoforKP"));
    // The program ends when its last form unloads, not when Qt sees no visible window.
    QApplication::setQuitOnLastWindowClosed(false);
    applyDefaultFont();

    forms::Runtime runtime;
    QObject::connect(&runtime, &forms::Runtime::lastWindowUnloaded, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (beforeStart)
        beforeStart(runtime);
    // The splash is the start-up window; it brings up the main window itself.
    forms::runGuarded(runtime.errorReporter(), [&] { runtime.form<frmAbout>().Show(); });
    if (runtime.Forms().empty())
        return 0;
    return QApplication::exec();
}

} // namespace app
