#include "server.h"

#include "parse.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace http {

namespace {

// Bytes a client may send after its request (we answer one request per connection and
// close); more than this and it is cut off.
constexpr qint64 MaxTrailingBytes = 64 * 1024;
constexpr qint64 PieceBytes = 64 * 1024;

} // namespace

QByteArray Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QByteArray Request::path() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray Request::query() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? QByteArray() : target.mid(q + 1);
}

// One client connection: reads and checks one request, hands it to the handler, and
// carries the answer.
class Connection : public QObject
{
public:
    Connection(Server *server, QTcpSocket *socket);
    ~Connection() override;

    QTcpSocket *socket() const { return m_socket; }
    void touch();
    void refuse(int status, const QByteArray &why, const Headers &extra = {});

private:
    enum class State { Head, Body, Answering };
    void readable();
    bool parseHead(const QByteArray &head);
    void dispatch();
    void gone();

    Server *m_server;
    QTcpSocket *m_socket;
    const Limits m_limits;
    State m_state = State::Head;
    QByteArray m_buffer;
    qint64 m_bodyLength = 0;
    qint64 m_trailing = 0;
    Request m_request;
    Response *m_response = nullptr;
    QTimer m_timer;
};

Connection::Connection(Server *server, QTcpSocket *socket)
    : QObject(server), m_server(server), m_socket(socket), m_limits(server->m_limits)
{
    ++m_server->m_connections;
    socket->setParent(this);
    // Qt's own buffer stays small too: what we do not read stays in the kernel.
    socket->setReadBufferSize(PieceBytes);
    connect(socket, &QTcpSocket::readyRead, this, &Connection::readable);
    connect(socket, &QTcpSocket::disconnected, this, &Connection::gone);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError)
            m_socket->abort();
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        touch();
        if (m_response)
            emit m_response->drained();
    });
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_state == State::Answering)
            m_socket->abort();
        else
            refuse(408, "request timeout\n");
    });
    m_timer.start(m_limits.requestTimeoutMs);
}

Connection::~Connection()
{
    --m_server->m_connections;
}

void Connection::touch()
{
    if (m_state == State::Answering)
        m_timer.start(m_limits.idleTimeoutMs);
}

void Connection::gone()
{
    m_timer.stop();
    if (m_response && !m_response->m_ended) {
        m_response->m_ended = true;
        emit m_response->closed();
    }
    m_socket->disconnect(this);
    deleteLater();
}

void Connection::refuse(int status, const QByteArray &why, const Headers &extra)
{
    m_state = State::Answering;
    if (!m_response)
        m_response = new Response(this, false);
    m_response->send(status, "text/plain; charset=utf-8", why, extra);
}

void Connection::readable()
{
    if (m_state == State::Answering) {
        // Anything after the request is not read for anyone; a client that keeps
        // sending is cut off rather than buffered.
        m_trailing += m_socket->skip(m_socket->bytesAvailable());
        if (m_trailing > MaxTrailingBytes)
            m_socket->abort();
        return;
    }
    if (m_state == State::Head) {
        const qsizetype searched = m_buffer.size();
        m_buffer += m_socket->read(m_limits.maxHeaderBytes + 4 - m_buffer.size());
        const qsizetype end = parse::headEnd(m_buffer, searched);
        if (end < 0) {
            if (m_buffer.size() > m_limits.maxHeaderBytes)
                refuse(431, "request header too large\n");
            return;
        }
        if (end > m_limits.maxHeaderBytes) {
            refuse(431, "request header too large\n");
            return;
        }
        const QByteArray head = m_buffer.left(end);
        m_buffer.remove(0, end);
        if (!parseHead(head))
            return;
        m_state = State::Body;
    }
    if (m_state == State::Body) {
        m_buffer += m_socket->read(qMax<qint64>(0, m_bodyLength - m_buffer.size()));
        if (m_buffer.size() < m_bodyLength)
            return;
        m_request.body = m_buffer.left(m_bodyLength);
        m_trailing = m_buffer.size() - m_bodyLength;
        m_buffer.clear();
        dispatch();
        if (m_socket->bytesAvailable() > 0)
            readable();
    }
}

