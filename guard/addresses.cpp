#include "addresses.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QNetworkInterface>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace guard {

namespace {

bool inV4(quint32 address, quint32 network, int bits)
{
    const quint32 mask = bits == 0 ? 0 : ~quint32(0) << (32 - bits);
    return (address & mask) == (network & mask);
}

bool isGlobalV4(quint32 a)
{
    struct Block
    {
        quint32 network;
        int bits;
    };
    // IANA's IPv4 special-purpose registry, the blocks not globally reachable, with
    // multicast, the old class E and the limited broadcast. (The few addresses in
    // 192.0.0.0/24 marked global are anycast services no page needs.)
    static constexpr Block notGlobal[] = {
        {0x00000000, 8},  {0x0a000000, 8},  {0x64400000, 10}, {0x7f000000, 8},  {0xa9fe0000, 16},
        {0xac100000, 12}, {0xc0000000, 24}, {0xc0000200, 24}, {0xc0586300, 24}, {0xc0a80000, 16},
        {0xc6120000, 15}, {0xc6336400, 24}, {0xcb007100, 24}, {0xe0000000, 4},  {0xf0000000, 4},
    };
    for (const Block &b : notGlobal)
        if (inV4(a, b.network, b.bits))
            return false;
    return true;
}

quint32 v4At(const Q_IPV6ADDR &a, int at)
{
    return (quint32(a[at]) << 24) | (quint32(a[at + 1]) << 16) | (quint32(a[at + 2]) << 8) | quint32(a[at + 3]);
}

bool startsWith(const Q_IPV6ADDR &a, std::initializer_list<quint8> bytes, int bits)
{
    int i = 0;
    for (quint8 b : bytes) {
        const int here = std::min(8, bits - 8 * i);
        if (here <= 0)
            break;
        const quint8 mask = quint8(0xff << (8 - here));
        if ((a[i] & mask) != (b & mask))
            return false;
        ++i;
    }
    return true;
}

} // namespace

bool isGlobal(const QHostAddress &address)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return isGlobalV4(address.toIPv4Address());
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR a = address.toIPv6Address();
    bool zeroTo12 = true; // ::/96: unspecified, loopback, and the old IPv4-compatible form
    for (int i = 0; i < 12; ++i)
        zeroTo12 = zeroTo12 && a[i] == 0;
    if (zeroTo12)
        return isGlobalV4(v4At(a, 12)) && v4At(a, 12) > 0xffff;
    bool mapped = a[10] == 0xff && a[11] == 0xff; // ::ffff:0:0/96
    for (int i = 0; i < 10; ++i)
        mapped = mapped && a[i] == 0;
    if (mapped)
        return isGlobalV4(v4At(a, 12));
    if (startsWith(a, {0x00, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0}, 96)) // NAT64
        return isGlobalV4(v4At(a, 12));
    if (startsWith(a, {0x20, 0x02}, 16)) // 6to4
        return isGlobalV4(v4At(a, 2));
    // Only global unicast (2000::/3) is ever reachable; within it, the registry's
    // blocks that are not.
    if (!startsWith(a, {0x20}, 3))
        return false;
    if (startsWith(a, {0x20, 0x01, 0x00}, 23) // IETF protocol assignments: Teredo, ORCHID, ...
        || startsWith(a, {0x20, 0x01, 0x0d, 0xb8}, 32) // documentation
        || startsWith(a, {0x3f, 0xff}, 20))           // documentation
        return false;
    return true;
}

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

Judge::Judge() : m_allowed(builtInHosts()), m_public(publicAddresses()) {}

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
