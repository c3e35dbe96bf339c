// WARC records read back: one at an offset, or a whole file scanned into index entries
// member by member, every size bounded.

#include "warc.h"

#include "gzmember.h"
#include "heads.h"

#include <algorithm>

namespace warc {

using namespace detail;
using detail::MemberReader;

std::optional<Record> readRecordAt(QIODevice &file, qint64 offset, const Limits &limits, QString *error)
{
    if (offset < 0 || !file.seek(offset))
        return fail(error, "a record's offset is outside the file"), std::nullopt;
    char magic[2];
    if (file.read(magic, 2) != 2 || !file.seek(offset))
        return fail(error, "a record's offset is outside the file"), std::nullopt;
    const qint64 maxRecord = limits.maxHeadBytes + limits.maxBlockBytes + 4;
    QByteArray data;
    if (detail::isGzip(magic, 2)) {
        MemberReader reader(file, 64 * 1024);
        switch (reader.next(maxRecord, maxRecord)) {
        case MemberReader::Member:
            break;
        case MemberReader::TooLarge:
            return fail(error, "a record's content is too large"), std::nullopt;
        case MemberReader::ReadError:
            return fail(error, "the file cannot be read"), std::nullopt;
        case MemberReader::Torn:
        case MemberReader::End:
            return fail(error, "a record's gzip member is cut short"), std::nullopt;
        default:
            return fail(error, "a record's gzip member is corrupt"), std::nullopt;
        }
        data = QByteArray(reader.kept(), qsizetype(reader.keptSize()));
    } else {
        data = file.read(limits.maxHeadBytes);
    }
    const auto head = readWarcHead(data.constData(), data.size(), limits, error);
    if (!head)
        return std::nullopt;
    const qint64 need = head->headLength + head->blockLength;
    if (!detail::isGzip(magic, 2) && data.size() < need) {
        const qint64 already = data.size();
        data.resize(qsizetype(need));
        if (file.read(data.data() + already, need - already) != need - already)
            return fail(error, "a record's content is cut short"), std::nullopt;
    }
    if (data.size() < need)
        return fail(error, "a record's content is cut short"), std::nullopt;
    Record r;
    r.fields = head->fields;
    r.block = data.mid(head->headLength, head->blockLength);
    return r;
}

namespace {

struct HttpHead
{
    qint64 length = 0;
    int status = 0;
    QByteArray reason;
    Fields headers;
};

std::optional<HttpHead> readHttpHead(const char *data, qint64 size, const Limits &limits, QString *error)
{
    HttpHead h;
    QByteArray first;
    h.length = parseHead(data, size, limits.maxHeadBytes, &first, &h.headers);
    if (h.length == 0 && size >= limits.maxHeadBytes)
        return fail(error, "an answer's HTTP head is too long"), std::nullopt;
    if (h.length <= 0 || !first.startsWith("HTTP/"))
        return fail(error, "a response record does not hold an HTTP answer"), std::nullopt;
    const QList<QByteArray> parts = first.split(' ');
    bool ok = false;
    h.status = parts.size() >= 2 && parts.at(1).size() == 3 ? parts.at(1).toInt(&ok) : 0;
    if (!ok || h.status < 100)
        return fail(error, "an answer's status line is malformed"), std::nullopt;
    const qsizetype reasonStart = first.indexOf(' ', first.indexOf(' ') + 1);
    h.reason = reasonStart > 0 ? first.mid(reasonStart + 1) : QByteArray();
    return h;
}

// Undoes chunked framing; nothing if it is broken.
std::optional<QByteArray> dechunk(const QByteArray &body)
{
    QByteArray out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype nl = body.indexOf('\n', pos);
        if (nl < 0)
            return std::nullopt;
        QByteArray size = body.mid(pos, nl - pos).trimmed();
        const qsizetype ext = size.indexOf(';');
        if (ext >= 0)
            size = size.left(ext).trimmed();
        bool ok = false;
        const qint64 n = size.size() <= 15 ? size.toLongLong(&ok, 16) : -1;
        if (!ok || n < 0 || size.startsWith('+') || size.startsWith('-'))
            return std::nullopt;
        pos = nl + 1;
        if (n == 0)
            return out; // trailers, if any, are dropped
        if (n > body.size() - pos)
            return std::nullopt;
        out += body.mid(pos, qsizetype(n));
        pos += qsizetype(n);
        if (body.mid(pos, 2) == "\r\n")
            pos += 2;
        else if (body.mid(pos, 1) == "\n")
            pos += 1;
        else
            return std::nullopt;
    }
}

} // namespace

