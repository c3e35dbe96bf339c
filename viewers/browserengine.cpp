#include "browserengine.h"

#include "archiverouting.h"
#include "wayback.h"

#include "enginestart.h"
#include "guard.h"
#include "language.h"
#include "playerhost.h"
#include "runtime.h"
#include "sandbox.h"
#include "viewerpage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

BrowserEngine::BrowserEngine()
    : m_guard(std::make_unique<guard::Guard>()), m_pages(std::make_unique<PageKeeper>())
#ifdef Q_OS_UNIX
      ,
      m_handsToBrowser(::geteuid() != 0) // a browser started as root would run as root
#else
      ,
      m_handsToBrowser(true)
#endif
{
    if (const wayback::RunArchive run = wayback::runArchive(); run.archive.isSet()) {
        m_guard->routing().setProxy(run.findProxy);
        m_guard->setArchive(run.archive, run.everything); // the files too, if the run has them
    }
    if (const std::shared_ptr<wayback::Recorder> recorder = wayback::runArchive().recorder) {
        m_guard->routing().setRecorder(recorder);
        recorder->onFailure([engine = QPointer<BrowserEngine>(this)](const QString &) {
            QMetaObject::invokeMethod(
                qApp,
                [engine] {
                    if (engine)
                        emit engine->copyFailed();
                },
                Qt::QueuedConnection);
        });
    }
}

void BrowserEngine::setArchive(const QUrl &prefix, const QString &date, bool everything)
{
    m_guard->setArchive({prefix, date, {}}, everything);
    if (m_playerHost)
        m_playerHost->relay().setJudge(m_guard->judge()); // the archive's own address
}

bool BrowserEngine::archivesEverything() const
{
    return m_guard->routing().archivesEverything();
}

bool BrowserEngine::hasArchive() const
{
    return m_guard->routing().isSet();
}

bool BrowserEngine::mayOfferArchive(const QUrl &url) const
{
    return hasArchive() && !archivesEverything() && url.scheme() == QLatin1String("http")
           && !m_guard->routing().fromArchive(url);
}

void BrowserEngine::archiveSite(const QUrl &url)
{
    m_guard->routing().addSite(url);
}

void BrowserEngine::setPlayerHost(PlayerHost *host)
{
    // The one place on this machine besides the content host that pages may reach.
    m_playerHost = host;
    if (host && host->start()) {
        m_guard->allow(QHostAddress::LocalHost, host->port());
        m_guard->routing().keepLive(QHostAddress::LocalHost, host->port());
        // What movies ask for is held to the same rule (the relay refuses the host itself),
        // and comes from the same archive.
        host->relay().setJudge(m_guard->judge());
        host->relay().setRouting(m_guard->sharedRouting());
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

ViewerServices::ViewerServices()
{
    m_engine.setPlayerHost(&m_host);
}

ViewerServices &ViewerServices::of(forms::Runtime &runtime)
{
    return runtime.service<ViewerServices>([] { return new ViewerServices; });
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
    if (m_guard->routing().fromArchive(url) && url.scheme() == QLatin1String("http")) {
        const wayback::Archive archive = m_guard->routing().archive();
        address = wayback::replayUrl(archive.prefix, archive.date, url);
    }
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
        enginestart::prepareEnvironment(m_guarded ? m_guard->port() : 0);
        enginestart::chooseDrawing();
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
