// The album player's sandbox as rules, without a network: policy files and their
// answers, which addresses count as this machine's, what goes to the desktop's browser,
// and the structure pictures and movies must have to be shown.
#include "addresses.h"
#include "guard.h"
#include "media.h"
#include "mediasamples.h"
#include "sandbox.h"

#include <QTest>
#include <QUrl>

using namespace samples;

class TestSandbox : public QObject
{
    Q_OBJECT
private slots:
    // 127.0.0.50 stands for the internet here; the other loopback addresses for this
    // machine (read once, before the first judgement).
    void initTestCase() { qputenv(guard::PublicAddressesVariable, "127.0.0.50"); }
    void policyFiles_data();
    void policyFiles();
    void policyAnswers_data();
    void policyAnswers();
    void addressSpaces_data();
    void addressSpaces();
    void handedToBrowser_data();
    void handedToBrowser();
    void mediaStructure_data();
    void mediaStructure();
};

void TestSandbox::policyFiles_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("movie");
    QTest::addColumn<QString>("policyHost");
    QTest::addColumn<bool>("allowed");

    const QByteArray any = "<cross-domain-policy><allow-access-from domain=\"*\"/></cross-domain-policy>";
    const QByteArray sub = "<?xml version=\"1.0\"?>\n<!DOCTYPE cross-domain-policy SYSTEM "
                           "\"http://www.adobe.com/xml/dtds/cross-domain-policy.dtd\">\n<cross-domain-policy>\n"
                           "  <allow-access-from domain=\"*.example.org\"/>\n</cross-domain-policy>";
    QTest::newRow("any") << any << "http://a.example.net/m.swf"
                         << "http://data.example.com" << true;
    QTest::newRow("subdomain") << sub << "http://www.example.org/m.swf"
                               << "http://data.example.com" << true;
    QTest::newRow("the domain itself") << sub << "http://EXAMPLE.org/m.swf"
                                       << "http://data.example.com" << true;
    QTest::newRow("look-alike") << sub << "http://badexample.org/m.swf"
                                << "http://data.example.com" << false;
    QTest::newRow("exact host") << QByteArray(
        "<cross-domain-policy><allow-access-from domain=\"127.0.0.1\"/></cross-domain-policy>")
                                << "http://127.0.0.1:8631/m.swf"
                                << "http://127.0.0.2" << true;
    QTest::newRow("wildcard over an address")
        << QByteArray("<cross-domain-policy><allow-access-from domain=\"*.0.0.1\"/></cross-domain-policy>")
        << "http://127.0.0.1/m.swf"
        << "http://127.0.0.2" << false;
    QTest::newRow("wildcard inside") << QByteArray(
        "<cross-domain-policy><allow-access-from domain=\"www.*.org\"/></cross-domain-policy>")
                                     << "http://www.example.org/m.swf"
                                     << "http://data.example.com" << false;
    QTest::newRow("unclosed") << any.left(any.size() - 5) << "http://a.example.net/m.swf"
                              << "http://d.example.com" << false;
    QTest::newRow("a web page") << QByteArray("<html><body allow-access-from=\"*\">*</body></html>")
                                << "http://a.example.net/m.swf"
                                << "http://d.example.com" << false;
    QTest::newRow("root with a prefix") << QByteArray(
        "<x:cross-domain-policy xmlns:x=\"urn:x\"><allow-access-from domain=\"*\"/></x:cross-domain-policy>")
                                        << "http://a.example.net/m.swf"
                                        << "http://d.example.com" << false;
    QTest::newRow("root in a default namespace")
        << QByteArray("<cross-domain-policy xmlns=\"urn:x\"><allow-access-from domain=\"*\"/></cross-domain-policy>")
        << "http://a.example.net/m.swf"
        << "http://d.example.com" << false;
    QTest::newRow("declared prefixes on the root")
        << QByteArray("<cross-domain-policy xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                      "xsi:noNamespaceSchemaLocation=\"x.xsd\"><allow-access-from domain=\"*\"/></cross-domain-policy>")
        << "http://a.example.net/m.swf"
        << "http://d.example.com" << true;
    QTest::newRow("site says none") << QByteArray(
        "<cross-domain-policy><site-control permitted-cross-domain-policies=\"none\"/>"
        "<allow-access-from domain=\"*\"/></cross-domain-policy>")
                                    << "http://a.example.net/m.swf"
                                    << "http://d.example.com" << false;
    QTest::newRow("https policy, http movie") << any << "http://a.example.net/m.swf"
                                              << "https://d.example.com" << false;
    QTest::newRow("https policy, secure=false")
        << QByteArray("<cross-domain-policy><allow-access-from domain=\"*\" secure=\"false\"/></cross-domain-policy>")
        << "http://a.example.net/m.swf"
        << "https://d.example.com" << true;
    QTest::newRow("too large") << any + QByteArray(70 * 1024, ' ') << "http://a.example.net/m.swf"
                               << "http://d.example.com" << false;
}

