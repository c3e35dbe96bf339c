// SURT keys and CDXJ lines, as the archivists' indexers write them: the key, a 14-digit
// timestamp, and a JSON object whose numbers are strings.

#include "warc.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace warc {

QString surt(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QString::fromUtf8(url.toEncoded());
    QString host = url.host(QUrl::FullyEncoded).toLower();
    // "www.", "www2." and the like name the same site.
    if (host.startsWith(QLatin1String("www"))) {
        qsizetype i = 3;
        while (i < host.size() && host.at(i).isDigit())
            ++i;
        if (i < host.size() && host.at(i) == QLatin1Char('.'))
            host = host.mid(i + 1);
    }
    QStringList labels = host.split(QLatin1Char('.'));
    std::reverse(labels.begin(), labels.end());
    QString key = labels.join(QLatin1Char(','));
    const int port = url.port();
    if (port != -1 && !(scheme == QLatin1String("http") && port == 80)
        && !(scheme == QLatin1String("https") && port == 443))
        key += QLatin1Char(':') + QString::number(port);
    key += QLatin1Char(')');
    const QString path = url.path(QUrl::FullyEncoded).toLower();
    key += path.isEmpty() ? QStringLiteral("/") : path;
    const QString query = url.query(QUrl::FullyEncoded).toLower();
    if (!query.isEmpty()) {
        QStringList fields = query.split(QLatin1Char('&'));
        std::sort(fields.begin(), fields.end());
        key += QLatin1Char('?') + fields.join(QLatin1Char('&'));
    }
    return key;
}

namespace {

void appendJsonString(QByteArray &out, const QByteArray &utf8)
{
    out += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (uchar(c) < 0x20) {
                char esc[8];
                qsnprintf(esc, sizeof esc, "\\u%04x", uchar(c));
                out += esc;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

bool fail(QString *error, const char *why)
{
    if (error)
        *error = QString::fromLatin1(why);
    return false;
}

// A number the indexers write as a string ("1043"), or as a number.
std::optional<qint64> jsonCount(const QJsonValue &v)
{
    if (v.isString()) {
        bool ok = false;
        const qint64 n = v.toString().toLongLong(&ok);
        return ok && n >= 0 ? std::optional(n) : std::nullopt;
    }
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (d >= 0 && d < 9.0e15 && d == double(qint64(d)))
            return qint64(d);
    }
    return std::nullopt;
}

} // namespace

QByteArray cdxjLine(const IndexEntry &entry)
{
    QByteArray out = entry.urlKey.toUtf8() + ' ' + entry.timestamp.toLatin1() + " {\"url\":";
    appendJsonString(out, entry.url);
    if (!entry.mime.isEmpty()) {
        out += ",\"mime\":";
        appendJsonString(out, entry.mime);
    }
    out += ",\"status\":\"" + QByteArray::number(entry.status) + '"';
    if (!entry.digest.isEmpty()) {
        out += ",\"digest\":";
        appendJsonString(out, entry.digest);
    }
    out += ",\"length\":\"" + QByteArray::number(entry.length) + "\",\"offset\":\"" + QByteArray::number(entry.offset)
           + "\",\"filename\":";
    appendJsonString(out, entry.filename.toUtf8());
    out += '}';
    return out;
}

std::optional<IndexEntry> readCdxjLine(const QByteArray &line, const Limits &limits, QString *error)
{
    if (line.size() > limits.maxLineBytes)
        return fail(error, "an index line is too long"), std::nullopt;
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    const qsizetype keyEnd = text.indexOf(' ');
    const qsizetype tsEnd = keyEnd > 0 ? text.indexOf(' ', keyEnd + 1) : -1;
    if (keyEnd <= 0 || tsEnd < 0)
        return fail(error, "an index line is not a key, a timestamp and a JSON object"), std::nullopt;
    const QByteArray ts = text.mid(keyEnd + 1, tsEnd - keyEnd - 1);
    if (ts.size() != 14 || !std::all_of(ts.begin(), ts.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return fail(error, "an index line's timestamp is not 14 digits"), std::nullopt;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text.mid(tsEnd + 1), &parseError);
    if (!doc.isObject())
        return fail(error, "an index line's JSON is not an object"), std::nullopt;
    const QJsonObject o = doc.object();
    IndexEntry e;
    e.urlKey = QString::fromUtf8(text.left(keyEnd));
    e.timestamp = QString::fromLatin1(ts);
    e.url = o.value(QLatin1String("url")).toString().toUtf8();
    e.filename = o.value(QLatin1String("filename")).toString();
    const auto offset = jsonCount(o.value(QLatin1String("offset")));
    const auto length = jsonCount(o.value(QLatin1String("length")));
    if (e.url.isEmpty() || e.filename.isEmpty() || !offset || !length)
        return fail(error, "an index line lacks its url, filename, offset or length"), std::nullopt;
    e.offset = *offset;
    e.length = *length;
    const QJsonValue status = o.value(QLatin1String("status"));
    const auto code = jsonCount(status);
    e.status = code && *code < 1000 ? int(*code) : 0; // "-" and absent: no HTTP status
    e.mime = o.value(QLatin1String("mime")).toString().toUtf8();
    e.digest = o.value(QLatin1String("digest")).toString().toUtf8();
    return e;
}

} // namespace warc
