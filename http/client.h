#pragma once

#include "framing.h"
#include "http_export.h"
#include "reply.h"

#include <QByteArray>
#include <QAbstractSocket>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QTcpSocket;

namespace http {

class Link;
class Pool;

// One HTTP/1.1 request to an address the caller has already chosen (and checked), on a
// connection kept for that very address, port, TLS host and proxy: one opened for it, or
// one an earlier request left open in this thread. At most MaxPerHost connections stand
// to one such endpoint at once, counted across threads; requests beyond wait their turn.
// Never pipelined; an answer not read to its end closes its connection. Whatever the
// server sends is bounded: the answer's head (size, lines, interim answers), chunk
// lines and trailers; the body is decoded and read as the caller takes it, so a server
// cannot make it hold more than a little. abort() ends everything at once.
class HTTP_EXPORT ClientReply : public Reply
{
    Q_OBJECT
public:
    struct Target
    {
        QHostAddress address;
        quint16 port = 80;
        bool tls = false;
        QString host; // for the certificate and SNI
        QByteArray hostField; // the Host header: host[:port]
        QByteArray target; // path and query, encoded
        // The user's proxy, for the web archive alone: then address is not used, and the
        // proxy looks host up.
        QNetworkProxy proxy = QNetworkProxy::NoProxy;
        // Set: a connection to this machine is made from a loopback port known before it
        // opens, and told here as it opens and closes (the guard's own connections are
        // known by it).
        std::function<void(quint16 port, bool open)> ownPort = {};
        // For url, sent to address (checked by the caller); an IPv4 address written in
        // IPv6 is used as IPv4.
        static Target to(const QUrl &url, const QHostAddress &address);
    };
    static constexpr qsizetype MaxHeadBytes = AnswerReader::MaxHeadBytes;
    static constexpr int MaxHeadLines = AnswerReader::MaxHeadLines;
    static constexpr int MaxInterimAnswers = AnswerReader::MaxInterimAnswers;
    static constexpr qint64 BufferBytes = 256 * 1024;
    static constexpr int MaxPerHost = 6;
    static constexpr int IdleTimeoutMs = 30000;
    static constexpr int MaxUnused = 32; // unused connections kept, of all hosts together
    // For tests only: how long an unused connection is kept (0: IdleTimeoutMs).
    static void setIdleTimeoutForTests(int ms);
    // Closes this thread's unused connections (before the thread ends).
    static void closeIdle();
    // PHOTOFORKP_TEST_CA_CERTS, for tests: a PEM file of certificates trusted for TLS to
    // loopback addresses alone (a test's own server); anything else is an error.
    static QString testCertificatesError();

    static ClientReply *send(const Target &target, const QByteArray &method, const Headers &headers,
                             const QByteArray &body, QObject *parent);
    ~ClientReply() override;

    bool hasHead() const override { return m_reader.status() != 0; }
    int status() const override { return m_reader.status(); }
    QByteArray header(const QByteArray &name) const override { return m_reader.header(name); }
    Headers headers() const override { return m_reader.headers(); }
    qint64 contentLength() const override { return m_reader.contentLength(); }
    qint64 bytesAvailable() const override { return m_body.size(); }
    QByteArray read(qint64 max) override;
    QByteArray peek(qint64 max) const override { return m_body.left(max); }
    bool isFinished() const override { return m_state == State::Done || m_state == State::Failed; }
    bool failed() const override { return m_state == State::Failed; }
    void abort() override;
    // The caller wants nothing more of the answer (a redirect's, say): a short rest is
    // read and dropped, so that the connection can serve again; a long one closes it.
    // It deletes itself once done.
    void discard();
    static constexpr qint64 MaxDiscardBytes = 64 * 1024;
    // Why the connection failed, if it did before an answer came.
    QAbstractSocket::SocketError socketError() const { return m_error; }
    // Whether it went on a connection an earlier request had used.
    bool reusedConnection() const { return m_reused; }

private:
    friend class Pool;
    enum class State { Waiting, Connecting, Reading, Done, Failed };
    explicit ClientReply(QObject *parent);
    void start(bool fresh);
    void resume(); // its turn has come
    void open(); // a connection of its own
    void attach(Link *link); // a connection that is ready
    void sendRequest();
    void readable();
    void peerClosed();
    qint64 pull(qint64 max);
    void decode();
    void complete();
    void fail();

    QPointer<QTcpSocket> m_socket;
    QPointer<Link> m_link;
    State m_state = State::Waiting;
    AnswerReader m_reader;
    Target m_target;
    QString m_key;
    QByteArray m_method;
    QByteArray m_request;
    bool m_reused = false;
    bool m_retried = false;
    bool m_answerBegun = false;
    bool m_peerClosed = false;
    bool m_discarding = false;
    qint64 m_discarded = 0;
    // Set by the pool, under its lock: the turn given while waiting (a new connection's
    // room, or an unused connection of this thread).
    bool m_granted = false;
    Link *m_handed = nullptr;
    QByteArray m_body; // decoded, not yet read
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
};

} // namespace http
