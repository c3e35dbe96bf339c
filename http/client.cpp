#include "client.h"

#include <QFile>
#include <QHash>
#include <QMetaObject>
#include <QMutex>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#ifndef QT_NO_SSL
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#endif

#include <atomic>

namespace http {

namespace {

std::atomic<int> idleTimeoutForTests = 0;

int idleTimeoutMs()
{
    const int ms = idleTimeoutForTests.load();
    return ms > 0 ? ms : ClientReply::IdleTimeoutMs;
}

// The endpoint a connection was made for: only a request for the very same one may use
// it again.
QString keyOf(const ClientReply::Target &t)
{
    QString key = t.proxy.type() == QNetworkProxy::NoProxy
                      ? t.address.toString()
                      : QStringLiteral("%1 via %2:%3:%4").arg(t.host).arg(int(t.proxy.type())).arg(t.proxy.hostName()).arg(t.proxy.port());
    key += QLatin1Char('|') + QString::number(t.port);
    if (t.tls)
        key += QStringLiteral("|tls:") + t.host;
    return key;
}

#ifndef QT_NO_SSL
struct TestCertificates
{
    QList<QSslCertificate> certificates;
    QString error;
};

const TestCertificates &testCertificates()
{
    static const TestCertificates loaded = [] {
        TestCertificates t;
        if (!qEnvironmentVariableIsSet("PHOTOFORKP_TEST_CA_CERTS"))
            return t;
        QFile file(qEnvironmentVariable("PHOTOFORKP_TEST_CA_CERTS"));
        if (file.open(QIODevice::ReadOnly))
            t.certificates = QSslCertificate::fromData(file.read(1024 * 1024), QSsl::Pem);
        if (t.certificates.isEmpty())
            t.error = QStringLiteral("no certificate could be read from the file it names");
        return t;
    }();
    return loaded;
}
#endif

// A connection that will not serve again: closed now, gone once control is back in its
// thread's loop (it may be in the middle of telling something).
void drop(Link *link);
} // namespace

// A connection, with its room among the MaxPerHost of its endpoint, which it gives back
// when it goes. It belongs to one reply while a request uses it, and to no one while it
// waits, unused, in its thread.
class Link : public QObject
{
public:
    Link(const QString &key, QTcpSocket *socket) : m_key(key), m_socket(socket) { socket->setParent(this); }
    ~Link() override;
    QTcpSocket *socket() const { return m_socket; }
    const QString &key() const { return m_key; }
    std::function<void(quint16, bool)> ownPort;
    quint16 boundPort = 0;
    bool used = false; // it has carried an answer
    // Unused from now on: it closes after a while, or when the server says anything or
    // closes.
    void rest();
    void wake();

private:
    void tired();
    QString m_key;
    QTcpSocket *m_socket;
    QTimer m_idle;
};

// The process's connections and their rooms, shared by every thread.
class Pool
{
public:
    static Pool &instance()
    {
        static Pool *pool = new Pool; // outlives every thread's last connection
        return *pool;
    }
    enum class Turn { Now, Wait };
    // For reply, in its thread: an unused connection of this thread (unless fresh), else
    // room for a new one, else a place in the queue.
    Turn take(ClientReply *reply, bool fresh, Link **link);
    // A connection that carried a whole answer, in its thread.
    void putBack(Link *link);
    // An unused connection goes (its thread's own decision): whether it was still unused.
    bool forget(Link *link);
    void released(const QString &key);
    void cancel(ClientReply *reply);
    void takeTurn(ClientReply *reply, bool *granted, Link **handed);
    void closeIdle(QThread *thread);
#ifndef QT_NO_SSL
    QByteArray ticket(const QString &key)
    {
        const QMutexLocker locked(&m_lock);
        return m_tickets.value(key);
    }
    void keepTicket(const QString &key, const QByteArray &ticket)
    {
        if (ticket.isEmpty() || ticket.size() > 16 * 1024)
            return;
        const QMutexLocker locked(&m_lock);
        if (m_tickets.size() >= 256 && !m_tickets.contains(key))
            m_tickets.clear();
        m_tickets.insert(key, ticket);
    }
#endif

private:
    struct Host
    {
        int open = 0; // connections, used or not, and rooms granted
        QList<ClientReply *> waiting; // in order
        QList<Link *> idle;
    };
    void grant(Host &host); // under the lock
    QMutex m_lock;
    QHash<QString, Host> m_hosts;
    QList<Link *> m_idleOrder; // unused ones of every host, oldest first
    QHash<QString, QByteArray> m_tickets;
};

Pool::Turn Pool::take(ClientReply *reply, bool fresh, Link **link)
{
    *link = nullptr;
    const QMutexLocker locked(&m_lock);
    Host &host = m_hosts[reply->m_key];
    if (host.waiting.isEmpty()) {
        if (!fresh) {
            for (Link *l : std::as_const(host.idle)) {
                if (l->thread() == QThread::currentThread()) {
                    host.idle.removeOne(l);
                    m_idleOrder.removeOne(l);
                    *link = l;
                    return Turn::Now;
                }
            }
        }
        if (host.open < ClientReply::MaxPerHost) {
            ++host.open;
            return Turn::Now;
        }
    }
    host.waiting << reply;
    // Room held by a connection nobody uses goes to the queue: the oldest unused one
    // closes (in its own thread), and its room passes on as it goes.
    if (!host.idle.isEmpty()) {
        m_idleOrder.removeOne(host.idle.first());
        host.idle.takeFirst()->deleteLater();
    }
    return Turn::Wait;
}

void Pool::putBack(Link *link)
{
    QMutexLocker locked(&m_lock);
    Host &host = m_hosts[link->key()];
    if (!host.waiting.isEmpty()) {
        ClientReply *next = host.waiting.first();
        if (next->thread() == link->thread()) { // the next in line takes it as it is
            host.waiting.removeFirst();
            next->m_handed = link;
            QMetaObject::invokeMethod(next, &ClientReply::resume, Qt::QueuedConnection);
            return;
        }
        locked.unlock();
        drop(link); // its room goes to the next in line, in its own thread
        return;
    }
    host.idle << link;
    m_idleOrder << link;
    link->rest();
    // Unused connections of many hosts would hold as many sockets: the oldest goes.
    if (m_idleOrder.size() > ClientReply::MaxUnused) {
        Link *oldest = m_idleOrder.takeFirst();
        m_hosts[oldest->key()].idle.removeOne(oldest);
        oldest->deleteLater(); // in its own thread
    }
}

bool Pool::forget(Link *link)
{
    const QMutexLocker locked(&m_lock);
    const auto it = m_hosts.find(link->key());
    m_idleOrder.removeOne(link);
    return it != m_hosts.end() && it->idle.removeOne(link);
}

void Pool::released(const QString &key)
{
    const QMutexLocker locked(&m_lock);
    const auto it = m_hosts.find(key);
    if (it == m_hosts.end())
        return;
    --it->open;
    grant(*it);
    if (it->open <= 0 && it->waiting.isEmpty() && it->idle.isEmpty())
        m_hosts.erase(it);
}

void Pool::grant(Host &host)
{
    while (!host.waiting.isEmpty() && host.open < ClientReply::MaxPerHost) {
        ClientReply *next = host.waiting.takeFirst();
        ++host.open;
        next->m_granted = true;
        QMetaObject::invokeMethod(next, &ClientReply::resume, Qt::QueuedConnection);
    }
}

void Pool::cancel(ClientReply *reply)
{
    Link *handed = nullptr;
    {
        const QMutexLocker locked(&m_lock);
        const auto it = m_hosts.find(reply->m_key);
        if (it == m_hosts.end())
            return;
        it->waiting.removeOne(reply);
        handed = std::exchange(reply->m_handed, nullptr);
        if (std::exchange(reply->m_granted, false)) {
            --it->open;
            grant(*it);
        }
    }
    if (handed)
        drop(handed); // its room passes on as it goes
}

void Pool::takeTurn(ClientReply *reply, bool *granted, Link **handed)
{
    const QMutexLocker locked(&m_lock);
    *granted = std::exchange(reply->m_granted, false);
    *handed = std::exchange(reply->m_handed, nullptr);
}

void Pool::closeIdle(QThread *thread)
{
    QList<Link *> going;
    {
        const QMutexLocker locked(&m_lock);
        for (Host &host : m_hosts) {
            for (Link *l : std::as_const(host.idle))
                if (l->thread() == thread)
                    going << l;
            host.idle.removeIf([thread](Link *l) { return l->thread() == thread; });
        }
        for (Link *l : std::as_const(going))
            m_idleOrder.removeOne(l);
    }
    qDeleteAll(going);
}

Link::~Link()
{
#ifndef QT_NO_SSL
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        Pool::instance().keepTicket(m_key, ssl->sslConfiguration().sessionTicket());
#endif
    m_socket->disconnect(this);
    m_socket->abort();
    if (boundPort && ownPort)
        ownPort(boundPort, false);
    Pool::instance().released(m_key);
}

void Link::rest()
{
    setParent(nullptr);
    m_socket->disconnect();
    connect(m_socket, &QTcpSocket::readyRead, this, &Link::tired);
    connect(m_socket, &QTcpSocket::disconnected, this, &Link::tired);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Link::tired);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &Link::tired);
    m_idle.start(idleTimeoutMs());
}

