#pragma once

#include "server.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

// A web archive on loopback that speaks the Wayback scheme, holding captures of the site
// copy: /web/TIMESTAMP[MODIFIER]/ORIGINAL. A partial or inexact timestamp is answered
// with a redirect (302) to the nearest capture; an exact one with the capture's raw bytes,
// its original content type, Memento-Datetime, and the headers the site sent under
// X-Archive-Orig-. An address it does not hold answers 404. What it holds is in
// archive/captures.txt: the capture times, the files of a capture that differ from the
// copy, an address that redirected when captured, and addresses never captured.
class SiteArchive
{
public:
    // hosts: the originals' host[:port] it holds the copy for; the first is the site, and
    // the copy's pages name the second where they say $SECOND_HOST$.
    SiteArchive(QString siteRoot, QString archiveDir, QStringList hosts);
    ~SiteArchive();
    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const { return m_server.port(); }
    QString prefix() const; // http://ADDRESS:PORT/web/
    QString errorString() const { return m_error.isEmpty() ? m_server.errorString() : m_error; }
    // What was asked for, as sent (tests check that only originals are asked for).
    QList<QByteArray> targets() const { return m_targets; }
    // For tests and benchmarks: a far site, as the wire would make it: delayMs when a
    // connection opens and before each answer; keepOpen: connections serve more than one
    // request, as most sites' do.
    void setFar(int delayMs, bool keepOpen = true);
    // Connections taken so far.
    int connections() const { return m_server.acceptedCount(); }
    // How often its index of captures (the CDX server API) was asked for.
    int indexAsked() const { return m_indexAsked; }

    static QString defaultSiteRoot();
    static QString defaultArchiveDir();
    static constexpr char OriginalHeaderPrefix[] = "X-Archive-Orig-";

private:
    struct Time
    {
        QString timestamp; // 14 digits
        QDateTime when;
        QString folder; // its own files, over the copy's; empty: none
    };
    struct Found
    {
        const Time *time = nullptr;
        QString file; // what it holds there; or
        QString redirect; // where it led
    };
    void handle(const http::Request &request, http::Response *response);
    // The CDX server API's answer for one host's captures, as JSON rows.
    void answerIndex(const QUrlQuery &query, http::Response *response) const;
    QList<Found> capturesOf(const QString &host, const QString &path) const;
    QString fileIn(const QString &root, const QString &path) const;

    QString m_siteRoot;
    QString m_archiveDir;
    QStringList m_hosts;
    QList<Time> m_times;
    QHash<QString, QString> m_redirects; // path: path
    QStringList m_missing;
    QString m_error;
    http::Server m_server;
    QList<QByteArray> m_targets;
    int m_indexAsked = 0;
};
