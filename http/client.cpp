#include "client.h"

#include "parse.h"

#include <QMetaObject>
#include <QTcpSocket>
#include <QTimer>
#ifndef QT_NO_SSL
#include <QSslSocket>
#endif

namespace http {

namespace {
constexpr qsizetype MaxChunkLine = 1024;
constexpr qsizetype MaxTrailerLine = 8 * 1024;
} // namespace

ClientReply::ClientReply(QObject *parent) : QObject(parent) {}

ClientReply::~ClientReply()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

ClientReply *ClientReply::send(const Target &target, const QByteArray &method, const Headers &headers,
                               const QByteArray &body, QObject *parent)
{
    auto *reply = new ClientReply(parent);
    QByteArray request = method + ' ' + target.target + " HTTP/1.1\r\nHost: " + target.hostField + "\r\n";
    for (const auto &[name, value] : headers)
        request += name + ": " + value + "\r\n";
    if (method == "POST" || !body.isEmpty())
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "Connection: close\r\n\r\n" + body;
    reply->m_bodiless = method == "HEAD";
    reply->start(target, request);
    return reply;
}

void ClientReply::start(const Target &target, const QByteArray &request)
{
    m_request = request;
    QTcpSocket *socket = nullptr;
    const auto connected = [this] {
        m_state = State::Head;
        m_socket->write(m_request);
        m_request.clear();
    };
    if (target.tls) {
#ifndef QT_NO_SSL
        auto *ssl = new QSslSocket(this);
        connect(ssl, &QSslSocket::encrypted, this, connected);
        socket = ssl;
#else
        QTimer::singleShot(0, this, &ClientReply::fail);
        return;
#endif
    } else {
        socket = new QTcpSocket(this);
        connect(socket, &QTcpSocket::connected, this, connected);
    }
    m_socket = socket;
    // What the server sends beyond what we hold stays in the kernel.
    socket->setReadBufferSize(BufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, &ClientReply::readable);
    connect(socket, &QTcpSocket::bytesWritten, this, &ClientReply::progressed);
    connect(socket, &QTcpSocket::disconnected, this, &ClientReply::readable);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError)
            fail();
    });
#ifndef QT_NO_SSL
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        ssl->connectToHostEncrypted(target.address.toString(), target.port, target.host);
        return;
    }
#endif
    socket->connectToHost(target.address, target.port);
}

