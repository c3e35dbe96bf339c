#include "guard.h"
#include "addresses.h"
#include "client.h"
#include "media.h"
#include "playerhost.h"
#include "sandbox.h"
#include "server.h"
#include "mediasamples.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <lzma.h>

#include <atomic>
#include <map>
#include <thread>

// The album player's network without a browser: the relay against real servers on
// several loopback addresses, and the player host under hostile input. (The sandbox's
// rules alone: tst_sandbox.)
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
    void otherProgramsCannotCrowdTheEngineOut();
    void compressedMoviesCountWhatTheyInflateTo();
    void redirectsLeadNoFurtherIn();
    void moviesInPages_data();
    void moviesInPages();
    void relayStreams_data();
    void relayStreams();
    void relayStopsWhenThePlayerGoes();
    void endlessUpstreamAnswers_data();
    void endlessUpstreamAnswers();
    void hostileRequests_data();
    void hostileRequests();
    void hostileRequestsKeepMemoryFlat();
    void slowClientsAreCut();
    void idleConnectionsHoldNothingOff();
};

namespace {

using namespace samples;

// A real site on one loopback address: files by path, "/to?URL" redirects to URL,
// "/big?N" is N bytes of movie, "/trickle" sends slowly, "/stall" sends nothing.
class Site
{
public:
    explicit Site(const char *address)
        : server([this](const http::Request &r, http::Response *s) { handle(r, s); })
    {
        QVERIFY(server.listen(QHostAddress(QString::fromLatin1(address)), 0));
    }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://%1:%2%3").arg(server.address().toString()).arg(server.port()).arg(path);
    }
    std::map<QByteArray, QByteArray> files;
    int closedEarly = 0; // answers the client stopped taking
    QList<QByteArray> asked;

private:
    void handle(const http::Request &r, http::Response *s)
    {
        asked << r.path();
        if (r.path() == "/to")
            return s->send(302, {}, {}, {{"Location", QUrl::fromPercentEncoding(r.query()).toLatin1()}});
        if (r.path() == "/big" || r.path() == "/unsized") {
            const qint64 n = r.query().toLongLong();
            s->begin(200, {}, r.path() == "/big" ? n : -1);
            auto sent = std::make_shared<qint64>(0);
            QPointer<http::Response> p(s);
            auto pump = [p, sent, n, this] {
                while (p && p->isOpen() && p->pending() < http::Response::HighWater && *sent < n) {
                    const QByteArray piece = *sent == 0 ? Swf + QByteArray(64 * 1024 - Swf.size(), 'x')
                                                        : QByteArray(qMin<qint64>(64 * 1024, n - *sent), 'x');
                    *sent += piece.size();
                    p->write(piece);
                }
                if (p && *sent >= n)
                    p->end();
            };
            QObject::connect(s, &http::Response::drained, s, pump);
            QObject::connect(s, &http::Response::closed, s, [this, sent, n] { closedEarly += *sent < n; });
            return pump();
        }
        if (r.path() == "/trickle" || r.path() == "/stall") {
            s->begin(200, {}, -1);
            if (r.path() == "/stall")
                return;
            auto *tick = new QTimer(s);
            auto count = std::make_shared<int>(0);
            QObject::connect(tick, &QTimer::timeout, s, [s, tick, count] {
                s->write(*count == 0 ? Swf : QByteArray(100, 'x'));
                if (++*count == 15)
                    s->end(), tick->stop();
            });
            return tick->start(100);
        }
        if (r.path() == "/short") // a movie that ends before it says it does
            return s->send(200, "application/x-shockwave-flash", QByteArray("FWS\x08\xe8\x03\x00\x00", 8) + "cut");
        const auto it = files.find(r.path());
        if (it == files.end())
            return s->send(404, "text/html", "<h1>not found</h1>");
        if (r.path().startsWith("/untyped/"))
            return s->send(200, {}, it->second);
        s->send(200, http::contentTypeFor(QString::fromLatin1(r.path())), it->second);
    }
    http::Server server;
};

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray realUrl;
    bool complete = false;
};

// Asks the player host as the player page does, with the engine's request headers.
Answer ask(PlayerHost &host, const QByteArray &session, const QString &kind, const QString &url = {},
           const QByteArray &post = {})
{
    static QNetworkAccessManager network;
    QUrl target(host.base() + QStringLiteral("relay/") + QString::fromLatin1(session));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("kind"), kind);
    if (!url.isEmpty())
        query.addQueryItem(QStringLiteral("url"), QString::fromLatin1(QUrl::toPercentEncoding(url)));
    target.setQuery(query);
    QNetworkRequest request(target);
    request.setRawHeader("Sec-Fetch-Site", "same-origin");
    request.setRawHeader("Sec-Fetch-Mode", "cors");
    request.setRawHeader("Sec-Fetch-Dest", "empty");
    if (!post.isNull())
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QNetworkReply *reply = post.isNull() ? network.get(request) : network.post(request, post);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
             reply->rawHeader("X-Relay-Url"), reply->error() == QNetworkReply::NoError};
    reply->deleteLater();
    return a;
}

