#include "addresses.h"
#include "client.h"
#include "guard.h"
#include "server.h"
#include "sitearchive.h"
#include "userproxy.h"
#include "wayback.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <unistd.h>

// The guard's rule on addresses, and the guard itself as the engine meets it: a proxy
// that lets through only what the rule allows, whatever the request says.
class TestGuard : public QObject
{
    Q_OBJECT
private slots:
    void publicAddressesSwitch_data();
    void publicAddressesSwitch();
    void requests_data();
    void requests();
    void tunnelCarriesBytesBothWays();
    void fromTheArchive_data();
    void fromTheArchive();
    void busyArchive_data();
    void busyArchive();
    void archiveUnreachable_data();
    void archiveUnreachable();
    void throughTheUsersProxy_data();
    void throughTheUsersProxy();
    void captureIndex_data();
    void captureIndex();
    void indexFallbacks_data();
    void indexFallbacks();
    void otherUsersGetNothing();
    void keptConnections_data();
    void keptConnections();
    void sixAtOnce_data();
    void sixAtOnce();
    void tlsSessionResumed();
};

void TestGuard::publicAddressesSwitch_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("count"); // -1: refused
    QTest::newRow("addresses") << "127.0.0.5, 127.0.0.6" << 2;
    QTest::newRow("with ports") << "127.0.0.5:8080,[::1]:80,::1" << 3;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("off loopback") << "10.0.0.1" << -1;
    QTest::newRow("a public address") << "93.184.216.34" << -1;
    QTest::newRow("a name") << "localhost" << -1;
    QTest::newRow("port 0") << "127.0.0.5:0" << -1;
    QTest::newRow("port too large") << "127.0.0.5:65536" << -1;
    QTest::newRow("no port after the colon") << "127.0.0.5:" << -1;
    QTest::newRow("unclosed bracket") << "[::1:80" << -1;
}

void TestGuard::publicAddressesSwitch()
{
    QFETCH(QString, value);
    QFETCH(int, count);
    const guard::Parsed parsed = guard::parsePublicAddresses(value);
    QCOMPARE(parsed.error.isEmpty(), count >= 0);
    if (count >= 0)
        QCOMPARE(parsed.endpoints.size(), count);
}

namespace {

// A service of this machine that writes down whatever reaches it.
struct LoggingServer
{
    QList<QByteArray> seen;
    http::Server server{[this](const http::Request &r, http::Response *s) {
                            seen << r.method + ' ' + r.target + ' ' + r.body;
                            s->send(200, "text/plain", "secret");
                        },
                        bodies()};
    static http::Limits bodies()
    {
        http::Limits limits;
        limits.maxBodyBytes = 1024;
        return limits;
    }
};

// Sends raw bytes to the guard and reads all it answers until it closes.
QByteArray exchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return "no connection";
    socket.write(bytes);
    QByteArray answer;
    QDeadlineTimer deadline(15000);
    while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired()) {
        QTest::qWait(20); // the guard answers from this thread's event loop
        answer += socket.readAll();
    }
    return answer + socket.readAll();
}

} // namespace

