#pragma once

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

struct Request
{
    QByteArray method;
    QByteArray target; // as sent: path and query, still percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray header(const QByteArray &name) const;
};

// Answers one request. It may answer later (from a network reply, say); if the client
// goes away first, the answer is dropped.
class Responder
{
public:
    explicit Responder(QTcpSocket *socket, bool headOnly);
    void send(int status, const QByteArray &contentType, const QByteArray &body,
              const QList<QPair<QByteArray, QByteArray>> &extraHeaders = {});
    bool isOpen() const;

private:
    QPointer<QTcpSocket> m_socket;
    bool m_headOnly;
};

using Handler = std::function<void(const Request &, Responder)>;

// A small HTTP/1.1 server for loopback use: GET and HEAD, one request per connection.
class Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(Handler handler, QObject *parent = nullptr);
    // Port 0 picks a free one.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

private:
    void accept();
    QTcpServer m_server;
    Handler m_handler;
};

QByteArray reasonPhrase(int status);
QByteArray contentTypeFor(const QString &fileName);

} // namespace http