// Raw bytes to a server in this thread (so the event loop runs while we wait); what it
// answered within the time, or nothing.
QByteArray rawExchange(quint16 port, const QByteArray &request, int timeoutMs = 3000, qint64 junkBytes = 0)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    const QByteArray junk(64 * 1024, 'j');
    QByteArray answer;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs && socket.state() != QAbstractSocket::UnconnectedState) {
        if (junkBytes > 0 && socket.state() == QAbstractSocket::ConnectedState && socket.bytesToWrite() < 1024 * 1024) {
            socket.write(junk);
            junkBytes -= junk.size();
        }
        QTest::qWait(2);
        answer += socket.readAll();
        if (junkBytes <= 0 && answer.contains("\r\n\r\n"))
            break;
    }
    return answer + socket.readAll();
}

// Asks the relay for a movie with our own client, which tells a cut answer (no last
// chunk, fewer bytes than announced) from a whole one; Qt's may wait on a cut chunked
// answer until its timeout, at some paces.
Answer askWhole(PlayerHost &host, const QByteArray &session, int timeoutMs = 8000, const QString &load = {})
{
    const QByteArray token = QUrl(host.base()).path().section('/', 1, 1).toLatin1();
    const QByteArray query = load.isEmpty() ? QByteArray("?kind=movie") : "?kind=load&url=" + QUrl::toPercentEncoding(load);
    const http::ClientReply::Target target{QHostAddress::LocalHost, host.port(), false, QStringLiteral("127.0.0.1"),
                                           "127.0.0.1:" + QByteArray::number(host.port()),
                                           "/" + token + "/relay/" + session + query};
    std::unique_ptr<http::ClientReply> reply(http::ClientReply::send(
        target, "GET", {{"Sec-Fetch-Site", "same-origin"}, {"Sec-Fetch-Mode", "cors"}, {"Sec-Fetch-Dest", "empty"}},
        {}, nullptr));
    Answer a;
    const bool ended = QTest::qWaitFor([&] {
        a.body += reply->read(reply->bytesAvailable());
        return reply->isFinished() && reply->bytesAvailable() == 0;
    }, timeoutMs);
    a.status = reply->status();
    a.complete = ended && a.status == 200 && !reply->failed();
    return a;
}

// The resident size, in MB. Under AddressSanitizer freed memory waits in quarantine,
// so resident size says nothing there and reads 0: no growth is measured.
double rssMb()
{
#if defined(__SANITIZE_ADDRESS__)
    return 0;
#else
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
#endif
}

} // namespace

void TestPlayerNetwork::relayDecisions_data()
{
    QTest::addColumn<QString>("movie");   // the album's link, on site 1 unless it says
    QTest::addColumn<QString>("load");    // what the movie then asks for
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    // Site 1 (127.0.0.1) is the album's; site 2 (127.0.0.2) allows site 1 by policy; site
    // 3 (127.0.0.3) has no policy; site 4 (127.0.0.4) has a broken one.
    QTest::newRow("own host") << "1/m.swf" << "1/own.txt" << 200 << QByteArray("own=1");
    QTest::newRow("policy allows") << "1/m.swf" << "2/data.txt" << 200 << QByteArray("allowed=1");
    QTest::newRow("no policy") << "1/m.swf" << "3/data.txt" << 403 << QByteArray();
    QTest::newRow("broken policy") << "1/m.swf" << "4/data.txt" << 403 << QByteArray();
    QTest::newRow("redirect to a refusing host") << "1/m.swf" << "1/to?3/data.txt" << 403 << QByteArray();
    QTest::newRow("redirect to an allowing host") << "1/m.swf" << "1/to?2/data.txt" << 200 << QByteArray("allowed=1");
    QTest::newRow("picture from anywhere") << "1/m.swf" << "3/p.gif" << 200 << Gif;
    QTest::newRow("text named like a picture") << "1/m.swf" << "3/fake.gif" << 403 << QByteArray();
    QTest::newRow("a script that starts like a picture") << "1/m.swf" << "3/cb.js" << 403 << QByteArray();
    QTest::newRow("album that redirects: judged where it ends") << "1/to?3/m.swf" << "3/data.txt" << 200
                                                                  << QByteArray("refused=1");
    QTest::newRow("... and not where it began") << "1/to?3/m.swf" << "1/own.txt" << 403 << QByteArray();
    QTest::newRow("a post needs leave first") << "1/m.swf" << "POST 3/data.txt" << 403 << QByteArray();
    QTest::newRow("the player itself") << "1/m.swf" << "self" << 403 << QByteArray();
    QTest::newRow("another scheme") << "1/m.swf" << "file:///etc/passwd" << 400 << QByteArray();
    QTest::newRow("a mail port") << "1/m.swf" << "http://127.0.0.3:25/" << 403 << QByteArray();
}

