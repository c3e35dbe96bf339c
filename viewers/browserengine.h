#pragma once

#include "viewers_export.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

class PlayerHost;
class QWebEnginePage;
class QWebEngineProfile;
class ViewerPage;

// The browser engine's profile, shared by every viewer and kept in memory only: nothing
// the pages do is written to disk. Created when the first viewer opens, so the engine
// does not start with the program; it outlives every page (pages go first).
//
// Every press shows a new window with a new page; under that, it keeps what no one can
// tell from new. Each site has one page process, which a new page of the site joins:
// - a web page that goes is kept, blank, so that its site's process stays warm for the
//   next page, also after the viewer closed, unless a player comes (whose movie takes
//   memory enough); a few minutes without a viewer and it goes;
// - a player's page that goes is kept, frozen and silent, until the next player plays
//   (the emulator stays compiled in the process meanwhile) or, if none comes, at once;
//   then the process goes with everything its movies used.
class VIEWERS_EXPORT BrowserEngine : public QObject
{
    Q_OBJECT
public:
    BrowserEngine();
    ~BrowserEngine() override;
    QWebEngineProfile *profile();

    enum class Kind { WebPage, Player };
    // A viewer's page is about to load, or went.
    void viewerOpened(Kind kind);
    void viewerClosed(ViewerPage *page, Kind kind);
    // A player has started playing: the one before it is no longer needed.
    void playerPlaying();
    void setWarmTime(std::chrono::milliseconds time) { m_cool.setInterval(time); }
    void noteUse();

    // Opens url in the desktop's web browser if it may go there (a web address on the
    // internet), and never while the program runs as root; tests may allow it there.
    void openInBrowser(const QUrl &url);
    void setHandsToBrowser(bool hands) { m_handsToBrowser = hands; }
    // The player host whose frames pages may hold (pages may send no frame elsewhere on
    // this machine).
    void setPlayerHost(PlayerHost *host);

private:
    void cool();
    void dropPlayers();
    std::unique_ptr<class NavigationGuard> m_guard; // outlives the profile that asks it
    std::unique_ptr<QWebEngineProfile> m_profile;
    QPointer<ViewerPage> m_keptPage;
    QList<QPointer<ViewerPage>> m_oldPlayers;
    int m_open = 0;
    int m_openPlayers = 0;
    bool m_handsToBrowser;
    QTimer m_cool;
    QTimer m_playerGrace;
};
