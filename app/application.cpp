#include "application.h"

#include "frmAbout.h"
#include "identity.h"
#include "runtime.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QLocale>
#include <QTranslator>

#ifdef Q_OS_UNIX
#include <clocale>
#include <cstring>
#include <langinfo.h>
#endif

namespace app {

namespace {

QtMessageHandler previousHandler = nullptr;

// What Qt and the browser engine say on every ordinary start, which nobody can act on.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const char *const noise[] = {
        "QStandardPaths: XDG_RUNTIME_DIR not set",
        "Sandboxing disabled by user", // the program says so itself, once
        "No suitable graphics backend found",
    };
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        for (const char *n : noise)
            if (message.startsWith(QLatin1String(n)))
                return;
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void prepareEnvironment()
{
    // A normal start prints nothing but real errors; who sets QT_LOGGING_RULES, as Qt's
    // users do, sees everything.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
        previousHandler = qInstallMessageHandler(quietHandler);
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    }
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

// Qt's own texts (the buttons of a message box, say) in the program's language.
void installQtTranslation()
{
    auto *translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

// Window titles reach the window system's older properties through the C library's
// character set; without a UTF-8 one (a bare environment) the Chinese titles would be
// garbled there.
void useUtf8CharacterSet()
{
#ifdef Q_OS_UNIX
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
#endif
}

int run(const std::function<void(forms::Runtime &)> &beforeStart)
{
    QApplication::setApplicationName(QString::fromUtf8(identity::ApplicationTitle));
    QApplication::setApplicationVersion(QString::fromUtf8(identity::Version));
    QApplication::setDesktopFileName(QStringLiteral("photoforKP"));
    // The program ends when its last form unloads, not when Qt sees no visible window.
    QApplication::setQuitOnLastWindowClosed(false);
    useUtf8CharacterSet();
    applyDefaultFont();
    installQtTranslation();

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