void TestGuard::requests_data()
{
    QTest::addColumn<QByteArray>("request"); // $P: the logging server's port
    QTest::addColumn<QByteArray>("answerStart");
    QTest::addColumn<bool>("reaches");
    QTest::addColumn<bool>("allowed"); // the logging server's address and port, by exception
    QTest::newRow("this machine") << QByteArray("GET http://127.0.0.9:$P/x HTTP/1.1\r\nHost: 127.0.0.9:$P\r\n\r\n")
                                  << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("tunnel to this machine")
        << QByteArray("CONNECT 127.0.0.9:$P HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("a name that leads here") << QByteArray("GET http://rebound.example:$P/ HTTP/1.1\r\n\r\n")
                                            << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("v4 mapped in v6") << QByteArray("GET http://[::ffff:127.0.0.9]:$P/ HTTP/1.1\r\n\r\n")
                                     << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("allowed host and port") << QByteArray("POST http://allowed.example:$P/form?a=1 HTTP/1.1\r\n"
                                                         "Proxy-Connection: keep-alive\r\nContent-Length: 3\r\n\r\nabc")
                                           << QByteArray("HTTP/1.1 200") << true << true;
    QTest::newRow("user info") << QByteArray("GET http://a@127.0.0.9:$P/ HTTP/1.1\r\n\r\n")
                               << QByteArray("HTTP/1.1 400") << false << false;
    QTest::newRow("https without a tunnel")
        << QByteArray("GET https://127.0.0.9:$P/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400") << false << false;
    QTest::newRow("not a proxy request") << QByteArray("GET /x HTTP/1.1\r\nHost: 127.0.0.9:$P\r\n\r\n")
                                         << QByteArray("HTTP/1.1 400") << false << false;
    QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x00\x01\r\n\r\n", 10) << QByteArray("HTTP/1.1 400")
                             << false << false;
    QTest::newRow("a head too large") << QByteArray("GET http://127.0.0.9:$P/ HTTP/1.1\r\nX: ") + QByteArray(70000, 'a')
                                      << QByteArray("HTTP/1.1 431") << false << false;
    QTest::newRow("a name that leads here too")
        << QByteArray("GET http://mixed.example:$P/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403") << false << true;
    QTest::newRow("no such name") << QByteArray("GET http://nowhere.invalid/ HTTP/1.1\r\n\r\n")
                                  << QByteArray("HTTP/1.1 502") << false << false;
    QTest::newRow("localhost") << QByteArray("GET http://localhost:$P/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403")
                               << false << false;
    QTest::newRow("the unspecified address")
        << QByteArray("GET http://0.0.0.0:$P/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("v6 loopback") << QByteArray("HEAD http://[::1]:$P/ HTTP/1.1\r\n\r\n")
                                 << QByteArray("HTTP/1.1 403") << false << false;
}

void TestGuard::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answerStart);
    QFETCH(bool, reaches);
    QFETCH(bool, allowed);
    LoggingServer victim;
    QVERIFY(victim.server.listen(QHostAddress(QStringLiteral("127.0.0.9"))));
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.mapNameForTests(QStringLiteral("rebound.example"), QHostAddress(QStringLiteral("127.0.0.9")));
    guard.mapNameForTests(QStringLiteral("allowed.example"), QHostAddress(QStringLiteral("127.0.0.9")));
    guard.mapNameForTests(QStringLiteral("mixed.example"), QHostAddress(QStringLiteral("127.0.0.9")));
    guard.mapNameForTests(QStringLiteral("mixed.example"), QHostAddress(QStringLiteral("10.1.2.3")));
    if (allowed)
        guard.allow(QHostAddress(QStringLiteral("127.0.0.9")), victim.server.port());
    const QByteArray answer = exchange(guard.port(), request.replace("$P", QByteArray::number(victim.server.port())));
    QVERIFY2(answer.startsWith(answerStart), answer.left(200).constData());
    if (reaches) {
        QCOMPARE(victim.seen, QList<QByteArray>{"POST /form?a=1 abc"});
        QVERIFY2(answer.contains("\r\nConnection: close\r\n") && answer.endsWith("secret"), answer.constData());
    } else {
        QVERIFY2(victim.seen.isEmpty(), victim.seen.join(' ').constData());
    }
    QTRY_COMPARE(guard.connectionCount(), 0);
}

void TestGuard::fromTheArchive_data()
{
    QTest::addColumn<QByteArray>("request"); // $P: a logging server's port on this machine
    QTest::addColumn<QByteArray>("answerStart");
    QTest::addColumn<QByteArray>("has"); // in the answer
    QTest::addColumn<int>("outcome");
    const int none = int(guard::Guard::Outcome::None);
    QTest::newRow("a page, its capture nearest the date")
        << QByteArray(
               "GET http://www.ostavel.example/kpfolder/swf/x01.html HTTP/1.1\r\nSec-Fetch-Dest: document\r\n\r\n")
        << QByteArray("HTTP/1.1 200") << QByteArray("\r\nContent-Length: ") << none;
    QTest::newRow("a movie, port 80 written out")
        << QByteArray("GET http://www.ostavel.example:80/kpfolder/flash/atlas1.swf HTTP/1.1\r\n\r\n")
        << QByteArray("HTTP/1.1 200") << QByteArray("Content-Type: application/x-shockwave-flash\r\n") << none;
    QTest::newRow("a form sent: what was captured")
        << QByteArray("POST http://www.ostavel.example/kptemp/card1.html HTTP/1.1\r\nContent-Length: 3\r\n\r\na=1")
        << QByteArray("HTTP/1.1 200") << QByteArray("Content-Type: text/html") << none;
    QTest::newRow("the site's recorded redirect, to the original")
        << QByteArray("GET http://www.ostavel.example/kphtml/gift50.html HTTP/1.1\r\n\r\n")
        << QByteArray("HTTP/1.1 302") << QByteArray("\r\nLocation: http://www.ostavel.example/kphtml/gift45.html\r\n")
        << none;
    QTest::newRow("never captured") << QByteArray("GET http://www.ostavel.example/kptemp/card10.html HTTP/1.1\r\n\r\n")
                                    << QByteArray("HTTP/1.1 404") << QByteArray()
                                    << int(guard::Guard::Outcome::NotArchived);
    QTest::newRow("https is never fetched live")
        << QByteArray("CONNECT www.ostavel.example:443 HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 403") << QByteArray()
        << int(guard::Guard::Outcome::Refused);
    QTest::newRow("this machine: asked of the archive only")
        << QByteArray("GET http://127.0.0.9:$P/x HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 404") << QByteArray()
        << int(guard::Guard::Outcome::NotArchived);
}

