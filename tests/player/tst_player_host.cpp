#include "guard.h"
#include "playerhost.h"
#include "server.h"
#include "networktools.h"

#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

// The player host under hostile clients of this machine: malformed, endless, slow and
// idle requests, and a flood of connections beside the engine's.
class TestPlayerHost : public QObject
{
    Q_OBJECT
private slots:
    void otherProgramsCannotCrowdTheEngineOut();
    void hostileRequests_data();
    void hostileRequests();
    void hostileRequestsKeepMemoryFlat();
    void slowClientsAreCut();
    void idleConnectionsHoldNothingOff();
};

using namespace playernet;

// Behind the guard, the player host takes only the guard's connections: a program of this
// machine opening connection after connection gets none of its room.
void TestPlayerHost::otherProgramsCannotCrowdTheEngineOut()
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
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(flood.begin(), flood.end(),
                                         [](const auto &s) { return s->state() == QAbstractSocket::UnconnectedState; }),
                             1000);
}

void TestPlayerHost::hostileRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // the status line's start, or "" for a cut
    QTest::addColumn<qint64>("junk"); // bytes sent after the request

    const QByteArray fetch = "\r\nSec-Fetch-Site: same-origin\r\nSec-Fetch-Dest: script\r\n";
    QTest::newRow("wrong Host") << QByteArray("GET /TOKEN/ruffle/ruffle.js HTTP/1.1\r\nHost: evil.example") + fetch
                                       + "\r\n"
                                << QByteArray("HTTP/1.1 421") << qint64(0);
    QTest::newRow("bare LF") << QByteArray("GET /TOKEN/ruffle/ruffle.js HTTP/1.1\nHost: HOST\nSec-Fetch-Site: "
                                           "same-origin\nSec-Fetch-Dest: script\n\n")
                             << QByteArray("HTTP/1.1 200") << qint64(0);
    QTest::newRow("NUL in a name") << QByteArray("GET /TOKEN/ruffle/ruffle.js%00.x HTTP/1.1\r\nHost: HOST") + fetch
                                          + "\r\n"
                                   << QByteArray("HTTP/1.1 404") << qint64(0);
    QTest::newRow("raw NUL") << QByteArray("GET /TOKEN/ruffle/ruffle.js") + '\0' + " HTTP/1.1\r\nHost: HOST" + fetch
                                    + "\r\n"
                             << QByteArray("HTTP/1.1 400") << qint64(0);
    QTest::newRow("dotted name") << QByteArray("GET /TOKEN/ruffle/..%2Fruffle.js HTTP/1.1\r\nHost: HOST") + fetch
                                        + "\r\n"
                                 << QByteArray("HTTP/1.1 404") << qint64(0);
    QTest::newRow("no Sec-Fetch: not the engine")
        << QByteArray("GET /TOKEN/ruffle/ruffle.js HTTP/1.1\r\nHost: HOST\r\n\r\n") << QByteArray("HTTP/1.1 403")
        << qint64(0);
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
    QTest::newRow("chunked body") << QByteArray(
        "POST /TOKEN/relay/x HTTP/1.1\r\nHost: HOST\r\nTransfer-Encoding: chunked\r\n\r\n")
                                  << QByteArray("HTTP/1.1 501") << qint64(0);
    QTest::newRow("endless body after a request") << QByteArray("GET /TOKEN/nothing HTTP/1.1\r\nHost: HOST\r\n\r\n")
                                                  << QByteArray("HTTP/1.1 404") << qint64(200) * 1024 * 1024;
}

void TestPlayerHost::hostileRequests()
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

void TestPlayerHost::hostileRequestsKeepMemoryFlat()
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

void TestPlayerHost::slowClientsAreCut()
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
void TestPlayerHost::idleConnectionsHoldNothingOff()
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
    QVERIFY(QTest::qWaitFor(
        [&] {
            return std::all_of(idle.begin(), idle.end(),
                               [](const auto &s) { return s->state() != QAbstractSocket::ConnectingState; });
        },
        20000));
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
    QVERIFY(QTest::qWaitFor(
        [&] {
            keepIdle();
            return done.load();
        },
        120000));
    engine.join();
    QVERIFY2(answered == 10, last.constData());
}

QTEST_GUILESS_MAIN(TestPlayerHost)
#include "tst_player_host.moc"