QByteArray ClientReply::header(const QByteArray &name) const
{
    for (const auto &[key, value] : m_headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QByteArray ClientReply::read(qint64 max)
{
    const QByteArray data = m_body.left(max);
    m_body.remove(0, data.size());
    if (m_state == State::Body && m_body.size() < BufferBytes / 2)
        QMetaObject::invokeMethod(this, &ClientReply::readable, Qt::QueuedConnection); // room for more
    return data;
}

void ClientReply::abort()
{
    if (isFinished())
        return;
    m_state = State::Failed; // quietly: the caller is done with it
    m_body.clear();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void ClientReply::readable()
{
    if (!m_socket || isFinished() || m_state == State::Connecting)
        return;
    QPointer<ClientReply> self(this);
    emit progressed();
    if (!self || isFinished())
        return;
    if (m_state == State::Head && !parseHead())
        return;
    if (m_state == State::Body)
        decode();
}

// Reads answer heads until a final one; interim (1xx) answers are skipped, a few.
bool ClientReply::parseHead()
{
    while (m_state == State::Head) {
        m_raw += m_socket->read(MaxHeadBytes + 4 - m_raw.size());
        const qsizetype end = parse::headEnd(m_raw, m_searched);
        if (end < 0 || end > MaxHeadBytes) {
            m_searched = m_raw.size();
            if (m_raw.size() > MaxHeadBytes || (m_socket->state() != QAbstractSocket::ConnectedState
                                                && m_socket->bytesAvailable() == 0))
                fail();
            return false;
        }
        const QList<QByteArray> lines = parse::lines(m_raw.left(end));
        m_raw.remove(0, end);
        m_searched = 0;
        const QList<QByteArray> status = lines.value(0).split(' ');
        if (lines.size() > MaxHeadLines + 1 || status.size() < 2 || !status[0].startsWith("HTTP/1.")
            || !parse::isDigits(status[1], 3) || status[1].toInt() < 100 || status[1].toInt() > 599
            || status[1].toInt() == 101) {
            fail();
            return false;
        }
        m_headers.clear();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QPair<QByteArray, QByteArray> field;
            if (!parse::headerField(lines[i], &field)) {
                fail();
                return false;
            }
            m_headers.append(field);
        }
        const int code = status[1].toInt();
        if (code < 200) {
            if (++m_interim > MaxInterimAnswers) {
                fail();
                return false;
            }
            continue;
        }
        m_status = code;
        // How the body ends: chunked, a stated length, or the connection's close.
        QByteArray length;
        for (const auto &[name, value] : m_headers) {
            if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
                m_framing = value.toLower().trimmed().endsWith("chunked") ? Framing::Chunked : Framing::UntilClose;
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
                if ((!length.isNull() && length != value) || !parse::isDigits(value, 18)) {
                    fail();
                    return false;
                }
                length = value;
            }
        }
        if (m_framing != Framing::Chunked && !length.isNull() && !header("Transfer-Encoding").size()) {
            m_framing = Framing::Length;
            m_length = m_left = length.toLongLong();
        }
        m_state = State::Body;
        QPointer<ClientReply> self(this);
        emit headReady();
        if (!self || isFinished())
            return false;
        if (m_bodiless || m_status == 204 || m_status == 304 || (m_framing == Framing::Length && m_left == 0)) {
            complete();
            return false;
        }
    }
    return true;
}

bool ClientReply::takeLine(QByteArray *line, qsizetype max)
{
    qsizetype nl = m_raw.indexOf('\n');
    if (nl < 0 && m_raw.size() <= max) {
        m_raw += m_socket->read(max + 1 - m_raw.size());
        nl = m_raw.indexOf('\n');
    }
    if (nl < 0 || nl > max) {
        if (m_raw.size() > max)
            fail(); // a line longer than any server needs
        return false;
    }
    *line = m_raw.left(nl);
    if (line->endsWith('\r'))
        line->chop(1);
    m_raw.remove(0, nl + 1);
    return true;
}

void ClientReply::decode()
{
    const qsizetype before = m_body.size();
    while (m_state == State::Body && m_body.size() < BufferBytes) {
        const bool wantsData = m_framing != Framing::Chunked || m_chunk == Chunk::Data;
        if (wantsData && m_raw.isEmpty()) {
            m_raw = m_socket->read(BufferBytes - m_body.size());
            if (m_raw.isEmpty())
                break;
        }
        if (m_framing == Framing::UntilClose) {
            m_body += m_raw;
            m_raw.clear();
        } else if (m_framing == Framing::Length || m_chunk == Chunk::Data) {
            const qint64 take = qMin<qint64>(m_left, m_raw.size());
            m_body += m_raw.left(take);
            m_raw.remove(0, take);
            m_left -= take;
            if (m_left == 0 && m_framing == Framing::Length) {
                m_raw.clear();
                break;
            }
            if (m_left == 0)
                m_chunk = Chunk::DataEnd;
        } else {
            QByteArray line;
            if (!takeLine(&line, m_chunk == Chunk::Trailers ? MaxTrailerLine : MaxChunkLine))
                break;
            if (m_chunk == Chunk::Size) {
                const QByteArray hex = line.split(';').first().trimmed();
                bool ok = hex.size() <= 15;
                const qint64 size = hex.toLongLong(&ok, 16);
                if (!ok || size < 0)
                    return fail();
                m_left = size;
                m_chunk = size == 0 ? Chunk::Trailers : Chunk::Data;
            } else if (m_chunk == Chunk::DataEnd) {
                if (!line.isEmpty())
                    return fail();
                m_chunk = Chunk::Size;
            } else if (line.isEmpty()) {
                m_chunksDone = true; // the last chunk and its trailers
                break;
            } else if (++m_trailerLines > MaxHeadLines) {
                return fail();
            }
        }
    }
    QPointer<ClientReply> self(this);
    if (m_body.size() > before)
        emit readyRead();
    if (!self || m_state != State::Body)
        return;
    const bool closed = m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0;
    if ((m_framing == Framing::Length && m_left == 0) || (m_framing == Framing::Chunked && m_chunksDone))
        complete();
    else if (closed && m_raw.isEmpty())
        m_framing == Framing::UntilClose ? complete() : fail(); // cut short: never taken as whole
}

void ClientReply::complete()
{
    if (isFinished())
        return;
    m_state = State::Done;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit finished();
}

void ClientReply::fail()
{
    if (isFinished())
        return;
    m_state = State::Failed;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit finished();
}

} // namespace http
