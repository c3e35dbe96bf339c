#include "keeping.h"

#include <algorithm>

namespace keeping {

Steps Keeping::open(int page, Kind kind)
{
    Steps steps;
    m_coolAt.reset();
    // A movie takes memory enough: the pages' warm process is not kept beside it, and a
    // kept movie is not kept beside a page.
    if (kind == Kind::Player)
        releaseWarm(steps);
    else
        dropPlayers(steps);
    m_pages.push_back({page, kind, State::Open});
    return steps;
}

Steps Keeping::warmPlayer(int page)
{
    if (hasPlayer())
        return {{page, Do::Release}};
    m_pages.push_back({page, Kind::Player, State::Warm});
    m_graceEnd = m_now() + PlayerGrace;
    return {};
}

Steps Keeping::closed(int page, bool showedNothing, By by)
{
    Steps steps;
    Entry *e = find(page);
    if (!e)
        return steps;
    e->state = State::Going; // not open any more, whatever comes next
    if (openViews() == 0)
        m_coolAt = m_now() + m_warmTime;
    if (e->dialogs > 0 || (e->kind == Kind::WebPage && showedNothing)) {
        release(page, steps);
    } else if (e->kind == Kind::Player) {
        // A page took its place: the user has moved on from albums.
        if (count(Kind::WebPage, State::Open) > 0) {
            release(page, steps);
            return steps;
        }
        m_graceEnd = m_now() + PlayerGrace;
        // A press is about to open the next viewer: held still as it is, so that an album
        // finds the emulator compiled, until it plays (a page lets it go when it opens).
        // Else the user closed the viewer: its movie goes, and the emulator stays
        // compiled in its process.
        const bool next = by == By::NextPress || count(Kind::Player, State::Open) > 0;
        e->state = next ? State::Frozen : State::Warm;
        steps.push_back({page, next ? Do::Freeze : Do::DropMovie});
    } else {
        // Nothing of what it showed stays; its site's process stays for the next page.
        releaseWarm(steps);
        e->state = State::Warm;
        steps.push_back({page, Do::Blank});
    }
    return steps;
}

Steps Keeping::playerPlaying()
{
    Steps steps;
    dropPlayers(steps);
    return steps;
}

Steps Keeping::letGo(int page)
{
    Steps steps;
    release(page, steps);
    return steps;
}

void Keeping::noteUse()
{
    if (openViews() == 0)
        m_coolAt = m_now() + m_warmTime;
}

Steps Keeping::due()
{
    Steps steps;
    const auto now = m_now();
    if (m_coolAt && now >= *m_coolAt) {
        m_coolAt.reset();
        dropPlayers(steps);
        releaseWarm(steps);
    }
    if (m_graceEnd && now >= *m_graceEnd)
        dropPlayers(steps);
    return steps;
}

std::optional<std::chrono::milliseconds> Keeping::nextDue() const
{
    if (m_coolAt && m_graceEnd)
        return std::min(*m_coolAt, *m_graceEnd);
    return m_coolAt ? m_coolAt : m_graceEnd;
}

bool Keeping::dialogStarts(int page)
{
    Entry *e = find(page);
    if (!e || e->state != State::Open)
        return false;
    ++e->dialogs;
    return true;
}

Steps Keeping::dialogEnded(int page)
{
    Entry *e = find(page);
    if (!e || e->dialogs == 0)
        return {};
    if (--e->dialogs > 0 || e->state != State::Going)
        return {};
    // The view went while the engine waited for this answer: the page goes now that the
    // engine is out of the call.
    m_pages.remove_if([page](const Entry &other) { return other.page == page; });
    return {{page, Do::Release}};
}

bool Keeping::isOpen(int page) const
{
    const Entry *e = find(page);
    return e && e->state == State::Open;
}

bool Keeping::hasPlayer() const
{
    return std::any_of(m_pages.begin(), m_pages.end(),
                       [](const Entry &e) { return e.kind == Kind::Player && e.state != State::Going; });
}

Keeping::Entry *Keeping::find(int page)
{
    const auto it = std::find_if(m_pages.begin(), m_pages.end(), [page](const Entry &e) { return e.page == page; });
    return it != m_pages.end() ? &*it : nullptr;
}

const Keeping::Entry *Keeping::find(int page) const
{
    return const_cast<Keeping *>(this)->find(page);
}

void Keeping::release(int page, Steps &steps)
{
    Entry *e = find(page);
    if (!e)
        return;
    if (e->dialogs == 0) {
        m_pages.remove_if([page](const Entry &other) { return other.page == page; });
        steps.push_back({page, Do::Release});
        return;
    }
    // The engine is inside the page's dialog call: the page hears "no" and goes once the
    // call is over (dialogEnded).
    e->state = State::Going;
    steps.push_back({page, Do::Reject});
}

void Keeping::releaseWarm(Steps &steps)
{
    // One at most: each new one lets the one before it go.
    const auto warm = std::find_if(m_pages.begin(), m_pages.end(),
                                   [](const Entry &e) { return e.kind == Kind::WebPage && e.state == State::Warm; });
    if (warm != m_pages.end())
        release(warm->page, steps);
}

void Keeping::dropPlayers(Steps &steps)
{
    m_graceEnd.reset();
    std::vector<int> going;
    for (const Entry &e : m_pages)
        if (e.kind == Kind::Player && (e.state == State::Warm || e.state == State::Frozen))
            going.push_back(e.page);
    for (int page : going)
        release(page, steps);
}

int Keeping::count(Kind kind, State state) const
{
    return int(std::count_if(m_pages.begin(), m_pages.end(),
                             [&](const Entry &e) { return e.kind == kind && e.state == state; }));
}

} // namespace keeping
