#pragma once

#include "server.h"

#include <QString>
#include <QStringList>

#include <memory>

// A stand-in for the content site: serves a folder over loopback HTTP, as a plain old
// web server would (no CORS headers, nothing but files). It can serve the same folder
// as a second host, which its pages name where they say $SECOND_HOST$.
class SiteMirror
{
public:
    explicit SiteMirror(QString root);
    ~SiteMirror();
    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    // The second host: the same port on another address if it is free, else any port.
    bool listenSecond(const QHostAddress &address = QHostAddress(QStringLiteral("127.0.0.2")));
    QString secondHost() const;
    quint16 port() const { return m_server.port(); }
    QString host() const { return QStringLiteral("%1:%2").arg(m_server.address().toString()).arg(port()); }
    QString errorString() const { return m_server.errorString(); }
    // For tests and benchmarks: a far site, as the wire would make it: delayMs when a
    // connection opens and before each answer; keepOpen: connections serve more than one
    // request, as most sites' do.
    void setFar(int delayMs, bool keepOpen = true);
    // Connections taken so far.
    int connections() const { return m_server.acceptedCount(); }
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
    std::unique_ptr<http::Server> m_second;
    int m_requests = 0;
    QStringList m_paths;
    QList<QByteArray> m_targets;
};
