#pragma once

#include "httpserver.h"
#include "viewers_export.h"

#include <QByteArray>
#include <QHash>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

// Serves the album player (our shell page and the emulator's files) on 127.0.0.1 under
// a per-run secret path, and relays the movie's requests to their origin. Movies thus
// load from any http address, relative loads included, whether or not their server
// allows cross-origin reads, as a desktop player loads them. Requests without the secret
// get nothing.
class VIEWERS_EXPORT PlayerHost
{
public:
    explicit PlayerHost(QString emulatorDir = defaultEmulatorDir());
    bool start();
    bool isRunning() const { return m_running; }

    // The shell page playing movie; the link is carried as data, never as markup.
    QUrl playerUrl(const QString &movie) const;
    QString base() const;

    static QString defaultEmulatorDir();

private:
    void handle(const http::Request &request, http::Responder responder);
    void relay(const QByteArray &rest, http::Responder responder);
    void serveEmulatorFile(const QString &name, http::Responder responder);

    QString m_emulatorDir;
    QByteArray m_token;
    http::Server m_server;
    QNetworkAccessManager m_network;
    QHash<QString, QByteArray> m_fileCache;
    bool m_running = false;
};