void TestPlayerNetwork::relayDecisions()
{
    QFETCH(QString, movie);
    QFETCH(QString, load);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    Site sites[] = {Site("127.0.0.1"), Site("127.0.0.2"), Site("127.0.0.3"), Site("127.0.0.4")};
    for (Site &s : sites)
        s.files = {{"/m.swf", Swf}, {"/p.gif", Gif}, {"/fake.gif", "GIF? no, a secret"}, {"/cb.js", "GIF89a({secret})"}};
    sites[0].files["/own.txt"] = "own=1";
    sites[1].files["/data.txt"] = "allowed=1";
    sites[1].files["/crossdomain.xml"] =
        "<cross-domain-policy><allow-access-from domain=\"127.0.0.1\"/></cross-domain-policy>";
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
            rest = rest.left(to + 1) + QUrl::toPercentEncoding(sites[rest[to + 1].digitValue() - 1].url(rest.mid(to + 2)));
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
    QTest::newRow("a JPEG with variables after its end") << "/j.jpg" << Jpeg + "&jpgsecret=1" << "cut";
    QTest::newRow("a GIF with a script after its trailer") << "/g.gif" << Gif + "<script>" << "cut";
    QTest::newRow("a script that starts like a GIF") << "/cb.gif" << QByteArray("GIF89a({secret})") << "cut";
    QTest::newRow("a movie typed as bytes") << "/m.bin" << Swf << "whole";
    QTest::newRow("a movie, untyped, with data after it") << "/untyped/m" << Swf + "&secret=1" << "cut";
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

// Behind the guard, the player host takes only the guard's connections: a program of this
// machine opening connection after connection gets none of its room.
void TestPlayerNetwork::otherProgramsCannotCrowdTheEngineOut()
{
    PlayerHost host;
    QVERIFY(host.start());
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.allow(QHostAddress::LocalHost, host.port());
    host.setAdmission([&](const QHostAddress &peer, quint16 port) { return guard.isOwnConnection(peer, port); });
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    const auto more = [&] {
        for (int i = 0; i < 10 && flood.size() < 300; ++i) {
            flood.push_back(std::make_unique<QTcpSocket>());
            flood.back()->connectToHost(QHostAddress::LocalHost, host.port());
            flood.back()->write(i % 2 ? "GET /" : ""); // some silent, some with a head begun
        }
    };
    more();
    QTimer flooding;
    connect(&flooding, &QTimer::timeout, &flooding, more);
    flooding.start(1);
    // The engine's request, as it comes through the guard, mid-flood.
    QTcpSocket engine;
    engine.connectToHost(QHostAddress::LocalHost, guard.port());
    const QByteArray path = QUrl(host.base()).path().toLatin1() + "player.js";
    engine.write("GET http://127.0.0.1:" + QByteArray::number(host.port()) + path
                 + " HTTP/1.1\r\nSec-Fetch-Site: same-origin\r\nSec-Fetch-Dest: script\r\n\r\n");
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += engine.readAll()).contains("\r\n\r\n"), 10000);
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(100).constData());
    flooding.stop();
    // Cut at once, not after the two seconds a silent connection may wait.
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(flood.begin(), flood.end(), [](const auto &s) {
        return s->state() == QAbstractSocket::UnconnectedState;
    }), 1000);
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
             "127.0.0.1:" + QByteArray::number(host.port()), "/" + token + "/relay/" + player.session + "?kind=load&url=" + url},
            "GET", {{"Sec-Fetch-Site", "same-origin"}, {"Sec-Fetch-Mode", "cors"}, {"Sec-Fetch-Dest", "empty"}}, {},
            nullptr));
    }
    qint64 total = 0;
    int whole = 0;
    QVERIFY(QTest::qWaitFor([&] {
        bool all = true;
        for (auto &r : loads) {
            total += r->read(r->bytesAvailable()).size();
            all = all && r->isFinished() && r->bytesAvailable() == 0;
        }
        return all;
    }, 20000));
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
    QNetworkRequest request(QUrl(host.base() + QStringLiteral("relay/") + player.session + QStringLiteral("?kind=movie")));
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
    QTest::newRow("endless header lines") << QByteArray("HTTP/1.1 200 OK\r\n") << QByteArray("X-B: b\r\n").repeated(400);
    QTest::newRow("endless status line") << QByteArray("HTTP/1.1 200 ") << QByteArray(4096, 'O');
    QTest::newRow("endless interim answers") << QByteArray() << QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(100);
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
    const PlayerHost::Player player = host.open(QStringLiteral("http://127.0.0.1:%1/album.swf").arg(hostile.serverPort()));
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

