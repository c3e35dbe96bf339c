#include "pagekeeper.h"

#include "playerhost.h"
#include "viewerpage.h"

#include <QDialog>

namespace {

// A page kept warm that has not gone blank by then goes altogether.
constexpr std::chrono::seconds BlankWithin(2);

} // namespace

PageKeeper::PageKeeper() : m_keeping(keeping::steadyNow)
{
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, [this] { run(m_keeping.due()); });
}

PageKeeper::~PageKeeper()
{
    // The program is ending: every page goes now, also one whose dialog is up.
    std::exchange(m_pages, {}).clear();
}

ViewerPage *PageKeeper::add(QWebEngineProfile *profile, int &id)
{
    id = ++m_lastId;
    return (m_pages[id] = std::make_unique<ViewerPage>(*this, profile)).get();
}

ViewerPage *PageKeeper::open(QWebEngineProfile *profile, Kind kind)
{
    int id = 0;
    ViewerPage *page = add(profile, id);
    run(m_keeping.open(id, kind));
    return page;
}

void PageKeeper::closed(ViewerPage *page, ClosedBy by)
{
    const int id = idOf(page);
    if (id)
        run(m_keeping.closed(id, page->url().scheme().isEmpty(), by));
}

void PageKeeper::warmPlayer(QWebEngineProfile *profile, const QUrl &url)
{
    if (m_keeping.hasPlayer())
        return;
    int id = 0;
    ViewerPage *page = add(profile, id);
    page->setAudioMuted(true);
    page->setAllowedDocument(url);
    page->load(url);
    run(m_keeping.warmPlayer(id));
}

void PageKeeper::playerPlaying()
{
    // Once the playing player's own work is done.
    QTimer::singleShot(0, this, [this] { run(m_keeping.playerPlaying()); });
}

void PageKeeper::noteUse()
{
    m_keeping.noteUse();
    schedule();
}

bool PageKeeper::isOpen(const ViewerPage *page) const
{
    const int id = idOf(page);
    return id && m_keeping.isOpen(id);
}

void PageKeeper::run(const keeping::Steps &steps)
{
    for (const keeping::Step &step : steps) {
        const auto it = m_pages.find(step.page);
        if (it == m_pages.end())
            continue;
        ViewerPage *page = it->second.get();
        switch (step.what) {
        case keeping::Do::Blank: {
            page->leave();
            QPointer<ViewerPage> kept(page);
            const int id = step.page;
            QTimer::singleShot(BlankWithin, this, [this, kept, id] {
                if (kept && kept->url() != QUrl(QStringLiteral("about:blank")))
                    run(m_keeping.letGo(id)); // it would not go blank
            });
            break;
        }
        case keeping::Do::Freeze:
            page->setAudioMuted(true);
            page->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
            break;
        case keeping::Do::DropMovie:
            page->setAudioMuted(true);
            page->load(PlayerHost::warmUrlOf(page->url()));
            break;
        case keeping::Do::Release:
            m_dialogs.erase(step.page);
            m_pages.erase(it);
            break;
        case keeping::Do::Reject:
            if (!m_dialogs[step.page].empty() && m_dialogs[step.page].back())
                m_dialogs[step.page].back()->reject();
            break;
        }
    }
    schedule();
}

void PageKeeper::schedule()
{
    const std::optional<std::chrono::milliseconds> due = m_keeping.nextDue();
    if (!due)
        return m_due.stop();
    m_due.start(std::max(std::chrono::milliseconds(0), *due - keeping::steadyNow()));
}

bool PageKeeper::dialogOpened(ViewerPage *page, QDialog *dialog)
{
    const int id = idOf(page);
    if (!id || !m_keeping.dialogStarts(id))
        return false;
    m_dialogs[id].push_back(dialog);
    return true;
}

bool PageKeeper::dialogClosed(ViewerPage *page)
{
    const int id = idOf(page);
    if (!id)
        return false;
    const bool open = m_keeping.isOpen(id);
    if (!m_dialogs[id].empty())
        m_dialogs[id].pop_back();
    if (!m_keeping.dialogEnded(id).empty()) {
        // The engine is about to leave the page's call: the page goes once it has.
        m_dialogs.erase(id);
        if (const auto it = m_pages.find(id); it != m_pages.end()) {
            it->second.release()->deleteLater();
            m_pages.erase(it);
        }
    }
    return open;
}

int PageKeeper::idOf(const ViewerPage *page) const
{
    for (const auto &[id, kept] : m_pages)
        if (page && kept.get() == page)
            return id;
    return 0;
}
