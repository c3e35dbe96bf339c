#include "wayback.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrlQuery>

#include <algorithm>

namespace wayback {

bool isTimestamp(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9]{4}(?:[0-9]{2}){0,5}$"));
    if (!shape.match(text).hasMatch())
        return false;
    const auto part = [&](int at, int fallback) { return text.size() > at ? text.mid(at, 2).toInt() : fallback; };
    return QDate(text.left(4).toInt(), part(4, 1), part(6, 1)).isValid() && part(8, 0) < 24 && part(10, 0) < 60
           && part(12, 0) < 60;
}

QDateTime timeOf(const QString &timestamp)
{
    if (!isTimestamp(timestamp))
        return {};
    const auto part
        = [&](int at, int fallback) { return timestamp.size() > at ? timestamp.mid(at, 2).toInt() : fallback; };
    return QDateTime(QDate(timestamp.left(4).toInt(), part(4, 1), part(6, 1)),
                     QTime(part(8, 0), part(10, 0), part(12, 0)), Qt::UTC);
}

std::optional<QUrl> readPrefix(const QString &text)
{
    QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()
        || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    if (!url.path().endsWith(u'/'))
        url.setPath(url.path() + u'/');
    return url;
}

QString originalOf(const QUrl &url)
{
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty() || !url.userInfo().isEmpty())
        return {};
    QUrl original = url.adjusted(QUrl::RemoveFragment);
    original.setHost(original.host().toLower());
    if (original.port() == 80)
        original.setPort(-1);
    if (original.path().isEmpty())
        original.setPath(QStringLiteral("/"));
    return original.toString(QUrl::FullyEncoded);
}

namespace {

QUrl underPrefix(const QUrl &prefix, const QString &timestamp, const QString &modifier, const QUrl &original)
{
    const QString address = originalOf(original);
    if (address.isEmpty() || !isTimestamp(timestamp))
        return {};
    return QUrl(prefix.toString(QUrl::FullyEncoded) + timestamp + modifier + u'/' + address, QUrl::StrictMode);
}

} // namespace

QUrl captureUrl(const QUrl &prefix, const QString &timestamp, const QUrl &original)
{
    return underPrefix(prefix, timestamp, QStringLiteral("id_"), original);
}

QUrl replayUrl(const QUrl &prefix, const QString &timestamp, const QUrl &original)
{
    return underPrefix(prefix, timestamp, {}, original);
}

std::optional<Capture> readCaptureUrl(const QUrl &prefix, const QUrl &url)
{
    const QString start = prefix.toString(QUrl::FullyEncoded);
    const QString whole = url.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
    if (!whole.startsWith(start))
        return std::nullopt;
    static const QRegularExpression shape(QStringLiteral("^([0-9]{4,14})([a-z]{2}_)?/(.+)$"));
    const QRegularExpressionMatch m = shape.match(whole.mid(start.size()));
    if (!m.hasMatch() || !isTimestamp(m.captured(1)))
        return std::nullopt;
    QString address = m.captured(3);
    // Archives take the original with its scheme, with one slash of it lost on the way,
    // or without one.
    static const QRegularExpression http1(QStringLiteral("^http:/(?!/)"), QRegularExpression::CaseInsensitiveOption);
    address.replace(http1, QStringLiteral("http://"));
    if (!address.contains(QLatin1String("://")))
        address.prepend(QStringLiteral("http://"));
    const QString original = originalOf(QUrl(address, QUrl::StrictMode));
    if (original.isEmpty())
        return std::nullopt;
    return Capture{m.captured(1), m.captured(2), QUrl(original)};
}

std::optional<QUrl> indexEndpoint(const QUrl &prefix)
{
    const QString path = prefix.path();
    QUrl endpoint = prefix.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (path.endsWith(QLatin1String("/web/"))) {
        endpoint.setPath(QStringLiteral("/cdx/search/cdx"));
        return endpoint;
    }
    static const QRegularExpression collection(QStringLiteral("^/[A-Za-z0-9._-]+/$"));
    if (!collection.match(path).hasMatch())
        return std::nullopt;
    endpoint.setPath(path + QStringLiteral("cdx"));
    return endpoint;
}

