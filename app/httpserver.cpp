#include "httpserver.h"

#include <QTcpSocket>
#include <QTimer>

namespace http {

namespace {
constexpr qsizetype MaxHeaderBytes = 64 * 1024;
constexpr int IdleTimeoutMs = 30000;
} // namespace

QByteArray Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

QByteArray contentTypeFor(const QString &fileName)
{
    const QString f = fileName.toLower();
    if (f.endsWith(".html") || f.endsWith(".htm")) return "text/html; charset=utf-8";
    if (f.endsWith(".js")) return "text/javascript; charset=utf-8";
    if (f.endsWith(".wasm")) return "application/wasm";
    if (f.endsWith(".swf")) return "application/x-shockwave-flash";
    if (f.endsWith(".css")) return "text/css; charset=utf-8";
    if (f.endsWith(".json") || f.endsWith(".map")) return "application/json";
    if (f.endsWith(".gif")) return "image/gif";
    if (f.endsWith(".png")) return "image/png";
    if (f.endsWith(".jpg") || f.endsWith(".jpeg")) return "image/jpeg";
    return "application/octet-stream";
}

Responder::Responder(QTcpSocket *socket, bool headOnly) : m_socket(socket), m_headOnly(headOnly) {}

bool Responder::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void Responder::send(int status, const QByteArray &contentType, const QByteArray &body,
                     const QList<QPair<QByteArray, QByteArray>> &extraHeaders)
{
    if (!isOpen())
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto &[k, v] : extraHeaders)
        head += k + ": " + v + "\r\n";
    head += "Connection: close\r\n\r\n";
    QTcpSocket *s = m_socket;
    s->write(head);
    if (!m_headOnly)
        s->write(body);
    s->disconnectFromHost();
    m_socket = nullptr; // one answer per request
}

Server::Server(Handler handler, QObject *parent) : QObject(parent), m_handler(std::move(handler))
{
    connect(&m_server, &QTcpServer::newConnection, this, &Server::accept);
}

bool Server::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void Server::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
        idle->start(IdleTimeoutMs);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            if (buffer->isNull() && socket->property("answered").toBool())
                return;
            *buffer += socket->readAll();
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0) {
                if (buffer->size() > MaxHeaderBytes)
                    Responder(socket, false).send(400, "text/plain", "request too large\n");
                return;
            }
            socket->setProperty("answered", true);
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            *buffer = QByteArray();
            Request request;
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            if (first.size() != 3 || !first[2].startsWith("HTTP/")) {
                Responder(socket, false).send(400, "text/plain", "bad request\n");
                return;
            }
            request.method = first[0];
            request.target = first[1];
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            const bool head = request.method == "HEAD";
            if (request.method != "GET" && !head) {
                Responder(socket, false).send(405, "text/plain", "method not allowed\n", {{"Allow", "GET, HEAD"}});
                return;
            }
            m_handler(request, Responder(socket, head));
        });
    }
}

} // namespace http
