#include "client.h"

#include <QMetaObject>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#ifndef QT_NO_SSL
#include <QSslSocket>
#endif

namespace http {

ClientReply::Target ClientReply::Target::to(const QUrl &url, const QHostAddress &address)
{
    Target target;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    target.address = isV4 ? QHostAddress(v4) : address;
    target.tls = url.scheme() == QLatin1String("https");
    target.port = quint16(url.port(target.tls ? 443 : 80));
    target.host = url.host();
    target.hostField = QUrl::toAce(url.host());
    if (target.hostField.isEmpty())
        target.hostField = url.host().toLatin1();
    if (target.hostField.contains(':'))
        target.hostField = '[' + target.hostField + ']';
    if (url.port() != -1)
        target.hostField += ':' + QByteArray::number(url.port());
    target.target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.target.startsWith('/'))
        target.target.prepend('/');
    return target;
}

ClientReply::ClientReply(QObject *parent) : Reply(parent) { }

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
    reply->m_reader = AnswerReader(method == "HEAD");
    reply->start(target, request);
    return reply;
}

void ClientReply::start(const Target &target, const QByteArray &request)
{
    m_request = request;
    QTcpSocket *socket = nullptr;
    const auto connected = [this] {
        m_state = State::Reading;
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
    // Straight to the address the caller checked, whatever proxy Qt would pick, unless
    // the caller names the proxy itself.
    socket->setProxy(target.proxy);
    const bool byName = target.proxy.type() != QNetworkProxy::NoProxy;
    // What the server sends beyond what we hold stays in the kernel.
    socket->setReadBufferSize(BufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, &ClientReply::readable);
    connect(socket, &QTcpSocket::bytesWritten, this, &ClientReply::progressed);
    connect(socket, &QTcpSocket::disconnected, this, &ClientReply::readable);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return;
        if (m_state == State::Connecting)
            m_error = e;
        fail();
    });
#ifndef QT_NO_SSL
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        if (byName)
            ssl->connectToHostEncrypted(target.host, target.port);
        else
            ssl->connectToHostEncrypted(target.address.toString(), target.port, target.host);
        return;
    }
#endif
    if (byName)
        socket->connectToHost(target.host, target.port);
    else
        socket->connectToHost(target.address, target.port);
}

QByteArray ClientReply::read(qint64 max)
{
    const QByteArray data = m_body.left(max);
    m_body.remove(0, data.size());
    if (m_state == State::Reading && m_reader.state() == AnswerReader::State::Body && m_body.size() < BufferBytes / 2)
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
    if (!m_socket || m_state != State::Reading)
        return;
    QPointer<ClientReply> self(this);
    emit progressed();
    if (!self || isFinished())
        return;
    if (m_reader.state() == AnswerReader::State::Head) {
        bool final = false;
        while (!final && m_reader.state() == AnswerReader::State::Head) {
            const qint64 got = pull(m_reader.wants(0));
            final = m_reader.readHead();
            if (got == 0)
                break;
        }
        if (m_reader.state() == AnswerReader::State::Failed)
            return fail();
        if (!final)
            return;
        emit headReady();
        if (!self || isFinished())
            return;
        if (m_reader.state() == AnswerReader::State::Done)
            return complete();
    }
    decode();
}

// Takes what the reader wants from the socket (what it does not want stays in the
// kernel), and tells it when nothing more will come.
qint64 ClientReply::pull(qint64 max)
{
    const QByteArray bytes = max > 0 ? m_socket->read(max) : QByteArray();
    m_reader.feed(bytes);
    if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0)
        m_reader.close();
    return bytes.size();
}

void ClientReply::decode()
{
    const qsizetype before = m_body.size();
    m_reader.decode(&m_body, BufferBytes);
    while (m_reader.state() == AnswerReader::State::Body && m_body.size() < BufferBytes) {
        const qint64 got = pull(m_reader.wants(BufferBytes - m_body.size()));
        m_reader.decode(&m_body, BufferBytes);
        if (got == 0)
            break;
    }
    QPointer<ClientReply> self(this);
    if (m_body.size() > before)
        emit readyRead();
    if (!self || isFinished())
        return;
    if (m_reader.state() == AnswerReader::State::Done)
        complete();
    else if (m_reader.state() == AnswerReader::State::Failed)
        fail(); // cut short or malformed: never taken as whole
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
