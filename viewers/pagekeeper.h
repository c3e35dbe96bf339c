#pragma once

#include "viewers_export.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <list>

class QDialog;
class QUrl;
class QWebEngineProfile;
class ViewerPage;

// Every page the viewers show, from the view that opens it until it goes, and what it
// is doing meanwhile. Every press shows a new window with a new page; under that, the
// keeper keeps what no one can tell from new. Each site has one page process, which a
// new page of the site joins:
// - a web page whose view closed is kept warm, blank, so that its site's process stays
//   up for the next page, unless a player comes (its movie takes memory enough); a few
//   minutes without a viewer and it goes;
// - a player's page whose view closed is kept, silent, with the emulator compiled in its
//   process, until the next album plays, a web page opens, or a grace of two minutes
//   ends; then the process goes too. Frozen as it is when the next album is already on
//   its way; else its movie goes, and it is kept warm without one;
// - a player warmed up ahead of a press (the user is about to choose an album) is such
//   a page from the start;
// - a page whose view closed while one of its script dialogs was up cannot go yet: the
//   engine is still inside the page's call. Its dialog is cancelled (the page hears
//   "no"), and the page goes as soon as the engine is out of the call.
// Owned by the browser engine; every page goes before the engine's profile.
class VIEWERS_EXPORT PageKeeper : public QObject
{
    Q_OBJECT
public:
    enum class Kind { WebPage, Player };
    enum class State { Open, Warm, Frozen, Released };

    PageKeeper();
    ~PageKeeper() override;

    // A new page for a view that is about to load it.
    ViewerPage *open(QWebEngineProfile *profile, Kind kind);
    // The page's view went: the page is kept or goes, as above.
    void closed(ViewerPage *page);
    // A player has started playing: the ones before it are no longer needed.
    void playerPlaying();
    // Compiles the emulator ahead of the next player, in a hidden page of the player at
    // url that plays no movie; nothing if a player page is open or kept already.
    void warmPlayer(QWebEngineProfile *profile, const QUrl &url);
    // Whether a player page is open or kept, for whoever tunes or watches them.
    bool hasPlayer() const;
    // After the last viewer closed, what is kept warm is given back after this long.
    void setWarmTime(std::chrono::milliseconds time) { m_cool.setInterval(time); }
    // Starts that time now if no viewer is open (as if the last one just closed).
    void noteUse();

    // Whether the page is still what its view shows: a page that is kept, or waits to go,
    // opens nothing and asks nothing any more.
    bool isOpen(const ViewerPage *page) const;
    bool inDialog(const ViewerPage *page) const;

    // The engine's script dialogs are synchronous: the page's call waits here, in an
    // event loop of its own, until the dialog closes or the page is released. Returns
    // whether the dialog was accepted; the dialog is deleted.
    bool waitForAnswer(ViewerPage *page, QDialog *dialog);

private:
    struct Entry {
        QPointer<ViewerPage> page;
        Kind kind;
        State state;
        int dialogs = 0; // nested dialog calls the engine is inside
        QPointer<QDialog> dialog;
    };
    Entry *find(const ViewerPage *page);
    const Entry *find(const ViewerPage *page) const;
    void keepWarm(Entry &entry);
    void keepPlayer(Entry &entry);
    void release(ViewerPage *page);
    void releaseWarm(); // the web page kept warm
    void dropPlayers();
    void cool();
    int count(Kind kind, State state) const;

    std::list<Entry> m_pages; // a list: an entry stays put while a dialog waits on it
    QTimer m_cool;
    QTimer m_playerGrace;
};
