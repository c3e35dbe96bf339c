#include "addresses.h"
#include "guard.h"
#include "server.h"
#include "sitearchive.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
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
    void otherUsersGetNothing();
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
    QTest::newRow("tunnel to this machine") << QByteArray("CONNECT 127.0.0.9:$P HTTP/1.1\r\n\r\n")
                                            << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("a name that leads here") << QByteArray("GET http://rebound.example:$P/ HTTP/1.1\r\n\r\n")
                                            << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("v4 mapped in v6") << QByteArray("GET http://[::ffff:127.0.0.9]:$P/ HTTP/1.1\r\n\r\n")
                                     << QByteArray("HTTP/1.1 403") << false << false;
    QTest::newRow("allowed host and port") << QByteArray("POST http://allowed.example:$P/form?a=1 HTTP/1.1\r\n"
                                                         "Proxy-Connection: keep-alive\r\nContent-Length: 3\r\n\r\nabc")
                                           << QByteArray("HTTP/1.1 200") << true << true;
    QTest::newRow("user info") << QByteArray("GET http://a@127.0.0.9:$P/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400")
                               << false << false;
    QTest::newRow("https without a tunnel") << QByteArray("GET https://127.0.0.9:$P/ HTTP/1.1\r\n\r\n")
                                            << QByteArray("HTTP/1.1 400") << false << false;
    QTest::newRow("not a proxy request") << QByteArray("GET /x HTTP/1.1\r\nHost: 127.0.0.9:$P\r\n\r\n")
                                         << QByteArray("HTTP/1.1 400") << false << false;
    QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x00\x01\r\n\r\n", 10) << QByteArray("HTTP/1.1 400") << false << false;
    QTest::newRow("a head too large") << QByteArray("GET http://127.0.0.9:$P/ HTTP/1.1\r\nX: ") + QByteArray(70000, 'a')
                                      << QByteArray("HTTP/1.1 431") << false << false;
    QTest::newRow("a name that leads here too") << QByteArray("GET http://mixed.example:$P/ HTTP/1.1\r\n\r\n")
                                                << QByteArray("HTTP/1.1 403") << false << true;
    QTest::newRow("no such name") << QByteArray("GET http://nowhere.invalid/ HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 502")
                                  << false << false;
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
        << QByteArray("GET http://www.ostavel.example/kpfolder/swf/x01.html HTTP/1.1\r\nSec-Fetch-Dest: document\r\n\r\n")
        << QByteArray("HTTP/1.1 200") << QByteArray("\r\nContent-Length: ") << none;
    QTest::newRow("a movie, port 80 written out")
        << QByteArray("GET http://www.ostavel.example:80/kpfolder/flash/atlas1.swf HTTP/1.1\r\n\r\n")
        << QByteArray("HTTP/1.1 200") << QByteArray("Content-Type: application/x-shockwave-flash\r\n") << none;
    QTest::newRow("a form sent: what was captured")
        << QByteArray("POST http://www.ostavel.example/kptemp/card1.html HTTP/1.1\r\nContent-Length: 3\r\n\r\na=1")
        << QByteArray("HTTP/1.1 200") << QByteArray("Content-Type: text/html") << none;
    QTest::newRow("the site's recorded redirect, to the original")
        << QByteArray("GET http://www.ostavel.example/kphtml/gift50.html HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 302")
        << QByteArray("\r\nLocation: http://www.ostavel.example/kphtml/gift45.html\r\n") << none;
    QTest::newRow("never captured") << QByteArray("GET http://www.ostavel.example/kptemp/card10.html HTTP/1.1\r\n\r\n")
                                    << QByteArray("HTTP/1.1 404") << QByteArray() << int(guard::Guard::Outcome::NotArchived);
    QTest::newRow("https is never fetched live") << QByteArray("CONNECT www.ostavel.example:443 HTTP/1.1\r\n\r\n")
                                                 << QByteArray("HTTP/1.1 403") << QByteArray() << int(guard::Guard::Outcome::Refused);
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
    SiteArchive archive(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(), {QStringLiteral("www.ostavel.example")});
    QVERIFY(archive.listen());
    guard::Guard guard;
    QVERIFY(guard.start());
    guard.setArchive({QUrl(archive.prefix()), QStringLiteral("2010")}, true);
    const QByteArray answer = exchange(guard.port(), request.replace("$P", QByteArray::number(victim.server.port())));
    QVERIFY2(answer.startsWith(answerStart), answer.left(300).constData());
    QVERIFY2(answer.contains(has), answer.left(300).constData());
    const QUrl asked(QString::fromLatin1(request.split(' ').value(1)));
    QCOMPARE(int(guard.outcomeFor(request.startsWith("CONNECT") ? QUrl("https://www.ostavel.example/") : asked)), outcome);
    QVERIFY(victim.seen.isEmpty());
    for (const QByteArray &target : archive.targets())
        QVERIFY2(target.startsWith("/web/2010id_/http://") || target.startsWith("/web/20100315093000id_/http://"),
                 target.constData());
    if (request.contains("x01.html")) // a page: the corner will say when it was captured
        QCOMPARE(guard.capturedFor(asked), QDateTime(QDate(2010, 3, 15), QTime(9, 30), Qt::UTC));
    QTRY_COMPARE(guard.connectionCount(), 0);
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

QTEST_GUILESS_MAIN(TestGuard)
#include "tst_guard.moc"