bool Connection::parseHead(const QByteArray &head)
{
    const QList<QByteArray> lines = parse::lines(head);
    if (lines.size() > m_limits.maxHeaderLines + 1) {
        refuse(431, "too many header lines\n");
        return false;
    }
    const QList<QByteArray> first = lines.value(0).split(' ');
    if (first.size() != 3 || !parse::isToken(first[0]) || !first[1].startsWith('/') || !parse::isFieldValue(first[1])
        || (first[2] != "HTTP/1.1" && first[2] != "HTTP/1.0")) {
        refuse(400, "bad request line\n");
        return false;
    }
    m_request.method = first[0];
    m_request.target = first[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QPair<QByteArray, QByteArray> field;
        if (!parse::headerField(lines[i], &field)) {
            refuse(400, "bad header line\n");
            return false;
        }
        m_request.headers.append(field);
    }

    QList<QByteArray> hosts;
    QByteArray length;
    for (const auto &[name, value] : m_request.headers) {
        if (name.compare("Host", Qt::CaseInsensitive) == 0)
            hosts << value;
        if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            refuse(501, "request bodies must have a length\n");
            return false;
        }
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            if (!length.isNull() && length != value) {
                refuse(400, "conflicting lengths\n");
                return false;
            }
            length = value;
        }
    }
    if (hosts.size() > 1 || (hosts.isEmpty() && first[2] == "HTTP/1.1")) {
        refuse(400, "one Host header, please\n");
        return false;
    }
    if (!m_server->m_allowedHosts.isEmpty()) {
        bool known = false;
        for (const QByteArray &h : m_server->m_allowedHosts)
            known = known || (!hosts.isEmpty() && hosts[0].compare(h, Qt::CaseInsensitive) == 0);
        if (!known) {
            refuse(421, "not this host\n");
            return false;
        }
    }
    if (!length.isNull()) {
        if (!parse::isDigits(length, 18)) {
            refuse(400, "bad length\n");
            return false;
        }
        m_bodyLength = length.toLongLong();
        if (m_bodyLength > m_limits.maxBodyBytes) {
            refuse(413, "request body too large\n");
            return false;
        }
    }
    return true;
}

void Connection::dispatch()
{
    m_state = State::Answering;
    m_timer.start(m_limits.idleTimeoutMs);
    m_response = new Response(this, m_request.method == "HEAD");
    m_server->m_handler(m_request, m_response);
}

Response::Response(Connection *connection, bool headOnly)
    : QObject(connection), m_connection(connection), m_headOnly(headOnly)
{
}

bool Response::isOpen() const
{
    return !m_ended && m_connection->socket()->state() == QAbstractSocket::ConnectedState;
}

qint64 Response::pending() const
{
    return m_connection->socket()->bytesToWrite();
}

void Response::send(int status, const QByteArray &contentType, const QByteArray &body, const Headers &extra)
{
    Headers headers;
    if (!contentType.isEmpty())
        headers.emplaceBack("Content-Type", contentType);
    headers += extra;
    begin(status, headers, body.size());
    write(body);
    end();
}

void Response::begin(int status, const Headers &headers, qint64 length)
{
    if (m_begun || !isOpen())
        return;
    m_begun = true;
    const bool bodiless = m_headOnly || status == 204 || status == 304;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[k, v] : headers)
        head += k + ": " + v + "\r\n";
    if (status == 204 || status == 304) {
        // no length: a 304 must not tell a cache the stored answer's length is 0
    } else if (length >= 0) {
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    } else if (!bodiless) {
        head += "Transfer-Encoding: chunked\r\n";
        m_chunked = true;
    }
    head += "Connection: close\r\n\r\n";
    if (bodiless)
        m_headOnly = true;
    m_connection->socket()->write(head);
    m_connection->touch();
}

void Response::write(const QByteArray &data)
{
    if (!m_begun || !isOpen() || m_headOnly || data.isEmpty())
        return;
    QTcpSocket *s = m_connection->socket();
    if (m_chunked)
        s->write(QByteArray::number(data.size(), 16) + "\r\n");
    s->write(data);
    if (m_chunked)
        s->write("\r\n");
    m_connection->touch();
}

