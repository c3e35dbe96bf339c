#include "sitearchive.h"

#include "wayback.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace {

QByteArray httpDate(const QDateTime &t)
{
    return QLocale::c().toString(t.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

} // namespace

SiteArchive::SiteArchive(QString siteRoot, QString archiveDir, QStringList hosts)
    : m_siteRoot(QFileInfo(siteRoot).canonicalFilePath()), m_archiveDir(QFileInfo(archiveDir).canonicalFilePath()),
      m_server([this](const http::Request &r, http::Response *s) { handle(r, s); })
{
    for (const QString &h : hosts)
        m_hosts << QUrl(QStringLiteral("http://") + h)
                       .authority()
                       .toLower()
                       .remove(QRegularExpression(QStringLiteral(":80$")));
    QFile manifest(m_archiveDir + QStringLiteral("/captures.txt"));
    if (!manifest.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("no captures.txt in %1").arg(archiveDir);
        return;
    }
    for (const QByteArray &raw : manifest.readAll().split('\n')) {
        const QStringList words = QString::fromUtf8(raw).simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty() || words[0].startsWith(u'#'))
            continue;
        if (words[0] == QLatin1String("capture") && words.size() >= 2 && words[1].size() == 14
            && wayback::isTimestamp(words[1]))
            m_times.append({words[1], wayback::timeOf(words[1]), words.size() > 2 ? words[2] : QString()});
        else if (words[0] == QLatin1String("redirect") && words.size() == 3)
            m_redirects.insert(words[1], words[2]);
        else if (words[0] == QLatin1String("missing") && words.size() == 2)
            m_missing << words[1];
        else
            m_error = QStringLiteral("captures.txt: cannot read: %1").arg(QString::fromUtf8(raw));
    }
}

SiteArchive::~SiteArchive() = default;

void SiteArchive::setFar(int delayMs, bool keepOpen)
{
    http::Limits limits;
    limits.requestsPerConnection = keepOpen ? 1000 : 1;
    limits.connectDelayMs = delayMs;
    limits.answerDelayMs = delayMs;
    m_server.setLimits(limits);
}

bool SiteArchive::listen(quint16 port, const QHostAddress &address)
{
    return m_error.isEmpty() && !m_times.isEmpty() && m_server.listen(address, port);
}

QString SiteArchive::prefix() const
{
    return QStringLiteral("http://%1:%2/web/").arg(m_server.address().toString()).arg(m_server.port());
}

QString SiteArchive::defaultSiteRoot()
{
    return QStringLiteral(SITE_MIRROR_ROOT);
}

QString SiteArchive::defaultArchiveDir()
{
    return QStringLiteral(SITE_ARCHIVE_DIR);
}

// A file under root for a path of the site, never outside it.
QString SiteArchive::fileIn(const QString &root, const QString &path) const
{
    const QString clean = QDir::cleanPath(path);
    const QFileInfo info(root + clean);
    const QString file = info.canonicalFilePath();
    if (!clean.startsWith(u'/') || clean.contains(QLatin1String("/..")) || file.isEmpty()
        || !file.startsWith(root + u'/') || !info.isFile())
        return {};
    return file;
}

QList<SiteArchive::Found> SiteArchive::capturesOf(const QString &host, const QString &path) const
{
    QList<Found> found;
    if (!m_hosts.contains(host) || m_missing.contains(path))
        return found;
    for (const Time &t : m_times) {
        Found f{&t, {}, m_redirects.value(path)};
        if (f.redirect.isEmpty()) {
            if (!t.folder.isEmpty())
                f.file = fileIn(m_archiveDir + u'/' + t.folder, path);
            if (f.file.isEmpty())
                f.file = fileIn(m_siteRoot, path);
            if (f.file.isEmpty())
                continue;
        }
        found << f;
    }
    return found;
}