// A run from the archive: the site's addresses are asked of it, and of nothing else.
void TestGuard::fromTheArchive()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answerStart);
    QFETCH(QByteArray, has);
    QFETCH(int, outcome);
    LoggingServer victim;
    QVERIFY(victim.server.listen(QHostAddress(QStringLiteral("127.0.0.9"))));
    SiteArchive archive(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(),
                        {QStringLiteral("www.ostavel.example")});
    QVERIFY(archive.listen());
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.setArchive({QUrl(archive.prefix()), QStringLiteral("2010")}, true);
    const QByteArray answer = exchange(guard.port(), request.replace("$P", QByteArray::number(victim.server.port())));
    QVERIFY2(answer.startsWith(answerStart), answer.left(300).constData());
    QVERIFY2(answer.contains(has), answer.left(300).constData());
    const QUrl asked(QString::fromLatin1(request.split(' ').value(1)));
    QCOMPARE(int(guard.outcomeFor(request.startsWith("CONNECT") ? QUrl("https://www.ostavel.example/") : asked)),
             outcome);
    QVERIFY(victim.seen.isEmpty());
    for (const QByteArray &target : archive.targets())
        QVERIFY2(target.startsWith("/web/2010id_/http://") || target.startsWith("/web/20100315093000id_/http://"),
                 target.constData());
    if (request.contains("x01.html")) // a page: the corner will say when it was captured
        QCOMPARE(guard.routing().capturedFor(asked), QDateTime(QDate(2010, 3, 15), QTime(9, 30), Qt::UTC));
    QTRY_COMPARE(guard.connectionCount(), 0);
}

void TestGuard::busyArchive_data()
{
    QTest::addColumn<QByteArrayList>("answers"); // status[ Retry-After], in turn; then 200
    QTest::addColumn<int>("asked"); // how often the archive is asked
    QTest::addColumn<QByteArray>("answerStart");
    QTest::addColumn<int>("outcome");
    const int none = int(guard::Guard::Outcome::None), busy = int(guard::Guard::Outcome::ArchiveBusy);
    const QByteArray inASecond
        = QLocale::c()
              .toString(QDateTime::currentDateTimeUtc().addSecs(1), "ddd, dd MMM yyyy hh:mm:ss 'GMT'")
              .toLatin1();
    QTest::newRow("429 with seconds") << QByteArrayList{"429 1"} << 2 << QByteArray("HTTP/1.1 200") << none;
    QTest::newRow("503 with a date") << QByteArrayList{"503 " + inASecond} << 2 << QByteArray("HTTP/1.1 200") << none;
    QTest::newRow("503 without a wait") << QByteArrayList{"503"} << 2 << QByteArray("HTTP/1.1 200") << none;
    QTest::newRow("an hour: at once") << QByteArrayList{"429 3600"} << 1 << QByteArray("HTTP/1.1 502") << busy;
    QTest::newRow("busy three times") << QByteArrayList{"503 0", "503 0", "429 0"} << 3 << QByteArray("HTTP/1.1 502")
                                      << busy;
    QTest::newRow("a captured 503 is the site's")
        << QByteArrayList{"503 0 captured"} << 1 << QByteArray("HTTP/1.1 503") << none;
}

// A busy archive is asked again after the wait it asks for, a few times at most.
void TestGuard::busyArchive()
{
    QFETCH(QByteArrayList, answers);
    QFETCH(int, asked);
    int seen = 0;
    http::Server archive([&](const http::Request &request, http::Response *r) {
        if (request.target.startsWith("/cdx/")) // no index here: every file by its redirect
            return r->send(404, "text/plain", "");
        const QByteArrayList answer = answers.value(seen++, "200").split(' ');
        http::Headers headers{{"Memento-Datetime", "Mon, 15 Mar 2010 09:30:00 GMT"}};
        if (answer.value(0) != "200" && !answer.contains("captured"))
            headers.clear();
        if (answer.size() > 1 && answer.value(1) != "captured")
            headers.append({"Retry-After", answer.mid(1).join(' ').replace(" captured", "")});
        r->send(answer.value(0).toInt(), "text/html", "<p>page", headers);
    });
    QVERIFY(archive.listen());
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.setArchive({QUrl(QStringLiteral("http://127.0.0.1:%1/web/").arg(archive.port())), QStringLiteral("2010")},
                     true);
    // A wait the archive does not name is short here.
    guard.routing().setPacing({300, 60000, 3, 120000});
    const QByteArray answer = exchange(guard.port(), "GET http://www.ostavel.example/a.html HTTP/1.1\r\n\r\n");
    QFETCH(QByteArray, answerStart);
    QVERIFY2(answer.startsWith(answerStart), answer.left(200).constData());
    QCOMPARE(seen, asked);
    QTEST(int(guard.outcomeFor(QUrl("http://www.ostavel.example/a.html"))), "outcome");
}

void TestGuard::archiveUnreachable_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("outcome");
    QTest::newRow("refuses") << "refuses" << int(guard::Guard::Outcome::ArchiveRefused);
    QTest::newRow("closes without a word") << "closes" << int(guard::Guard::Outcome::ArchiveNoAnswer);
    QTest::newRow("its name leads inward") << "inward" << int(guard::Guard::Outcome::Refused);
}

