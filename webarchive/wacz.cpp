// Writing a WACZ (wacz/1.1.1) with libzip, and reading its JSON files.

#include "wacz.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimeZone>

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace warc {

namespace {

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

QString isoUtc(const QDateTime &when)
{
    return when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

QDateTime parseTime(const QString &text)
{
    if (text.size() == 14) {
        return QDateTime(QDate::fromString(text.left(8), QStringLiteral("yyyyMMdd")),
                         QTime::fromString(text.mid(8), QStringLiteral("HHmmss")), QTimeZone::utc());
    }
    return QDateTime::fromString(text, Qt::ISODate).toUTC();
}

QByteArray sha256Hex(const QByteArray &data)
{
    return "sha256:" + QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

} // namespace

std::optional<QList<Page>> readPages(const QByteArray &jsonl, const Limits &limits, QString *error)
{
    if (jsonl.size() > limits.maxIndexBytes)
        return fail(error, QStringLiteral("the list of pages is too large")), std::nullopt;
    QList<Page> pages;
    qsizetype pos = 0;
    while (pos < jsonl.size()) {
        qsizetype end = jsonl.indexOf('\n', pos);
        if (end < 0)
            end = jsonl.size();
        const QByteArray line = jsonl.mid(pos, end - pos).trimmed();
        pos = end + 1;
        if (line.isEmpty())
            continue;
        if (line.size() > limits.maxLineBytes)
            return fail(error, QStringLiteral("a line of the list of pages is too long")), std::nullopt;
        if (pages.size() >= limits.maxRecords)
            return fail(error, QStringLiteral("the list of pages is too long")), std::nullopt;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject())
            return fail(error, QStringLiteral("a line of the list of pages is not a JSON object")), std::nullopt;
        const QJsonObject o = doc.object();
        if (o.contains(QLatin1String("format")))
            continue; // the header line
        Page p;
        p.url = QUrl(o.value(QLatin1String("url")).toString(), QUrl::StrictMode);
        p.captured = parseTime(o.value(QLatin1String("ts")).toString());
        p.title = o.value(QLatin1String("title")).toString();
        if (!p.url.isValid() || p.url.isRelative() || !p.captured.isValid())
            return fail(error, QStringLiteral("a page lacks a valid url or ts")), std::nullopt;
        pages.append(p);
    }
    return pages;
}

std::optional<Datapackage> readDatapackage(const QByteArray &json, const Limits &limits, QString *error)
{
    if (json.size() > limits.maxIndexBytes)
        return fail(error, QStringLiteral("the datapackage.json is too large")), std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return fail(error, QStringLiteral("the datapackage.json is not a JSON object")), std::nullopt;
    const QJsonObject o = doc.object();
    Datapackage d;
    d.profile = o.value(QLatin1String("profile")).toString();
    d.waczVersion = o.value(QLatin1String("wacz_version")).toString();
    d.created = parseTime(o.value(QLatin1String("created")).toString());
    d.software = o.value(QLatin1String("software")).toString();
    const QJsonArray resources = o.value(QLatin1String("resources")).toArray();
    if (resources.size() > limits.maxRecords)
        return fail(error, QStringLiteral("the datapackage.json lists too many files")), std::nullopt;
    for (const QJsonValue &v : resources) {
        const QJsonObject r = v.toObject();
        Resource res;
        res.name = r.value(QLatin1String("name")).toString();
        res.path = r.value(QLatin1String("path")).toString();
        res.hash = r.value(QLatin1String("hash")).toString().toLatin1();
        const double bytes = r.value(QLatin1String("bytes")).toDouble(-1);
        if (res.path.isEmpty() || bytes < 0 || bytes > 9.0e15)
            return fail(error, QStringLiteral("a file the datapackage.json lists lacks its path or size")),
                   std::nullopt;
        res.bytes = qint64(bytes);
        d.resources.append(res);
    }
    return d;
}

bool writeWacz(const QString &path, const QString &warcGz, const QList<Page> &pages, QString *error)
{
    QFile warc(warcGz);
    if (!warc.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot read the WARC file: ") + warc.errorString());
    // Our own file, but it may be large: the limits of a reader hold.
    const Limits limits;
    QString why;
    const auto entries = scan(warc, QStringLiteral("data.warc.gz"), limits, &why);
    if (!entries)
        return fail(error, QStringLiteral("the WARC file cannot be indexed: ") + why);
    QCryptographicHash warcHash(QCryptographicHash::Sha256);
    warc.seek(0);
    if (!warcHash.addData(&warc))
        return fail(error, QStringLiteral("cannot read the WARC file: ") + warc.errorString());
    const qint64 warcBytes = warc.size();
    warc.close();

    QList<QByteArray> lines;
    lines.reserve(entries->size());
    for (const IndexEntry &e : *entries)
        lines.append(cdxjLine(e));
    // Whole lines in byte order: the key, then the timestamp, as readers search them
    // (a space sorts before every character a key holds).
    std::sort(lines.begin(), lines.end());
    QByteArray index;
    for (const QByteArray &l : lines)
        index += l + '\n';

    QByteArray pagesJsonl = "{\"format\":\"json-pages-1.0\",\"id\":\"pages\",\"title\":\"All Pages\"}\n";
    for (const Page &p : pages) {
        QJsonObject o{{QStringLiteral("url"), QString::fromUtf8(p.url.toEncoded())},
                      {QStringLiteral("ts"), isoUtc(p.captured)}};
        if (!p.title.isEmpty())
            o.insert(QStringLiteral("title"), p.title);
        pagesJsonl += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    }

    QJsonArray resources;
    const auto resource = [&](const QString &entryPath, const QByteArray &hash, qint64 bytes) {
        resources.append(QJsonObject{{QStringLiteral("name"), QFileInfo(entryPath).fileName()},
                                     {QStringLiteral("path"), entryPath},
                                     {QStringLiteral("hash"), QString::fromLatin1(hash)},
                                     {QStringLiteral("bytes"), double(bytes)}});
    };
    resource(QStringLiteral("archive/data.warc.gz"), "sha256:" + warcHash.result().toHex(), warcBytes);
    resource(QStringLiteral("indexes/index.cdxj"), sha256Hex(index), index.size());
    resource(QStringLiteral("pages/pages.jsonl"), sha256Hex(pagesJsonl), pagesJsonl.size());
    const QJsonObject package{{QStringLiteral("profile"), QStringLiteral("data-package")},
                              {QStringLiteral("wacz_version"), QStringLiteral("1.1.1")},
                              {QStringLiteral("title"), QFileInfo(path).completeBaseName()},
                              {QStringLiteral("created"), isoUtc(QDateTime::currentDateTimeUtc())},
                              {QStringLiteral("software"), QStringLiteral("photoforKP 1.00")},
                              {QStringLiteral("resources"), resources}};
    const QByteArray datapackage = QJsonDocument(package).toJson(QJsonDocument::Indented);
    const QByteArray digest
        = QJsonDocument(QJsonObject{{QStringLiteral("path"), QStringLiteral("datapackage.json")},
                                    {QStringLiteral("hash"), QString::fromLatin1(sha256Hex(datapackage))}})
              .toJson(QJsonDocument::Indented);

    // Beside path, so that the rename stays on one file system and is atomic.
    const QString temporary
        = path + QStringLiteral(".%1.part").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QByteArray tempName = QFile::encodeName(temporary);
    int zipError = 0;
    zip_t *zip = zip_open(tempName.constData(), ZIP_CREATE | ZIP_EXCL, &zipError);
    if (!zip) {
        zip_error_t e;
        zip_error_init_with_code(&e, zipError);
        const QString text = QString::fromLocal8Bit(zip_error_strerror(&e));
        zip_error_fini(&e);
        return fail(error, QStringLiteral("cannot create the WACZ file: ") + text);
    }
    const auto zipFail = [&](const char *what) {
        const QString text = QString::fromLocal8Bit(zip_strerror(zip));
        zip_discard(zip);
        QFile::remove(temporary);
        return fail(error, QString::fromLatin1(what) + text);
    };
    const auto addBuffer = [&](const char *name, const QByteArray &data, bool store) {
        zip_source_t *source = zip_source_buffer(zip, data.constData(), zip_uint64_t(data.size()), 0);
        if (!source)
            return false;
        const zip_int64_t i = zip_file_add(zip, name, source, ZIP_FL_ENC_UTF_8);
        if (i < 0) {
            zip_source_free(source);
            return false;
        }
        return zip_set_file_compression(zip, zip_uint64_t(i), store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) == 0;
    };
    const QByteArray warcName = QFile::encodeName(warcGz);
    zip_source_t *warcSource = zip_source_file(zip, warcName.constData(), 0, warcBytes);
    if (!warcSource)
        return zipFail("cannot add the WARC file to the WACZ: ");
    const zip_int64_t warcIndex = zip_file_add(zip, "archive/data.warc.gz", warcSource, ZIP_FL_ENC_UTF_8);
    if (warcIndex < 0) {
        zip_source_free(warcSource);
        return zipFail("cannot add the WARC file to the WACZ: ");
    }
    // Stored, so that the index's offsets are offsets into the entry's bytes.
    if (zip_set_file_compression(zip, zip_uint64_t(warcIndex), ZIP_CM_STORE, 0) != 0
        || !addBuffer("indexes/index.cdxj", index, false) || !addBuffer("pages/pages.jsonl", pagesJsonl, false)
        || !addBuffer("datapackage.json", datapackage, false) || !addBuffer("datapackage-digest.json", digest, false))
        return zipFail("cannot build the WACZ: ");
    if (zip_close(zip) != 0)
        return zipFail("cannot write the WACZ file: ");
    if (std::rename(tempName.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString text = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(temporary);
        return fail(error, QStringLiteral("cannot put the WACZ file in place: ") + text);
    }
    return true;
}

} // namespace warc
