#include "addresses.h"
#include "playerhost.h"
#include "server.h"
#include "mediasamples.h"
#include "networktools.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// The relay without a browser, against real servers on several loopback addresses. (The
// sandbox's rules alone: tst_sandbox; the player host under hostile clients:
// tst_player_host.)
class TestPlayerNetwork : public QObject
{
    Q_OBJECT
private slots:
    // 127.0.0.50 stands for the internet here; the other loopback addresses for this
    // machine (read once, before the first judgement).
    void initTestCase() { qputenv(guard::PublicAddressesVariable, "127.0.0.50"); }
    void relayDecisions_data();
    void relayDecisions();
    void mediaWithoutLeave_data();
    void mediaWithoutLeave();
    void moviesHaveATotal();
    void compressedMoviesCountWhatTheyInflateTo();
    void redirectsLeadNoFurtherIn();
    void relayKeepsConnections();
    void moviesInPages_data();
    void moviesInPages();
    void relayStreams_data();
    void relayStreams();
    void relayStopsWhenThePlayerGoes();
    void endlessUpstreamAnswers_data();
    void endlessUpstreamAnswers();
};

using namespace samples;
using namespace playernet;

void TestPlayerNetwork::relayDecisions_data()
{
    QTest::addColumn<QString>("movie"); // the album's link, on site 1 unless it says
    QTest::addColumn<QString>("load"); // what the movie then asks for
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    // Site 1 (127.0.0.1) is the album's; site 2 (127.0.0.2) allows site 1 by policy; site
    // 3 (127.0.0.3) has no policy; site 4 (127.0.0.4) has a broken one.
    QTest::newRow("own host") << "1/m.swf"
                              << "1/own.txt" << 200 << QByteArray("own=1");
    QTest::newRow("policy allows") << "1/m.swf"
                                   << "2/data.txt" << 200 << QByteArray("allowed=1");
    QTest::newRow("no policy") << "1/m.swf"
                               << "3/data.txt" << 403 << QByteArray();
    QTest::newRow("broken policy") << "1/m.swf"
                                   << "4/data.txt" << 403 << QByteArray();
    QTest::newRow("redirect to a refusing host") << "1/m.swf"
                                                 << "1/to?3/data.txt" << 403 << QByteArray();
    QTest::newRow("redirect to an allowing host") << "1/m.swf"
                                                  << "1/to?2/data.txt" << 200 << QByteArray("allowed=1");
    QTest::newRow("picture from anywhere") << "1/m.swf"
                                           << "3/p.gif" << 200 << Gif;
    QTest::newRow("text named like a picture") << "1/m.swf"
                                               << "3/fake.gif" << 403 << QByteArray();
    QTest::newRow("a script that starts like a picture") << "1/m.swf"
                                                         << "3/cb.js" << 403 << QByteArray();
    QTest::newRow("album that redirects: judged where it ends") << "1/to?3/m.swf"
                                                                << "3/data.txt" << 200 << QByteArray("refused=1");
    QTest::newRow("... and not where it began") << "1/to?3/m.swf"
                                                << "1/own.txt" << 403 << QByteArray();
    QTest::newRow("a post needs leave first") << "1/m.swf"
                                              << "POST 3/data.txt" << 403 << QByteArray();
    QTest::newRow("the player itself") << "1/m.swf"
                                       << "self" << 403 << QByteArray();
    QTest::newRow("another scheme") << "1/m.swf"
                                    << "file:///etc/passwd" << 400 << QByteArray();
    QTest::newRow("a mail port") << "1/m.swf"
                                 << "http://127.0.0.3:25/" << 403 << QByteArray();
}

