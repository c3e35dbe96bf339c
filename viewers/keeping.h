#pragma once

// What the page keeper does with the viewers' pages, without the pages: which it keeps
// warm, holds frozen or lets go, and when. Pages are numbers here, and time is what the
// clock it is given says, so that all of it can be tried without the browser engine.
// PageKeeper (pagekeeper.h) carries out what these rules say.

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <list>
#include <optional>
#include <vector>

namespace keeping {

using Clock = std::function<std::chrono::milliseconds()>;
// The real one, which never goes back.
inline std::chrono::milliseconds steadyNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

// After the last viewer closed, what is kept warm is given back after this long.
constexpr std::chrono::milliseconds WarmTime = std::chrono::minutes(3);
// The longest a player's page is kept for the next album to play: one chosen within it
// starts without compiling the emulator (about half a second).
constexpr std::chrono::milliseconds PlayerGrace = std::chrono::minutes(2);

enum class Kind { WebPage, Player };
// Going: its view went during one of its script dialogs; it goes when the call is over.
enum class State { Open, Warm, Frozen, Going };

// What the keeper is to do to a page.
enum class Do {
    Blank, // keep it warm: its document goes, its site's process stays
    Freeze, // hold it still, muted, as it is
    DropMovie, // a player: muted, its movie gone, the emulator kept compiled
    Release, // let it go now
    Reject, // cancel its script dialog: it goes once the engine is out of the call
};
struct Step
{
    int page;
    Do what;
    bool operator==(const Step &) const = default;
};
using Steps = std::vector<Step>;

class Keeping
{
public:
    explicit Keeping(Clock now) : m_now(std::move(now)) { }

    // A page opened for a view (kind), or warmed ahead of a press (a player kept warm
    // from the start; it goes at once if a player is open or kept already).
    Steps open(int page, Kind kind);
    Steps warmPlayer(int page);
    // Its view went: closed by the user, or unloaded to make room for the next press's
    // viewer. A page that never showed anything keeps no process worth keeping.
    enum class By { User, NextPress };
    Steps closed(int page, bool showedNothing, By by = By::User);
    // A player started playing: the ones kept before it are no longer needed.
    Steps playerPlaying();
    // A page to go now, whatever it was kept for (one that would not go blank).
    Steps letGo(int page);
    // Starts the warm time now if no viewer is open (as if the last one just closed).
    void noteUse();
    void setWarmTime(std::chrono::milliseconds time) { m_warmTime = time; }

    // What the two times ask for once they have run out; when the next one does.
    Steps due();
    std::optional<std::chrono::milliseconds> nextDue() const;

    // The engine's script dialogs: one may start only on an open page; when the engine
    // is out of the page's last call, a page whose view went meanwhile is to go.
    bool dialogStarts(int page);
    Steps dialogEnded(int page);

    bool isOpen(int page) const;
    bool hasPlayer() const;

private:
    struct Entry
    {
        int page;
        Kind kind;
        State state;
        int dialogs = 0; // nested dialog calls the engine is inside
    };
    Entry *find(int page);
    const Entry *find(int page) const;
    void release(int page, Steps &steps);
    void releaseWarm(Steps &steps);
    void dropPlayers(Steps &steps);
    int count(Kind kind, State state) const;
    int openViews() const { return count(Kind::WebPage, State::Open) + count(Kind::Player, State::Open); }

    Clock m_now;
    std::list<Entry> m_pages;
    std::chrono::milliseconds m_warmTime = WarmTime;
    std::optional<std::chrono::milliseconds> m_coolAt; // when what is warm goes
    std::optional<std::chrono::milliseconds> m_graceEnd; // when kept players go
};

} // namespace keeping
