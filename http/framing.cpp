#include "framing.h"

#include "parse.h"

namespace http {

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

RequestReader::RequestReader(const Limits &limits, const QList<QByteArray> &allowedHosts)
    : m_limits(limits), m_allowedHosts(allowedHosts)
{ }

qint64 RequestReader::wants() const
{
    switch (m_state) {
    case State::Head:
        return qMax<qint64>(0, m_limits.maxHeaderBytes + 4 - m_buffer.size());
    case State::Body:
        return qMax<qint64>(0, m_bodyLength - m_buffer.size());
    default:
        return 0;
    }
}

void RequestReader::feed(QByteArrayView bytes)
{
    if (m_state == State::Done || m_state == State::Refused) {
        m_trailing += bytes.size();
        return;
    }
    const qsizetype searched = m_buffer.size();
    m_buffer += bytes;
    if (m_state == State::Head) {
        const qsizetype end = parse::headEnd(m_buffer, searched);
        if (end < 0) {
            if (m_buffer.size() > m_limits.maxHeaderBytes)
                refuse(431, "request header too large\n");
            return;
        }
        if (end > m_limits.maxHeaderBytes)
            return refuse(431, "request header too large\n");
        const QByteArray head = m_buffer.left(end);
        m_buffer.remove(0, end);
        if (!parseHead(head))
            return;
        m_state = State::Body;
    }
    if (m_buffer.size() < m_bodyLength)
        return;
    m_request.body = m_buffer.left(m_bodyLength);
    m_trailing = m_buffer.size() - m_bodyLength;
    m_buffer = QByteArray();
    m_state = State::Done;
}

void RequestReader::refuse(int status, const char *why)
{
    m_state = State::Refused;
    m_refusal = status;
    m_why = why;
    m_buffer = QByteArray();
}

bool RequestReader::parseHead(const QByteArray &head)
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
    if (!m_allowedHosts.isEmpty()) {
        bool known = false;
        for (const QByteArray &h : m_allowedHosts)
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

qint64 AnswerReader::wants(qint64 room) const
{
    if (m_state == State::Head)
        return qMax<qint64>(0, MaxHeadBytes + 4 - m_raw.size());
    if (m_state != State::Body)
        return 0;
    if (m_framing == Framing::Chunked && m_chunk != Chunk::Data) {
        const qsizetype max = m_chunk == Chunk::Trailers ? MaxTrailerLine : MaxChunkLine;
        return m_raw.contains('\n') ? 0 : qMax<qint64>(0, max + 1 - m_raw.size());
    }
    if (!m_raw.isEmpty())
        return 0;
    return qMax<qint64>(0, m_framing == Framing::Length ? qMin(room, m_left) : room);
}

void AnswerReader::feed(QByteArrayView bytes)
{
    if (m_state == State::Head || m_state == State::Body)
        m_raw += bytes;
}

QByteArray AnswerReader::header(const QByteArray &name) const
{
    for (const auto &[key, value] : m_headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

void AnswerReader::fail()
{
    m_state = State::Failed;
    m_raw = QByteArray();
}

bool AnswerReader::readHead()
{
    while (m_state == State::Head) {
        const qsizetype end = parse::headEnd(m_raw, m_searched);
        if (end < 0 || end > MaxHeadBytes) {
            m_searched = m_raw.size();
            if (m_raw.size() > MaxHeadBytes || m_closed)
                fail();
            return false;
        }
        const QList<QByteArray> lines = parse::lines(m_raw.left(end));
        m_raw.remove(0, end);
        m_searched = 0;
        if (!parseHead(lines)) {
            fail();
            return false;
        }
        if (m_status == 0 && ++m_interim > MaxInterimAnswers) {
            fail();
            return false;
        }
        if (m_status != 0) {
            m_state = State::Body;
            if (m_bodiless || m_status == 204 || m_status == 304 || (m_framing == Framing::Length && m_left == 0))
                m_state = State::Done;
            return true;
        }
    }
    return false;
}

// One head; an interim one leaves the status at 0.
bool AnswerReader::parseHead(const QList<QByteArray> &lines)
{
    const QList<QByteArray> status = lines.value(0).split(' ');
    if (lines.size() > MaxHeadLines + 1 || status.size() < 2 || !status[0].startsWith("HTTP/1.")
        || !parse::isDigits(status[1], 3) || status[1].toInt() < 100 || status[1].toInt() > 599
        || status[1].toInt() == 101)
        return false;
    Headers headers;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QPair<QByteArray, QByteArray> field;
        if (!parse::headerField(lines[i], &field))
            return false;
        headers.append(field);
    }
    const int code = status[1].toInt();
    if (code < 200)
        return true;
    // How the body ends: chunked, a stated length, or the connection's close.
    QByteArray length;
    bool encoded = false;
    for (const auto &[name, value] : headers) {
        if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            m_framing = value.toLower().trimmed().endsWith("chunked") ? Framing::Chunked : Framing::UntilClose;
            encoded = encoded || !value.isEmpty();
        }
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            if ((!length.isNull() && length != value) || !parse::isDigits(value, 18))
                return false;
            length = value;
        }
    }
    if (m_framing != Framing::Chunked && !length.isNull() && !encoded) {
        m_framing = Framing::Length;
        m_length = m_left = length.toLongLong();
    }
    m_status = code;
    m_headers = headers;
    m_http11 = status[0] == "HTTP/1.1";
    return true;
}

bool AnswerReader::keepsOpen() const
{
    if (!m_http11 || m_status == 0 || (m_framing == Framing::UntilClose && !(m_bodiless || m_status == 204 || m_status == 304)))
        return false;
    for (const QByteArray &token : header("Connection").toLower().split(','))
        if (token.trimmed() == "close")
            return false;
    return true;
}

bool AnswerReader::takeLine(QByteArray *line, qsizetype max)
{
    const qsizetype nl = QByteArrayView(m_raw).first(qMin(m_raw.size(), max + 1)).indexOf('\n');
    if (nl < 0) {
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

namespace {

// The size of a chunk-size line, before any extension: hex digits only, and so few that
// no sum of them can overflow; -1 for anything else.
qint64 chunkSize(const QByteArray &line)
{
    QByteArrayView hex(line);
    if (const qsizetype semicolon = hex.indexOf(';'); semicolon >= 0)
        hex = hex.first(semicolon);
    hex = hex.trimmed();
    if (hex.isEmpty())
        return -1;
    while (hex.size() > 1 && hex.front() == '0')
        hex = hex.sliced(1);
    if (hex.size() > AnswerReader::MaxChunkSizeDigits)
        return -1;
    qint64 size = 0;
    for (char c : hex) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        size = size * 16 + digit;
    }
    return size;
}

} // namespace

void AnswerReader::decode(QByteArray *body, qint64 room)
{
    while (m_state == State::Body && body->size() < room) {
        if (m_framing == Framing::UntilClose) {
            if (m_raw.isEmpty())
                break;
            const qsizetype take = qMin<qint64>(m_raw.size(), room - body->size());
            *body += QByteArrayView(m_raw).first(take);
            m_raw.remove(0, take);
        } else if (m_framing == Framing::Length || m_chunk == Chunk::Data) {
            if (m_raw.isEmpty())
                break;
            const qsizetype take = qMin(qMin<qint64>(m_left, m_raw.size()), room - body->size());
            *body += QByteArrayView(m_raw).first(take);
            m_raw.remove(0, take);
            m_left -= take;
            if (m_left == 0 && m_framing == Framing::Length) {
                m_state = State::Done;
                m_raw = QByteArray();
            } else if (m_left == 0) {
                m_chunk = Chunk::DataEnd;
            }
        } else {
            QByteArray line;
            if (!takeLine(&line, m_chunk == Chunk::Trailers ? MaxTrailerLine : MaxChunkLine))
                break;
            if (m_chunk == Chunk::Size) {
                const qint64 size = chunkSize(line);
                if (size < 0)
                    return fail();
                m_left = size;
                m_chunk = size == 0 ? Chunk::Trailers : Chunk::Data;
            } else if (m_chunk == Chunk::DataEnd) {
                if (!line.isEmpty())
                    return fail();
                m_chunk = Chunk::Size;
            } else if (line.isEmpty()) {
                m_state = State::Done; // the last chunk and its trailers
                m_raw = QByteArray();
            } else if (++m_trailerLines > MaxHeadLines) {
                return fail();
            }
        }
    }
    // Stopped for want of bytes after the sender closed (an unfinished chunk line
    // included): nothing more comes, so it is cut short, never taken as whole, unless
    // the close is what ends it.
    if (m_state == State::Body && m_closed && body->size() < room) {
        if (m_framing == Framing::UntilClose)
            m_state = State::Done;
        else
            fail();
    }
}

AnswerHead answerHead(int status, const Headers &headers, qint64 length, bool headOnly, bool keepOpen)
{
    AnswerHead head;
    head.bodiless = headOnly || status == 204 || status == 304;
    head.bytes = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[k, v] : headers)
        head.bytes += k + ": " + v + "\r\n";
    if (status == 204 || status == 304) {
        // no length: a 304 must not tell a cache the stored answer's length is 0
    } else if (length >= 0) {
        head.bytes += "Content-Length: " + QByteArray::number(length) + "\r\n";
    } else if (!head.bodiless) {
        head.bytes += "Transfer-Encoding: chunked\r\n";
        head.chunked = true;
    }
    head.bytes += keepOpen ? "\r\n" : "Connection: close\r\n\r\n";
    return head;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}

} // namespace http