void Link::wake()
{
    m_idle.stop();
    m_idle.disconnect(this);
    m_socket->disconnect(this);
}

// Unused, and the server spoke, closed, or the while is over.
void Link::tired()
{
    if (Pool::instance().forget(this))
        deleteLater();
}

namespace {
void drop(Link *link)
{
    link->socket()->disconnect();
    link->socket()->abort();
    link->setParent(nullptr);
    link->deleteLater();
}
} // namespace

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

void ClientReply::setIdleTimeoutForTests(int ms)
{
    idleTimeoutForTests = ms;
}

void ClientReply::closeIdle()
{
    Pool::instance().closeIdle(QThread::currentThread());
}

QString ClientReply::testCertificatesError()
{
#ifndef QT_NO_SSL
    return testCertificates().error;
#else
    return {};
#endif
}

ClientReply::ClientReply(QObject *parent) : Reply(parent) { }

ClientReply::~ClientReply()
{
    if (m_state == State::Waiting)
        Pool::instance().cancel(this);
    if (m_link)
        m_link->socket()->disconnect(this); // mid-answer or unread: it goes with this one
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
    request += "\r\n" + body;
    reply->m_reader = AnswerReader(method == "HEAD");
    reply->m_target = target;
    reply->m_key = keyOf(target);
    reply->m_method = method;
    reply->m_request = request;
#ifdef QT_NO_SSL
    if (target.tls) {
        reply->m_state = State::Connecting;
        QTimer::singleShot(0, reply, &ClientReply::fail);
        return reply;
    }
#endif
    reply->start(false);
    return reply;
}