// The archive's own troubles are told as its own, never as the site's.
void TestGuard::archiveUnreachable()
{
    QFETCH(QString, how);
    QTcpServer archive;
    QVERIFY(archive.listen(QHostAddress::LocalHost));
    connect(&archive, &QTcpServer::newConnection, &archive, [&] { archive.nextPendingConnection()->close(); });
    const quint16 port = archive.serverPort();
    if (how == QLatin1String("refuses"))
        archive.close();
    guard::Guard guard;
    QVERIFY(guard.start());
    if (how == QLatin1String("inward")) {
        guard.mapNameForTests(QStringLiteral("archive.example"), QHostAddress::LocalHost);
        guard.setArchive({QUrl(QStringLiteral("http://archive.example:%1/web/").arg(port)), QStringLiteral("2010")},
                         true);
    } else {
        guard.setArchive({QUrl(QStringLiteral("http://127.0.0.1:%1/web/").arg(port)), QStringLiteral("2010")}, true);
    }
    const QByteArray answer = exchange(guard.port(), "GET http://www.ostavel.example/a.html HTTP/1.1\r\n\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 403") || answer.startsWith("HTTP/1.1 502"), answer.left(200).constData());
    QTEST(int(guard.outcomeFor(QUrl("http://www.ostavel.example/a.html"))), "outcome");
}

namespace {

// The user's local proxy client: HTTP CONNECT or SOCKS5, and the only one that knows
// where the archive's name leads (to a port on this machine).
class ProxyStandIn : public QTcpServer
{
public:
    enum Mode { Http, Socks, AsksPassword };
    ProxyStandIn(Mode mode, quint16 archivePort) : m_mode(mode), m_archivePort(archivePort)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = nextPendingConnection())
                serve(client);
        });
    }
    QByteArrayList asked; // host:port, as the client named them

private:
    void serve(QTcpSocket *client)
    {
        auto *buffer = new QByteArray;
        connect(client, &QObject::destroyed, client, [buffer] { delete buffer; });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, client, [this, client, buffer] {
            if (client->property("tunnel").toBool())
                return;
            *buffer += client->readAll();
            if (m_mode == Socks)
                return socks(client, buffer);
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray target = buffer->split(' ').value(1);
            asked << target;
            if (m_mode == AsksPassword)
                return void(client->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                          "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n"));
            tunnel(client, target, "HTTP/1.1 200 Connection established\r\n\r\n", "HTTP/1.1 502 Bad Gateway\r\n\r\n");
        });
    }
    void socks(QTcpSocket *client, QByteArray *b)
    {
        if (!client->property("greeted").toBool()) {
            if (b->size() < 2 || b->size() < 2 + quint8(b->at(1)))
                return;
            b->remove(0, 2 + quint8(b->at(1)));
            client->setProperty("greeted", true);
            client->write(QByteArray("\x05\x00", 2));
        }
        // Only names: an address here would mean the client looked the name up itself.
        if (b->size() < 5 || b->at(3) != 3 || b->size() < 7 + quint8(b->at(4)))
            return;
        const int n = quint8(b->at(4));
        const QByteArray host = b->mid(5, n);
        const int port = quint8(b->at(5 + n)) << 8 | quint8(b->at(6 + n));
        asked << host + ':' + QByteArray::number(port);
        tunnel(client, host + ':' + QByteArray::number(port), QByteArray("\x05\x00\x00\x01\0\0\0\0\0\0", 10),
               QByteArray("\x05\x04\x00\x01\0\0\0\0\0\0", 10));
    }
    void tunnel(QTcpSocket *client, const QByteArray &target, const QByteArray &yes, const QByteArray &no)
    {
        if (target != "archive.example:" + QByteArray::number(m_archivePort))
            return void(client->write(no));
        auto *upstream = new QTcpSocket(client);
        connect(upstream, &QTcpSocket::connected, client, [client, yes] {
            client->setProperty("tunnel", true);
            client->write(yes);
        });
        connect(upstream, &QTcpSocket::readyRead, client, [client, upstream] { client->write(upstream->readAll()); });
        connect(client, &QTcpSocket::readyRead, upstream, [client, upstream] {
            if (client->property("tunnel").toBool())
                upstream->write(client->readAll());
        });
        connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        upstream->connectToHost(QHostAddress::LocalHost, m_archivePort);
    }
    Mode m_mode;
    quint16 m_archivePort;
};

} // namespace

void TestGuard::throughTheUsersProxy_data()
{
    QTest::addColumn<QString>("proxy"); // http, socks, password, or gone
    QTest::addColumn<QByteArray>("answerStart");
    QTest::addColumn<int>("outcome");
    using O = guard::Guard::Outcome;
    QTest::newRow("http") << "http" << QByteArray("HTTP/1.1 200") << int(O::None);
    QTest::newRow("socks5") << "socks" << QByteArray("HTTP/1.1 200") << int(O::None);
    QTest::newRow("asks for a password") << "password" << QByteArray("HTTP/1.1 502") << int(O::ProxyNeedsPassword);
    QTest::newRow("refuses") << "gone" << QByteArray("HTTP/1.1 502") << int(O::ProxyRefused);
}

