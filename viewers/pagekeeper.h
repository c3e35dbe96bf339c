#pragma once

#include "keeping.h"
#include "viewers_export.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

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
//   ends; then the process goes too. Frozen as it is when a press unloaded its viewer
//   for the next one (an album may follow); else its movie goes, and it is kept warm
//   without one;
// - a player warmed up ahead of a press (the user is about to choose an album) is such
//   a page from the start;
// - a page whose view closed while one of its script dialogs was up cannot go yet: the
//   engine is still inside the page's call. Its dialog is cancelled (the page hears
//   "no"), and the page goes as soon as the engine is out of the call.
// The keeper owns the pages, which go with it at the latest; the rules are
// keeping::Keeping's, and the keeper carries out what they say. Owned by the browser
// engine; every page goes before the engine's profile.
class VIEWERS_EXPORT PageKeeper : public QObject
{
    Q_OBJECT
public:
    using Kind = keeping::Kind;
    using ClosedBy = keeping::Keeping::By;

    PageKeeper();
    ~PageKeeper() override;

    // A new page for a view that is about to load it.
    ViewerPage *open(QWebEngineProfile *profile, Kind kind);
    // The page's view went: the page is kept or goes, as above.
    void closed(ViewerPage *page, ClosedBy by);
    // A player has started playing: the ones before it are no longer needed.
    void playerPlaying();
    // Compiles the emulator ahead of the next player, in a hidden page of the player at
    // url that plays no movie; nothing if a player page is open or kept already.
    void warmPlayer(QWebEngineProfile *profile, const QUrl &url);
    // Whether a player page is open or kept, for whoever tunes or watches them.
    bool hasPlayer() const { return m_keeping.hasPlayer(); }
    // After the last viewer closed, what is kept warm is given back after this long.
    void setWarmTime(std::chrono::milliseconds time) { m_keeping.setWarmTime(time); }
    // Starts that time now if no viewer is open (as if the last one just closed).
    void noteUse();

    // Whether the page is still what its view shows: a page that is kept, or waits to go,
    // opens nothing and asks nothing any more.
    bool isOpen(const ViewerPage *page) const;

    // The engine's script dialogs are synchronous: while one is up, the engine is inside
    // the page's call. Opened: false if the page is not open (it asks nothing then);
    // should its view go meanwhile, the dialog is cancelled. Closed: whether the page is
    // still open, so that the answer counts; one whose view went goes now, after the call.
    bool dialogOpened(ViewerPage *page, QDialog *dialog);
    bool dialogClosed(ViewerPage *page);

private:
    int idOf(const ViewerPage *page) const;
    ViewerPage *add(QWebEngineProfile *profile, int &id);
    void run(const keeping::Steps &steps);
    void schedule();

    keeping::Keeping m_keeping;
    // The pages, by their number in m_keeping; each goes with its entry.
    std::map<int, std::unique_ptr<ViewerPage>> m_pages;
    std::map<int, std::vector<QPointer<QDialog>>> m_dialogs; // the dialogs a page waits on, innermost last
    int m_lastId = 0;
    QTimer m_due; // the warm time's or the players' grace's end, whichever comes first
};
