#include "browserengine.h"

#include "wayback.h"

#include "guard.h"
#include "language.h"
#include "playerhost.h"
#include "runtime.h"
#include "sandbox.h"
#include "viewerpage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLocale>
#include <QNetworkProxyFactory>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <cstdio>
#include <utility>

#ifdef Q_OS_UNIX
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

// Qt's own setter for the context that OpenGL users share: exported by Qt GUI but
// declared only in its private headers, so it is looked up when needed rather than
// linked. Checked against Qt 6.4.2 (Debian 12); Qt GUI has exported it under this name
// since Qt 5.
using SetShareContext = void (*)(QOpenGLContext *);
SetShareContext shareContextSetter()
{
#ifdef Q_OS_UNIX
    return reinterpret_cast<SetShareContext>(
        ::dlsym(RTLD_DEFAULT, "_Z30qt_gl_set_global_share_contextP14QOpenGLContext"));
#else
    return nullptr;
#endif
}

void appendEngineFlag(const QByteArray &flag, const QByteArray &unlessPresent)
{
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains(unlessPresent))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + ' ' + flag).trimmed());
}

// Draws views with Qt Quick's software renderer, and the engine's pages without OpenGL
// (the engine would otherwise look for the shared context that is not there).
void drawInSoftware()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    appendEngineFlag("--disable-gpu", "--disable-gpu");
}

// Whether an OpenGL renderer is a rasteriser on the processor (Mesa's llvmpipe and
// softpipe, SwiftShader, Windows' GDI one): drawing through it costs more than Qt
// Quick's own software renderer.
bool isSoftwareRenderer(const QByteArray &renderer)
{
    const QByteArray r = renderer.toLower();
    return r.contains("llvmpipe") || r.contains("softpipe") || r.contains("swiftshader") || r.contains("software")
           || r.contains("gdi generic");
}

// The engine comes with the first viewer, long after the application started without a
// shared OpenGL context: asking for one at start-up would make the main window load a
// GL driver it never uses. The engine wants one whatever it draws with (loaded late, as
// a module, it does not make its own), so it is made here, just before. Where OpenGL is
// missing or only a software rasteriser, the views draw with Qt Quick's software
// renderer instead.
void chooseDrawing()
{
    static bool chosen = false;
    if (std::exchange(chosen, true))
        return;
    // Linked in rather than loaded (a test, say), the engine has made its own already.
    QOpenGLContext *context = QOpenGLContext::globalShareContext();
    if (!context) {
        const SetShareContext setShareContext = shareContextSetter();
        if (!setShareContext) {
            std::fputs("photoforKP: this Qt has no qt_gl_set_global_share_context, so the viewers draw in "
                       "software\n",
                       stderr);
            return drawInSoftware();
        }
        context = new QOpenGLContext(qApp);
        setShareContext(context);
    }
#ifdef Q_OS_LINUX
    // No render node: whatever OpenGL there is runs on the processor. The engine only
    // reads the context's settings then, so no driver is loaded for it.
    if (QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty())
        return drawInSoftware();
#endif
    if (!context->isValid())
        context->create();
    QOffscreenSurface surface;
    surface.create();
    QByteArray renderer;
    if (context->isValid() && context->makeCurrent(&surface)) {
        renderer = reinterpret_cast<const char *>(context->functions()->glGetString(GL_RENDERER));
        context->doneCurrent();
    }
    if (renderer.isEmpty() || isSoftwareRenderer(renderer))
        drawInSoftware();
}

// What the engine reads from the environment when it starts, set by the program itself
// so that it runs the same from a launcher, a terminal or a script.
// Every connection of the engine goes through the guard (guard.h), loopback included:
// whatever proxy switches the environment holds give way to it, and WebRTC sends no
// UDP of its own past it.
QByteArray withGuard(const QByteArray &flags, quint16 port)
{
    QByteArray out;
    for (const QByteArray &flag : flags.split(' ')) {
        const bool proxyFlag = flag.startsWith("--proxy-") || flag.startsWith("--no-proxy-server")
                               || flag.startsWith("--proxy_") || flag.startsWith("--force-webrtc-ip-handling-policy")
                               || flag.startsWith("--winhttp-proxy-resolver");
        if (!flag.isEmpty() && !proxyFlag)
            out += flag + ' ';
    }
    if (port == 0) // the benchmark's own build, measuring what the guard costs
        return out.trimmed();
    return out + "--proxy-server=http://127.0.0.1:" + QByteArray::number(port)
           + " --proxy-bypass-list=<-loopback> --force-webrtc-ip-handling-policy=disable_non_proxied_udp";
}