void ClientReply::start(bool fresh)
{
    m_state = State::Waiting;
    Link *link = nullptr;
    for (;;) {
        if (Pool::instance().take(this, fresh, &link) == Pool::Turn::Wait)
            return;
        if (!link)
            return open();
        // Unused meanwhile: the server may have closed it, or said something unasked.
        link->wake();
        if (link->socket()->state() == QAbstractSocket::ConnectedState && link->socket()->bytesAvailable() == 0)
            return attach(link);
        drop(link);
    }
}

void ClientReply::resume()
{
    bool granted = false;
    Link *handed = nullptr;
    Pool::instance().takeTurn(this, &granted, &handed);
    if (handed) {
        if (handed->socket()->state() == QAbstractSocket::ConnectedState && handed->socket()->bytesAvailable() == 0)
            return attach(handed);
        drop(handed); // its room passes on; this one asks again
        return start(m_retried);
    }
    if (granted)
        open();
}

void ClientReply::open()
{
    m_state = State::Connecting;
    m_reused = false;
    QTcpSocket *socket = nullptr;
#ifndef QT_NO_SSL
    if (m_target.tls) {
        auto *ssl = new QSslSocket;
        QSslConfiguration config = ssl->sslConfiguration();
        // A session the endpoint gave an earlier connection spares a full handshake.
        config.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
        const QByteArray ticket = Pool::instance().ticket(m_key);
        if (!ticket.isEmpty())
            config.setSessionTicket(ticket);
        if (m_target.proxy.type() == QNetworkProxy::NoProxy && m_target.address.isLoopback()
            && !testCertificates().certificates.isEmpty())
            config.addCaCertificates(testCertificates().certificates);
        ssl->setSslConfiguration(config);
        connect(ssl, &QSslSocket::encrypted, this, &ClientReply::sendRequest);
        connect(ssl, &QSslSocket::newSessionTicketReceived, this,
                [this, ssl] { Pool::instance().keepTicket(m_key, ssl->sslConfiguration().sessionTicket()); });
        socket = ssl;
    }
#endif
    if (!socket) {
        socket = new QTcpSocket;
        connect(socket, &QTcpSocket::connected, this, &ClientReply::sendRequest);
    }
    auto *link = new Link(m_key, socket);
    link->setParent(this);
    link->ownPort = m_target.ownPort;
    m_link = link;
    m_socket = socket;
    // Straight to the address the caller checked, whatever proxy Qt would pick, unless
    // the caller names the proxy itself.
    socket->setProxy(m_target.proxy);
    const bool byName = m_target.proxy.type() != QNetworkProxy::NoProxy;
    // What the server sends beyond what we hold stays in the kernel.
    socket->setReadBufferSize(BufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, &ClientReply::readable);
    connect(socket, &QTcpSocket::bytesWritten, this, &ClientReply::progressed);
    connect(socket, &QTcpSocket::disconnected, this, &ClientReply::readable);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return peerClosed();
        if (m_state == State::Connecting)
            m_error = e;
        fail();
    });
    if (!byName && m_target.ownPort && m_target.address.isLoopback()) {
        const bool v6 = m_target.address.protocol() == QAbstractSocket::IPv6Protocol;
        if (!socket->bind(v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, 0)) {
            m_error = QAbstractSocket::SocketAccessError;
            QTimer::singleShot(0, this, &ClientReply::fail);
            return;
        }
        link->boundPort = socket->localPort();
        m_target.ownPort(link->boundPort, true);
    }
