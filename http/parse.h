#pragma once

// What the server and the client share of reading HTTP/1.1 heads: both read only what
// the limits allow, with CRLF or bare LF line ends.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

namespace http::parse {

inline bool isToken(QByteArrayView s)
{
    if (s.isEmpty())
        return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
              || QByteArrayView("!#$%&'*+-.^_`|~").contains(c)))
            return false;
    return true;
}

inline bool isFieldValue(QByteArrayView s)
{
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

// Where a head ends (just past its blank line); -1 while it is incomplete. from: how
// much of the buffer was already searched, so that a head arriving a byte at a time
// costs no more than one arriving at once.
inline qsizetype headEnd(const QByteArray &buffer, qsizetype from = 0)
{
    for (qsizetype nl = buffer.indexOf('\n', qMax<qsizetype>(0, from - 3)); nl >= 0;
         nl = buffer.indexOf('\n', nl + 1)) {
        qsizetype next = nl + 1;
        if (next < buffer.size() && buffer[next] == '\r')
            ++next;
        if (next < buffer.size() && buffer[next] == '\n')
            return next + 1;
    }
    return -1;
}

// The head's lines, without their line ends and without the blank line.
inline QList<QByteArray> lines(const QByteArray &head)
{
    QList<QByteArray> result = head.split('\n');
    for (QByteArray &line : result)
        if (line.endsWith('\r'))
            line.chop(1);
    while (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

// "Name: value" with no folding, no space before the colon, no control characters.
inline bool headerField(const QByteArray &line, QPair<QByteArray, QByteArray> *field)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || !isToken(QByteArrayView(line).first(colon)) || !isFieldValue(line))
        return false;
    *field = {line.left(colon), line.mid(colon + 1).trimmed()};
    return true;
}

inline bool isDigits(QByteArrayView s, qsizetype maxDigits)
{
    if (s.isEmpty() || s.size() > maxDigits)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace http::parse