void TestSandbox::policyFiles()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, movie);
    QFETCH(QString, policyHost);
    QFETCH(bool, allowed);
    QCOMPARE(sandbox::policyAllows(sandbox::parsePolicy(xml), QUrl(movie), QUrl(policyHost)), allowed);
}

void TestSandbox::policyAnswers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("header"); // X-Permitted-Cross-Domain-Policies
    QTest::addColumn<bool>("allowed");
    const QByteArray any = "<cross-domain-policy><allow-access-from domain=\"*\"/></cross-domain-policy>";
    const QByteArray byType = "<cross-domain-policy><site-control permitted-cross-domain-policies=\"by-content-type\"/>"
                              "<allow-access-from domain=\"*\"/></cross-domain-policy>";
    QTest::newRow("the policy type") << any << QByteArray("text/x-cross-domain-policy") << QByteArray() << true;
    QTest::newRow("XML") << any << QByteArray("application/xml") << QByteArray() << true;
    QTest::newRow("text, with a charset") << any << QByteArray("text/plain; charset=utf-8") << QByteArray() << true;
    QTest::newRow("a picture") << any << QByteArray("image/gif") << QByteArray() << false;
    QTest::newRow("bytes") << any << QByteArray("application/octet-stream") << QByteArray() << false;
    QTest::newRow("by content type, served as a page") << byType << QByteArray("text/html") << QByteArray() << false;
    QTest::newRow("by content type, served as a policy")
        << byType << QByteArray("text/x-cross-domain-policy") << QByteArray() << true;
    QTest::newRow("the header says none") << any << QByteArray("text/xml") << QByteArray("none") << false;
    QTest::newRow("... none for this answer")
        << any << QByteArray("text/xml") << QByteArray("none-this-response") << false;
    QTest::newRow("the header says by content type")
        << any << QByteArray("text/xml") << QByteArray("by-content-type") << false;
    QTest::newRow("a meta-policy nobody knows") << any << QByteArray("text/xml") << QByteArray("some") << false;
    QTest::newRow("a schema prefix never declared")
        << QByteArray("<?xml version=\"1.0\"?><cross-domain-policy xsi:noNamespaceSchemaLocation="
                      "\"http://www.adobe.com/xml/schemas/PolicyFile.xsd\"><allow-access-from domain=\"*\"/>"
                      "</cross-domain-policy>")
        << QByteArray("text/xml") << QByteArray() << true;
    QTest::newRow("entities declared") << QByteArray(
        "<?xml version=\"1.0\"?><!DOCTYPE cross-domain-policy [<!ENTITY a \"*\">]>"
        "<cross-domain-policy><allow-access-from domain=\"&a;\"/></cross-domain-policy>")
                                       << QByteArray("text/xml") << QByteArray() << false;
}

// A master policy file counts only as the desktop player let it: by its type and the
// meta-policy its host states.
void TestSandbox::policyAnswers()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, header);
    QFETCH(bool, allowed);
    QCOMPARE(sandbox::policyAllows(sandbox::policyFromAnswer(body, type, header), QUrl("http://a.example.net/m.swf"),
                                   QUrl("http://d.example.com")),
             allowed);
}