void Response::end()
{
    if (!m_begun || !isOpen())
        return;
    if (m_chunked && !m_headOnly)
        m_connection->socket()->write("0\r\n\r\n");
    m_ended = true;
    // Closes once everything written has gone out; then the connection is deleted.
    m_connection->socket()->disconnectFromHost();
    emit closed();
}

void Response::cutShort()
{
    if (!m_begun || !isOpen())
        return abort();
    m_ended = true; // no last chunk, or fewer bytes than announced
    m_connection->socket()->disconnectFromHost();
    emit closed();
}

void Response::abort()
{
    if (m_connection->socket()->state() != QAbstractSocket::UnconnectedState)
        m_connection->socket()->abort();
}

Server::Server(Handler handler, Limits limits, QObject *parent)
    : QObject(parent), m_handler(std::move(handler)), m_limits(limits)
{
    connect(&m_server, &QTcpServer::newConnection, this, &Server::accept);
}

Server::~Server()
{
    // Connections are children; they go first, without calling back into a half-gone server.
    const auto children = findChildren<Connection *>(Qt::FindDirectChildrenOnly);
    for (Connection *c : children) {
        c->socket()->disconnect();
        delete c;
    }
}

bool Server::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void Server::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_connections >= m_limits.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new Connection(this, socket);
    }
}

namespace {

// Feeds a response from a source in pieces, keeping at most HighWater queued.
class Pump : public QObject
{
public:
    using Source = std::function<QByteArray(qint64 max)>;
    Pump(Response *response, Source source, qint64 length)
        : QObject(response), m_response(response), m_source(std::move(source)), m_left(length)
    {
        connect(response, &Response::drained, this, &Pump::run);
        connect(response, &Response::closed, this, &QObject::deleteLater);
        run();
    }

private:
    void run()
    {
        while (m_left > 0 && m_response->isOpen() && m_response->pending() < Response::HighWater) {
            const QByteArray piece = m_source(qMin(m_left, PieceBytes));
            if (piece.isEmpty()) {
                m_response->cutShort(); // the source ended early: never pass that off as whole
                return;
            }
            m_left -= piece.size();
            m_response->write(piece);
        }
        if (m_left <= 0)
            m_response->end();
    }
    Response *m_response;
    Source m_source;
    qint64 m_left;
};

} // namespace

void sendData(Response *response, int status, const Headers &headers, const QByteArray &data)
{
    response->begin(status, headers, data.size());
    if (response->isHeadOnly()) {
        response->end();
        return;
    }
    auto offset = std::make_shared<qint64>(0);
    new Pump(response, [data, offset](qint64 max) {
        const QByteArray piece = data.mid(*offset, max);
        *offset += piece.size();
        return piece;
    }, data.size());
}

void sendFile(Response *response, const Headers &headers, const QString &path)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        response->send(404, "text/plain; charset=utf-8", "not found\n");
        return;
    }
    response->begin(200, headers, file->size());
    if (response->isHeadOnly()) {
        response->end();
        return;
    }
    new Pump(response, [file](qint64 max) { return file->read(max); }, file->size());
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 421: return "Misdirected Request";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

QByteArray contentTypeFor(const QString &fileName)
{
    const QString f = fileName.toLower();
    if (f.endsWith(".html") || f.endsWith(".htm")) return "text/html"; // the page's own charset holds
    if (f.endsWith(".js")) return "text/javascript; charset=utf-8";
    if (f.endsWith(".wasm")) return "application/wasm";
    if (f.endsWith(".swf")) return "application/x-shockwave-flash";
    if (f.endsWith(".css")) return "text/css; charset=utf-8";
    if (f.endsWith(".json") || f.endsWith(".map")) return "application/json";
    if (f.endsWith(".xml")) return "text/xml";
    if (f.endsWith(".txt")) return "text/plain";
    if (f.endsWith(".gif")) return "image/gif";
    if (f.endsWith(".png")) return "image/png";
    if (f.endsWith(".jpg") || f.endsWith(".jpeg")) return "image/jpeg";
    return "application/octet-stream";
}

} // namespace http