// The archive through the user's proxy, which alone knows its name; and no page can
// reach that proxy through the guard.
void TestGuard::throughTheUsersProxy()
{
    QFETCH(QString, proxy);
    http::Server archive([](const http::Request &, http::Response *r) {
        r->send(200, "text/html", "<p>captured", {{"Memento-Datetime", "Mon, 15 Mar 2010 09:30:00 GMT"}});
    });
    QVERIFY(archive.listen());
    ProxyStandIn standIn(proxy == QLatin1String("socks")      ? ProxyStandIn::Socks
                         : proxy == QLatin1String("password") ? ProxyStandIn::AsksPassword
                                                              : ProxyStandIn::Http,
                         archive.port());
    QVERIFY(standIn.listen(QHostAddress::LocalHost));
    const quint16 proxyPort = standIn.serverPort();
    if (proxy == QLatin1String("gone"))
        standIn.close();
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.setArchive(
        {QUrl(QStringLiteral("http://archive.example:%1/web/").arg(archive.port())), QStringLiteral("2010")}, true);
    const auto type = proxy == QLatin1String("socks") ? QNetworkProxy::Socks5Proxy : QNetworkProxy::HttpProxy;
    guard.routing().setProxy([=] {
        return *userproxy::readAddress(QStringLiteral("%1://127.0.0.1:%2")
                                           .arg(type == QNetworkProxy::Socks5Proxy ? "socks5h" : "http")
                                           .arg(proxyPort));
    });
    const QByteArray answer = exchange(guard.port(), "GET http://www.ostavel.example/a.html HTTP/1.1\r\n\r\n");
    QFETCH(QByteArray, answerStart);
    QVERIFY2(answer.startsWith(answerStart), answer.left(200).constData());
    QTEST(int(guard.outcomeFor(QUrl("http://www.ostavel.example/a.html"))), "outcome");
    // (The capture, and the site's index of captures.)
    const QByteArray archiveName = "archive.example:" + QByteArray::number(archive.port());
    QCOMPARE(standIn.asked.isEmpty(), proxy == QLatin1String("gone"));
    for (const QByteArray &asked : std::as_const(standIn.asked))
        QCOMPARE(asked, archiveName);
    const qsizetype through = standIn.asked.size();
    // The proxy is the program's way out, never a page's.
    const QByteArray port = QByteArray::number(proxyPort);
    for (const QByteArray &request :
         {"GET http://127.0.0.1:" + port + "/ HTTP/1.1\r\n\r\n", "CONNECT 127.0.0.1:" + port + " HTTP/1.1\r\n\r\n",
          "GET http://localhost:" + port + "/ HTTP/1.1\r\n\r\n"}) {
        guard.setArchive({}, false); // so that the site is asked, not the archive
        const QByteArray refused = exchange(guard.port(), request);
        QVERIFY2(refused.startsWith("HTTP/1.1 403"), refused.left(200).constData());
    }
    QCOMPARE(standIn.asked.size(), through);
}

void TestGuard::captureIndex_data()
{
    QTest::addColumn<QString>("date");
    QTest::newRow("2010") << "2010";
    QTest::newRow("a day in 2011") << "20110101";
    QTest::newRow("between the two") << "20101009";
}

// The capture the index picks for every file is the one the archive's own redirect
// leads to; once it is known, a file costs one request.
void TestGuard::captureIndex()
{
    QFETCH(QString, date);
    const QString site = QStringLiteral("www.ostavel.example");
    SiteArchive archive(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(), {site});
    QVERIFY(archive.listen());
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.setArchive({QUrl(archive.prefix()), date}, true);
    const QUrl first(QStringLiteral("http://www.ostavel.example/kptemp/card1.html"));
    QVERIFY(exchange(guard.port(), "GET " + first.toEncoded() + " HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200"));
    QTRY_COMPARE(guard.routing().indexOf(first), wayback::Routing::Index::Known);
    QCOMPARE(archive.indexAsked(), 1);
    QStringList paths{QStringLiteral("/kphtml/gift50.html"), QStringLiteral("/kptemp/card10.html")};
    for (const QString &root : {SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir() + "/later"})
        for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            paths << it.next().mid(root.size());
    int compared = 0;
    for (const QString &path : std::as_const(paths)) {
        const QUrl original(QStringLiteral("http://") + site + path);
        http::ClientReply::Target target = http::ClientReply::Target::to(
            wayback::captureUrl(QUrl(archive.prefix()), date, original), QHostAddress::LocalHost);
        std::unique_ptr<http::ClientReply> reply(http::ClientReply::send(target, "GET", {}, {}, nullptr));
        QTRY_VERIFY(reply->hasHead() || reply->isFinished());
        const std::optional<wayback::Capture> nearest
            = wayback::readCaptureUrl(QUrl(archive.prefix()), QUrl(QString::fromLatin1(reply->header("Location"))));
        const QString expected = reply->status() == 404 ? QString() : nearest ? nearest->timestamp : date;
        // Nothing chosen where a capture outside the index's window could be nearer.
        const QString indexed = guard.routing().indexedTimestamp(original);
        QVERIFY2(indexed == expected
                     || (indexed.isEmpty() && qAbs(wayback::timeOf(expected).daysTo(wayback::timeOf(date))) > 300),
                 qPrintable(path));
        compared += indexed.isEmpty() ? 0 : 1;
    }
    QVERIFY(compared > 50);
    // A later file: its very capture, asked once.
    const qsizetype before = archive.targets().size();
    QVERIFY(exchange(guard.port(), "GET http://www.ostavel.example/kptemp/card2.html HTTP/1.1\r\n\r\n")
                .startsWith("HTTP/1.1 200"));
    QCOMPARE(archive.targets().size(), before + 1);
    QVERIFY(!archive.targets().constLast().contains(date.toLatin1() + "id_"));
}