void TestSandbox::addressSpaces_data()
{
    QTest::addColumn<QString>("movie");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("public to loopback") << "93.184.216.34"
                                        << "127.0.0.1" << false;
    QTest::newRow("public to this machine") << "93.184.216.34"
                                            << "0.0.0.0" << false;
    QTest::newRow("public to the home router") << "93.184.216.34"
                                               << "192.168.1.1" << false;
    QTest::newRow("public to mapped private") << "93.184.216.34"
                                              << "::ffff:10.0.0.1" << false;
    QTest::newRow("public to a local IPv6 net") << "2606:2800:220:1::1"
                                                << "fd00::1" << false;
    QTest::newRow("public to IPv6 loopback") << "2606:2800:220:1::1"
                                             << "::1" << false;
    QTest::newRow("public to IPv6 site-local") << "2606:2800:220:1::1"
                                               << "fec0::17" << false;
    // Not the internet either, however globally they are numbered.
    QTest::newRow("public to multicast") << "93.184.216.34"
                                         << "224.0.0.251" << false;
    QTest::newRow("public to IPv6 multicast") << "2606:2800:220:1::1"
                                              << "ff02::1" << false;
    QTest::newRow("public to benchmarking") << "93.184.216.34"
                                            << "198.18.0.1" << false;
    QTest::newRow("public to reserved") << "93.184.216.34"
                                        << "240.0.0.1" << false;
    QTest::newRow("public to the broadcast") << "93.184.216.34"
                                             << "255.255.255.255" << false;
    QTest::newRow("public to documentation") << "93.184.216.34"
                                             << "192.0.2.1" << false;
    QTest::newRow("public to NAT64 of loopback") << "93.184.216.34"
                                                 << "64:ff9b::7f00:1" << false;
    QTest::newRow("public to public") << "93.184.216.34"
                                      << "8.8.8.8" << true;
    QTest::newRow("private to public") << "10.1.2.3"
                                       << "8.8.8.8" << true;
    QTest::newRow("loopback to private") << "127.0.0.1"
                                         << "172.16.0.9" << true;
}

void TestSandbox::addressSpaces()
{
    QFETCH(QString, movie);
    QFETCH(QString, target);
    QFETCH(bool, reachable);
    QCOMPARE(sandbox::mayReach(sandbox::addressSpace(QHostAddress(movie)), sandbox::addressSpace(QHostAddress(target))),
             reachable);
}

void TestSandbox::handedToBrowser_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("handed");
    QTest::newRow("a site") << "http://www.example.com/page.html" << true;
    QTest::newRow("https, a public address") << "https://93.184.216.34/" << true;
    QTest::newRow("one-part public address") << "http://1572395042/" << true;
    QTest::newRow("loopback") << "http://127.0.0.1:8080/" << false;
    QTest::newRow("loopback, one decimal part") << "http://2130706433/" << false;
    QTest::newRow("loopback, hex") << "http://0x7f000001/" << false;
    QTest::newRow("loopback, octal parts") << "http://0177.0.0.01/" << false;
    QTest::newRow("loopback, two parts") << "http://127.1/" << false;
    QTest::newRow("loopback, zero-padded past 32 digits")
        << "http://0x7f.0x.0x.0000000000000000000000000000000000000001/" << false;
    QTest::newRow("this machine") << "http://0.0.0.0/" << false;
    QTest::newRow("localhost") << "http://localhost/" << false;
    QTest::newRow("a localhost subdomain, trailing dot") << "http://x.Localhost./" << false;
    QTest::newRow("home router") << "http://192.168.1.1/admin" << false;
    QTest::newRow("link-local") << "http://169.254.169.254/latest/" << false;
    QTest::newRow("IPv6 loopback") << "http://[::1]/" << false;
    QTest::newRow("mapped private") << "http://[::ffff:10.0.0.1]/" << false;
    QTest::newRow("unique local IPv6") << "http://[fd12::1]/" << false;
    QTest::newRow("multicast") << "http://224.0.0.251/" << false;
    QTest::newRow("benchmarking, one part") << "http://3323068417/" << false;
    QTest::newRow("reserved") << "http://240.0.0.1/" << false;
    QTest::newRow("IPv6 documentation") << "http://[2001:db8::1]/" << false;
    QTest::newRow("a number too large") << "http://4294967296/" << false;
    QTest::newRow("five parts") << "http://1.2.3.4.5/" << false;
    QTest::newRow("another scheme") << "file:///etc/passwd" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("user info") << "http://www.example.com@127.0.0.1/" << false;
}

