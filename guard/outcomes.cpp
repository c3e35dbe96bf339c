#include "outcomes.h"

namespace guard {

namespace {

QString key(const QString &host, quint16 port)
{
    return host.toLower() + u':' + QString::number(port);
}

} // namespace

void OutcomeLog::note(const QString &host, quint16 port, Outcome outcome)
{
    const QMutexLocker locked(&m_lock);
    if (outcome == Outcome::None) {
        m_noted.remove(key(host, port));
        return;
    }
    if (m_noted.size() >= MaxHosts)
        m_noted.clear();
    Noted &n = m_noted[key(host, port)];
    n.outcome = outcome;
    n.when.start();
}

Outcome OutcomeLog::outcomeFor(const QUrl &url) const
{
    const QMutexLocker locked(&m_lock);
    const auto it
        = m_noted.constFind(key(url.host(), quint16(url.port(url.scheme() == QLatin1String("https") ? 443 : 80))));
    if (it == m_noted.constEnd() || it->when.elapsed() > KeptMs)
        return Outcome::None;
    return it->outcome;
}

} // namespace guard