void prepareEngineEnvironment(quint16 guardPort)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", withGuard(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), guardPort));
    // The engine reads its switches (above the desktop's setting) only while Qt is told
    // to use the system's proxy configuration; otherwise it takes Qt's application proxy,
    // with a bypass for this machine that would let pages past the guard.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
#ifdef Q_OS_UNIX
    // The engine refuses to start its sandbox as root, and would end the program.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("photoforKP: running as root, so the browser engine runs without its sandbox\n", stderr);
    }
#endif
#ifdef Q_OS_LINUX
    // Page contents reach screen readers only when the engine is told to build them.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
#endif
    // Pages from the internet may not reach into the user's machine or network, as
    // current browsers hold them: this engine's release has the rules, but not on.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const QByteArray &feature : {QByteArrayLiteral("BlockInsecurePrivateNetworkRequests"),
                                      QByteArrayLiteral("PrivateNetworkAccessRespectPreflightResults")}) {
        if (flags.contains(feature))
            continue;
        const qsizetype at = flags.indexOf("--enable-features=");
        if (at >= 0)
            flags.insert(at + qstrlen("--enable-features="), feature + ',');
        else
            flags += " --enable-features=" + feature;
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    // The engine's own log lines only when asked for, as Qt's are.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        appendEngineFlag("--log-level=3", "--log-level=");
    // The program speaks Simplified Chinese, whatever the system's locale: so do the
    // engine's own pages and messages.
    appendEngineFlag(QByteArrayLiteral("--lang=") + forms::LanguageTag, "--lang=");
    // One process per site, and each site its own: a new page of a site starts in the
    // site's running process instead of a new one, and what the player's movies used
    // stays out of the pages' process.
    appendEngineFlag("--site-per-process", "--site-per-process");
    appendEngineFlag("--process-per-site", "--process-per-site");
    // No spare process kept besides: what is kept warm is ours to give back.
    appendEngineFlag("--disable-features=SpareRendererForSitePerProcess", "SpareRendererForSitePerProcess");
    forms::installQtTranslation(QStringLiteral("qtwebengine"));
}

struct RunArchive
{
    wayback::Archive archive;
    bool everything = false;
};

RunArchive &runArchive()
{
    static RunArchive archive;
    return archive;
}

} // namespace

BrowserEngine::BrowserEngine()
    : m_guard(std::make_unique<guard::Guard>()), m_pages(std::make_unique<PageKeeper>())
#ifdef Q_OS_UNIX
    , m_handsToBrowser(::geteuid() != 0) // a browser started as root would run as root
#else
    , m_handsToBrowser(true)
#endif
{
    if (runArchive().archive.isSet())
        setArchive(runArchive().archive.prefix, runArchive().archive.date, runArchive().everything);
}

void BrowserEngine::setArchive(const QUrl &prefix, const QString &date, bool everything)
{
    const wayback::Archive archive{prefix, date};
    m_archiveEverything = everything && archive.isSet();
    m_guard->setArchive(archive, everything);
    if (m_playerHost) {
        m_playerHost->relay().setJudge(m_guard->judge()); // the archive's own address
        m_playerHost->relay().setArchive(archive, everything);
    }
}

void BrowserEngine::setArchiveForRun(const QUrl &prefix, const QString &date, bool everything)
{
    runArchive() = {{prefix, date}, everything};
}

bool BrowserEngine::hasArchive() const
{
    return m_guard->archive().isSet();
}

void BrowserEngine::archiveSite(const QUrl &url)
{
    m_guard->archiveSite(url);
    if (m_playerHost)
        m_playerHost->relay().archiveSite(url);
}

