#pragma once

// HTTP/1.1 framing without sockets: a request as the server reads it, an answer as the
// client reads it, and the head and chunks the server writes. The readers are fed bytes
// as they arrive and say how many more they take, so that whatever they hold stays
// within their limits and the rest waits with the sender.

#include "http_export.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

namespace http {

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct Limits
{
    qsizetype maxHeaderBytes = 64 * 1024; // request line and headers together
    int maxHeaderLines = 100;
    qint64 maxBodyBytes = 0; // a request with a larger body is refused at once
    int requestTimeoutMs = 10000; // the whole request must arrive within this time
    int idleTimeoutMs = 60000; // an answer during which nothing moves this long is cut
    int maxConnections = 64;
    // Connections still without a whole request head: at most this many at once (the
    // oldest goes when another comes), each for at most this long. Every peer on
    // loopback looks the same, so idle ones must not hold off the ones that talk.
    int maxWaitingForHead = 64;
    int headTimeoutMs = 10000;
    // Keep a connection open for further requests after an answer (one at a time), up
    // to this many in all; 1: one request per connection. Only stand-ins of far sites
    // use more.
    int requestsPerConnection = 1;
    // For tests and benchmarks only: a far server, as the wire would make it: this long
    // before a new connection's first request is read, and before each answer.
    int connectDelayMs = 0;
    int answerDelayMs = 0;
};

struct HTTP_EXPORT Request
{
    QByteArray method;
    QByteArray target; // as sent: path and query, still percent-encoded
    Headers headers;
    QByteArray body;
    QByteArray header(const QByteArray &name) const;
    QByteArray path() const;
    QByteArray query() const;
};

// One request: its head within the limits, then the body its Content-Length states.
// Bytes fed after the request are only counted.
class HTTP_EXPORT RequestReader
{
public:
    enum class State { Head, Body, Done, Refused };
    // allowedHosts: the Host values taken (without case); none: any.
    RequestReader(const Limits &limits, const QList<QByteArray> &allowedHosts = {});

    qint64 wants() const;
    void feed(QByteArrayView bytes);

    State state() const { return m_state; }
    const Request &request() const { return m_request; } // whole once Done
    int refusal() const { return m_refusal; } // the status to answer with
    const QByteArray &why() const { return m_why; }
    qint64 trailing() const { return m_trailing; } // bytes after the request

private:
    bool parseHead(const QByteArray &head);
    void refuse(int status, const char *why);

    Limits m_limits;
    QList<QByteArray> m_allowedHosts;
    State m_state = State::Head;
    QByteArray m_buffer;
    qint64 m_bodyLength = 0;
    qint64 m_trailing = 0;
    Request m_request;
    int m_refusal = 0;
    QByteArray m_why;
};

// An answer: heads until a final one (a few interim 1xx ones are skipped), then a body
// framed by a stated length, by chunks, or by the sender's close. It holds at most one
// head, one chunk or trailer line, and what the caller's room leaves undecoded.
class HTTP_EXPORT AnswerReader
{
public:
    enum class State { Head, Body, Done, Failed };
    enum class Framing { Length, Chunked, UntilClose };
    static constexpr qsizetype MaxHeadBytes = 64 * 1024;
    static constexpr int MaxHeadLines = 100;
    static constexpr int MaxInterimAnswers = 4;
    static constexpr qsizetype MaxChunkLine = 1024;
    static constexpr qsizetype MaxTrailerLine = 8 * 1024;
    // 15 hex digits: chunks under 2^60 bytes, far past anything real, far from overflow.
    static constexpr int MaxChunkSizeDigits = 15;

    // bodiless: the answer to a HEAD request.
    explicit AnswerReader(bool bodiless = false) : m_bodiless(bodiless) { }

    // How many bytes to take from the sender now; room: how much more decoded body the
    // caller will hold.
    qint64 wants(qint64 room) const;
    void feed(QByteArrayView bytes);
    // The sender closed: what is held is all there is.
    void close() { m_closed = true; }
    // Reads heads while whole ones are held; true once, when the final head is read
    // (before any of the body is decoded). A bodiless answer is then Done at once.
    bool readHead();
    // Decodes what is held into body until it holds room bytes.
    void decode(QByteArray *body, qint64 room);

    State state() const { return m_state; }
    int status() const { return m_status; } // 0 until the final head
    const Headers &headers() const { return m_headers; }
    QByteArray header(const QByteArray &name) const;
    Framing framing() const { return m_framing; }
    qint64 contentLength() const { return m_length; } // -1: not said
    qsizetype buffered() const { return m_raw.size(); }
    // Once the final head is read: whether the connection may carry another request
    // after this answer (HTTP/1.1, no Connection: close, a body that ends by itself).
    bool keepsOpen() const;

private:
    enum class Chunk { Size, Data, DataEnd, Trailers };
    bool parseHead(const QList<QByteArray> &lines);
    bool takeLine(QByteArray *line, qsizetype max);
    void fail();

    State m_state = State::Head;
    Framing m_framing = Framing::UntilClose;
    Chunk m_chunk = Chunk::Size;
    QByteArray m_raw; // received, not yet decoded
    qsizetype m_searched = 0;
    int m_status = 0;
    int m_interim = 0;
    int m_trailerLines = 0;
    Headers m_headers;
    qint64 m_length = -1;
    qint64 m_left = 0; // of the body or of the current chunk
    bool m_bodiless;
    bool m_closed = false;
    bool m_http11 = false;
};

// A piece of a chunked body as the server writes it, in three writes (size line, data,
// line end) so that the data itself is never copied. No data makes no chunk: an empty
// one would end the body.
template<class Write>
void writeChunk(const QByteArray &data, Write &&write)
{
    if (data.isEmpty())
        return;
    write(QByteArray::number(data.size(), 16) + "\r\n");
    write(data);
    write(QByteArrayLiteral("\r\n"));
}
inline constexpr QByteArrayView LastChunk = "0\r\n\r\n";

// The head of an answer as the server writes it. length < 0: not known (chunked, unless
// there is no body); a HEAD request's answer or a status without a body carries none.
struct AnswerHead
{
    QByteArray bytes;
    bool chunked = false;
    bool bodiless = false;
};
// keepOpen: the connection stays open after it (Connection: close otherwise).
HTTP_EXPORT AnswerHead answerHead(int status, const Headers &headers, qint64 length, bool headOnly,
                                  bool keepOpen = false);
HTTP_EXPORT QByteArray reasonPhrase(int status);

} // namespace http