void TestPlayerNetwork::hostileRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // the status line's start, or "" for a cut
    QTest::addColumn<qint64>("junk");       // bytes sent after the request

    const QByteArray fetch = "\r\nSec-Fetch-Site: same-origin\r\nSec-Fetch-Dest: script\r\n";
    QTest::newRow("wrong Host") << QByteArray("GET /TOKEN/ruffle/ruffle.js HTTP/1.1\r\nHost: evil.example") + fetch + "\r\n"
                                << QByteArray("HTTP/1.1 421") << qint64(0);
    QTest::newRow("bare LF") << QByteArray("GET /TOKEN/ruffle/ruffle.js HTTP/1.1\nHost: HOST\nSec-Fetch-Site: "
                                           "same-origin\nSec-Fetch-Dest: script\n\n")
                             << QByteArray("HTTP/1.1 200") << qint64(0);
    QTest::newRow("NUL in a name") << QByteArray("GET /TOKEN/ruffle/ruffle.js%00.x HTTP/1.1\r\nHost: HOST") + fetch + "\r\n"
                                   << QByteArray("HTTP/1.1 404") << qint64(0);
    QTest::newRow("raw NUL") << QByteArray("GET /TOKEN/ruffle/ruffle.js") + '\0' + " HTTP/1.1\r\nHost: HOST" + fetch + "\r\n"
                             << QByteArray("HTTP/1.1 400") << qint64(0);
    QTest::newRow("dotted name") << QByteArray("GET /TOKEN/ruffle/..%2Fruffle.js HTTP/1.1\r\nHost: HOST") + fetch + "\r\n"
                                 << QByteArray("HTTP/1.1 404") << qint64(0);
    QTest::newRow("no Sec-Fetch: not the engine") << QByteArray("GET /TOKEN/ruffle/ruffle.js HTTP/1.1\r\nHost: HOST\r\n\r\n")
                                                  << QByteArray("HTTP/1.1 403") << qint64(0);
    QTest::newRow("a frame of the relay")
        << QByteArray("GET /TOKEN/relay/x?kind=load HTTP/1.1\r\nHost: HOST\r\nSec-Fetch-Site: same-origin\r\n"
                      "Sec-Fetch-Mode: navigate\r\nSec-Fetch-Dest: iframe\r\n\r\n")
        << QByteArray("HTTP/1.1 403") << qint64(0);
    QTest::newRow("complete header over 64 KiB")
        << QByteArray("GET /TOKEN/ruffle/ruffle.js HTTP/1.1\r\nHost: HOST\r\nX: ") + QByteArray(70000, 'a') + "\r\n\r\n"
        << QByteArray("HTTP/1.1 431") << qint64(0);
    QTest::newRow("announced body too large")
        << QByteArray("POST /TOKEN/relay/x?kind=load HTTP/1.1\r\nHost: HOST\r\nContent-Length: 5000000\r\n\r\n")
        << QByteArray("HTTP/1.1 413") << qint64(0);
    QTest::newRow("chunked body") << QByteArray("POST /TOKEN/relay/x HTTP/1.1\r\nHost: HOST\r\nTransfer-Encoding: chunked\r\n\r\n")
                                  << QByteArray("HTTP/1.1 501") << qint64(0);
    QTest::newRow("endless body after a request") << QByteArray("GET /TOKEN/nothing HTTP/1.1\r\nHost: HOST\r\n\r\n")
                                                  << QByteArray("HTTP/1.1 404") << qint64(200) * 1024 * 1024;
}

