#include "wayback.h"

#include <QRegularExpression>

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
    const auto part = [&](int at, int fallback) {
        return timestamp.size() > at ? timestamp.mid(at, 2).toInt() : fallback;
    };
    return QDateTime(QDate(timestamp.left(4).toInt(), part(4, 1), part(6, 1)), QTime(part(8, 0), part(10, 0), part(12, 0)),
                     Qt::UTC);
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