namespace {

QString stamp(const QDateTime &t)
{
    return t.toUTC().toString(QStringLiteral("yyyyMMddhhmmss"));
}

} // namespace

QPair<QDateTime, QDateTime> indexWindow(const QString &date)
{
    const QDateTime at = timeOf(date);
    return {at.addDays(-366), at.addDays(366)};
}

QUrl indexQuery(const QUrl &endpoint, const QUrl &site, const QString &date, int maxLines)
{
    const auto [from, to] = indexWindow(date);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("url"), site.authority(QUrl::FullyEncoded).toLower() + u'/');
    query.addQueryItem(QStringLiteral("matchType"), QStringLiteral("host"));
    query.addQueryItem(QStringLiteral("from"), stamp(from));
    query.addQueryItem(QStringLiteral("to"), stamp(to));
    query.addQueryItem(QStringLiteral("fl"), QStringLiteral("timestamp,original,statuscode"));
    query.addQueryItem(QStringLiteral("limit"), QString::number(maxLines));
    query.addQueryItem(QStringLiteral("output"), QStringLiteral("json"));
    QUrl url = endpoint;
    url.setQuery(query);
    return url;
}

std::optional<QHash<QString, QString>> readIndex(const QByteArray &json, const QString &date, int maxLines)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray rows = document.array();
    if (rows.size() > maxLines + 1)
        return std::nullopt;
    QHash<QString, QString> chosen;
    if (rows.isEmpty())
        return chosen;
    // The first row names the fields.
    const QJsonArray names = rows.first().toArray();
    qsizetype ts = -1, orig = -1, status = -1;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString n = names[i].toString();
        if (n == QLatin1String("timestamp"))
            ts = i;
        else if (n == QLatin1String("original"))
            orig = i;
        else if (n == QLatin1String("statuscode"))
            status = i;
    }
    if (ts < 0 || orig < 0)
        return std::nullopt;
    const QDateTime at = timeOf(date);
    const auto [from, to] = indexWindow(date);
    // Nearer than any capture outside the window can be.
    const qint64 trusted = std::min(qAbs(at.secsTo(from)), qAbs(at.secsTo(to)));
    QHash<QString, qint64> distance;
    for (qsizetype r = 1; r < rows.size(); ++r) {
        const QJsonArray row = rows[r].toArray();
        const QString timestamp = row.at(ts).toString();
        const QString code = status >= 0 ? row.at(status).toString() : QString();
        if (timestamp.size() != 14 || !isTimestamp(timestamp) || code.startsWith(u'5'))
            continue;
        const QString original = originalOf(QUrl(row.at(orig).toString(), QUrl::StrictMode));
        if (original.isEmpty())
            continue;
        const QDateTime when = timeOf(timestamp);
        const qint64 d = qAbs(when.secsTo(at));
        const auto known = distance.constFind(original);
        if (d > trusted
            || (known != distance.constEnd()
                && (d > *known || (d == *known && timeOf(chosen.value(original)) <= when))))
            continue;
        distance.insert(original, d);
        chosen.insert(original, timestamp);
    }
    return chosen;
}

QDateTime mementoTime(const QByteArray &header)
{
    // HTTP's own date form: "Tue, 03 May 2011 23:15:00 GMT".
    static const QRegularExpression shape(
        QStringLiteral("^[A-Z][a-z]{2}, ([0-9]{2}) ([A-Z][a-z]{2}) ([0-9]{4}) ([0-9]{2}):([0-9]{2}):([0-9]{2}) GMT$"));
    static const QStringList months{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QRegularExpressionMatch m = shape.match(QString::fromLatin1(header.trimmed()));
    if (!m.hasMatch())
        return {};
    const QDate day(m.captured(3).toInt(), int(months.indexOf(m.captured(2))) + 1, m.captured(1).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!day.isValid() || !time.isValid())
        return {};
    return QDateTime(day, time, Qt::UTC);
}

QString label(const QDateTime &captured)
{
    const QDate d = captured.toUTC().date();
    return QStringLiteral("存档副本 · %1年%2月%3日").arg(d.year()).arg(d.month()).arg(d.day());
}

} // namespace wayback