void TestPlayerNetwork::relayDecisions()
{
    QFETCH(QString, movie);
    QFETCH(QString, load);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    Site sites[] = {Site("127.0.0.1"), Site("127.0.0.2"), Site("127.0.0.3"), Site("127.0.0.4")};
    for (Site &s : sites)
        s.files
            = {{"/m.swf", Swf}, {"/p.gif", Gif}, {"/fake.gif", "GIF? no, a secret"}, {"/cb.js", "GIF89a({secret})"}};
    sites[0].files["/own.txt"] = "own=1";
    sites[1].files["/data.txt"] = "allowed=1";
    sites[1].files["/crossdomain.xml"]
        = "<cross-domain-policy><allow-access-from domain=\"127.0.0.1\"/></cross-domain-policy>";
    sites[2].files["/data.txt"] = "refused=1";
    sites[3].files["/data.txt"] = "refused=1";
    sites[3].files["/crossdomain.xml"] = "<cross-domain-policy><allow-access-from domain=\"*\">";
    // "N/path" is path on site N; "N/to?M/path" redirects there.
    const auto at = [&](QString s) {
        if (s.size() < 2 || !s[0].isDigit() || s[1] != '/')
            return s;
        QString rest = s.mid(1);
        const int to = rest.indexOf(QLatin1String("?"));
        if (to > 0 && rest[to + 1].isDigit())
            rest = rest.left(to + 1)
                   + QUrl::toPercentEncoding(sites[rest[to + 1].digitValue() - 1].url(rest.mid(to + 2)));
        return sites[s[0].digitValue() - 1].url(rest);
    };

    PlayerHost host;
    QVERIFY(host.start());
    const PlayerHost::Player player = host.open(at(movie));
    const Answer first = ask(host, player.session, QStringLiteral("movie"));
    QCOMPARE(first.status, 200);
    QCOMPARE(first.body, Swf);
    QCOMPARE(first.realUrl, QUrl(at(movie)).toEncoded().contains("/to") ? QUrl(sites[2].url("/m.swf")).toEncoded()
                                                                        : QUrl(at(movie)).toEncoded());

    const bool post = load.startsWith(QLatin1String("POST "));
    QString target = at(post ? load.mid(5) : load);
    if (load == QLatin1String("self"))
        target = host.base() + QStringLiteral("player.html");
    const Answer a = ask(host, player.session, QStringLiteral("load"), target, post ? QByteArray("x=1") : QByteArray());
    QCOMPARE(a.status, status);
    if (status == 200)
        QCOMPARE(a.body, body);
    else
        QVERIFY2(!a.body.contains("refused=1") && !a.body.contains("secret"), a.body.constData());
    if (load.contains(QLatin1String("3/data.txt")) && status == 403)
        QVERIFY(sites[2].asked.contains("/crossdomain.xml")); // it asked before it refused
    if (post)
        QVERIFY(!sites[2].asked.contains("/data.txt")); // and sent nothing without leave
    QTRY_COMPARE(host.relay().transferCount(), 0);
}

void TestPlayerNetwork::mediaWithoutLeave_data()
{
    QTest::addColumn<QString>("path"); // its name gives its type; under /untyped/ none
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("outcome"); // whole, cut (never complete), refused
    QTest::newRow("a picture") << "/p.gif" << Gif << "whole";
    QTest::newRow("a PNG, untyped") << "/untyped/p" << Png << "whole";
    QTest::newRow("a JPEG with variables after its end") << "/j.jpg" << Jpeg + "&jpgsecret=1"
                                                         << "cut";
    QTest::newRow("a GIF with a script after its trailer") << "/g.gif" << Gif + "<script>"
                                                           << "cut";
    QTest::newRow("a script that starts like a GIF") << "/cb.gif" << QByteArray("GIF89a({secret})") << "cut";
    QTest::newRow("a movie typed as bytes") << "/m.bin" << Swf << "whole";
    QTest::newRow("a movie, untyped, with data after it") << "/untyped/m" << Swf + "&secret=1"
                                                          << "cut";
    QTest::newRow("a JPEG typed as bytes") << "/j.bin" << Jpeg << "refused";
    QTest::newRow("a script named like a picture") << "/cb.js" << QByteArray("GIF89a({secret})") << "refused";
}

