#pragma once

#include "viewers_export.h"

#include "loadnotice.h"
#include "pagekeeper.h"
#include "playerhost.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace guard {
class Guard;
}
class QUrl;
class QWebEngineProfile;
namespace forms {
class Runtime;
}

// The browser engine's profile, shared by every viewer and kept in memory only: nothing
// the pages do is written to disk. Created at idle once the main window has faded in
// (or by the first viewer), so the engine does not start with the program. Its page keeper holds every page (pagekeeper.h),
// and the pages go before the profile.
class VIEWERS_EXPORT BrowserEngine : public QObject
{
    Q_OBJECT
public:
    BrowserEngine();
    ~BrowserEngine() override;
    QWebEngineProfile *profile();
    PageKeeper &pages() { return *m_pages; }

    // Opens url in the desktop's web browser if it may go there (a web address on the
    // internet), and never while the program runs as root; tests may allow it there.
    void openInBrowser(const QUrl &url);
    void setHandsToBrowser(bool hands) { m_handsToBrowser = hands; }
    // The player host whose frames pages may hold (pages may send no frame elsewhere on
    // this machine).
    void setPlayerHost(PlayerHost *host);
    // How its viewers watch the loads they ask for (a viewer keeps what it was when its
    // load began).
    const loadnotice::Watch &loadWatch() const { return m_loadWatch; }
    void setLoadWatch(loadnotice::Watch watch) { m_loadWatch = std::move(watch); }

    // The guard every connection of the engine goes through (guard.h).
    guard::Guard &connectionGuard() { return *m_guard; }
    // A web archive for this engine, from now on; an engine starts with the run's
    // (wayback::runArchive). With everything, every link comes from it; else only the
    // sites added by archiveSite (a viewer whose link failed, when the user takes its
    // offer). Tests change the date within a run.
    void setArchive(const QUrl &prefix, const QString &date, bool everything);
    bool archivesEverything() const;
    bool hasArchive() const;
    // Whether the archive may be offered for url, should it fail: there is one, not
    // everything comes from it already, and url is a site's plain-http address that does
    // not come from it either.
    bool mayOfferArchive(const QUrl &url) const;

signals:
    // The copy the run keeps (--save-copy) could not be written any more.
    void copyFailed();
public:
    void archiveSite(const QUrl &url);
    // Only the benchmark that measures what the guard costs turns it off, before the
    // engine starts; no option or variable of the program does.
    void setGuardedForBenchmark(bool guarded);

private:
    // Destroyed in reverse: the pages, then the profile, then the guard its connections
    // go through.
    std::unique_ptr<guard::Guard> m_guard;
    std::unique_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<PageKeeper> m_pages;
    bool m_handsToBrowser;
    bool m_guarded = true;
    QPointer<PlayerHost> m_playerHost;
    loadnotice::Watch m_loadWatch;
};

// What the viewers of a run share, made the first time a viewer (or a warm-up) asks: the
// player host, then the engine whose pages' movies talk to it. Members go in reverse
// order: the engine and its pages first, the host last (the engine may crash if its
// connections go first).
class VIEWERS_EXPORT ViewerServices
{
public:
    ViewerServices();
    static ViewerServices &of(forms::Runtime &runtime);
    PlayerHost &host() { return m_host; }
    BrowserEngine &engine() { return m_engine; }

private:
    PlayerHost m_host;
    BrowserEngine m_engine;
};