void TestGuard::indexFallbacks_data()
{
    QTest::addColumn<QString>("index"); // what the index answers
    QTest::addColumn<bool>("known");
    QTest::newRow("listed") << "listed" << true;
    QTest::newRow("no index") << "404" << false;
    QTest::newRow("too big") << "big" << false;
    QTest::newRow("too many lines") << "lines" << false;
    QTest::newRow("slow") << "slow" << false;
    QTest::newRow("not JSON") << "text" << false;
    QTest::newRow("a file it lacks") << "lacks" << true;
}

// Whatever goes wrong with the index, a file is asked for as before, by the archive's
// redirect to its nearest capture.
void TestGuard::indexFallbacks()
{
    QFETCH(QString, index);
    QFETCH(bool, known);
    QList<QByteArray> asked;
    QList<QPointer<http::Response>> held;
    const QByteArray exact = "/web/20100315093000id_/http://www.ostavel.example/a.html";
    http::Server archive([&](const http::Request &r, http::Response *s) {
        if (r.target.startsWith("/cdx/search/cdx?")) {
            const QByteArray head = "[[\"timestamp\",\"original\",\"statuscode\"]";
            const QByteArray a = ",[\"20100315093000\",\"http://www.ostavel.example/a.html\",\"200\"]";
            const QByteArray other = ",[\"20100315093000\",\"http://www.ostavel.example/other.html\",\"200\"]";
            if (index == QLatin1String("404"))
                return s->send(404, "text/plain", "no index");
            if (index == QLatin1String("slow"))
                return held.append(s);
            if (index == QLatin1String("text"))
                return s->send(200, "text/plain", "www.ostavel.example/a.html 20100315093000 200");
            if (index == QLatin1String("big"))
                return s->send(200, "application/json", head + a + QByteArray(4096, ' ') + "]");
            if (index == QLatin1String("lines"))
                return s->send(200, "application/json", head + a + other + other + "]");
            return s->send(200, "application/json", head + (index == QLatin1String("lacks") ? other : a) + "]");
        }
        asked << r.target;
        if (r.target.startsWith("/web/2010id_/"))
            return s->send(302, "text/plain", "",
                           {{"Location", QByteArray(r.target).replace("2010id_", "20100315093000id_")}});
        s->send(200, "text/html", "<p>captured", {{"Memento-Datetime", "Mon, 15 Mar 2010 09:30:00 GMT"}});
    });
    QVERIFY(archive.listen());
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.setArchive({QUrl(QStringLiteral("http://127.0.0.1:%1/web/").arg(archive.port())), QStringLiteral("2010")},
                     true);
    guard.routing().setIndexLimits({1024, 2, 300});
    const QUrl site(QStringLiteral("http://www.ostavel.example/"));
    QVERIFY(exchange(guard.port(), "GET http://www.ostavel.example/first.html HTTP/1.1\r\n\r\n")
                .startsWith("HTTP/1.1 200"));
    QTRY_VERIFY(guard.routing().indexOf(site) != wayback::Routing::Index::Asking);
    QCOMPARE(guard.routing().indexOf(site) == wayback::Routing::Index::Known, known);
    asked.clear();
    QVERIFY(
        exchange(guard.port(), "GET http://www.ostavel.example/a.html HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200"));
    QCOMPARE(asked.size(), index == QLatin1String("listed") ? 1 : 2);
    QCOMPARE(asked.constLast(), exact);
}