// From a host that gives no leave to read, pictures and movies come whole to be shown,
// and anything else, however disguised, never arrives whole.
void TestPlayerNetwork::mediaWithoutLeave()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, outcome);
    Site own("127.0.0.1"), other("127.0.0.3");
    own.files["/m.swf"] = Swf;
    other.files[path.toLatin1()] = bytes;
    PlayerHost host;
    QVERIFY(host.start());
    const PlayerHost::Player player = host.open(own.url("/m.swf"));
    QCOMPARE(ask(host, player.session, QStringLiteral("movie")).status, 200);
    const Answer a = askWhole(host, player.session, 8000, other.url(path));
    QCOMPARE(a.status, outcome == QLatin1String("refused") ? 403 : 200);
    QCOMPARE(a.complete, outcome == QLatin1String("whole"));
    if (a.complete)
        QCOMPARE(a.body, bytes);
    QTRY_COMPARE(host.relay().transferCount(), 0);
}

// A small compressed movie from a host without leave is inflated to be checked, and
// counts as what it inflates to: the movie's total stops the next one before it is
// inflated at all.
void TestPlayerNetwork::compressedMoviesCountWhatTheyInflateTo()
{
    Site site("127.0.0.1"), other("127.0.0.3");
    site.files["/m.swf"] = Swf;
    const QByteArray zeros(2 * 1024 * 1024, '\0');
    other.files["/bomb.swf"] = compressedSwf('Z', zeros, 8 + zeros.size());
    QVERIFY(other.files["/bomb.swf"].size() < 64 * 1024);
    PlayerHost host;
    QVERIFY(host.start());
    host.relay().setLimits({.maxSessionBytes = 5 * 1024 * 1024});
    const PlayerHost::Player player = host.open(site.url("/m.swf"));
    QCOMPARE(ask(host, player.session, QStringLiteral("movie")).status, 200);
    QVERIFY(askWhole(host, player.session, 8000, other.url("/bomb.swf")).complete);
    QVERIFY(askWhole(host, player.session, 8000, other.url("/bomb.swf")).complete);
    QVERIFY(!askWhole(host, player.session, 8000, other.url("/bomb.swf")).complete); // 6 MB would pass 5
    QTRY_COMPARE(host.relay().transferCount(), 0);
}

// A server of the internet cannot redirect an album, or what a movie loads, into this
// machine, however it was reached.
void TestPlayerNetwork::redirectsLeadNoFurtherIn()
{
    Site internet("127.0.0.50"), here("127.0.0.1");
    internet.files["/m.swf"] = Swf;
    here.files["/m.swf"] = Swf;
    here.files["/data.txt"] = "secret";
    PlayerHost host;
    QVERIFY(host.start());
    const PlayerHost::Player album = host.open(internet.url("/to?" + QUrl::toPercentEncoding(here.url("/m.swf"))));
    QCOMPARE(ask(host, album.session, QStringLiteral("movie")).status, 403);
    const PlayerHost::Player movie = host.open(internet.url("/m.swf"));
    QCOMPARE(ask(host, movie.session, QStringLiteral("movie")).status, 200);
    const Answer a = ask(host, movie.session, QStringLiteral("load"),
                         internet.url("/to?" + QUrl::toPercentEncoding(here.url("/data.txt"))));
    QCOMPARE(a.status, 403);
    QVERIFY(!here.asked.contains("/m.swf") && !here.asked.contains("/data.txt"));
    // From this machine to the internet is no step inward.
    const PlayerHost::Player out = host.open(here.url("/to?" + QUrl::toPercentEncoding(internet.url("/m.swf"))));
    QCOMPARE(ask(host, out.session, QStringLiteral("movie")).status, 200);
}

// What a movie loads goes on the connection its movie came on, when the site keeps it.
void TestPlayerNetwork::relayKeepsConnections()
{
    Site site("127.0.0.50");
    site.keepConnections();
    site.files["/m.swf"] = Swf;
    site.files["/a.txt"] = "a";
    PlayerHost host;
    QVERIFY(host.start());
    const PlayerHost::Player movie = host.open(site.url("/m.swf"));
    QCOMPARE(ask(host, movie.session, QStringLiteral("movie")).status, 200);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(ask(host, movie.session, QStringLiteral("load"), site.url("/a.txt")).body, QByteArray("a"));
    QCOMPARE(site.connections(), 1);
}

