#include "sitemirror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

SiteMirror::SiteMirror(QString root)
    : m_root(QFileInfo(root).canonicalFilePath()),
      m_server([this](const http::Request &r, http::Response *s) { handle(r, s); })
{ }

SiteMirror::~SiteMirror() = default;

void SiteMirror::setFar(int delayMs, bool keepOpen)
{
    http::Limits limits;
    limits.requestsPerConnection = keepOpen ? 1000 : 1;
    limits.connectDelayMs = delayMs;
    limits.answerDelayMs = delayMs;
    m_server.setLimits(limits);
}

bool SiteMirror::listen(quint16 port, const QHostAddress &address)
{
    return m_server.listen(address, port);
}

bool SiteMirror::listenSecond(const QHostAddress &address)
{
    m_second = std::make_unique<http::Server>([this](const http::Request &r, http::Response *s) { handle(r, s); });
    return m_second->listen(address, port()) || m_second->listen(address, 0);
}

QString SiteMirror::secondHost() const
{
    if (!m_second)
        return host();
    return QStringLiteral("%1:%2").arg(m_second->address().toString()).arg(m_second->port());
}

QString SiteMirror::defaultRoot()
{
    return QStringLiteral(SITE_MIRROR_ROOT);
}

void SiteMirror::handle(const http::Request &request, http::Response *response)
{
    ++m_requests;
    const QString path = QUrl::fromPercentEncoding(request.path());
    m_paths << path;
    m_targets << request.target;
    const QString clean = QDir::cleanPath(path);
    const QFileInfo info(m_root + clean);
    const QString file = info.canonicalFilePath();
    if (!clean.startsWith('/') || clean.contains(QLatin1String("/..")) || file.isEmpty()
        || !file.startsWith(m_root + '/') || !info.isFile()) {
        response->send(404, "text/html; charset=utf-8", "<h1>404 Not Found</h1>\n");
        return;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        response->send(405, "text/plain", "method not allowed\n", {{"Allow", "GET, HEAD"}});
        return;
    }
    const QByteArray type = http::contentTypeFor(file);
    if (type.startsWith("text/html")) {
        // Pages are small; the second host's address goes where they name it.
        QFile page(file);
        if (!page.open(QIODevice::ReadOnly) || page.size() > 1024 * 1024) {
            response->send(403, "text/plain", "forbidden\n");
            return;
        }
        response->send(200, type, page.readAll().replace("$SECOND_HOST$", secondHost().toLatin1()));
        return;
    }
    http::sendFile(response, {{"Content-Type", type}}, file);
}
