// WARC records written one gzip member each, flushed to the disk per answer.

#include "warc.h"

#include "gzmember.h"
#include "heads.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QUuid>

#include <limits>
#include <unistd.h>

namespace warc {

using namespace detail;

namespace {

const QByteArray software = "photoforKP 1.00";

QByteArray isoDate(const QDateTime &when)
{
    const QDateTime t = (when.isValid() ? when : QDateTime::currentDateTimeUtc()).toUTC();
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toLatin1();
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

} // namespace warc