// All that one movie loads shares a total: past it, its loads fail and it plays on.
void TestPlayerNetwork::moviesHaveATotal()
{
    Site site("127.0.0.1");
    site.files["/m.swf"] = Swf;
    PlayerHost host;
    QVERIFY(host.start());
    host.relay().setLimits({.maxAnswerBytes = 1000 * 1000, .maxSessionBytes = 1500 * 1000});
    const PlayerHost::Player player = host.open(site.url("/m.swf"));
    QCOMPARE(ask(host, player.session, QStringLiteral("movie")).status, 200);
    // Three endless answers at once, each under the per-answer limit.
    const QByteArray token = QUrl(host.base()).path().section('/', 1, 1).toLatin1();
    std::vector<std::unique_ptr<http::ClientReply>> loads;
    for (int i = 0; i < 3; ++i) {
        const QByteArray url = QUrl::toPercentEncoding(site.url(QStringLiteral("/unsized?900000")));
        loads.emplace_back(http::ClientReply::send(
            {QHostAddress::LocalHost, host.port(), false, QStringLiteral("127.0.0.1"),
             "127.0.0.1:" + QByteArray::number(host.port()),
             "/" + token + "/relay/" + player.session + "?kind=load&url=" + url},
            "GET", {{"Sec-Fetch-Site", "same-origin"}, {"Sec-Fetch-Mode", "cors"}, {"Sec-Fetch-Dest", "empty"}}, {},
            nullptr));
    }
    qint64 total = 0;
    int whole = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            bool all = true;
            for (auto &r : loads) {
                total += r->read(r->bytesAvailable()).size();
                all = all && r->isFinished() && r->bytesAvailable() == 0;
            }
            return all;
        },
        20000));
    for (auto &r : loads)
        whole += !r->failed();
    QVERIFY2(total <= 1500 * 1000 + 3 * 256 * 1024, qPrintable(QString::number(total)));
    QVERIFY(whole < 3);
    // And the next load fails at once, as a network error would.
    QCOMPARE(ask(host, player.session, QStringLiteral("load"), site.url("/m.swf")).status, 502);
}

void TestPlayerNetwork::moviesInPages_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("status");
    // The movie is on this machine; is it reachable from where its page is?
    QTest::newRow("page on this machine") << "http://127.0.0.5/stamp.html" << 200;
    QTest::newRow("page on the home network") << "http://192.168.1.20/stamp.html" << 403;
    QTest::newRow("page at an internet address") << "http://93.184.216.34/stamp.html" << 403;
    QTest::newRow("page by name: the internet, never looked up again") << "http://www.example.org/stamp.html" << 403;
}

void TestPlayerNetwork::moviesInPages()
{
    QFETCH(QString, page);
    QFETCH(int, status);
    Site site("127.0.0.1");
    site.files["/m.swf"] = Swf;
    PlayerHost host;
    QVERIFY(host.start());
    const PlayerHost::Player player = host.open(site.url(QStringLiteral("/m.swf")), QUrl(page));
    QCOMPARE(ask(host, player.session, QStringLiteral("movie")).status, status);
    QCOMPARE(site.asked.contains("/m.swf"), status == 200); // refused before anything is sent
}

void TestPlayerNetwork::relayStreams_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<int>("status");
    QTest::addColumn<qsizetype>("size"); // what the site sends
    // Limits here: answers up to 1 MB, and 600 ms without anything moving.
    QTest::newRow("within the limit") << "/big?1000000" << true << 200 << qsizetype(1000000);
    QTest::newRow("announced over the limit") << "/big?2000000" << false << 413 << qsizetype(2000000);
    QTest::newRow("found over the limit") << "/unsized?2000000" << false << 200 << qsizetype(2000000);
    QTest::newRow("slow but moving, longer than the idle time") << "/trickle" << true << 200 << Swf.size() + 14 * 100;
    QTest::newRow("stalled") << "/stall" << false << 504 << qsizetype(0);
    QTest::newRow("a movie shorter than it says") << "/short" << false << 200 << qsizetype(11);
}

