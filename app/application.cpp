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
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
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

// --archive-file or --save-catalogue without a name: asked for once the toolkit runs.
bool askForArchiveFile = false;
bool askForCatalogueCopy = false;
bool savingCatalogue = false;
QString archiveDate;

// The file dialog keeps its history in the toolkit's settings; the program writes
// nothing, so they go to a folder that goes with the dialog. Empty if none was chosen.
QString chooseFile(bool save)
{
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    QFileDialog dialog(nullptr, save ? QStringLiteral("保存整个图鉴的存档副本") : QStringLiteral("打开存档文件"),
                       QDir::homePath(),
                       save ? QStringLiteral("WACZ 网页存档 (*.wacz)")
                            : QStringLiteral("网页存档文件 (*.wacz *.warc.gz *.warc);;所有文件 (*)"));
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save) {
        dialog.setDefaultSuffix(QStringLiteral("wacz"));
        dialog.selectFile(QStringLiteral("photoforKP.wacz"));
        // Adding to a copy is what a second run does: no question of replacing it.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    }
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

// Where --save-catalogue without a name keeps the copy, as asked: false (said to the
// user) if nowhere usable was chosen.
bool takeChosenCopy()
{
    const QString path = chooseFile(true);
    if (path.isEmpty())
        return false;
    QString why;
    wayback::RunArchive run = wayback::runArchive();
    run.recorder = wayback::Recorder::open(path, &why);
    if (!run.recorder) {
        speakChinese(true); // the window speaks the interface's language
        QMessageBox::critical(nullptr, QStringLiteral("保存整个图鉴的存档副本"),
                              said(QT_TRANSLATE_NOOP("CommandLine", "--save-copy: cannot keep a copy in %1: %2"))
                                  .arg(path, said(why.toUtf8().constData())));
        return false;
    }
    wayback::setRunArchive(run);
    return true;
}

// What --archive-file without a name asks for, opened for the run: false (said to the
// user) if nothing usable was chosen.
bool takeChosenArchiveFile()
{
    const QString path = chooseFile(false);
    if (path.isEmpty())
        return false;
    QString error;
    const std::shared_ptr<warc::Collection> files = openArchiveFiles({path}, &error);
    if (!files) {
        speakChinese(true); // the window speaks the interface's language
        openArchiveFiles({path}, &error);
        QMessageBox::critical(nullptr, QStringLiteral("打开存档文件"), error);
        return false;
    }
    wayback::RunArchive run = wayback::runArchive();
    run.archive = {QUrl(QString::fromLatin1(wayback::FilePrefix)), archiveDate, files};
    run.everything = true;
    wayback::setRunArchive(run);
    return true;
}

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

std::shared_ptr<warc::Collection> openArchiveFiles(const QStringList &paths, QString *error)
{
    auto files = std::make_shared<warc::Collection>();
    for (const QString &path : paths) {
        QString why;
        if (!files->add(path, &why)) {
            *error = said(QT_TRANSLATE_NOOP("CommandLine", "not a usable archive file: %1: %2"))
                         .arg(path, said(why.toUtf8().constData()));
            return nullptr;
        }
    }
    return files;
}

bool finishCopy()
{
    const std::shared_ptr<wayback::Recorder> recorder = wayback::runArchive().recorder;
    QString why;
    if (!recorder || recorder->finish(&why))
        return true;
    std::fprintf(stderr, "photoforKP: %s\n",
                 qPrintable(said(QT_TRANSLATE_NOOP("CommandLine",
                                                   "the copy %1 could not be made (%2); what was kept stays in %3, "
                                                   "and the next run with --save-copy=%1 completes it"))
                                .arg(recorder->path(), said(why.toUtf8().constData()), recorder->path() + ".warc.gz")));
    return false;
}

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
    wayback::RunArchive run{{options.archivePrefix, options.archiveDate, {}}, options.archive, findProxy, {}};
    askForArchiveFile = options.askArchiveFile && options.archiveFiles.isEmpty();
    askForCatalogueCopy = options.askSaveCatalogue && options.saveCatalogue.isEmpty();
    savingCatalogue = options.askSaveCatalogue || !options.saveCatalogue.isEmpty();
    archiveDate = options.archiveDate;
    if (!options.archiveFiles.isEmpty()) {
        QString error;
        const std::shared_ptr<warc::Collection> files = openArchiveFiles(options.archiveFiles, &error);
        if (!files) {
            std::fprintf(stderr, "photoforKP: %s\n", qPrintable(error));
            *status = 2;
            return false;
        }
        run.archive = {QUrl(QString::fromLatin1(wayback::FilePrefix)), options.archiveDate, files};
        run.everything = true;
    }
    if (const QString copy = options.saveCopy.isEmpty() ? options.saveCatalogue : options.saveCopy; !copy.isEmpty()) {
        QString why;
        run.recorder = wayback::Recorder::open(copy, &why);
        if (!run.recorder) {
            std::fprintf(stderr, "photoforKP: %s\n",
                         qPrintable(said(QT_TRANSLATE_NOOP("CommandLine", "--save-copy: cannot keep a copy in %1: %2"))
                                        .arg(copy, said(why.toUtf8().constData()))));
            *status = 2;
            return false;
        }
        run.recorder->onFailure([path = copy](const QString &failure) {
            std::fprintf(stderr, "photoforKP: %s\n",
                         qPrintable(said(QT_TRANSLATE_NOOP("CommandLine",
                                                           "the copy %1 keeps nothing more: %2; what it kept so far "
                                                           "stays"))
                                        .arg(path, said(failure.toUtf8().constData()))));
        });
    }
    wayback::setRunArchive(run);
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

    if (askForArchiveFile && !takeChosenArchiveFile())
        return 0;
    if (askForCatalogueCopy && !takeChosenCopy())
        return 0;
    forms::Runtime runtime;
    if (savingCatalogue) {
        // Its own window in place of the main window's: the program ends when it closes.
        QWidget *saver = nullptr;
        forms::runGuarded(runtime.errorReporter(), [&] { saver = viewermodule::saveCatalogue(runtime); });
        if (!saver) { // the module could not load, and said so
            finishCopy();
            return 1;
        }
        QObject::connect(saver, &QObject::destroyed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        const int status = QApplication::exec();
        return finishCopy() ? status : 1;
    }
    QObject::connect(&runtime, &forms::Runtime::lastWindowUnloaded, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    viewermodule::enablePreparingAhead(runtime);
    if (beforeStart)
        beforeStart(runtime);
    // The splash is the start-up window; it brings up the main window itself.
    forms::runGuarded(runtime.errorReporter(), [&] { runtime.form<frmAbout>().Show(); });
    if (runtime.Forms().empty())
        return finishCopy() ? 0 : 1;
    const int status = QApplication::exec();
    return finishCopy() ? status : 1;
}

} // namespace app
