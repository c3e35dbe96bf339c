#include "sitemirror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

SiteMirror::SiteMirror(QString root)
    : m_root(QFileInfo(root).canonicalFilePath()),
      m_server([this](const http::Request &r, http::Responder s) { handle(r, s); })
{
}

bool SiteMirror::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QString SiteMirror::defaultRoot()
{
    return QStringLiteral(SITE_MIRROR_ROOT);
}

void SiteMirror::handle(const http::Request &request, http::Responder responder)
{
    ++m_requests;
    QByteArray target = request.target;
    const qsizetype q = target.indexOf('?');
    if (q >= 0)
        target.truncate(q);
    const QString path = QUrl::fromPercentEncoding(target);
    m_paths << path;
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith('/') || clean.contains(QLatin1String("/.."))) {
        responder.send(404, "text/html; charset=utf-8", "<h1>404 Not Found</h1>\n");
        return;
    }
    QFileInfo info(m_root + clean);
    const QString file = info.canonicalFilePath();
    if (file.isEmpty() || !file.startsWith(m_root + '/') || !info.isFile()) {
        responder.send(404, "text/html; charset=utf-8", "<h1>404 Not Found</h1>\n");
        return;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        responder.send(403, "text/plain", "forbidden\n");
        return;
    }
    responder.send(200, http::contentTypeFor(file), f.readAll());
}
