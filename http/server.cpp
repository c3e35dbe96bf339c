#include "server.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace http {

namespace {

// Bytes a client may send after its request while it is answered (when the connection
// closes after the answer); more than this and it is cut off.
constexpr qint64 MaxTrailingBytes = 64 * 1024;
constexpr qint64 PieceBytes = 64 * 1024;

} // namespace

// One client connection: reads and checks one request, hands it to the handler, and
// carries the answer; then the next request, if the server keeps connections open.
class Connection : public QObject
{
public:
    Connection(Server *server, QTcpSocket *socket);
    ~Connection() override;

    QTcpSocket *socket() const { return m_socket; }
    // Whether the client has sent anything yet (what is waiting in the system counts).
    bool hasSpoken()
    {
        if (m_spoken || m_socket->bytesAvailable() > 0)
            return m_spoken = true;
        m_socket->waitForReadyRead(0);
        return m_spoken = m_socket->bytesAvailable() > 0;
    }
    void touch();
    void refuse(int status, const QByteArray &why, const Headers &extra = {});
    // The answer has ended and the connection stays open: on to the next request.
    void next();

private:
    void readable();
    void dispatch();
    void gone();

    Server *m_server;
    QTcpSocket *m_socket;
    const Limits m_limits;
    RequestReader m_reader;
    bool m_answering = false;
    bool m_spoken = false;
    bool m_holding = false; // a far server's connection delay
    bool m_keepOpen = false; // after the answer under way
    int m_served = 0;
    qint64 m_trailing = 0;
    Response *m_response = nullptr;
    QTimer m_timer;
    QTimer m_headTimer;
};

Connection::Connection(Server *server, QTcpSocket *socket)
    : QObject(server), m_server(server), m_socket(socket), m_limits(server->m_limits),
      m_reader(server->m_limits, server->m_allowedHosts)
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
        if (m_answering)
            m_socket->abort();
        else if (m_served > 0) // a kept connection that went quiet just closes
            m_socket->disconnectFromHost();
        else
            refuse(408, "request timeout\n");
    });
    m_timer.start(m_limits.requestTimeoutMs);
    // Silence before the head is not waited on for long: the connection just goes.
    m_headTimer.setSingleShot(true);
    connect(&m_headTimer, &QTimer::timeout, socket, &QTcpSocket::abort);
    m_headTimer.start(m_limits.headTimeoutMs);
    m_server->m_waiting << this;
    if (m_limits.connectDelayMs > 0) {
        m_holding = true;
        QTimer::singleShot(m_limits.connectDelayMs, this, [this] {
            m_holding = false;
            readable();
        });
    }
}

Connection::~Connection()
{
    --m_server->m_connections;
    m_server->m_waiting.removeAll(this);
}

void Connection::touch()
{
    if (m_answering)
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
    m_answering = true;
    if (!m_response)
        m_response = new Response(this, false, false);
    m_response->send(status, "text/plain; charset=utf-8", why, extra);
}

void Connection::next()
{
    ++m_served;
    m_answering = false;
    m_keepOpen = false;
    m_response = nullptr; // the old one stays, ended, until the connection goes
    m_reader = RequestReader(m_limits, m_server->m_allowedHosts);
    m_timer.start(m_limits.requestTimeoutMs);
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &Connection::readable, Qt::QueuedConnection);
}

void Connection::readable()
{
    if (m_holding)
        return;
    if (m_answering) {
        if (m_keepOpen)
            return; // the next request waits in the socket until this answer has ended
        // Anything after the request is not read for anyone; a client that keeps
        // sending is cut off rather than buffered.
        m_trailing += m_socket->skip(m_socket->bytesAvailable());
        if (m_trailing > MaxTrailingBytes)
            m_socket->abort();
        return;
    }
    // What the reader does not take yet stays in the socket (and the kernel).
    m_reader.feed(m_socket->read(m_reader.wants()));
    if (m_reader.state() != RequestReader::State::Head && m_headTimer.isActive()) {
        m_headTimer.stop();
        m_server->m_waiting.removeAll(this);
    }
    if (m_reader.state() == RequestReader::State::Refused)
        return refuse(m_reader.refusal(), m_reader.why());
    if (m_reader.state() == RequestReader::State::Body)
        m_reader.feed(m_socket->read(m_reader.wants()));
    if (m_reader.state() != RequestReader::State::Done)
        return;
    m_trailing = m_reader.trailing();
    dispatch();
    if (m_socket->bytesAvailable() > 0)
        readable();
}

