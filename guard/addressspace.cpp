#include "addressspace.h"

#include <QList>

namespace guard {

namespace {

using enum AddressSpace;

struct Row
{
    const char *block;
    AddressSpace space;
    int v4At = -1; // where an IPv4 address inside it starts, which then decides instead
};

// IANA's IPv4 and IPv6 Special-Purpose Address Registries as last updated on
// 2025-10-09, every row, with what their "Globally Reachable" column says (True:
// Public; False: Private, or Loopback for this machine); and around them what they
// leave out. The most specific row holding an address decides. A row that departs from
// its column says why.
constexpr Row Rows[] = {
    // IPv4: the internet, but for multicast, which is no one host there.
    {"0.0.0.0/0", Public},
    {"224.0.0.0/4", Private},
    {"0.0.0.0/8", Loopback}, // "this network": connecting there reaches this machine
    {"0.0.0.0/32", Loopback},
    {"10.0.0.0/8", Private},
    {"100.64.0.0/10", Private}, // shared address space
    {"127.0.0.0/8", Loopback},
    {"169.254.0.0/16", Private}, // link local
    {"172.16.0.0/12", Private},
    {"192.0.0.0/24", Private}, // IETF protocol assignments
    {"192.0.0.0/29", Private}, // IPv4 service continuity prefix
    {"192.0.0.8/32", Private}, // IPv4 dummy address
    // Port Control Protocol and TURN anycast are globally reachable, but an anycast
    // address answers from the nearest server that has it: the user's own router, for
    // all we know.
    {"192.0.0.9/32", Private},
    {"192.0.0.10/32", Private},
    {"192.0.0.170/32", Private}, // NAT64/DNS64 discovery
    {"192.0.0.171/32", Private},
    {"192.0.2.0/24", Private}, // documentation
    {"192.31.196.0/24", Public}, // AS112-v4
    {"192.52.193.0/24", Public}, // AMT
    {"192.88.99.0/24", Private}, // 6to4 relay anycast, ended (the row has no values): as above
    {"192.88.99.2/32", Private}, // 6a44 relay anycast
    {"192.168.0.0/16", Private},
    {"192.175.48.0/24", Public}, // AS112 direct delegation
    {"198.18.0.0/15", Private}, // benchmarking
    {"198.51.100.0/24", Private}, // documentation
    {"203.0.113.0/24", Private}, // documentation
    {"240.0.0.0/4", Private}, // reserved
    {"255.255.255.255/32", Private}, // limited broadcast
    // IPv6: only global unicast can be the internet; the rest is reserved, multicast or
    // a row below.
    {"::/0", Private},
    {"2000::/3", Public},
    {"ff00::/8", Private}, // multicast
    {"fec0::/10", Private}, // site-local: given up, but still only ever a network's own
    {"::/96", Private, 12}, // the old IPv4-compatible form
    {"::1/128", Loopback},
    {"::/128", Loopback},
    {"::ffff:0:0/96", Private, 12}, // IPv4-mapped
    {"64:ff9b::/96", Public, 12}, // IPv4-IPv6 translation
    {"64:ff9b:1::/48", Private}, // local-use translation
    {"100::/64", Private}, // discard-only
    {"100:0:0:1::/64", Private}, // dummy prefix
    {"2001::/23", Private}, // IETF protocol assignments
    {"2001::/32", Private}, // Teredo, which has no value: an IPv4 address hides in it
    {"2001:1::1/128", Private}, // PCP anycast, as 192.0.0.9
    {"2001:1::2/128", Private}, // TURN anycast, as 192.0.0.10
    {"2001:1::3/128", Private}, // DNS-SD service registration anycast: a home network's
    {"2001:2::/48", Private}, // benchmarking
    {"2001:3::/32", Public}, // AMT
    {"2001:4:112::/48", Public}, // AS112-v6
    {"2001:10::/28", Private}, // the first ORCHID, ended: no values, left to 2001::/23
    {"2001:20::/28", Public}, // ORCHIDv2
    {"2001:30::/28", Public}, // drone remote ID entity tags
    {"2001:db8::/32", Private}, // documentation
    {"2002::/16", Private, 2}, // 6to4
    {"2620:4f:8000::/48", Public}, // AS112 direct delegation
    {"3fff::/20", Private}, // documentation
    {"5f00::/16", Private}, // segment routing
    {"fc00::/7", Private}, // unique local
    {"fe80::/10", Private}, // link-local
};

struct Subnet
{
    QHostAddress network;
    int bits;
    AddressSpace space;
    int v4At;
};

const QList<Subnet> &table()
{
    static const QList<Subnet> subnets = [] {
        QList<Subnet> out;
        for (const Row &row : Rows) {
            const auto [network, bits] = QHostAddress::parseSubnet(QString::fromLatin1(row.block));
            Q_ASSERT(!network.isNull());
            out.append({network, bits, row.space, row.v4At});
        }
        return out;
    }();
    return subnets;
}

} // namespace

AddressSpace addressSpace(const QHostAddress &address)
{
    const QAbstractSocket::NetworkLayerProtocol protocol = address.protocol();
    if (protocol != QAbstractSocket::IPv4Protocol && protocol != QAbstractSocket::IPv6Protocol)
        return Loopback;
    const Subnet *best = nullptr;
    for (const Subnet &s : table())
        if ((!best || s.bits > best->bits) && address.isInSubnet(s.network, s.bits))
            best = &s;
    Q_ASSERT(best); // each family has its /0
    if (best->v4At < 0)
        return best->space;
    const Q_IPV6ADDR a = address.toIPv6Address();
    const int at = best->v4At;
    return addressSpace(QHostAddress((quint32(a[at]) << 24) | (quint32(a[at + 1]) << 16) | (quint32(a[at + 2]) << 8)
                                     | quint32(a[at + 3])));
}

} // namespace guard
