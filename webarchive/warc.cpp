// WARC records: written one gzip member each, read back member by member, bounded.

#include "warc.h"

#include "gzmember.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace warc {

using detail::MemberReader;

namespace {

const QByteArray software = "photoforKP 1.00";

bool fail(QString *error, const char *why)
{
    if (error)
        *error = QString::fromLatin1(why);
    return false;
}

QByteArray findField(const Fields &fields, const QByteArray &name)
{
    for (const auto &f : fields)
        if (f.first.compare(name, Qt::CaseInsensitive) == 0)
            return f.second;
    return {};
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

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

qint64 parseHead(const char *data, qint64 size, qint64 limit, QByteArray *first, Fields *fields)
{
    QByteArrayView firstView;
    const qint64 length = walkHead(data, size, limit, &firstView, [fields](QByteArrayView name, QByteArrayView value, bool folded) {
        if (folded)
            fields->last().second += ' ' + value.toByteArray();
        else
            fields->append({name.toByteArray(), value.toByteArray()});
    });
    *first = firstView.toByteArray();
    return length;
}

std::optional<qint64> parseLength(QByteArrayView value)
{
    if (value.isEmpty() || value.size() > 18)
        return std::nullopt;
    qint64 n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

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

std::optional<WarcHead> readWarcHead(const char *data, qint64 size, const Limits &limits, QString *error)
{
    WarcHead h;
    const auto lengths = readWarcHeadWith(data, size, limits, error, [&h](QByteArrayView name, QByteArrayView value, bool folded) {
        if (folded)
            h.fields.last().second += ' ' + value.toByteArray();
        else
            h.fields.append({name.toByteArray(), value.toByteArray()});
    });
    if (!lengths)
        return std::nullopt;
    h.headLength = lengths->first;
    h.blockLength = lengths->second;
    return h;
}

std::optional<HeadView> readHeadView(const char *data, qint64 size, const Limits &limits, QString *error)
{
    HeadView h;
    const auto lengths = readWarcHeadWith(data, size, limits, error, [&h](QByteArrayView name, QByteArrayView value, bool folded) {
        if (folded || name.size() < 8)
            return;
        if (sameName(name, "WARC-Type"))
            h.type = value;
        else if (sameName(name, "WARC-Target-URI"))
            h.target = value;
        else if (sameName(name, "WARC-Date"))
            h.date = value;
        else if (sameName(name, "WARC-Payload-Digest"))
            h.digest = value;
        else if (sameName(name, "Content-Type"))
            h.contentType = value;
    });
    if (!lengths)
        return std::nullopt;
    h.headLength = lengths->first;
    h.blockLength = lengths->second;
    return h;
}

QByteArray isoDate(const QDateTime &when)
{
    const QDateTime t = (when.isValid() ? when : QDateTime::currentDateTimeUtc()).toUTC();
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toLatin1();
}

QByteArray timestampOf(QByteArrayView warcDate)
{
    QByteArray digits;
    for (const char c : warcDate) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c != '-' && c != ':' && c != 'T')
            break;
        if (digits.size() == 14)
            break;
    }
    return digits.size() == 14 ? digits : QByteArray();
}

QByteArray recordId()
{
    return "<urn:uuid:" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + '>';
}

QByteArray sha256(const QByteArray &data)
{
    return "sha256:" + QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// What a site sent may hold a CR or LF; in a head they would start a line of their own.
QByteArray oneLine(QByteArray value)
{
    return value.replace('\r', ' ').replace('\n', ' ');
}

QByteArray record(const QByteArray &type, const Fields &extra, const QByteArray &contentType, const QByteArray &block)
{
    QByteArray r = "WARC/1.1\r\nWARC-Type: " + type + "\r\n";
    for (const auto &f : extra)
        r += f.first + ": " + f.second + "\r\n";
    r += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(block.size()) + "\r\n\r\n";
    r += block;
    r += "\r\n\r\n";
    return r;
}

} // namespace

QByteArray Answer::header(const QByteArray &name) const
{
    return findField(headers, name);
}

QByteArray Record::field(const QByteArray &name) const
{
    return findField(fields, name);
}

// ---- Writer

Writer::~Writer()
{
    close();
}

bool Writer::open(const QString &path, QString *error)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("cannot open the archive file: ") + m_file.errorString();
        return false;
    }
    // Keeps every whole member; a crash mid-record leaves a torn one at the end.
    qint64 whole = 0;
    {
        MemberReader reader(m_file);
        for (;;) {
            // Nothing is kept of a member here, so its size needs no bound.
            const auto result = reader.next(0, std::numeric_limits<qint64>::max());
            if (result == MemberReader::Member) {
                whole = reader.offset + reader.length;
                continue;
            }
            if (result == MemberReader::ReadError) {
                if (error)
                    *error = QStringLiteral("cannot read the archive file: ") + m_file.errorString();
                m_file.close();
                return false;
            }
            if (result == MemberReader::NotGzip && reader.offset == 0) {
                m_file.close();
                return fail(error, "the file is not a .warc.gz file");
            }
            break;
        }
    }
    if (whole < m_file.size() && !m_file.resize(whole)) {
        if (error)
            *error = QStringLiteral("cannot cut the torn end off the archive file: ") + m_file.errorString();
        m_file.close();
        return false;
    }
    m_file.seek(whole);
    if (whole == 0) {
        const QByteArray fields = "software: " + software + "\r\nformat: WARC File Format 1.1\r\n";
        const QByteArray info = record("warcinfo",
                                       {{"WARC-Record-ID", recordId()},
                                        {"WARC-Date", isoDate({})},
                                        {"WARC-Filename", oneLine(QFileInfo(path).fileName().toUtf8())}},
                                       "application/warc-fields", fields);
        const QByteArray member = detail::gzipMember(info);
        if (member.isEmpty() || m_file.write(member) != member.size() || ::fsync(m_file.handle()) != 0) {
            if (error)
                *error = QStringLiteral("cannot write to the archive file: ") + m_file.errorString();
            m_file.resize(0);
            m_file.close();
            return false;
        }
    }
    return true;
}