void Connection::dispatch()
{
    m_answering = true;
    m_timer.start(m_limits.idleTimeoutMs);
    const Request &request = m_reader.request();
    m_keepOpen = m_served + 1 < m_limits.requestsPerConnection
                 && !request.header("Connection").toLower().contains("close");
    m_response = new Response(this, request.method == "HEAD", m_keepOpen);
    if (m_limits.answerDelayMs <= 0)
        return m_server->m_handler(request, m_response);
    QTimer::singleShot(m_limits.answerDelayMs, m_response,
                       [this, request, response = m_response] { m_server->m_handler(request, response); });
}

Response::Response(Connection *connection, bool headOnly, bool keepOpen)
    : QObject(connection), m_connection(connection), m_headOnly(headOnly), m_keepOpen(keepOpen)
{ }

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
    const AnswerHead head = answerHead(status, headers, length, m_headOnly, m_keepOpen);
    m_chunked = head.chunked;
    m_headOnly = head.bodiless;
    m_connection->socket()->write(head.bytes);
    m_connection->touch();
}

void Response::write(const QByteArray &data)
{
    if (!m_begun || !isOpen() || m_headOnly || data.isEmpty())
        return;
    QTcpSocket *s = m_connection->socket();
    if (m_chunked)
        writeChunk(data, [s](const QByteArray &bytes) { s->write(bytes); });
    else
        s->write(data);
    m_connection->touch();
}

void Response::end()
{
    if (!m_begun || !isOpen())
        return;
    if (m_chunked && !m_headOnly)
        m_connection->socket()->write(LastChunk.data(), LastChunk.size());
    m_ended = true;
    if (m_keepOpen) {
        emit closed();
        return m_connection->next();
    }
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
        if (m_admits && !m_admits(socket->peerAddress(), socket->peerPort())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Room for the newcomer is made at the cost of whoever has waited longest
        // without saying anything, never of an exchange under way.
        m_waiting.removeAll(nullptr);
        while (!m_waiting.isEmpty()
               && (m_waiting.size() >= m_limits.maxWaitingForHead || m_connections >= m_limits.maxConnections)) {
            // The one silent longest, else (all of them have begun) the oldest.
            const auto silent = std::find_if(m_waiting.begin(), m_waiting.end(),
                                             [](const QPointer<Connection> &c) { return !c->hasSpoken(); });
            Connection *goes = silent != m_waiting.end() ? silent->data() : m_waiting.first().data();
            m_waiting.removeAll(goes);
            goes->socket()->abort();
            if (m_connections >= m_limits.maxConnections)
                delete goes; // at once: its slot is needed now
        }
        if (m_connections >= m_limits.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_accepted;
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
    new Pump(
        response,
        [data, offset](qint64 max) {
            const QByteArray piece = data.mid(*offset, max);
            *offset += piece.size();
            return piece;
        },
        data.size());
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
    new Pump(
        response, [file](qint64 max) { return file->read(max); }, file->size());
}

QByteArray contentTypeFor(const QString &fileName)
{
    const QString f = fileName.toLower();
    if (f.endsWith(".html") || f.endsWith(".htm"))
        return "text/html"; // the page's own charset holds
    if (f.endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (f.endsWith(".wasm"))
        return "application/wasm";
    if (f.endsWith(".swf"))
        return "application/x-shockwave-flash";
    if (f.endsWith(".css"))
        return "text/css; charset=utf-8";
    if (f.endsWith(".json") || f.endsWith(".map"))
        return "application/json";
    if (f.endsWith(".xml"))
        return "text/xml";
    if (f.endsWith(".txt"))
        return "text/plain";
    if (f.endsWith(".gif"))
        return "image/gif";
    if (f.endsWith(".png"))
        return "image/png";
    if (f.endsWith(".jpg") || f.endsWith(".jpeg"))
        return "image/jpeg";
    return "application/octet-stream";
}

} // namespace http
