#include "guard.h"

#include "client.h"
#include "parse.h"
#include "proxyhead.h"
#include "wayback.h"

#include <QtEndian>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <optional>

#ifdef Q_OS_LINUX
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace guard {

namespace {

// The user a loopback connection comes from: the kernel's socket diagnostics asked for
// the peer's own socket (its local end the peer, its remote end us), in one round trip.
// (Reading /proc/net/tcp instead costs milliseconds once many closed connections wait
// there, for every connection.)
std::optional<uint> peerUser(const QHostAddress &peer, quint16 peerPort, const QHostAddress &us, quint16 usPort)
{
#ifdef Q_OS_LINUX
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    struct
    {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof(ask);
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST;
    const bool v6 = peer.protocol() == QAbstractSocket::IPv6Protocol;
    ask.request.sdiag_family = v6 ? AF_INET6 : AF_INET;
    ask.request.sdiag_protocol = IPPROTO_TCP;
    ask.request.idiag_states = ~0u;
    ask.request.id.idiag_sport = qToBigEndian(peerPort);
    ask.request.id.idiag_dport = qToBigEndian(usPort);
    ask.request.id.idiag_cookie[0] = ask.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    const auto put = [v6](const QHostAddress &a, __be32 *to) {
        if (v6) {
            const Q_IPV6ADDR bytes = a.toIPv6Address();
            std::memcpy(to, bytes.c, 16);
        } else {
            to[0] = qToBigEndian(a.toIPv4Address());
        }
    };
    put(peer, ask.request.id.idiag_src);
    put(us, ask.request.id.idiag_dst);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    std::optional<uint> uid;
    alignas(nlmsghdr) char answer[8192];
    if (::sendto(fd, &ask, sizeof(ask), 0, reinterpret_cast<sockaddr *>(&kernel), sizeof(kernel))
        == ssize_t(sizeof(ask))) {
        iovec room{answer, sizeof(answer)};
        msghdr message{};
        message.msg_iov = &room;
        message.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        const auto *h = reinterpret_cast<const nlmsghdr *>(answer);
        if (n >= ssize_t(sizeof(nlmsghdr)) && NLMSG_OK(h, size_t(n)) && h->nlmsg_type == SOCK_DIAG_BY_FAMILY
            && h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg)))
            uid = static_cast<const inet_diag_msg *>(NLMSG_DATA(h))->idiag_uid;
    }
    ::close(fd);
    return uid;
#else
    Q_UNUSED(peer)
    Q_UNUSED(peerPort)
    Q_UNUSED(us)
    Q_UNUSED(usPort)
    return std::nullopt;
#endif
}

// Whether a connection to the guard comes from a program of this very user: the
// engine's connections come from this process, and another user's programs get nothing
// (they could use the guard as a way out to the internet, or fill its room).
bool isSameUser(const QHostAddress &peer, quint16 peerPort, const QHostAddress &us, quint16 usPort)
{
#ifdef Q_OS_LINUX
    const std::optional<uint> uid = peerUser(peer, peerPort, us, usPort);
    return uid && *uid == ::geteuid();
#else
    Q_UNUSED(peer)
    Q_UNUSED(peerPort)
    Q_UNUSED(us)
    Q_UNUSED(usPort)
    return true;
#endif
}

constexpr qint64 PipeChunk = 64 * 1024;
constexpr qint64 HighWater = 1024 * 1024; // queued for one side: read no more from the other
} // namespace

// Told as the archive's, not the site's: the site was never asked.
Guard::Outcome Guard::archiveOutcome(wayback::Failure failure, int status)
{
    using F = wayback::Failure;
    switch (failure) {
    case F::NotAllowed:
        return Guard::Outcome::Refused;
    case F::NoName:
        return Guard::Outcome::ArchiveNoName;
    case F::ConnectionRefused:
        return Guard::Outcome::ArchiveRefused;
    case F::NoAnswer:
        return Guard::Outcome::ArchiveNoAnswer;
    case F::Busy:
        return Guard::Outcome::ArchiveBusy;
    case F::ProxyRefused:
        return Guard::Outcome::ProxyRefused;
    case F::ProxyNeedsPassword:
        return Guard::Outcome::ProxyNeedsPassword;
    case F::None:
        break;
    }
    return status == 403 ? Guard::Outcome::Refused : Guard::Outcome::ArchiveNoAnswer;
}

