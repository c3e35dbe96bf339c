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

class QTcpSocket;

namespace http {

// One HTTP/1.1 request on a connection of its own, to an address the caller has already
// chosen (and checked). Whatever the server sends is bounded: the answer's head (size,
// lines, interim answers), chunk lines and trailers; the body is decoded and read as the
// caller takes it, so a server cannot make it hold more than a little. abort() ends
// everything at once.
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
        // For url, sent to address (checked by the caller); an IPv4 address written in
        // IPv6 is used as IPv4.
        static Target to(const QUrl &url, const QHostAddress &address);
    };
    static constexpr qsizetype MaxHeadBytes = AnswerReader::MaxHeadBytes;
    static constexpr int MaxHeadLines = AnswerReader::MaxHeadLines;
    static constexpr int MaxInterimAnswers = AnswerReader::MaxInterimAnswers;
    static constexpr qint64 BufferBytes = 256 * 1024;

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
    // Why the connection failed, if it did before an answer came.
    QAbstractSocket::SocketError socketError() const { return m_error; }

private:
    enum class State { Connecting, Reading, Done, Failed };
    explicit ClientReply(QObject *parent);
    void start(const Target &target, const QByteArray &request);
    void readable();
    qint64 pull(qint64 max);
    void decode();
    void complete();
    void fail();

    QPointer<QTcpSocket> m_socket;
    State m_state = State::Connecting;
    AnswerReader m_reader;
    QByteArray m_request;
    QByteArray m_body; // decoded, not yet read
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
};

} // namespace http