bool Writer::append(const Answer &answer, QString *error)
{
    if (!m_file.isOpen())
        return fail(error, "the archive file is not open");
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + oneLine(answer.reason) + "\r\n";
    for (const auto &h : answer.headers) {
        // The bytes kept are whole and unframed: the length is written anew.
        if (h.first.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0
            || h.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
            continue;
        const QByteArray name = oneLine(h.first).replace(':', '-').trimmed();
        if (name.isEmpty())
            continue;
        head += name + ": " + oneLine(h.second) + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(answer.payload.size()) + "\r\n\r\n";
    // A record past what readers take would make the whole file refused when opened.
    const Limits limits;
    if (head.size() > limits.maxHeadBytes || head.size() + answer.payload.size() > limits.maxBlockBytes)
        return fail(error, "the answer is too large to keep in an archive file");
    const QByteArray block = head + answer.payload;

    const QUrl &url = answer.target;
    const QByteArray target = oneLine(url.toEncoded(QUrl::RemoveFragment));
    QByteArray requestPath = url.path(QUrl::FullyEncoded).toUtf8();
    if (requestPath.isEmpty())
        requestPath = "/";
    if (url.hasQuery())
        requestPath += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (url.port() != -1)
        host += ':' + QByteArray::number(url.port());
    const QByteArray requestBlock = oneLine(answer.method.isEmpty() ? QByteArray("GET") : answer.method) + ' '
        + oneLine(requestPath) + " HTTP/1.1\r\nHost: " + oneLine(host) + "\r\n\r\n";

    const QByteArray date = isoDate(answer.captured);
    const QByteArray responseId = recordId();
    const QByteArray response = record("response",
                                       {{"WARC-Record-ID", responseId},
                                        {"WARC-Date", date},
                                        {"WARC-Target-URI", target},
                                        {"WARC-Payload-Digest", sha256(answer.payload)},
                                        {"WARC-Block-Digest", sha256(block)}},
                                       "application/http; msgtype=response", block);
    const QByteArray request = record("request",
                                      {{"WARC-Record-ID", recordId()},
                                       {"WARC-Date", date},
                                       {"WARC-Target-URI", target},
                                       {"WARC-Concurrent-To", responseId},
                                       {"WARC-Payload-Digest", sha256({})},
                                       {"WARC-Block-Digest", sha256(requestBlock)}},
                                      "application/http; msgtype=request", requestBlock);
    const QByteArray members = detail::gzipMember(response) + detail::gzipMember(request);
    const qint64 before = m_file.size();
    m_file.seek(before);
    if (m_file.write(members) != members.size() || ::fsync(m_file.handle()) != 0) {
        const QString why = m_file.errorString();
        // What went out of this answer is cut off, so that the file stays whole.
        m_file.resize(before);
        m_file.seek(before);
        if (error)
            *error = QStringLiteral("cannot write to the archive file: ") + why;
        return false;
    }
    return true;
}

void Writer::close()
{
    if (m_file.isOpen())
        m_file.close();
}

// ---- Reading

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

std::optional<QList<IndexEntry>> scan(QIODevice &file, const QString &filename, const Limits &limits,
                                      QString *error)
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