void TestPlayerNetwork::hostileRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(qint64, junk);
    PlayerHost host;
    QVERIFY(host.start());
    const QByteArray token = QUrl(host.base()).path().section('/', 1, 1).toLatin1();
    request.replace("TOKEN", token).replace("HOST", "127.0.0.1:" + QByteArray::number(host.port()));
    QElapsedTimer t;
    t.start();
    const QByteArray got = rawExchange(host.port(), request, 5000, junk);
    QVERIFY2(got.startsWith(answer), got.left(200).constData());
    QVERIFY2(t.elapsed() < 4000, "it took until a timeout");
}

void TestPlayerNetwork::hostileRequestsKeepMemoryFlat()
{
    PlayerHost host;
    QVERIFY(host.start());
    const QByteArray token = QUrl(host.base()).path().section('/', 1, 1).toLatin1();
    const QByteArray headers = " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(host.port())
                               + "\r\nSec-Fetch-Site: same-origin\r\nSec-Fetch-Dest: empty\r\n\r\n";
    rawExchange(host.port(), "GET /" + token + "/ruffle/ruffle.js" + headers); // the one file it keeps
    const double before = rssMb();
    for (int i = 0; i < 50; ++i) {
        // New names each time: nothing may be read or kept under them.
        rawExchange(host.port(), "GET /" + token + "/ruffle/ruffle.js%00" + QByteArray::number(i) + headers);
        rawExchange(host.port(), "GET /" + token + "/ruffle/" + QByteArray::number(i) + ".wasm" + headers);
    }
    rawExchange(host.port(), "GET /" + token + "/x" + headers, 20000, qint64(500) * 1024 * 1024);
    QVERIFY2(rssMb() - before < 16, qPrintable(QString::number(rssMb() - before)));
}

void TestPlayerNetwork::slowClientsAreCut()
{
    // A client that sends its request a byte at a time, and many at once.
    http::Server server([](const http::Request &, http::Response *r) { r->send(200, "text/plain", "ok"); },
                        http::Limits{.requestTimeoutMs = 300, .maxConnections = 4});
    QVERIFY(server.listen());
    QTcpSocket slow[6];
    for (QTcpSocket &s : slow) {
        s.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(s.waitForConnected(1000));
        s.write("G");
    }
    QTRY_VERIFY_WITH_TIMEOUT(server.connectionCount() == 0, 2000);
    QTRY_VERIFY(std::all_of(std::begin(slow), std::end(slow),
                            [](QTcpSocket &s) { return s.state() == QAbstractSocket::UnconnectedState; }));
    QVERIFY(rawExchange(server.port(), "GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 200"));
}

// Another program on the machine keeps 200 connections open that never say anything,
// opening new ones as old ones are dropped: the engine's requests are answered all the
// same (before, the idle ones held every slot until their time ran out).
void TestPlayerNetwork::idleConnectionsHoldNothingOff()
{
    PlayerHost host;
    QVERIFY(host.start());
    std::vector<std::unique_ptr<QTcpSocket>> idle(200);
    const auto keepIdle = [&] {
        for (auto &s : idle)
            if (!s || s->state() == QAbstractSocket::UnconnectedState) {
                s = std::make_unique<QTcpSocket>();
                s->connectToHost(QHostAddress::LocalHost, host.port());
            }
    };
    keepIdle();
    // They stand (or were turned away) before the engine comes.
    QVERIFY(QTest::qWaitFor([&] {
        return std::all_of(idle.begin(), idle.end(),
                           [](const auto &s) { return s->state() != QAbstractSocket::ConnectingState; });
    }, 20000));
    const QByteArray token = QUrl(host.base()).path().section('/', 1, 1).toLatin1();
    // The engine, a process of its own, asks ten times; meanwhile the silent ones keep
    // coming (each dropped one is opened again).
    const quint16 port = host.port();
    std::atomic<int> answered = 0;
    std::atomic<bool> done = false;
    QByteArray last;
    std::thread engine([&] {
        for (int i = 0; i < 10; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (!s.waitForConnected(10000))
                break;
            s.write("GET /" + token + "/player.js HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
                    + "\r\nSec-Fetch-Site: same-origin\r\nSec-Fetch-Mode: no-cors\r\nSec-Fetch-Dest: script\r\n\r\n");
            QByteArray answer;
            while (!answer.contains("\r\n\r\n") && s.waitForReadyRead(10000))
                answer += s.readAll();
            last = answer.left(100);
            if (!answer.startsWith("HTTP/1.1 200"))
                break;
            ++answered;
        }
        done = true;
    });
    QVERIFY(QTest::qWaitFor([&] {
        keepIdle();
        return done.load();
    }, 120000));
    engine.join();
    QVERIFY2(answered == 10, last.constData());
}

QTEST_GUILESS_MAIN(TestPlayerNetwork)
#include "tst_player_network.moc"
