#include "sitemirror.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

SiteMirror::SiteMirror(QString root)
    : m_root(QFileInfo(root).canonicalFilePath()),
      m_server([this](const http::Request &r, http::Response *s) { handle(r, s); })
{
}

bool SiteMirror::listen(quint16 port, const QHostAddress &address)
{
    return m_server.listen(address, port);
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
    http::sendFile(response, {{"Content-Type", http::contentTypeFor(file)}}, file);
}