// One client connection of the engine: one request (or one tunnel), then it closes. A
// plain GET or HEAD goes on a kept connection to the judged address (http/client.h);
// anything with a body, and a tunnel, on one of its own.
class Connection : public QObject
{
public:
    Connection(Guard *guard, QTcpSocket *client) : QObject(guard->m_home), m_guard(guard), m_client(client)
    {
        client->setParent(this);
        client->setReadBufferSize(HighWater);
        // A head and its body go in separate writes: without this, the second waits on
        // the peer's delayed acknowledgement.
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client, &QTcpSocket::readyRead, this, &Connection::clientReadable);
        connect(client, &QTcpSocket::bytesWritten, this, &Connection::upstreamReadable);
        connect(client, &QTcpSocket::disconnected, this, &Connection::finish);
        connect(client, &QTcpSocket::errorOccurred, this, [this] {
            if (m_client->state() != QAbstractSocket::ConnectedState)
                finish();
        });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Connection::finish);
        m_timer.start(Guard::HeadTimeoutMs);
        ++m_guard->m_connections;
        clientReadable();
    }
    ~Connection() override
    {
        --m_guard->m_connections;
        if (m_ownPort)
            m_guard->ownPort(m_ownPort, false);
    }

private:
    enum class State { Head, Resolving, Connecting, RequestSent, Piping, Archive, Live, Done };

    void clientReadable()
    {
        if (m_state == State::Head)
            return readHead();
        if (m_state == State::RequestSent || m_state == State::Piping)
            pipe(m_client, m_upstream);
        // While resolving and connecting, what the client sends waits in its buffer.
    }

    void upstreamReadable()
    {
        if (m_state == State::Archive)
            return captureBody();
        if (m_state == State::Live)
            return liveBody();
        if (!m_upstream)
            return;
        if (m_state == State::RequestSent)
            return readAnswerHead();
        if (m_state == State::Piping)
            pipe(m_upstream, m_client);
        if (m_state == State::Archive)
            captureBody();
    }

    void readHead()
    {
        const qsizetype end = takeHead(m_client, m_head);
        if (end == HeadTooLarge)
            return answer(431, "request head too large");
        if (end < 0)
            return;
        const QByteArray rest = m_head.mid(end);
        m_head.truncate(end);
        int refusal = 0;
        const std::optional<ProxyRequest> request = readProxyRequest(m_head, &refusal);
        if (!request)
            return answer(refusal, "not a proxy request the guard serves");
        m_tunnel = request->tunnel;
        m_host = request->host;
        m_port = request->port;
        m_request = request->upstreamHead;
        m_method = request->method;
        m_authority = request->authority;
        m_path = request->path;
        m_fields = request->fields;
        m_pooled = !m_tunnel && (m_method == "GET" || m_method == "HEAD") && !request->hasBody && rest.isEmpty();
        m_early = rest; // the start of a body, or of what goes through a tunnel
        if (m_guard->routing().fromArchive(m_host, m_port)) {
            if (m_tunnel) // https was never the site's; nothing of it goes out live
                return fail(Guard::Outcome::Refused);
            return fromArchive(*request);
        }
        m_state = State::Resolving;
        m_timer.start(Guard::ConnectTimeoutMs);
        m_guard->resolve(m_host, m_port, this, [this](const QHostAddress &address, Guard::Outcome outcome) {
            if (outcome != Guard::Outcome::None)
                return fail(outcome, false);
            if (m_pooled)
                return forward(address);
            connectTo(address);
        });
    }

    void connectTo(const QHostAddress &judged)
    {
        bool isV4 = false;
        const quint32 v4 = judged.toIPv4Address(&isV4); // IPv4 written in IPv6: as IPv4
        const QHostAddress address = isV4 ? QHostAddress(v4) : judged;
        m_state = State::Connecting;
        m_upstream = new QTcpSocket(this);
        m_upstream->setProxy(QNetworkProxy::NoProxy); // the guard's own sockets go straight
        m_upstream->setReadBufferSize(HighWater);
        // On this machine, from a port known before the connection opens, so that the
        // services there (the player host) can tell the guard from other programs.
        if (address.isLoopback()) {
            if (!m_upstream->bind(address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::LocalHostIPv6
                                                                                      : QHostAddress::LocalHost,
                                  0))
                return fail(Guard::Outcome::NoAnswer);
            m_ownPort = m_upstream->localPort();
            m_guard->ownPort(m_ownPort, true);
        }
        connect(m_upstream, &QTcpSocket::connected, this, &Connection::connected);
        connect(m_upstream, &QTcpSocket::readyRead, this, &Connection::upstreamReadable);
        connect(m_upstream, &QTcpSocket::bytesWritten, this, &Connection::clientReadable);
        connect(m_upstream, &QTcpSocket::disconnected, this, &Connection::upstreamGone);
        connect(m_upstream, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
            if (m_state == State::Connecting)
                return fail(error == QAbstractSocket::ConnectionRefusedError ? Guard::Outcome::ConnectionRefused
                                                                             : Guard::Outcome::NoAnswer);
            if (m_upstream->state() != QAbstractSocket::ConnectedState)
                upstreamGone();
        });
        m_upstream->connectToHost(address, m_port);
    }

    void connected()
    {
        m_timer.stop();
        m_upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_guard->note(m_host, m_port, Guard::Outcome::None);
        if (m_tunnel) {
            m_client->write("HTTP/1.1 200 Connection Established\r\n\r\n");
            m_state = State::Piping;
        } else {
            m_upstream->write(m_request);
            m_state = State::RequestSent;
        }
        if (!m_early.isEmpty())
            m_upstream->write(std::exchange(m_early, {}));
        clientReadable();
        upstreamReadable();
    }

    // On a kept connection to the very address judged.
    void forward(const QHostAddress &judged)
    {
        bool isV4 = false;
        const quint32 v4 = judged.toIPv4Address(&isV4); // IPv4 written in IPv6: as IPv4
        http::ClientReply::Target target;
        target.address = isV4 ? QHostAddress(v4) : judged;
        target.port = m_port;
        target.host = m_host;
        target.hostField = m_authority; // as judged
        target.target = m_path;
        // Known to the services of this machine (the player host) as the guard's own.
        target.ownPort = [guard = m_guard](quint16 port, bool open) { guard->ownPort(port, open); };
        m_state = State::Live;
        m_live = http::ClientReply::send(target, m_method, m_fields, {}, this);
        connect(m_live, &http::Reply::progressed, this, [this] {
            if (!m_answered)
                m_timer.stop(); // connected: the server takes its time, as it would have
        });
        connect(m_live, &http::Reply::headReady, this, &Connection::liveHead);
        connect(m_live, &http::Reply::readyRead, this, &Connection::liveBody);
        connect(m_live, &http::Reply::finished, this, &Connection::liveBody);
    }

    void liveHead()
    {
        m_timer.stop();
        m_guard->note(m_host, m_port, Guard::Outcome::None);
        m_client->write(decodedAnswerHead(m_live->status(), m_live->headers()));
        m_answered = true;
        liveBody();
    }

    void liveBody()
    {
        if (!m_live || m_state != State::Live)
            return;
        if (!m_answered) {
            if (!m_live->isFinished())
                return;
            // No answer: the address would not take the connection, or took it and said
            // nothing.
            const QAbstractSocket::SocketError error = m_live->socketError();
            if (error == QAbstractSocket::ConnectionRefusedError)
                return fail(Guard::Outcome::ConnectionRefused);
            if (error != QAbstractSocket::UnknownSocketError)
                return fail(Guard::Outcome::NoAnswer);
            return finish();
        }
        while (m_live->bytesAvailable() > 0 && m_client->bytesToWrite() < HighWater)
            m_client->write(m_live->read(PipeChunk));
        if (!m_live->isFinished() || m_live->bytesAvailable() > 0)
            return;
        m_state = State::Done;
        if (m_live->failed()) // cut short: the engine sees an incomplete answer
            return finish();
        m_client->disconnectFromHost(); // after what is queued
        if (m_client->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    // The answer's head, bounded, so that it can say the connection closes after it.
    void readAnswerHead()
    {
        const qsizetype end = takeHead(m_upstream, m_answer);
        if (end == HeadTooLarge)
            return finish();
        if (end < 0)
            return;
        const std::optional<AnswerHead> head = rewriteAnswerHead(m_answer.left(end));
        const QByteArray rest = m_answer.mid(end);
        m_answer.clear();
        if (!head)
            return finish();
        m_client->write(head->head);
        if (head->status == 101 || head->status >= 200) { // from here on, bytes either way
            m_state = State::Piping;
            m_client->write(rest);
            return pipe(m_upstream, m_client);
        }
        m_answer = rest;
        readAnswerHead(); // an interim answer; the next head may be here already
    }

    // Takes what fits of a head into buffer: where the head ends, NoHeadYet while it has
    // not, HeadTooLarge once it cannot.
    static constexpr qsizetype NoHeadYet = -1, HeadTooLarge = -2;
    static qsizetype takeHead(QTcpSocket *from, QByteArray &buffer)
    {
        buffer += from->read(std::max<qint64>(Guard::MaxHeadBytes - buffer.size(), 0));
        const qsizetype end = http::parse::headEnd(buffer);
        return end >= 0 ? end : buffer.size() >= Guard::MaxHeadBytes ? HeadTooLarge : NoHeadYet;
    }

    void pipe(QTcpSocket *from, QTcpSocket *to)
    {
        if (!from || !to)
            return;
        while (from->bytesAvailable() > 0 && to->bytesToWrite() < HighWater) {
            const QByteArray chunk = from->read(PipeChunk);
            if (chunk.isEmpty())
                break;
            to->write(chunk);
        }
    }

    // The site's answer as the archive captured it, under the address asked for.
    void fromArchive(const ProxyRequest &request)
    {
        m_state = State::Archive;
        m_timer.start(Guard::ConnectTimeoutMs);
        m_original = QUrl::fromEncoded(request.target, QUrl::StrictMode);
        m_capture = m_guard->routing().open(m_original, request.method, this);
        // A busy archive is waited for: the guard's own watch waits with it.
        connect(m_capture, &wayback::CaptureReply::waiting, this,
                [this] { m_guard->note(m_host, m_port, Guard::Outcome::ArchiveBusy); });
        connect(m_capture, &http::Reply::progressed, this, [this] {
            if (!m_answered && m_capture && m_capture->isWaiting())
                m_timer.start(Guard::ConnectTimeoutMs);
        });
        connect(m_capture, &http::Reply::headReady, this, &Connection::captureHead);
        connect(m_capture, &http::Reply::readyRead, this, &Connection::captureBody);
        connect(m_capture, &http::Reply::finished, this, &Connection::captureBody);
    }

    void captureHead()
    {
        m_timer.stop();
        const int status = m_capture->status();
        if (m_capture->failed())
            return fail(Guard::archiveOutcome(m_capture->failure(), status));
        if (m_capture->notArchived()) {
            m_guard->note(m_host, m_port, Guard::Outcome::NotArchived);
            return answer(404, "not in the archive");
        }
        m_guard->note(m_host, m_port, Guard::Outcome::None);
        // A page's capture date, for the viewer's corner (over plain http the engine says
        // nothing of what a request is for, so every page fetched counts).
        const QByteArray type = m_capture->header("Content-Type").toLower();
        if (status < 300 && (type.startsWith("text/html") || type.startsWith("application/xhtml")))
            m_guard->routing().noteCapture(m_original, m_capture->captured());
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Archived\r\n";
        for (const char *name : {"Content-Type", "Content-Encoding", "Location", "X-Permitted-Cross-Domain-Policies",
                                 "Content-Disposition", "Last-Modified"}) {
            const QByteArray value = m_capture->header(name);
            if (!value.isEmpty() && http::parse::isFieldValue(value))
                head += QByteArray(name) + ": " + value + "\r\n";
        }
        if (m_capture->contentLength() >= 0)
            head += "Content-Length: " + QByteArray::number(m_capture->contentLength()) + "\r\n";
        m_client->write(head + "Cache-Control: no-store\r\nConnection: close\r\n\r\n");
        m_answered = true;
        captureBody();
    }

    void captureBody()
    {
        if (!m_capture || !m_answered || m_state != State::Archive)
            return;
        while (m_capture->bytesAvailable() > 0 && m_client->bytesToWrite() < HighWater)
            m_client->write(m_capture->read(PipeChunk));
        if (!m_capture->isFinished() || m_capture->bytesAvailable() > 0)
            return;
        m_state = State::Done;
        if (m_capture->failed()) // cut short: the engine sees an incomplete answer
            return finish();
        m_client->disconnectFromHost(); // after what is queued
        if (m_client->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    void upstreamGone()
    {
        if (m_state == State::Done)
            return;
        if (m_state == State::Connecting)
            return fail(Guard::Outcome::ConnectionRefused);
        pipe(m_upstream, m_client);
        if (m_upstream && m_upstream->bytesAvailable() > 0) {
            // What the client has not taken yet goes first.
            QTimer::singleShot(10, this, &Connection::upstreamGone);
            return;
        }
        m_state = State::Done;
        m_client->disconnectFromHost(); // after what is queued
        if (m_client->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    void fail(Guard::Outcome outcome, bool note = true)
    {
        if (m_state == State::Done)
            return;
        if (note)
            m_guard->note(m_host, m_port, outcome);
        if (outcome == Guard::Outcome::Refused)
            answer(403, "this address is not for the viewers");
        else
            answer(502, outcome == Guard::Outcome::NoName ? "unknown host" : "no connection");
    }

    void answer(int status, const QByteArray &why)
    {
        m_state = State::Done;
        m_timer.stop();
        if (m_upstream)
            m_upstream->abort();
        if (m_capture)
            m_capture->abort();
        if (m_live)
            m_live->abort();
        // A blank page: the viewer says why in its own words over it, and nothing of
        // the guard's flashes up before that.
        const QByteArray body = "<!DOCTYPE html><!-- " + why + " -->\n";
        m_client->write("HTTP/1.1 " + QByteArray::number(status)
                        + " Refused\r\nContent-Type: text/html\r\n"
                          "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: "
                        + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        m_client->disconnectFromHost();
        if (m_client->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    void finish()
    {
        m_state = State::Done;
        m_timer.stop();
        if (m_upstream)
            m_upstream->abort();
        if (m_capture)
            m_capture->abort();
        if (m_live)
            m_live->abort();
        m_client->abort();
        deleteLater();
    }

    Guard *m_guard;
    QTcpSocket *m_client;
    QPointer<QTcpSocket> m_upstream;
    QPointer<wayback::CaptureReply> m_capture;
    QPointer<http::ClientReply> m_live;
    QByteArray m_method;
    QByteArray m_authority;
    QByteArray m_path;
    http::Headers m_fields;
    bool m_pooled = false;
    QUrl m_original;
    bool m_answered = false;
    QTimer m_timer;
    State m_state = State::Head;
    QByteArray m_head;
    QByteArray m_request;
    QByteArray m_early;
    QByteArray m_answer;
    QString m_host;
    quint16 m_port = 0;
    quint16 m_ownPort = 0; // of the connection to this machine, while it is open
    bool m_tunnel = false;
};

Guard::Guard(QObject *parent) : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("guard"));
    // The archive is reached by the same rule as any site.
    m_routing
        = std::make_shared<wayback::Routing>([this](const QString &host, quint16 port, QObject *context, auto done) {
              resolve(host, port, context, [done](const QHostAddress &address, Outcome outcome) {
                  using F = wayback::Failure;
                  done(address, outcome == Outcome::None      ? F::None
                                : outcome == Outcome::NoName  ? F::NoName
                                : outcome == Outcome::Refused ? F::NotAllowed
                                                              : F::NoAnswer);
              });
          });
}

Guard::~Guard()
{
    m_routing->detach(); // the relay may hold it a little longer
    m_routing->setHome(nullptr);

    if (!m_home)
        return;
    // The connections count down into this object as they go.
    QMetaObject::invokeMethod(
        m_home,
        [this] {
            qDeleteAll(m_home->children());
            http::ClientReply::closeIdle(); // this thread's, before it ends
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_home;
}

bool Guard::start()
{
    if (m_home)
        return m_port != 0;
    m_home = new QObject;
    m_thread.start();
    m_home->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_home,
        [this] {
            m_server = new QTcpServer(m_home);
            m_server->setProxy(QNetworkProxy::NoProxy);
            m_server->setMaxPendingConnections(64);
            QObject::connect(m_server, &QTcpServer::newConnection, m_home, [this] { accept(); });
            if (m_server->listen(QHostAddress::LocalHost, 0))
                m_port = m_server->serverPort();
            m_routing->setHome(m_home);
        },
        Qt::BlockingQueuedConnection);
    return m_port != 0;
}

void Guard::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.load() >= MaxConnections
            || !isSameUser(socket->peerAddress(), socket->peerPort(), socket->localAddress(), socket->localPort())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new Connection(this, socket);
    }
}

void Guard::allow(const QHostAddress &address, quint16 port)
{
    const QMutexLocker locked(&m_lock);
    m_judge.allow(address, port);
}

Judge Guard::judge() const
{
    const QMutexLocker locked(&m_lock);
    return m_judge;
}

void Guard::ownPort(quint16 port, bool open)
{
    const QMutexLocker locked(&m_lock);
    if (open)
        m_ownPorts.insert(port);
    else
        m_ownPorts.remove(port);
}

bool Guard::isOwnConnection(const QHostAddress &peer, quint16 peerPort) const
{
    const QMutexLocker locked(&m_lock);
    // The very address its sockets are bound to: any program may bind another loopback
    // address with the same port number.
    const bool bound = peer.isEqual(QHostAddress::LocalHost, QHostAddress::ConvertV4MappedToIPv4)
                       || peer.isEqual(QHostAddress::LocalHostIPv6, QHostAddress::StrictConversion);
    return bound && m_ownPorts.contains(peerPort);
}

void Guard::mapNameForTests(const QString &pattern, const QHostAddress &address)
{
    m_names.mapForTests(pattern, address);
}

void Guard::resolve(const QString &host, quint16 port, QObject *context,
                    std::function<void(const QHostAddress &, Outcome)> done)
{
    m_names.lookUp(host, context, [this, host, port, done](QList<QHostAddress> addresses) {
        if (addresses.isEmpty()) {
            note(host, port, Outcome::NoName);
            return done({}, Outcome::NoName);
        }
        // IPv4 first: what most servers listen on.
        std::stable_sort(addresses.begin(), addresses.end(), [](const QHostAddress &a, const QHostAddress &b) {
            return a.protocol() == QAbstractSocket::IPv4Protocol && b.protocol() != QAbstractSocket::IPv4Protocol;
        });
        // Every address of the name, or none: a name that also leads inward is refused,
        // whichever address would have been tried.
        const Judge rule = judge();
        if (std::all_of(addresses.cbegin(), addresses.cend(),
                        [&](const QHostAddress &a) { return rule.mayConnect(a, port); }))
            return done(addresses.first(), Outcome::None);
        ++m_refusals;
        note(host, port, Outcome::Refused);
        emit refused(host, port);
        done({}, Outcome::Refused);
    });
}

void Guard::resolvePublic(const QString &host, quint16 port, QObject *context, std::function<void(bool)> done)
{
    m_names.lookUp(host, context, [this, port, done](const QList<QHostAddress> &addresses) {
        bool reachable = !addresses.isEmpty();
        const Judge rule = judge();
        for (const QHostAddress &a : addresses)
            reachable = reachable && rule.countsAsPublic(a, port);
        done(reachable);
    });
}

void Guard::setArchive(const wayback::Archive &archive, bool everything)
{
    {
        const QMutexLocker locked(&m_lock);
        const QHostAddress address(archive.prefix.host());
        if (!address.isNull())
            m_judge.allow(address,
                          quint16(archive.prefix.port(archive.prefix.scheme() == QLatin1String("https") ? 443 : 80)));
    }
    m_routing->setArchive(archive, everything);
}

void Guard::note(const QString &host, quint16 port, Outcome outcome)
{
    m_outcomes.note(host, port, outcome);
}

Guard::Outcome Guard::outcomeFor(const QUrl &url) const
{
    return m_outcomes.outcomeFor(url);
}

} // namespace guard
