#pragma once

// Web-archive files (WARC, ISO 28500): HTTP answers kept as records, one gzip member per
// record, so that a record can be read at its offset and a torn file loses only its last
// record. A file from someone else is hostile: every size and count read from it is
// bounded, and what cannot be taken is refused with one line saying why.

#include "webarchive_export.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <optional>

class QIODevice;

namespace warc {

using Fields = QList<QPair<QByteArray, QByteArray>>; // name, value; in order, as sent

struct Limits
{
    qint64 maxHeadBytes = 64 * 1024; // a record's WARC head, and the HTTP head inside it
    qint64 maxBlockBytes = 256LL * 1024 * 1024; // one record's content block
    qint64 maxRecords = 2000000; // in one file
    qint64 maxLineBytes = 16 * 1024; // one line of an index
    qint64 maxIndexBytes = 512LL * 1024 * 1024; // a WACZ's index, or its list of pages
};

// An HTTP answer as the site sent it: what a web archive's raw capture gives.
struct Answer
{
    QUrl target; // the original address
    QDateTime captured; // UTC
    QByteArray method = "GET";
    int status = 200;
    QByteArray reason = "OK";
    Fields headers; // the site's
    QByteArray payload; // as sent, still content-encoded if Content-Encoding says so
    QByteArray header(const QByteArray &name) const; // case-insensitive; empty if none
};

// Appends answers to a .warc.gz: a request and a response record each, one gzip member
// per record, flushed to the disk before append returns.
class WEBARCHIVE_EXPORT Writer
{
public:
    Writer() = default;
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;
    ~Writer();
    // Opens path to add to it, creating it if absent. What a crash left there is kept:
    // its whole records stay, a torn last one is cut off. On failure, error says why.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    // The head written is the site's, without Transfer-Encoding, and with a
    // Content-Length for the payload as recorded.
    bool append(const Answer &answer, QString *error);
    void close();

private:
    QFile m_file;
};

struct IndexEntry
{
    QString urlKey; // the SURT form of url
    QString timestamp; // 14 digits, UTC
    QByteArray url; // as the record names it
    int status = 0;
    QByteArray mime;
    QByteArray digest; // the record's payload digest without its "sha256:", as indexes keep it
    qint64 offset = 0; // of the record (its gzip member) in its file
    qint64 length = 0; // of the same, in the file
    QString filename; // its file; in a WACZ the name under archive/
    int source = -1; // which file of a Collection holds it (Collection::nearest sets it)
};

// The SURT key archives sort by: "com,example)/path?query", the host's labels reversed,
// "www." dropped, lower case, the query's fields sorted.
WEBARCHIVE_EXPORT QString surt(const QUrl &url);
// One line of a CDXJ index, and back (nothing, with why, for a line that is not one).
WEBARCHIVE_EXPORT QByteArray cdxjLine(const IndexEntry &entry);
WEBARCHIVE_EXPORT std::optional<IndexEntry> readCdxjLine(const QByteArray &line, const Limits &limits,
                                                         QString *error);

// The response (and resource) records of a .warc.gz or a .warc, read from the start of
// file; a whole-file gzip stream of several records is refused.
WEBARCHIVE_EXPORT std::optional<QList<IndexEntry>> scan(QIODevice &file, const QString &filename,
                                                        const Limits &limits, QString *error);

struct Record
{
    Fields fields; // the WARC head
    QByteArray block; // the content block
    QByteArray field(const QByteArray &name) const; // case-insensitive; empty if none
};
// The record at offset of a .warc.gz or a .warc (the device must be seekable).
WEBARCHIVE_EXPORT std::optional<Record> readRecordAt(QIODevice &file, qint64 offset, const Limits &limits,
                                                     QString *error);
// The answer a response record holds; a chunked payload is undone.
WEBARCHIVE_EXPORT std::optional<Answer> answerOf(const Record &record, const Limits &limits, QString *error);

} // namespace warc