void BrowserEngine::setPlayerHost(PlayerHost *host)
{
    // The one place on this machine besides the content host that pages may reach.
    m_playerHost = host;
    if (host && host->start()) {
        m_guard->allow(QHostAddress::LocalHost, host->port());
        m_guard->keepLive(QHostAddress::LocalHost, host->port());
        // What movies ask for is held to the same rule (the relay refuses the host itself),
        // and comes from the same archive.
        host->relay().setJudge(m_guard->judge());
        host->relay().setArchive(m_guard->archive(), m_archiveEverything);
        // The engine reaches the host only through the guard: nothing else gets in.
        if (m_guarded)
            host->setAdmission([guard = QPointer<guard::Guard>(m_guard.get())](const QHostAddress &peer, quint16 port) {
                return guard && guard->isOwnConnection(peer, port);
            });
    }
}

BrowserEngine::~BrowserEngine() = default;

void BrowserEngine::setGuardedForBenchmark(bool guarded)
{
    m_guarded = guarded;
    if (!guarded && m_playerHost)
        m_playerHost->setAdmission({});
}

BrowserEngine &BrowserEngine::of(forms::Runtime &runtime)
{
    auto &host = runtime.service<PlayerHost>([] { return new PlayerHost; });
    auto &engine = runtime.service<BrowserEngine>([] { return new BrowserEngine; });
    engine.setPlayerHost(&host);
    return engine;
}

void BrowserEngine::openInBrowser(const QUrl &url)
{
    if (!m_handsToBrowser || !sandbox::mayOpenInBrowser(url))
        return;
    // Judged by where the name really leads, as the guard judges the engine's own
    // connections: the desktop's browser would look it up again, so a name that leads
    // anywhere but the internet now is not handed over at all.
    // A site the viewers have from the archive goes there as the archive's capture.
    QUrl address = url;
    if (m_guard->fromArchive(url.host(), quint16(url.port(80))) && url.scheme() == QLatin1String("http"))
        address = wayback::replayUrl(m_guard->archive().prefix, m_guard->archive().date, url);
    if (address.isEmpty())
        return;
    const quint16 port = quint16(address.port(address.scheme() == QLatin1String("https") ? 443 : 80));
    m_guard->resolvePublic(address.host(), port, this, [address](bool reachable) {
        if (reachable)
            QDesktopServices::openUrl(address);
    });
}

QWebEngineProfile *BrowserEngine::profile()
{
    if (!m_profile) {
        if (m_guarded && !m_guard->start())
            qFatal("photoforKP: the connection guard cannot listen on 127.0.0.1");
        prepareEngineEnvironment(m_guarded ? m_guard->port() : 0);
        chooseDrawing();
        m_profile = std::make_unique<QWebEngineProfile>(); // no storage name: off the record
        // Even off the record the engine keeps a folder: WebSQL holds its databases there
        // while a page runs, and IndexedDB, CacheStorage and service workers create it.
        // A folder below a device can never be made, so nothing is written; WebSQL then
        // fails to open, and the rest stays in memory.
        m_profile->setPersistentStoragePath(QStringLiteral("/dev/null/photoforKP"));
        m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        // Room for the emulator's WebAssembly (14 MB; one entry may take an eighth).
        m_profile->setHttpCacheMaximumSize(128 * 1024 * 1024);
        m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        m_profile->setSpellCheckEnabled(false);
        m_profile->setHttpAcceptLanguage(QString::fromLatin1(forms::LanguageTag) + QStringLiteral(",zh;q=0.9"));
        QWebEngineSettings *settings = m_profile->settings();
        // Albums start playing on their own, as a desktop player does.
        settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
        // No other program's scheme is ever handed to the desktop, clicked or not.
        settings->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        // A failed load is told in the viewer's own words (loadnotice.h). The engine's
        // page for it would set up fonts inside the sandbox, where fontconfig finds no
        // configuration and says so on stderr.
        settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        // The viewers save nothing: what the engine would download, its page may play
        // (a Flash movie), and everything else goes no further.
        connect(m_profile.get(), &QWebEngineProfile::downloadRequested, this, [](QWebEngineDownloadRequest *download) {
            if (auto *page = qobject_cast<ViewerPage *>(download->page()))
                page->offerDownload(download);
            else
                download->cancel();
        });
    }
    return m_profile.get();
}
