#pragma once

#include "server.h"

#include <QString>
#include <QStringList>

// A stand-in for the content site: serves a folder over loopback HTTP, as a plain old
// web server would (no CORS headers, nothing but files).
class SiteMirror
{
public:
    explicit SiteMirror(QString root);
    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const { return m_server.port(); }
    QString host() const { return QStringLiteral("%1:%2").arg(m_server.address().toString()).arg(port()); }
    QString errorString() const { return m_server.errorString(); }
    // Number of requests answered, for tests that check what was fetched.
    int requests() const { return m_requests; }
    QStringList paths() const { return m_paths; }
    // The same with their queries, as sent.
    QList<QByteArray> targets() const { return m_targets; }

    // The committed site, as found from the build tree.
    static QString defaultRoot();

private:
    void handle(const http::Request &request, http::Response *response);
    QString m_root;
    http::Server m_server;
    int m_requests = 0;
    QStringList m_paths;
    QList<QByteArray> m_targets;
};
