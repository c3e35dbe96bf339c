#pragma once

// What the readers and the writer of WARC records share: the walk over a record's head
// (its fields as views into the bytes, no copies) and the checks on its length. Internal
// to the layer.

#include "warc.h"

#include <QByteArrayView>

#include <cstring>

namespace warc::detail {

bool fail(QString *error, const char *why);
QByteArray findField(const Fields &fields, const QByteArray &name);
bool sameName(QByteArrayView a, QByteArrayView b);

// A head's lines up to its blank line: "Name: value" fields after a first line, each
// handed to field(name, value, folded) as views into data. Takes lines ended by CRLF or
// a bare LF, as foreign writers send either. Returns the head's length with its blank
// line, 0 if the blank line is not within limit, -1 if malformed.
template<typename Field>
qint64 walkHead(const char *data, qint64 size, qint64 limit, QByteArrayView *first, Field &&field)
{
    const qint64 n = qMin(size, limit);
    qint64 pos = 0;
    bool firstLine = true;
    bool anyField = false;
    while (pos < n) {
        const char *nl = static_cast<const char *>(std::memchr(data + pos, '\n', size_t(n - pos)));
        if (!nl)
            return 0;
        const qint64 end = nl - data;
        qint64 lineEnd = end;
        if (lineEnd > pos && data[lineEnd - 1] == '\r')
            --lineEnd;
        const QByteArrayView line(data + pos, qsizetype(lineEnd - pos));
        pos = end + 1;
        if (firstLine) {
            if (line.isEmpty())
                return -1;
            *first = line;
            firstLine = false;
            continue;
        }
        if (line.isEmpty())
            return pos;
        if ((line.front() == ' ' || line.front() == '\t') && anyField) {
            field(QByteArrayView(), line.trimmed(), true); // an old-style folded line
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return -1;
        field(line.first(colon).trimmed(), line.sliced(colon + 1).trimmed(), false);
        anyField = true;
    }
    return 0;
}

qint64 parseHead(const char *data, qint64 size, qint64 limit, QByteArray *first, Fields *fields);
std::optional<qint64> parseLength(QByteArrayView value);

struct WarcHead
{
    qint64 headLength = 0;
    qint64 blockLength = 0;
    Fields fields;
};

// What a scan needs of a WARC head, as views into the bytes read.
struct HeadView
{
    qint64 headLength = 0;
    qint64 blockLength = 0;
    QByteArrayView type, target, date, digest, contentType;
};

// The WARC head at data, its fields handed to field(); *error says why it is none.

// The WARC head at data, its fields handed to field(); *error says why it is none.
template<typename Field>
std::optional<QPair<qint64, qint64>> readWarcHeadWith(const char *data, qint64 size, const Limits &limits,
                                                      QString *error, Field &&field)
{
    QByteArrayView first;
    QByteArrayView length;
    const qint64 headLength = walkHead(data, size, limits.maxHeadBytes, &first,
                                       [&](QByteArrayView name, QByteArrayView value, bool folded) {
                                           if (!folded && sameName(name, "Content-Length"))
                                               length = value;
                                           field(name, value, folded);
                                       });
    if (headLength == 0 && size >= limits.maxHeadBytes)
        return fail(error, "a record's head is too long"), std::nullopt;
    if (headLength == 0)
        return fail(error, "a record's head is cut short"), std::nullopt;
    if (headLength < 0 || !first.startsWith("WARC/"))
        return fail(error, "a record does not start with a WARC head"), std::nullopt;
    const auto blockLength = parseLength(length);
    if (!blockLength)
        return fail(error, "a record's Content-Length is missing or not a number"), std::nullopt;
    if (*blockLength > limits.maxBlockBytes)
        return fail(error, "a record's content is too large"), std::nullopt;
    return QPair<qint64, qint64>(headLength, *blockLength);
}

std::optional<WarcHead> readWarcHead(const char *data, qint64 size, const Limits &limits, QString *error);
std::optional<HeadView> readHeadView(const char *data, qint64 size, const Limits &limits, QString *error);
// The 14 digits of a WARC-Date; empty if it has not them.
QByteArray timestampOf(QByteArrayView warcDate);

} // namespace warc::detail