// What WebSockets and https go through: once the tunnel stands, bytes either way as sent.
void TestGuard::tunnelCarriesBytesBothWays()
{
    QTcpServer echo;
    QVERIFY(echo.listen(QHostAddress(QStringLiteral("127.0.0.9"))));
    quint16 guardsPort = 0;
    connect(&echo, &QTcpServer::newConnection, &echo, [&] {
        QTcpSocket *s = echo.nextPendingConnection();
        guardsPort = s->peerPort();
        connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll().toUpper()); });
    });
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.allow(QHostAddress(QStringLiteral("127.0.0.9")), echo.serverPort());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, guard.port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("CONNECT 127.0.0.9:" + QByteArray::number(echo.serverPort()) + " HTTP/1.1\r\n\r\nhello");
    QByteArray got;
    QTRY_VERIFY((got += socket.readAll()).endsWith("HELLO"));
    QVERIFY(got.startsWith("HTTP/1.1 200"));
    socket.write("again");
    QTRY_VERIFY((got += socket.readAll()).endsWith("AGAIN"));
    // The services here know the guard by its address and port together: another
    // program may take the same port number on another loopback address.
    QVERIFY(guard.isOwnConnection(QHostAddress::LocalHost, guardsPort));
    QVERIFY(!guard.isOwnConnection(QHostAddress(QStringLiteral("127.0.0.2")), guardsPort));
    socket.disconnectFromHost();
    QTRY_COMPARE(guard.connectionCount(), 0);
    QVERIFY(!guard.isOwnConnection(QHostAddress::LocalHost, guardsPort));
}

// The guard is for this program's engine: another user's program, even where the guard
// would let the request through, gets no answer at all.
void TestGuard::otherUsersGetNothing()
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty())
        QSKIP("needs root to run a program as another user");
    LoggingServer allowed;
    QVERIFY(allowed.server.listen(QHostAddress(QStringLiteral("127.0.0.9"))));
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.allow(QHostAddress(QStringLiteral("127.0.0.9")), allowed.server.port());
    const QString request = QStringLiteral("GET http://127.0.0.9:%1/x HTTP/1.1\\r\\n\\r\\n").arg(allowed.server.port());
    QProcess other;
    other.start(QStringLiteral("runuser"), {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                                            QStringLiteral("python3"), QStringLiteral("-c"),
                                            QStringLiteral("import socket\n"
                                                           "s = socket.create_connection(('127.0.0.1', %1))\n"
                                                           "s.sendall(b'%2')\n"
                                                           "try:\n    print(len(s.recv(100)))\n"
                                                           "except OSError:\n    print(0)")
                                                .arg(guard.port())
                                                .arg(request)});
    QTRY_COMPARE_WITH_TIMEOUT(other.state(), QProcess::NotRunning, 15000); // the guard answers from this thread
    QCOMPARE(other.readAllStandardOutput().trimmed(), QByteArray("0"));
    QVERIFY2(allowed.seen.isEmpty(), allowed.seen.join(' ').constData());
    // The same from this user goes through.
    QVERIFY(exchange(guard.port(), request.toLatin1().replace("\\r\\n", "\r\n")).startsWith("HTTP/1.1 200"));
}

namespace {

// A far server as connections meet it: it keeps them open after each answer, says it
// closes them, or closes one silently just as the next request comes.
class KeptServer : public QTcpServer
{
public:
    enum Mode { Keeps, SaysClose, ClosesOnNext };
    explicit KeptServer(Mode mode, int delayMs = 0) : m_mode(mode), m_delayMs(delayMs)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                serve(socket);
        });
    }
    int connections = 0, open = 0, mostOpen = 0;
    QByteArrayList paths; // in the order asked

private:
    void serve(QTcpSocket *socket)
    {
        ++connections;
        mostOpen = std::max(mostOpen, ++open);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --open;
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
            for (qsizetype end; (end = buffer.indexOf("\r\n\r\n")) >= 0;) {
                const QByteArray path = buffer.left(end).split(' ').value(1);
                buffer.remove(0, end + 4);
                const int served = socket->property("served").toInt();
                socket->setProperty("served", served + 1);
                if (m_mode == ClosesOnNext && served > 0)
                    return socket->disconnectFromHost();
                paths << path;
                QTimer::singleShot(m_delayMs, socket, [this, socket, path] {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(path.size()) + "\r\n"
                                  + (m_mode == SaysClose ? "Connection: close\r\n\r\n" : "\r\n") + path);
                    if (m_mode == SaysClose)
                        socket->disconnectFromHost();
                });
            }
            socket->setProperty("buffer", buffer);
        });
    }
    Mode m_mode;
    int m_delayMs;
};

http::ClientReply *get(const QString &url, const QByteArray &method = "GET")
{
    const QUrl u(url);
    const QHostAddress address(u.host() == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : u.host());
    return http::ClientReply::send(http::ClientReply::Target::to(u, address), method, {}, {}, nullptr);
}

QByteArray fetch(const QString &url, const QByteArray &method = "GET")
{
    std::unique_ptr<http::ClientReply> reply(get(url, method));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 15000) || reply->failed())
        return "failed";
    return reply->read(1 << 20);
}

} // namespace

void TestGuard::keptConnections_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("idleMs"); // 0: as the program keeps them
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("answered"); // of 3 requests one after another
    QTest::addColumn<int>("connections");
    QTest::newRow("kept") << int(KeptServer::Keeps) << 0 << QByteArray("GET") << QByteArray("yyy") << 1;
    QTest::newRow("Connection: close") << int(KeptServer::SaysClose) << 0 << QByteArray("GET") << QByteArray("yyy")
                                       << 3;
    QTest::newRow("closed as the next comes")
        << int(KeptServer::ClosesOnNext) << 0 << QByteArray("GET") << QByteArray("yyy") << 3;
    // A POST may have done its deed before the close: it is not sent twice.
    QTest::newRow("a POST closed under it")
        << int(KeptServer::ClosesOnNext) << 0 << QByteArray("POST") << QByteArray("yny") << 2;
    QTest::newRow("unused too long") << int(KeptServer::Keeps) << 50 << QByteArray("GET") << QByteArray("yyy") << 3;
}

