#include "loadwatch.h"

#include "browserengine.h"
#include "guard.h"

#include <QDateTime>
#include <QWebEnginePage>
#include <QWebEngineScript>

namespace {
// How often a load is looked at: whether it has answered, drawn, or run out of time.
constexpr int WatchEveryMs = 250;
// The page's clock and ours are read in different processes: a document begun this much
// before the request still counts as the one asked for.
constexpr qint64 ClockSlackMs = 50;
} // namespace

LoadWatch::LoadWatch(BrowserEngine &engine, QWebEnginePage *page, QObject *parent)
    : QObject(parent), m_engine(engine), m_page(page)
{
    m_timer.setInterval(WatchEveryMs);
    connect(&m_timer, &QTimer::timeout, this, &LoadWatch::check);
}

void LoadWatch::start()
{
    m_requestedAt = QDateTime::currentMSecsSinceEpoch();
    m_rule = m_engine.loadWatch();
    m_since = m_rule.now();
    m_answered = false;
    m_timer.start();
}

void LoadWatch::check()
{
    const bool archived = m_engine.connectionGuard().routing().fromArchive(m_asked);
    if (!m_answered && archived
        && m_engine.connectionGuard().outcomeFor(m_asked) == guard::Guard::Outcome::ArchiveBusy) {
        // A busy archive is asked again after a while: the watch waits with it.
        m_since = m_rule.now();
        return emit archiveBusy();
    }
    const std::chrono::milliseconds since = m_rule.now() - m_since;
    if (!m_answered && since >= m_rule.noAnswerAfter) {
        m_timer.stop();
        return emit noAnswer(archived);
    }
    if (since >= m_rule.loadingAfter)
        emit slow();
    if (!m_page)
        return;
    // Asked in a world of our own, where the page's scripts cannot change the answer:
    // whether the document now there is the one asked for (begun after the request; the
    // empty first document does not count) and whether it has drawn anything yet.
    const QString question = QStringLiteral("[location.href !== 'about:blank' && performance.timeOrigin >= %1,"
                                            " performance.getEntriesByType('paint').length > 0]")
                                 .arg(m_requestedAt - ClockSlackMs);
    QPointer<LoadWatch> self(this);
    const qint64 asked = m_requestedAt;
    m_page->runJavaScript(question, QWebEngineScript::ApplicationWorld, [self, asked](const QVariant &answer) {
        if (!self || asked != self->m_requestedAt || !self->m_timer.isActive())
            return;
        const QVariantList parts = answer.toList();
        self->m_answered = self->m_answered || parts.value(0).toBool();
        if (parts.value(0).toBool() && parts.value(1).toBool())
            emit self->shown();
    });
}
