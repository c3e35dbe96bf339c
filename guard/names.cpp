#include "names.h"

#include <QHostInfo>

namespace guard {

void Names::mapForTests(const QString &pattern, const QHostAddress &address)
{
    const QMutexLocker locked(&m_lock);
    m_mapped.append({pattern.toLower(), address});
}

void Names::lookUp(const QString &rawHost, QObject *context, std::function<void(QList<QHostAddress>)> done) const
{
    QString host = rawHost.toLower();
    if (host.endsWith(u'.'))
        host.chop(1);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    const QHostAddress literal(host);
    if (!literal.isNull())
        return done({literal});
    QList<QHostAddress> mapped;
    {
        const QMutexLocker locked(&m_lock);
        for (const auto &[pattern, address] : std::as_const(m_mapped))
            if (host == pattern || (pattern.startsWith(QLatin1String("*.")) && host.endsWith(pattern.mid(1))))
                mapped.append(address);
    }
    if (!mapped.isEmpty())
        return done(mapped);
    QHostInfo::lookupHost(host, context, [done](const QHostInfo &info) {
        done(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>{});
    });
}

} // namespace guard
