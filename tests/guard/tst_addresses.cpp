#include "addresses.h"
#include "addressspace.h"

#include <QTest>

#include <optional>

// The one table of where addresses stand, which the guard and the relay both judge by:
// the first and last address of every row of IANA's special-purpose registries, the
// rows inside larger ones, and multicast.
class TestAddresses : public QObject
{
    Q_OBJECT
private slots:
    void table_data();
    void table();
};

namespace {

using guard::AddressSpace;
constexpr AddressSpace Here = AddressSpace::Loopback, Local = AddressSpace::Private, Net = AddressSpace::Public;

} // namespace

Q_DECLARE_METATYPE(guard::AddressSpace)

void TestAddresses::table_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<AddressSpace>("space");
    // A row whose IPv4 address inside decides ends where the last IPv4 address stands.
    const auto row = [](const char *name, const char *first, const char *last, AddressSpace space,
                        std::optional<AddressSpace> lastSpace = {}) {
        QTest::addRow("%s, first", name) << QString::fromLatin1(first) << space;
        QTest::addRow("%s, last", name) << QString::fromLatin1(last) << lastSpace.value_or(space);
    };
    // The IPv4 registry.
    row("this network", "0.0.0.0", "0.255.255.255", Here);
    row("private 10/8", "10.0.0.0", "10.255.255.255", Local);
    row("shared address space", "100.64.0.0", "100.127.255.255", Local);
    row("loopback", "127.0.0.0", "127.255.255.255", Here);
    row("link local", "169.254.0.0", "169.254.255.255", Local);
    row("private 172.16/12", "172.16.0.0", "172.31.255.255", Local);
    row("IETF protocol assignments", "192.0.0.0", "192.0.0.255", Local);
    row("service continuity prefix", "192.0.0.0", "192.0.0.7", Local);
    row("dummy address", "192.0.0.8", "192.0.0.8", Local);
    // Globally reachable in the registry; anycast answers from whoever is nearest.
    row("PCP anycast", "192.0.0.9", "192.0.0.9", Local);
    row("TURN anycast", "192.0.0.10", "192.0.0.10", Local);
    row("NAT64 discovery", "192.0.0.170", "192.0.0.171", Local);
    row("TEST-NET-1", "192.0.2.0", "192.0.2.255", Local);
    row("AS112-v4", "192.31.196.0", "192.31.196.255", Net);
    row("AMT", "192.52.193.0", "192.52.193.255", Net);
    row("6to4 relay anycast, ended", "192.88.99.0", "192.88.99.255", Local);
    row("6a44 relay anycast, inside it", "192.88.99.2", "192.88.99.2", Local);
    row("private 192.168/16", "192.168.0.0", "192.168.255.255", Local);
    row("AS112 direct delegation", "192.175.48.0", "192.175.48.255", Net);
    row("benchmarking", "198.18.0.0", "198.19.255.255", Local);
    row("TEST-NET-2", "198.51.100.0", "198.51.100.255", Local);
    row("TEST-NET-3", "203.0.113.0", "203.0.113.255", Local);
    row("reserved", "240.0.0.0", "255.255.255.254", Local);
    row("limited broadcast", "255.255.255.255", "255.255.255.255", Local);
    row("multicast", "224.0.0.0", "239.255.255.255", Local);
    row("around them, the internet", "1.0.0.0", "223.255.255.255", Net);
    row("beside private 172.16/12", "172.15.255.255", "172.32.0.0", Net);
    // The IPv6 registry (an IPv4 address inside one stands where it does).
    row("loopback v6", "::1", "::1", Here);
    row("unspecified", "::", "::", Here);
    row("IPv4-mapped", "::ffff:0.0.0.0", "::ffff:255.255.255.255", Here, Local);
    QTest::newRow("IPv4-mapped, public") << "::ffff:93.184.216.34" << Net;
    QTest::newRow("IPv4-mapped, private") << "::ffff:192.168.1.1" << Local;
    row("NAT64", "64:ff9b::", "64:ff9b::ffff:ffff", Here, Local);
    QTest::newRow("NAT64, public") << "64:ff9b::5db8:d822" << Net;
    row("local-use translation", "64:ff9b:1::", "64:ff9b:1:ffff:ffff:ffff:ffff:ffff", Local);
    row("discard-only", "100::", "100::ffff:ffff:ffff:ffff", Local);
    row("dummy prefix", "100:0:0:1::", "100:0:0:1:ffff:ffff:ffff:ffff", Local);
    row("IETF protocol assignments v6", "2001::", "2001:1ff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("Teredo", "2001::", "2001:0:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("PCP anycast v6", "2001:1::1", "2001:1::1", Local);
    row("TURN anycast v6", "2001:1::2", "2001:1::2", Local);
    row("service registration anycast", "2001:1::3", "2001:1::3", Local);
    row("benchmarking v6", "2001:2::", "2001:2:0:ffff:ffff:ffff:ffff:ffff", Local);
    row("AMT v6", "2001:3::", "2001:3:ffff:ffff:ffff:ffff:ffff:ffff", Net);
    row("AS112-v6", "2001:4:112::", "2001:4:112:ffff:ffff:ffff:ffff:ffff", Net);
    row("ORCHID, ended", "2001:10::", "2001:1f:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("ORCHIDv2", "2001:20::", "2001:2f:ffff:ffff:ffff:ffff:ffff:ffff", Net);
    row("drone entity tags", "2001:30::", "2001:3f:ffff:ffff:ffff:ffff:ffff:ffff", Net);
    row("documentation v6", "2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("6to4", "2002::", "2002:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Here, Local);
    QTest::newRow("6to4 of a private network") << "2002:c0a8:0101::1" << Local;
    QTest::newRow("6to4 of public") << "2002:5db8:d822::1" << Net;
    row("AS112 direct delegation v6", "2620:4f:8000::", "2620:4f:8000:ffff:ffff:ffff:ffff:ffff", Net);
    row("documentation 3fff::/20", "3fff::", "3fff:fff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("segment routing", "5f00::", "5f00:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("unique local", "fc00::", "fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("link-local v6", "fe80::", "febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("site-local, given up", "fec0::", "feff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("multicast v6", "ff00::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("global unicast", "2000::", "3fff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Net);
    QTest::newRow("global unicast, beside 2001::/23") << "2001:200::1" << Net;
    row("outside global unicast", "4000::", "fbff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Local);
    row("IPv4-compatible", "::0.0.0.2", "::255.255.255.254", Here, Local);
    QTest::newRow("IPv4-compatible loopback") << "::127.0.0.1" << Here;
}

// The space, and with it whether the guard may connect: only to the internet.
void TestAddresses::table()
{
    QFETCH(QString, address);
    QFETCH(AddressSpace, space);
    const QHostAddress a(address);
    QVERIFY(!a.isNull());
    QCOMPARE(guard::addressSpace(a), space);
    QCOMPARE(guard::Judge().countsAsPublic(a, 80), space == Net);
}

QTEST_GUILESS_MAIN(TestAddresses)
#include "tst_addresses.moc"
