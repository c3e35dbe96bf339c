#pragma once

#include "http_export.h"
#include "server.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpSocket;

namespace http {

// One HTTP/1.1 request on a connection of its own, to an address the caller has already
// chosen (and checked). Whatever the server sends is bounded: the answer's head (size,
// lines, interim answers), chunk lines and trailers; the body is decoded and read as the
// caller takes it, so a server cannot make it hold more than a little. abort() ends
// everything at once.
class HTTP_EXPORT ClientReply : public QObject
{
    Q_OBJECT
public:
    struct Target
    {
        QHostAddress address;
        quint16 port = 80;
        bool tls = false;
        QString host;       // for the certificate and SNI
        QByteArray hostField; // the Host header: host[:port]
        QByteArray target;  // path and query, encoded
    };
    static constexpr qsizetype MaxHeadBytes = 64 * 1024;
    static constexpr int MaxHeadLines = 100;
    static constexpr int MaxInterimAnswers = 4;
    static constexpr qint64 BufferBytes = 256 * 1024;

    static ClientReply *send(const Target &target, const QByteArray &method, const Headers &headers,
                             const QByteArray &body, QObject *parent);
    ~ClientReply() override;

    bool hasHead() const { return m_state != State::Head && m_status != 0; }
    int status() const { return m_status; }
    QByteArray header(const QByteArray &name) const;
    qint64 contentLength() const { return m_length; } // -1: not said
    qint64 bytesAvailable() const { return m_body.size(); }
    QByteArray read(qint64 max);
    QByteArray peek(qint64 max) const { return m_body.left(max); }
    bool isFinished() const { return m_state == State::Done || m_state == State::Failed; }
    bool failed() const { return m_state == State::Failed; }
    void abort();

signals:
    void headReady();
    void readyRead();
    void finished();   // complete, or failed
    void progressed(); // bytes moved either way

private:
    enum class State { Connecting, Head, Body, Done, Failed };
    enum class Framing { Length, Chunked, UntilClose };
    enum class Chunk { Size, Data, DataEnd, Trailers };
    explicit ClientReply(QObject *parent);
    void start(const Target &target, const QByteArray &request);
    void readable();
    bool parseHead();
    void decode();
    bool takeLine(QByteArray *line, qsizetype max);
    void complete();
    void fail();

    QPointer<QTcpSocket> m_socket;
    State m_state = State::Connecting;
    Framing m_framing = Framing::UntilClose;
    Chunk m_chunk = Chunk::Size;
    QByteArray m_request;
    QByteArray m_raw;  // received, not yet decoded
    QByteArray m_body; // decoded, not yet read
    qsizetype m_searched = 0;
    int m_status = 0;
    int m_interim = 0;
    int m_trailerLines = 0;
    Headers m_headers;
    qint64 m_length = -1;
    qint64 m_left = 0; // of the body or of the current chunk
    bool m_bodiless = false;
    bool m_chunksDone = false;
};

} // namespace http