void TestSandbox::handedToBrowser()
{
    QFETCH(QString, url);
    QFETCH(bool, handed);
    QCOMPARE(sandbox::mayOpenInBrowser(QUrl(url)), handed);
}

void TestSandbox::mediaStructure_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("exact"); // nothing may follow the end
    QTest::addColumn<bool>("whole");
    const QByteArray body(5000, 'b');
    QTest::newRow("GIF") << Gif << true << true;
    QTest::newRow("GIF, data after its trailer") << Gif + "&s=1" << true << false;
    QTest::newRow("GIF without its trailer") << Gif.chopped(1) << true << false;
    QTest::newRow("a script that starts like a GIF") << QByteArray("GIF89a=1;alert(document.cookie)") << true << false;
    QTest::newRow("PNG") << Png << true << true;
    QTest::newRow("PNG, data after IEND") << Png + "x" << true << false;
    QByteArray badCrc = Png;
    badCrc[30] = char(badCrc[30] ^ 1);
    QTest::newRow("PNG, a chunk whose check fails") << badCrc << true << false;
    QTest::newRow("JPEG") << Jpeg << true << true;
    QTest::newRow("JPEG, variables after its end") << Jpeg + "&jpgsecret=1" << true << false;
    QTest::newRow("JPEG without its end") << Jpeg.chopped(2) << true << false;
    QTest::newRow("SWF") << Swf << true << true;
    QTest::newRow("SWF, longer than it says") << Swf + "tail" << true << false;
    QTest::newRow("... taken as a movie: what follows is not read") << Swf + "tail" << false << true;
    QTest::newRow("SWF, shorter than it says") << Swf.chopped(3) << false << false;
    QTest::newRow("deflated SWF") << compressedSwf('C', body, 8 + body.size()) << true << true;
    QTest::newRow("deflated SWF, inflating to more than it says")
        << compressedSwf('C', body, 8 + body.size() - 1) << true << false;
    QTest::newRow("deflated SWF, cut") << compressedSwf('C', body, 8 + body.size()).chopped(10) << false << false;
    QTest::newRow("LZMA SWF") << compressedSwf('Z', body, 8 + body.size()) << true << true;
    QTest::newRow("LZMA SWF taken as a movie, 12 bytes after it")
        << compressedSwf('Z', body, 8 + body.size()) + QByteArray(12, 'x') << false << true;
    // Found by fuzzing: the coder's last piece of the movie came in the call that also
    // said what follows is no end marker.
    QTest::newRow("LZMA SWF taken as a movie, its end and what follows in one piece")
        << QByteArray::fromHex("5a57530a1f0000001d0000005d00008000003bfffca614165a7bf05a108b38dc1bfd034b96c129c5fffffd"
                               "d8ff0000001d0000005d00008000003b")
               + QByteArray(27, 'x')
        << false << true;
    QTest::newRow("LZMA SWF, stating more than it holds")
        << compressedSwf('Z', body, 8 + body.size() + 100) << false << false;
    QTest::newRow("a SWF stating more than a movie may be")
        << QByteArray("FWS\x08\xff\xff\xff\x7f", 8) << false << false;
}

// Whole, from the first byte to the last, however the pieces come.
void TestSandbox::mediaStructure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, exact);
    QFETCH(bool, whole);
    const auto end = exact ? media::Check::End::Exact : media::Check::End::Short;
    media::Check atOnce(64 * 1024 * 1024, end), byByte(64 * 1024 * 1024, end);
    QCOMPARE(atOnce.feed(bytes) && atOnce.finish(), whole);
    bool fed = true;
    for (char c : bytes)
        fed = fed && byByte.feed(QByteArrayView(&c, 1));
    QCOMPARE(fed && byByte.finish(), whole);
}

QTEST_GUILESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
