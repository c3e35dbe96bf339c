#pragma once

// The player's network tests: real sites on loopback addresses, and asking the player
// host as the engine does.

#include "client.h"
#include "mediasamples.h"
#include "playerhost.h"
#include "server.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <map>
#include <memory>

namespace playernet {

// A real site on one loopback address: files by path, "/to?URL" redirects to URL,
// "/big?N" is N bytes of movie, "/trickle" sends slowly, "/stall" sends nothing.
class Site
{
public:
    explicit Site(const char *address) : server([this](const http::Request &r, http::Response *s) { handle(r, s); })
    {
        QVERIFY(server.listen(QHostAddress(QString::fromLatin1(address)), 0));
    }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://%1:%2%3").arg(server.address().toString()).arg(server.port()).arg(path);
    }
    // Connections serve more than one request from now on, as most sites' do.
    void keepConnections()
    {
        http::Limits kept;
        kept.requestsPerConnection = 100;
        server.setLimits(kept);
    }
    int connections() const { return server.acceptedCount(); }
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
                    const QByteArray piece = *sent == 0
                                                 ? samples::Swf + QByteArray(64 * 1024 - samples::Swf.size(), 'x')
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
                s->write(*count == 0 ? samples::Swf : QByteArray(100, 'x'));
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
inline Answer ask(PlayerHost &host, const QByteArray &session, const QString &kind, const QString &url = {},
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
inline QByteArray rawExchange(quint16 port, const QByteArray &request, int timeoutMs = 3000, qint64 junkBytes = 0)
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
inline Answer askWhole(PlayerHost &host, const QByteArray &session, int timeoutMs = 8000, const QString &load = {})
{
    const QByteArray token = QUrl(host.base()).path().section('/', 1, 1).toLatin1();
    const QByteArray query
        = load.isEmpty() ? QByteArray("?kind=movie") : "?kind=load&url=" + QUrl::toPercentEncoding(load);
    const http::ClientReply::Target target{QHostAddress::LocalHost,
                                           host.port(),
                                           false,
                                           QStringLiteral("127.0.0.1"),
                                           "127.0.0.1:" + QByteArray::number(host.port()),
                                           "/" + token + "/relay/" + session + query};
    std::unique_ptr<http::ClientReply> reply(http::ClientReply::send(
        target, "GET", {{"Sec-Fetch-Site", "same-origin"}, {"Sec-Fetch-Mode", "cors"}, {"Sec-Fetch-Dest", "empty"}}, {},
        nullptr));
    Answer a;
    const bool ended = QTest::qWaitFor(
        [&] {
            a.body += reply->read(reply->bytesAvailable());
            return reply->isFinished() && reply->bytesAvailable() == 0;
        },
        timeoutMs);
    a.status = reply->status();
    a.complete = ended && a.status == 200 && !reply->failed();
    return a;
}

// The resident size, in MB. Under AddressSanitizer freed memory waits in quarantine,
// so resident size says nothing there and reads 0: no growth is measured.
inline double rssMb()
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

} // namespace playernet