std::optional<Answer> answerOf(const Record &record, const Limits &limits, QString *error)
{
    const QByteArray type = record.field("WARC-Type");
    Answer a;
    QByteArray target = record.field("WARC-Target-URI");
    if (target.startsWith('<') && target.endsWith('>'))
        target = target.mid(1, target.size() - 2);
    a.target = QUrl::fromEncoded(target);
    a.captured = QDateTime::fromString(QString::fromLatin1(record.field("WARC-Date")), Qt::ISODate).toUTC();
    if (!a.target.isValid() || !a.captured.isValid())
        return fail(error, "a record lacks a valid target address or date"), std::nullopt;
    if (type == "resource") {
        // A resource is the payload alone: answered as a plain 200 of its type.
        a.headers = {{"Content-Type", record.field("Content-Type")},
                     {"Content-Length", QByteArray::number(record.block.size())}};
        a.payload = record.block;
        return a;
    }
    if (type != "response")
        return fail(error, "the record is not a response"), std::nullopt;
    const auto head = readHttpHead(record.block.constData(), record.block.size(), limits, error);
    if (!head)
        return std::nullopt;
    a.status = head->status;
    a.reason = head->reason;
    a.headers = head->headers;
    a.payload = record.block.mid(qsizetype(head->length));
    if (a.header("Transfer-Encoding").toLower().contains("chunked")) {
        const auto body = dechunk(a.payload);
        if (!body)
            return fail(error, "an answer's chunked payload is malformed"), std::nullopt;
        a.payload = *body;
        a.headers.removeIf([](const QPair<QByteArray, QByteArray> &h) {
            return h.first.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0
                   || h.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
        });
        a.headers.append({"Content-Length", QByteArray::number(a.payload.size())});
    }
    return a;
}

// ---- Scanning