// A connection serves the next request to the same address; a server that closes costs
// only a new connection, never an answer.
void TestGuard::keptConnections()
{
    QFETCH(int, mode);
    QFETCH(int, idleMs);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, answered);
    KeptServer server{KeptServer::Mode(mode)};
    QVERIFY(server.listen(QHostAddress::LocalHost));
    http::ClientReply::setIdleTimeoutForTests(idleMs);
    for (int i = 0; i < 3; ++i) {
        const QByteArray path = "/f" + QByteArray::number(i);
        QCOMPARE(fetch(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()) + path, method),
                 answered[i] == 'y' ? path : QByteArray("failed"));
        if (idleMs) // the program closes it: the server sees it go
            QTRY_COMPARE(server.open, 0);
    }
    http::ClientReply::setIdleTimeoutForTests(0);
    QTEST(server.connections, "connections");
}

void TestGuard::sixAtOnce_data()
{
    QTest::addColumn<int>("throughGuard"); // of 8; the rest as the relay asks, in this thread
    QTest::newRow("one thread") << 0;
    QTest::newRow("the guard's and the relay's") << 4;
}

// Eight slow requests to one host: never more than six connections at once, counted
// across the guard's thread and this one; the rest wait their turn, in order.
void TestGuard::sixAtOnce()
{
    QFETCH(int, throughGuard);
    KeptServer server(KeptServer::Keeps, 200);
    QVERIFY(server.listen(QHostAddress::LocalHost));
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.allow(QHostAddress::LocalHost, server.serverPort());
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
    std::vector<std::unique_ptr<QTcpSocket>> engine;
    std::vector<std::unique_ptr<http::ClientReply>> relay;
    for (int i = 0; i < 8; ++i) {
        if (i < throughGuard) {
            engine.push_back(std::make_unique<QTcpSocket>());
            engine.back()->connectToHost(QHostAddress::LocalHost, guard.port());
            engine.back()->write("GET " + (base + QString::number(i)).toLatin1() + " HTTP/1.1\r\n\r\n");
        } else {
            relay.emplace_back(get(base + QString::number(i)));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(server.paths.size(), 8, 15000);
    for (int i = 0; i < throughGuard; ++i) {
        QTRY_COMPARE(engine[i]->state(), QAbstractSocket::UnconnectedState);
        const QByteArray got = engine[i]->readAll();
        QVERIFY2(got.startsWith("HTTP/1.1 200") && got.endsWith('/' + QByteArray::number(i)), got.constData());
    }
    for (auto &reply : relay) {
        QTRY_VERIFY(reply->isFinished());
        QVERIFY(!reply->failed());
    }
    QCOMPARE(server.mostOpen, 6);
    if (throughGuard == 0) { // the two that waited went after the rest
        QByteArrayList last = server.paths.mid(6);
        std::sort(last.begin(), last.end());
        QCOMPARE(last, QByteArrayList({"/6", "/7"}));
    }
}

// TLS to a server that has been met before resumes the session it gave.
void TestGuard::tlsSessionResumed()
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QSKIP("needs openssl for a test certificate and server");
    QTemporaryDir dir;
    QCOMPARE(QProcess::execute(openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                         "-nodes", "-keyout", dir.filePath("key.pem"), "-out", dir.filePath("cert.pem"),
                                         "-days", "1", "-subj", "/CN=localhost", "-addext",
                                         "subjectAltName=DNS:localhost"}),
             0);
    // Trusted by this process's connections to loopback, and by nothing else.
    qputenv("PHOTOFORKP_TEST_CA_CERTS", dir.filePath("cert.pem").toLocal8Bit());
    QVERIFY(http::ClientReply::testCertificatesError().isEmpty());
    // A server that answers each connection with how its session began, then closes.
    QProcess server;
    server.start(openssl, {"s_server", "-accept", "127.0.0.1:0", "-cert", dir.filePath("cert.pem"), "-key",
                           dir.filePath("key.pem"), "-www"});
    QByteArray said;
    QTRY_VERIFY((said += server.readAllStandardOutput()).contains("ACCEPT 127.0.0.1:") && said.endsWith('\n'));
    const QString url = QStringLiteral("https://localhost:%1/").arg(said.split(':').last().trimmed().toInt());
    QVERIFY2(fetch(url).contains("New,"), "the first connection");
    QVERIFY2(fetch(url).contains("Reused,"), "the second connection");
    server.kill();
    server.waitForFinished();
}

QTEST_GUILESS_MAIN(TestGuard)
#include "tst_guard.moc"
