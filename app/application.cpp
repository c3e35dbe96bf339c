#include "application.h"

#include "options.h"

#include "addresses.h"
#include "client.h"
#include "archiverouting.h"
#include "userproxy.h"

#include "frmAbout.h"
#include "identity.h"
#include "language.h"
#include "messages.h"
#include "runtime.h"
#include "viewermodule.h"

#include <QApplication>
#include <QByteArrayList>
#include <QFont>
#include <QFontDatabase>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QLocale>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstring>
#include <functional>

#ifdef Q_OS_UNIX
#include <clocale>
#include <langinfo.h>
#endif
#ifdef PHOTOFORKP_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace app {

namespace {

// How long the archive's name may take to resolve at start.
constexpr int ArchiveLookupMs = 2000;

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
// Qt reads its options with one dash or two.
bool isOption(const char *arg, const char *name)
{
    if (arg[0] == '-' && arg[1] == '-')
        ++arg;
    return std::strcmp(arg, name) == 0;
}
#endif

} // namespace

bool displayReachable(int argc, char *argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    QByteArray display = qgetenv("DISPLAY");
    for (int i = 1; i + 1 < argc; ++i) {
        if (isOption(argv[i], "-platform"))
            platform = argv[++i];
        else if (isOption(argv[i], "-display"))
            display = argv[++i];
    }
    // Without a choice Qt takes X, except in a Wayland session. A choice may list
    // platforms to try in turn, each with options after a colon: any but X is Qt's to judge.
    if (platform.isEmpty() && qgetenv("XDG_SESSION_TYPE") == "wayland")
        return true;
    for (const QByteArray &name : platform.split(';'))
        if (!name.isEmpty() && name.split(':').constFirst() != "xcb")
            return true;

    if (display.isEmpty()) {
        std::fprintf(
            stderr, "photoforKP: %s\n",
            qPrintable(said(QT_TRANSLATE_NOOP("CommandLine", "no display to show windows on (DISPLAY is not set)"))));
        return false;
    }
#ifdef PHOTOFORKP_HAVE_XCB
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const bool answered = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (!answered) {
        // simplified(): whatever DISPLAY holds, the message stays one line.
        std::fprintf(stderr, "photoforKP: %s\n",
                     qPrintable(said(QT_TRANSLATE_NOOP("CommandLine",
                                                       "no display to show windows on (the display %1 did not answer)"))
                                    .arg(QString::fromLocal8Bit(display.simplified()))));
        return false;
    }
#endif
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
    return true;
}

bool takeCommandLine(int argc, char *argv[], int *status)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    speakChinese(wantsChinese([](const char *name) { return qgetenv(name); }));
    const Options options = parseOptions(arguments, QStringLiteral(PHOTOFORKP_ARCHIVE_DATE));
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "photoforKP: %s\n", qPrintable(options.error));
        *status = 2;
        return false;
    }
    if (options.help || options.version) {
        std::fputs(qPrintable(options.help ? optionsHelp() : versionLine()), stdout);
        *status = 0;
        return false;
    }
    // The user's proxy to the archive: the command line's, the environment's, or the
    // desktop's, read once the archive is first asked for.
    const QUrl prefix = options.archivePrefix;
    std::optional<QNetworkProxy> proxy = options.proxy;
    if (!proxy)
        proxy = userproxy::fromEnvironment(QProcessEnvironment::systemEnvironment(), prefix);
    const bool byName = QHostAddress(prefix.host()).isNull();
    if (!proxy && options.archiveUrlGiven && byName)
        proxy = userproxy::fromDesktop(prefix); // known now: it decides whether the name is ours to judge
    const std::function<QNetworkProxy()> findProxy = proxy ? std::function<QNetworkProxy()>([p = *proxy] { return p; })
                                                           : [prefix] { return userproxy::fromDesktop(prefix); };
    // Through a proxy, the name is the proxy's to look up, never ours.
    if (options.archiveUrlGiven && byName && (!proxy || proxy->type() == QNetworkProxy::NoProxy)) {
        const QString error = judgeArchivePrefix(options.archivePrefix, ArchiveLookupMs);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "photoforKP: %s\n", qPrintable(error));
            *status = 2;
            return false;
        }
    }
    // For every viewer's offer, and with --archive every link of the run.
    wayback::setRunArchive({{options.archivePrefix, options.archiveDate}, options.archive, findProxy});
    return true;
}

bool testSwitchesValid()
{
    if (qEnvironmentVariableIsSet("PHOTOFORKP_TEST_CA_CERTS")) {
        const QString error = http::ClientReply::testCertificatesError();
        if (!error.isEmpty()) {
            std::fprintf(stderr, "photoforKP: PHOTOFORKP_TEST_CA_CERTS: %s\n", qPrintable(error));
            return false;
        }
        std::fprintf(stderr, "photoforKP: PHOTOFORKP_TEST_CA_CERTS is set (for testing): its certificates are "
                             "trusted on loopback addresses alone\n");
    }
    if (!qEnvironmentVariableIsSet(guard::PublicAddressesVariable))
        return true;
    const guard::Parsed parsed = guard::parsePublicAddresses(qEnvironmentVariable(guard::PublicAddressesVariable));
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "photoforKP: %s: %s\n", guard::PublicAddressesVariable, qPrintable(parsed.error));
        return false;
    }
    std::fprintf(stderr, "photoforKP: %s is set (for testing): these loopback addresses count as the internet: %s\n",
                 guard::PublicAddressesVariable, qPrintable(qEnvironmentVariable(guard::PublicAddressesVariable)));
    return true;
}

void prepareEnvironment()
{
    // A normal start prints nothing but real errors; who sets QT_LOGGING_RULES, as Qt's
    // users do, sees everything.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
        // What Qt and the browser engine say on every ordinary start, which nobody can act on.
        forms::dropMessages({"QStandardPaths: XDG_RUNTIME_DIR not set",
                             "Sandboxing disabled by user", // the program says so itself, once
                             "No suitable graphics backend found"});
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
    // The program speaks Chinese whatever the system's language: numbers and dates it
    // formats, and the language a screen reader hears it report, follow.
    QLocale::setDefault(QLocale(QString::fromLatin1(forms::LanguageTag)));
    applyDefaultFont();
    forms::installQtTranslation(QStringLiteral("qtbase")); // a message box's buttons, say

    forms::Runtime runtime;
    QObject::connect(&runtime, &forms::Runtime::lastWindowUnloaded, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    viewermodule::enablePreparingAhead(runtime);
    if (beforeStart)
        beforeStart(runtime);
    // The splash is the start-up window; it brings up the main window itself.
    forms::runGuarded(runtime.errorReporter(), [&] { runtime.form<frmAbout>().Show(); });
    if (runtime.Forms().empty())
        return 0;
    return QApplication::exec();
}

} // namespace app
