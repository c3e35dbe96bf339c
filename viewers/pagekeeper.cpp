#include "pagekeeper.h"

#include "playerhost.h"
#include "viewerpage.h"

#include <QDialog>
#include <QEventLoop>

#include <algorithm>

namespace {

// After the last viewer closed, what is kept warm is given back after this long.
constexpr std::chrono::minutes WarmTime(3);
// The longest a player's page is kept warm for the next one to play: an album chosen
// within it starts without compiling the emulator (about half a second).
constexpr std::chrono::minutes PlayerGrace(2);
// A page kept warm that has not gone blank by then goes altogether.
constexpr std::chrono::seconds BlankWithin(2);

} // namespace

PageKeeper::PageKeeper()
{
    m_cool.setSingleShot(true);
    m_cool.setInterval(WarmTime);
    connect(&m_cool, &QTimer::timeout, this, &PageKeeper::cool);
    m_playerGrace.setSingleShot(true);
    m_playerGrace.setInterval(PlayerGrace);
    connect(&m_playerGrace, &QTimer::timeout, this, &PageKeeper::dropPlayers);
}

PageKeeper::~PageKeeper()
{
    // The program is ending: every page goes now, also one whose dialog is up.
    for (Entry &e : std::exchange(m_pages, {}))
        delete e.page.data();
}

ViewerPage *PageKeeper::open(QWebEngineProfile *profile, Kind kind)
{
    m_cool.stop();
    // A movie takes memory enough: the pages' warm process is not kept beside it, and a
    // kept movie is not kept beside a page.
    if (kind == Kind::Player)
        releaseWarm();
    else
        dropPlayers();
    auto *page = new ViewerPage(*this, profile);
    m_pages.push_back({page, kind, State::Open, 0, {}});
    return page;
}

void PageKeeper::closed(ViewerPage *page)
{
    Entry *e = find(page);
    if (!e)
        return;
    e->state = State::Released; // not open any more, whatever comes next
    if (count(Kind::WebPage, State::Open) + count(Kind::Player, State::Open) == 0)
        m_cool.start();
    if (e->dialogs > 0)
        return release(page);
    if (e->kind == Kind::Player)
        return keepPlayer(*e);
    // A page that never showed anything keeps no process worth keeping.
    if (page->url().scheme().isEmpty())
        return release(page);
    keepWarm(*e);
}

void PageKeeper::keepWarm(Entry &entry)
{
    // Nothing of what it showed stays: its document, frames and players go; the site's
    // process stays for the next page of the site.
    releaseWarm();
    entry.state = State::Warm;
    QPointer<ViewerPage> page = entry.page;
    page->leave();
    QTimer::singleShot(BlankWithin, this, [this, page] {
        if (page && page->url() != QUrl(QStringLiteral("about:blank")))
            release(page); // it would not go blank
    });
}

void PageKeeper::keepPlayer(Entry &entry)
{
    // A page took its place: the user has moved on from albums.
    if (count(Kind::WebPage, State::Open) > 0)
        return release(entry.page);
    entry.page->setAudioMuted(true);
    m_playerGrace.start();
    if (count(Kind::Player, State::Open) > 0) {
        // The next album is on its way: held still as it is, so that the new one finds
        // the emulator compiled, until it plays.
        entry.state = State::Frozen;
        entry.page->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
        return;
    }
    // The viewer was closed: its movie goes, and the emulator stays compiled in its
    // process, in the player page itself without a movie, as a warm-up is.
    entry.state = State::Warm;
    entry.page->load(PlayerHost::warmUrlOf(entry.page->url()));
}

void PageKeeper::warmPlayer(QWebEngineProfile *profile, const QUrl &url)
{
    if (hasPlayer())
        return;
    auto *page = new ViewerPage(*this, profile);
    m_pages.push_back({page, Kind::Player, State::Warm, 0, {}});
    page->setAudioMuted(true);
    page->setAllowedDocument(url);
    page->load(url);
    if (count(Kind::Player, State::Open) == 0)
        m_playerGrace.start();
}

bool PageKeeper::hasPlayer() const
{
    return std::any_of(m_pages.begin(), m_pages.end(),
                       [](const Entry &e) { return e.kind == Kind::Player && e.state != State::Released; });
}

void PageKeeper::release(ViewerPage *page)
{
    auto it = std::find_if(m_pages.begin(), m_pages.end(), [page](const Entry &e) { return e.page == page; });
    if (!page || it == m_pages.end())
        return;
    if (it->dialogs == 0) {
        m_pages.erase(it);
        delete page;
        return;
    }
    // The engine is inside the page's dialog call: the page hears "no" and goes once the
    // call is over (waitForAnswer).
    it->state = State::Released;
    if (it->dialog)
        it->dialog->reject();
}

void PageKeeper::releaseWarm()
{
    // One at most: each new one lets the one before it go.
    const auto warm = std::find_if(m_pages.begin(), m_pages.end(),
                                   [](const Entry &e) { return e.kind == Kind::WebPage && e.state == State::Warm; });
    if (warm != m_pages.end())
        release(warm->page);
}

void PageKeeper::playerPlaying()
{
    if (count(Kind::Player, State::Warm) + count(Kind::Player, State::Frozen) > 0)
        QTimer::singleShot(0, this, &PageKeeper::dropPlayers);
}

void PageKeeper::dropPlayers()
{
    m_playerGrace.stop();
    QList<QPointer<ViewerPage>> going;
    for (const Entry &e : m_pages)
        if (e.kind == Kind::Player && (e.state == State::Warm || e.state == State::Frozen))
            going << e.page;
    for (const QPointer<ViewerPage> &p : going)
        release(p);
}

void PageKeeper::noteUse()
{
    if (count(Kind::WebPage, State::Open) + count(Kind::Player, State::Open) == 0)
        m_cool.start();
}

void PageKeeper::cool()
{
    m_cool.stop();
    dropPlayers();
    releaseWarm();
}

bool PageKeeper::isOpen(const ViewerPage *page) const
{
    const Entry *e = find(page);
    return e && e->state == State::Open;
}

bool PageKeeper::inDialog(const ViewerPage *page) const
{
    const Entry *e = find(page);
    return e && e->dialogs > 0;
}

bool PageKeeper::waitForAnswer(ViewerPage *page, QDialog *dialog)
{
    Entry *e = find(page);
    if (!e || e->state != State::Open)
        return false;
    ++e->dialogs;
    const QPointer<QDialog> outer = std::exchange(e->dialog, dialog);
    QPointer<QDialog> answered(dialog);
    QEventLoop loop;
    connect(dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit); // gone with its window
    dialog->show();
    loop.exec();
    e->dialog = outer;
    const bool accepted = answered && answered->result() == QDialog::Accepted && e->state == State::Open;
    if (--e->dialogs == 0 && e->state == State::Released) {
        // The view went while the engine waited for this answer: the page goes once the
        // engine is out of the call.
        m_pages.remove_if([e](const Entry &other) { return &other == e; });
        page->deleteLater();
    }
    return accepted;
}

PageKeeper::Entry *PageKeeper::find(const ViewerPage *page)
{
    auto it = std::find_if(m_pages.begin(), m_pages.end(), [page](const Entry &e) { return e.page == page; });
    return page && it != m_pages.end() ? &*it : nullptr;
}

const PageKeeper::Entry *PageKeeper::find(const ViewerPage *page) const
{
    return const_cast<PageKeeper *>(this)->find(page);
}

int PageKeeper::count(Kind kind, State state) const
{
    return int(std::count_if(m_pages.begin(), m_pages.end(),
                             [&](const Entry &e) { return e.kind == kind && e.state == state; }));
}