void SiteArchive::answerIndex(const QUrlQuery &query, http::Response *response) const
{
    if (query.queryItemValue(QStringLiteral("output")) != QLatin1String("json")
        || query.queryItemValue(QStringLiteral("matchType")) != QLatin1String("host"))
        return response->send(400, "text/plain", "only matchType=host and output=json here\n");
    const QString host = query.queryItemValue(QStringLiteral("url"))
                             .section(u'/', 0, 0)
                             .toLower()
                             .remove(QRegularExpression(QStringLiteral(":80$")));
    const QString from = query.queryItemValue(QStringLiteral("from")), to = query.queryItemValue(QStringLiteral("to"));
    const int limit = query.queryItemValue(QStringLiteral("limit")).toInt();
    // Every path the copy or a capture's own files hold, and the recorded redirects.
    QStringList paths = m_redirects.keys();
    QStringList roots{m_siteRoot};
    for (const Time &t : m_times)
        if (!t.folder.isEmpty())
            roots << m_archiveDir + u'/' + t.folder;
    for (const QString &root : std::as_const(roots))
        for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            paths << it.next().mid(root.size());
    paths.removeDuplicates();
    paths.sort();
    QJsonArray rows{QJsonArray{"timestamp", "original", "statuscode"}};
    for (const QString &path : std::as_const(paths))
        for (const Found &f : capturesOf(host, path)) {
            // A timestamp within from..to, each read as far as it goes.
            const QString &ts = f.time->timestamp;
            if ((!from.isEmpty() && ts.left(from.size()) < from) || (!to.isEmpty() && ts.left(to.size()) > to))
                continue;
            if (limit > 0 && rows.size() > limit)
                break;
            rows.append(QJsonArray{ts, QStringLiteral("http://") + host + path, f.redirect.isEmpty() ? "200" : "302"});
        }
    response->send(200, "application/json", QJsonDocument(rows).toJson(QJsonDocument::Compact));
}

void SiteArchive::handle(const http::Request &request, http::Response *response)
{
    if (request.target.startsWith("/cdx/search/cdx?")) {
        ++m_indexAsked;
        return answerIndex(QUrlQuery(QString::fromLatin1(request.target.mid(request.target.indexOf('?') + 1))),
                           response);
    }
    m_targets << request.target;
    const auto notHeld
        = [response] { response->send(404, "text/html; charset=utf-8", "<h1>Not in the archive</h1>\n"); };
    const QUrl prefixUrl(prefix());
    const std::optional<wayback::Capture> asked = wayback::readCaptureUrl(
        prefixUrl, QUrl(QStringLiteral("http://%1:%2").arg(m_server.address().toString()).arg(port())
                            + QString::fromLatin1(request.target),
                        QUrl::StrictMode));
    if (!asked)
        return notHeld();
    if (request.method != "GET" && request.method != "HEAD")
        return response->send(405, "text/plain", "method not allowed\n", {{"Allow", "GET, HEAD"}});
    const QUrl &original = asked->original;
    // Captures of the copy's files: no address with a query was ever captured.
    if (original.hasQuery())
        return notHeld();
    const QList<Found> captures = capturesOf(original.authority().toLower(), original.path(QUrl::FullyDecoded));
    if (captures.isEmpty())
        return notHeld();
    // The nearest to the time asked; the earlier of two as near.
    const QDateTime wanted = wayback::timeOf(asked->timestamp);
    const Found *nearest = &captures.first();
    for (const Found &f : captures)
        if (qAbs(f.time->when.secsTo(wanted)) < qAbs(nearest->time->when.secsTo(wanted)))
            nearest = &f;
    const QByteArray at = nearest->time->timestamp.toLatin1();
    const QByteArray captureOf = (prefix() + QString::fromLatin1(at) + asked->modifier + u'/').toLatin1();
    if (asked->timestamp != nearest->time->timestamp)
        return response->send(302, "text/plain", "found\n",
                              {{"Location", captureOf + original.toString(QUrl::FullyEncoded).toLatin1()}});
    const QByteArray memento = httpDate(nearest->time->when);
    const QByteArray orig = OriginalHeaderPrefix;
    if (!nearest->redirect.isEmpty()) {
        // To a path of the same site, or to a whole address.
        QUrl target = original;
        if (nearest->redirect.startsWith(u'/'))
            target.setPath(nearest->redirect);
        else
            target = QUrl(nearest->redirect, QUrl::StrictMode);
        const QByteArray to = target.toString(QUrl::FullyEncoded).toLatin1();
        return response->send(302, "text/html", "<a href=\"" + to + "\">moved</a>\n",
                              {{"Location", captureOf + to},
                               {"Memento-Datetime", memento},
                               {orig + "Location", to},
                               {orig + "Date", memento}});
    }
    const QByteArray type = http::contentTypeFor(nearest->file);
    const http::Headers headers{{"Memento-Datetime", memento}, {orig + "Content-Type", type}, {orig + "Date", memento}};
    QFile file(nearest->file);
    if (type.startsWith("text/html") && file.open(QIODevice::ReadOnly) && file.size() <= 1024 * 1024) {
        // As the site sent its pages: the second host where they name it.
        const QByteArray second = (m_hosts.value(1, m_hosts.value(0))).toLatin1();
        return response->send(200, type, file.readAll().replace("$SECOND_HOST$", second), headers);
    }
    http::Headers all = headers;
    all.prepend({"Content-Type", type});
    http::sendFile(response, all, nearest->file);
}
