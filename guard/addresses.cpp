#include "addresses.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QNetworkInterface>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace guard {

bool Endpoint::matches(const QHostAddress &a, quint16 p) const
{
    return (port == 0 || port == p) && address.isEqual(a, QHostAddress::ConvertV4MappedToIPv4);
}

Parsed parsePublicAddresses(const QString &text)
{
    Parsed parsed;
    for (const QString &raw : text.split(u',', Qt::SkipEmptyParts)) {
        const QString entry = raw.trimmed();
        QString host = entry;
        quint16 port = 0;
        const auto readPort = [&](const QString &digits) {
            bool ok = false;
            const uint value = digits.toUInt(&ok);
            if (!ok || value == 0 || value > 65535 || digits.startsWith(u'+'))
                return false;
            port = quint16(value);
            return true;
        };
        bool ok = true;
        if (entry.startsWith(u'[')) {
            const qsizetype close = entry.indexOf(u']');
            host = entry.mid(1, close - 1);
            const QString rest = close < 0 ? QString() : entry.mid(close + 1);
            ok = close > 0 && (rest.isEmpty() || (rest.startsWith(u':') && readPort(rest.mid(1))));
        } else if (entry.count(u':') == 1) {
            host = entry.section(u':', 0, 0);
            ok = readPort(entry.section(u':', 1));
        }
        const QHostAddress address(host);
        if (!ok || address.isNull() || !address.scopeId().isEmpty()) {
            parsed.error = QStringLiteral("not an address or address:port: %1").arg(entry);
            return parsed;
        }
        if (!address.isLoopback()) {
            parsed.error = QStringLiteral("only loopback addresses can count as public: %1").arg(entry);
            return parsed;
        }
        parsed.endpoints.append({address, port});
    }
    return parsed;
}

const QList<Endpoint> &publicAddresses()
{
    static const QList<Endpoint> endpoints = [] {
        const Parsed parsed = parsePublicAddresses(qEnvironmentVariable(PublicAddressesVariable));
        return parsed.error.isEmpty() ? parsed.endpoints : QList<Endpoint>{};
    }();
    return endpoints;
}

AddressSpace spaceFor(const QHostAddress &address, quint16 port)
{
    for (const Endpoint &e : publicAddresses())
        if (e.matches(address, port))
            return AddressSpace::Public;
    return addressSpace(address);
}

Judge::Judge() : m_allowed(builtInHosts()), m_public(publicAddresses()) { }

void Judge::allow(const QHostAddress &address, quint16 port)
{
    if (!isAllowed(address, port))
        m_allowed.append({address, port});
}

void Judge::disallow(const QHostAddress &address, quint16 port)
{
    m_allowed.removeIf([&](const Endpoint &e) { return e.port == port && e.address.isEqual(address); });
}

bool Judge::isAllowed(const QHostAddress &address, quint16 port) const
{
    if (port == 0)
        return false;
    for (const Endpoint &e : m_allowed)
        if (e.port == port && e.matches(address, port))
            return true;
    return false;
}

namespace {

// This machine's own addresses and the networks they are on: a global address of this
// machine still leads to the services listening on every address here, and one beside
// it on its network (a router's global IPv6 address, a LAN on public IPv4) is the user's
// network, not the internet. Looked up again after a few seconds, as networks change.
// A prefix wider than a /16 (IPv4) or /32 (IPv6) is no one network: only its address counts.
bool isThisMachine(const QHostAddress &address)
{
    static QMutex lock; // the guard's thread and the relay's both ask
    const QMutexLocker locked(&lock);
    static QList<QNetworkAddressEntry> own;
    static QElapsedTimer since;
    if (!since.isValid() || since.elapsed() > 5000) {
        own.clear();
        for (const QNetworkInterface &i : QNetworkInterface::allInterfaces())
            own += i.addressEntries();
        since.start();
    }
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    const QHostAddress plain = isV4 ? QHostAddress(v4) : address;
    for (const QNetworkAddressEntry &e : std::as_const(own)) {
        if (e.ip().isEqual(plain, QHostAddress::ConvertV4MappedToIPv4))
            return true;
        const bool v4Entry = e.ip().protocol() == QAbstractSocket::IPv4Protocol;
        const int widest = v4Entry ? 16 : 32;
        if (e.prefixLength() >= widest && plain.protocol() == e.ip().protocol()
            && plain.isInSubnet(e.ip(), e.prefixLength()))
            return true;
    }
    return false;
}

} // namespace

bool Judge::countsAsPublic(const QHostAddress &address, quint16 port) const
{
    if (isGlobal(address) && !isThisMachine(address))
        return true;
    for (const Endpoint &e : m_public)
        if (e.matches(address, port))
            return true;
    return false;
}

QList<Endpoint> Judge::builtInHosts()
{
    QList<Endpoint> hosts;
    const auto add = [&](const QString &hostPort) {
        const QUrl url(QStringLiteral("http://") + hostPort);
        const QHostAddress address(url.host());
        if (!address.isNull())
            hosts.append({address, quint16(url.port(80))});
    };
    add(QStringLiteral(PHOTOFORKP_CONTENT_HOST));
#ifdef PHOTOFORKP_SECOND_HOST
    add(QStringLiteral(PHOTOFORKP_SECOND_HOST));
#endif
    return hosts;
}

} // namespace guard