namespace {

// The index entry of a record whose head (and, for a response, HTTP head) is in data;
// nothing for records that are not indexed.
std::optional<IndexEntry> entryOf(const HeadView &head, const char *data, qint64 size, const Limits &limits)
{
    if (head.type != "response" && head.type != "resource")
        return std::nullopt;
    IndexEntry e;
    QByteArrayView target = head.target;
    if (target.startsWith('<') && target.endsWith('>'))
        target = target.sliced(1, target.size() - 2);
    const QByteArray ts = timestampOf(head.date);
    if (target.isEmpty() || ts.isEmpty())
        return std::nullopt;
    e.url = target.toByteArray();
    e.urlKey = surt(QUrl::fromEncoded(e.url));
    e.timestamp = QString::fromLatin1(ts);
    const qsizetype colon = head.digest.indexOf(':');
    e.digest = (colon >= 0 ? head.digest.sliced(colon + 1) : head.digest).toByteArray();
    const auto mimeOf = [](QByteArrayView contentType) {
        const qsizetype semicolon = contentType.indexOf(';');
        return (semicolon >= 0 ? contentType.first(semicolon) : contentType).trimmed().toByteArray();
    };
    if (head.type == "resource") {
        e.status = 200;
        e.mime = mimeOf(head.contentType);
        return e;
    }
    const qint64 blockSize = qMax<qint64>(0, qMin(size - head.headLength, head.blockLength));
    QByteArrayView first;
    QByteArrayView contentType;
    const qint64 httpLength = walkHead(data + head.headLength, blockSize, limits.maxHeadBytes, &first,
                                       [&contentType](QByteArrayView name, QByteArrayView value, bool folded) {
                                           if (!folded && sameName(name, "Content-Type"))
                                               contentType = value;
                                       });
    // "HTTP/1.1 200 ...": a record that holds no answer is not indexed.
    const qsizetype space = first.indexOf(' ');
    if (httpLength <= 0 || !first.startsWith("HTTP/") || space < 0 || first.size() < space + 4)
        return std::nullopt;
    const QByteArrayView code = first.sliced(space + 1, 3);
    if (!std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    e.status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    e.mime = mimeOf(contentType);
    return e;
}

std::optional<QList<IndexEntry>> scanGzip(QIODevice &file, const QString &filename, const Limits &limits,
                                          QString *error)
{
    QList<IndexEntry> entries;
    MemberReader reader(file);
    const qint64 keep = limits.maxHeadBytes * 2;
    const qint64 maxOut = limits.maxHeadBytes + limits.maxBlockBytes + 4;
    for (qint64 count = 0;; ++count) {
        const auto result = reader.next(keep, maxOut);
        if (result == MemberReader::End)
            return entries;
        switch (result) {
        case MemberReader::Member:
            break;
        case MemberReader::TooLarge:
            return fail(error, "a record's content is too large"), std::nullopt;
        case MemberReader::Torn:
            return fail(error, "the file ends inside a record"), std::nullopt;
        case MemberReader::NotGzip:
            return fail(error, "the file holds bytes that are not a gzip member"), std::nullopt;
        case MemberReader::ReadError:
            return fail(error, "the file cannot be read"), std::nullopt;
        default:
            return fail(error, "a record's gzip member is corrupt"), std::nullopt;
        }
        if (count >= limits.maxRecords)
            return fail(error, "the file holds too many records"), std::nullopt;
        const auto head = readHeadView(reader.kept(), reader.keptSize(), limits, error);
        if (!head)
            return std::nullopt;
        const qint64 recordBytes = head->headLength + head->blockLength;
        if (reader.inflated < recordBytes)
            return fail(error, "a record's content is cut short"), std::nullopt;
        // Past the block's CRLF CRLF, a member holds more records: one gzip stream for the
        // whole file, which cannot be read at an offset.
        if (reader.inflated > recordBytes + 4)
            return fail(error, "the file is one gzip stream of several records, not one member per record"),
                   std::nullopt;
        auto entry = entryOf(*head, reader.kept(), reader.keptSize(), limits);
        if (entry) {
            entry->offset = reader.offset;
            entry->length = reader.length;
            entry->filename = filename;
            entries.append(*entry);
        }
    }
}

std::optional<QList<IndexEntry>> scanPlain(QIODevice &file, const QString &filename, const Limits &limits,
                                           QString *error)
{
    QList<IndexEntry> entries;
    qint64 offset = file.pos();
    for (qint64 count = 0;; ++count) {
        if (!file.seek(offset))
            return fail(error, "the file cannot be read"), std::nullopt;
        const QByteArray data = file.read(limits.maxHeadBytes * 2);
        qsizetype skip = 0; // the blank lines between records
        while (skip < data.size() && (data.at(skip) == '\r' || data.at(skip) == '\n'))
            ++skip;
        if (skip == data.size())
            return entries;
        if (count >= limits.maxRecords)
            return fail(error, "the file holds too many records"), std::nullopt;
        offset += skip;
        const auto head = readHeadView(data.constData() + skip, data.size() - skip, limits, error);
        if (!head)
            return std::nullopt;
        const qint64 recordBytes = head->headLength + head->blockLength;
        if (offset + recordBytes > file.size())
            return fail(error, "the file ends inside a record"), std::nullopt;
        auto entry = entryOf(*head, data.constData() + skip, data.size() - skip, limits);
        if (entry) {
            entry->offset = offset;
            entry->length = recordBytes; // the blank lines after it count to no record, as indexers have it
            entry->filename = filename;
            entries.append(*entry);
        }
        offset += recordBytes;
    }
}

} // namespace

std::optional<QList<IndexEntry>> scan(QIODevice &file, const QString &filename, const Limits &limits, QString *error)
{
    if (!file.seek(0))
        return fail(error, "the file cannot be read"), std::nullopt;
    char magic[2];
    const qint64 got = file.read(magic, 2);
    if (got <= 0)
        return fail(error, "the file is empty"), std::nullopt;
    if (!file.seek(0))
        return fail(error, "the file cannot be read"), std::nullopt;
    if (detail::isGzip(magic, got))
        return scanGzip(file, filename, limits, error);
    if (magic[0] != 'W')
        return fail(error, "the file is neither a .warc.gz nor a .warc file"), std::nullopt;
    return scanPlain(file, filename, limits, error);
}

} // namespace warc
