#pragma once

// A small HTTP/1.1 server for loopback use: the album player's host and the local copy
// of the content site. Everything a client sends is bounded (header size and lines,
// body size, time to send the request, connections); answers can be streamed and the
// handler learns when the client has taken them or gone. One request per connection,
// unless the limits say more.

#include "framing.h"
#include "http_export.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace http {

class Connection;

// The answer to one request. The handler may answer at once or later (say, from a
// network reply), whole or as a stream; if the client goes away first, closed() tells.
// It lives as long as its connection: keep it in a QPointer.
class HTTP_EXPORT Response : public QObject
{
    Q_OBJECT
public:
    void send(int status, const QByteArray &contentType, const QByteArray &body, const Headers &extra = {});
    // A streamed answer; length < 0: not known in advance (sent chunked).
    void begin(int status, const Headers &headers, qint64 length = -1);
    void write(const QByteArray &data);
    void end();
    // Ends the answer early: what is queued still goes out, but the client sees an
    // incomplete answer, never a complete one.
    void cutShort();
    // Cuts the connection at once.
    void abort();

    bool isOpen() const;
    bool hasBegun() const { return m_begun; }
    // A HEAD request, or a status without a body: what is written is dropped.
    bool isHeadOnly() const { return m_headOnly; }
    // Bytes written but not yet handed to the system: write more only while this is low.
    qint64 pending() const;
    static constexpr qint64 HighWater = 1024 * 1024;

signals:
    void drained(); // the client took some of what was pending
    void closed(); // the exchange is over: answered, cut, or the client went away

private:
    friend class Connection;
    Response(Connection *connection, bool headOnly, bool keepOpen);
    Connection *m_connection;
    bool m_headOnly;
    bool m_keepOpen;
    bool m_begun = false;
    bool m_chunked = false;
    bool m_ended = false;
};

using Handler = std::function<void(const Request &, Response *)>;

class HTTP_EXPORT Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(Handler handler, Limits limits = {}, QObject *parent = nullptr);
    ~Server() override;
    // Port 0 picks a free one.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    QString errorString() const { return m_server.errorString(); }
    // The Host header values accepted (compared without case); none given: any.
    // For connections accepted from now on.
    void setLimits(const Limits &limits) { m_limits = limits; }
    void setAllowedHosts(const QList<QByteArray> &hosts) { m_allowedHosts = hosts; }
    int connectionCount() const { return m_connections; }
    // Connections taken since it began listening.
    int acceptedCount() const { return m_accepted; }
    // Who may connect at all, by the peer's address and port (none set: anyone); the
    // others are cut at once and hold no room.
    void setAdmission(std::function<bool(const QHostAddress &, quint16)> admits) { m_admits = std::move(admits); }

private:
    friend class Connection;
    void accept();
    QTcpServer m_server;
    Handler m_handler;
    Limits m_limits;
    QList<QByteArray> m_allowedHosts;
    std::function<bool(const QHostAddress &, quint16)> m_admits;
    int m_connections = 0;
    int m_accepted = 0;
    QList<QPointer<Connection>> m_waiting; // without a whole head yet, oldest first
};

// Sends data (it may be a view of mapped memory) in pieces, as the client takes them,
// so that no copy of the whole is ever queued.
HTTP_EXPORT void sendData(Response *response, int status, const Headers &headers, const QByteArray &data);
// Streams a file the same way; 404 if it cannot be read.
HTTP_EXPORT void sendFile(Response *response, const Headers &headers, const QString &path);

HTTP_EXPORT QByteArray contentTypeFor(const QString &fileName);

} // namespace http