void TestPlayerNetwork::relayStreams()
{
    QFETCH(QString, path);
    QFETCH(bool, complete);
    QFETCH(int, status);
    QFETCH(qsizetype, size);
    Site site("127.0.0.1");
    PlayerHost host;
    QVERIFY(host.start());
    host.relay().setLimits({.maxAnswerBytes = 1000 * 1000, .idleTimeoutMs = 600});
    const PlayerHost::Player player = host.open(site.url(path));
    QElapsedTimer t;
    t.start();
    const Answer a = askWhole(host, player.session);
    QCOMPARE(a.status, status);
    QCOMPARE(a.complete, complete);
    if (complete)
        QCOMPARE(a.body.size(), size);
    QVERIFY(a.body.size() <= 1000 * 1000);
    QVERIFY(t.elapsed() < 5000);
    QTRY_COMPARE(host.relay().transferCount(), 0);
}

void TestPlayerNetwork::relayStopsWhenThePlayerGoes()
{
    Site site("127.0.0.1");
    PlayerHost host;
    QVERIFY(host.start());
    const PlayerHost::Player player = host.open(site.url(QStringLiteral("/big?200000000")));
    QNetworkAccessManager network;
    QNetworkRequest request(
        QUrl(host.base() + QStringLiteral("relay/") + player.session + QStringLiteral("?kind=movie")));
    request.setRawHeader("Sec-Fetch-Site", "same-origin");
    request.setRawHeader("Sec-Fetch-Mode", "cors");
    request.setRawHeader("Sec-Fetch-Dest", "empty");
    QNetworkReply *reply = network.get(request);
    QTRY_VERIFY(reply->bytesAvailable() > 1024 * 1024);
    reply->abort(); // the viewer closed
    QTRY_COMPARE(site.closedEarly, 1);
    QTRY_COMPARE(host.relay().transferCount(), 0);
    delete reply;
}

void TestPlayerNetwork::endlessUpstreamAnswers_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("endless");
    QTest::newRow("endless header line") << QByteArray("HTTP/1.1 200 OK\r\nX-B: ") << QByteArray(4096, 'b');
    QTest::newRow("endless header lines")
        << QByteArray("HTTP/1.1 200 OK\r\n") << QByteArray("X-B: b\r\n").repeated(400);
    QTest::newRow("endless status line") << QByteArray("HTTP/1.1 200 ") << QByteArray(4096, 'O');
    QTest::newRow("endless interim answers")
        << QByteArray() << QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(100);
    QTest::newRow("endless chunk size") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                                        << QByteArray(4096, '0');
    QTest::newRow("endless chunk extension")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10;x=") << QByteArray(4096, 'e');
}

void TestPlayerNetwork::endlessUpstreamAnswers()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, endless);
    // A server that never stops sending what is not an answer.
    QTcpServer hostile;
    QVERIFY(hostile.listen(QHostAddress::LocalHost));
    QList<QPointer<QTcpSocket>> clients;
    connect(&hostile, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *c = hostile.nextPendingConnection();
        clients << c;
        c->write(start);
        auto *more = new QTimer(c);
        connect(more, &QTimer::timeout, c, [c, endless] {
            if (c->bytesToWrite() < 1024 * 1024)
                c->write(endless);
        });
        more->start(1);
    });
    Site site("127.0.0.1");
    PlayerHost host;
    QVERIFY(host.start());
    const PlayerHost::Player player
        = host.open(QStringLiteral("http://127.0.0.1:%1/album.swf").arg(hostile.serverPort()));
    const double before = rssMb();
    QElapsedTimer t;
    t.start();
    QCOMPARE(ask(host, player.session, QStringLiteral("movie")).status, 502);
    QVERIFY(t.elapsed() < 5000);
    QVERIFY2(rssMb() - before < 16, qPrintable(QString::number(rssMb() - before)));
    QTRY_COMPARE(host.relay().transferCount(), 0);
    QTRY_VERIFY(std::all_of(clients.begin(), clients.end(), [](const QPointer<QTcpSocket> &c) {
        return !c || c->state() != QAbstractSocket::ConnectedState;
    })); // nothing of it is still being read
    // And the relay serves the next movie as ever.
    site.files["/m.swf"] = Swf;
    const PlayerHost::Player next = host.open(site.url(QStringLiteral("/m.swf")));
    QCOMPARE(ask(host, next.session, QStringLiteral("movie")).status, 200);
}

QTEST_GUILESS_MAIN(TestPlayerNetwork)
#include "tst_player_network.moc"