#ifndef QT_NO_SSL
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        if (byName)
            ssl->connectToHostEncrypted(m_target.host, m_target.port);
        else
            ssl->connectToHostEncrypted(m_target.address.toString(), m_target.port, m_target.host);
        return;
    }
#endif
    if (byName)
        socket->connectToHost(m_target.host, m_target.port);
    else
        socket->connectToHost(m_target.address, m_target.port);
}

void ClientReply::attach(Link *link)
{
    m_reused = true;
    link->setParent(this);
    m_link = link;
    m_socket = link->socket();
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientReply::readable);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ClientReply::progressed);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientReply::readable);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return peerClosed();
        fail();
    });
    sendRequest();
}

void ClientReply::sendRequest()
{
    m_state = State::Reading;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->write(m_request);
    // Kept while a reused connection may yet turn out closed: then it goes again.
    if (!m_reused || !(m_method == "GET" || m_method == "HEAD"))
        m_request.clear();
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
    if (m_state == State::Waiting)
        Pool::instance().cancel(this);
    m_state = State::Failed; // quietly: the caller is done with it
    m_body.clear();
    if (m_link)
        drop(m_link.data());
    m_link = nullptr;
    m_socket = nullptr;
}

void ClientReply::discard()
{
    disconnect(); // nobody listens any more
    const qint64 length = m_reader.contentLength();
    const bool bounded = m_reader.framing() == AnswerReader::Framing::Chunked
                         || (m_reader.framing() == AnswerReader::Framing::Length && length <= MaxDiscardBytes);
    // (Done: its end is read already.)
    const bool shortRest = m_state == State::Reading
                           && (m_reader.state() == AnswerReader::State::Done
                               || (m_reader.state() == AnswerReader::State::Body && bounded));
    if (!shortRest) {
        abort();
        return deleteLater();
    }
    m_discarding = true;
    m_body.clear();
    if (m_reader.state() == AnswerReader::State::Done) {
        complete(); // back now, for the caller's next request to take
        return deleteLater();
    }
    connect(this, &Reply::finished, this, &QObject::deleteLater);
    QTimer::singleShot(10000, this, [this] { // a trickle is not waited for
        abort();
        deleteLater();
    });
    decode(); // now: what has come may be all of it, and the caller's next request may take it
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
    m_answerBegun = m_answerBegun || !bytes.isEmpty();
    m_reader.feed(bytes);
    if ((m_peerClosed || m_socket->state() != QAbstractSocket::ConnectedState) && m_socket->bytesAvailable() == 0)
        m_reader.close();
    return bytes.size();
}

// The server closed: over TLS, it may have said so (close_notify) before the connection
// itself closes.
void ClientReply::peerClosed()
{
    m_peerClosed = true;
    readable();
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
    if (m_discarding) {
        m_discarded += m_body.size();
        m_body.clear();
        if (m_discarded > MaxDiscardBytes) { // chunks beyond a short rest
            abort();
            return deleteLater();
        }
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
    m_request.clear();
    if (m_link) {
        m_socket->disconnect(this);
        Link *link = m_link.data();
        m_link = nullptr;
        m_socket = nullptr;
        // Read to its very end, and nothing after it: the connection may serve again.
        if (m_reader.keepsOpen() && link->socket()->state() == QAbstractSocket::ConnectedState
            && link->socket()->bytesAvailable() == 0) {
            link->used = true;
            link->setParent(nullptr);
            Pool::instance().putBack(link);
        } else {
            drop(link);
        }
    }
    emit finished();
}

void ClientReply::fail()
{
    if (isFinished())
        return;
    if (m_link)
        drop(m_link.data());
    m_link = nullptr;
    m_socket = nullptr;
    // A connection kept from before may have closed just as it was taken: the request
    // goes once more, on a new one, if it asks for nothing but an answer.
    if (m_reused && !m_answerBegun && !m_retried && (m_method == "GET" || m_method == "HEAD")) {
        m_retried = true;
        m_reader = AnswerReader(m_method == "HEAD");
        m_peerClosed = false;
        return start(true);
    }
    m_state = State::Failed;
    m_request.clear();
    emit finished();
}

} // namespace http
