#pragma once

// The one routing to a web archive, shared by the guard (the engine's connections) and
// the relay (what movies load): which sites come from the archive, how one of its
// captures is opened, and when the pages it gave were captured. Both serve on threads
// of their own, so every function may be called from any thread.

#include "capturereply.h"
#include "guard_export.h"
#include "recorder.h"

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QNetworkProxy>
#include <QSet>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace wayback {

// The archive the command line gave, for every engine of the run (set once at start).
struct RunArchive
{
    Archive archive;
    bool everything = false; // every http site from it, not only those whose link failed
    // The user's proxy to it: found the first time the archive is asked for (the
    // desktop's setting may take a moment to read). None set: straight there.
    std::function<QNetworkProxy()> findProxy;
    // Where what the archive gives is kept (--save-copy); none: nowhere.
    std::shared_ptr<Recorder> recorder;
};
GUARD_EXPORT void setRunArchive(const RunArchive &run);
GUARD_EXPORT RunArchive runArchive();

// Bounds on a site's list of captures (the archive's index).
struct IndexLimits
{
    qint64 maxBytes = 2 * 1024 * 1024;
    int maxLines = 20000;
    int timeoutMs = 10000;
};

class GUARD_EXPORT Routing : public std::enable_shared_from_this<Routing>
{
public:
    static constexpr int MaxSites = 256;
    static constexpr int MaxCaptures = 256;
    static constexpr int MaxIndexedSites = 16;
    static constexpr int MaxIndexedCaptures = 50000; // in all: about 10 MB at most

    // Finds the address to connect to for the archive's host and port, judged as every
    // connection of the program's is; done gets it, or the failure.
    using Resolve = std::function<void(const QString &host, quint16 port, QObject *context,
                                       std::function<void(const QHostAddress &address, Failure failure)> done)>;
    explicit Routing(Resolve resolve);
    // The resolver's owner is going: nothing more is opened.
    void detach();

    void setArchive(const Archive &archive, bool everything);
    Archive archive() const;
    bool isSet() const { return archive().isSet(); }
    bool archivesEverything() const;
    // This site (host and port) from the archive from now on.
    void addSite(const QUrl &url);
    // A service of the program's own (the player host): always itself, never archived,
    // and never the archive either.
    void keepLive(const QHostAddress &address, quint16 port);
    bool fromArchive(const QString &host, quint16 port) const;
    bool fromArchive(const QUrl &url) const;

    // The capture of original nearest the run's date, as the site's answer. Once the
    // archive's index of the site is known, at the capture's own timestamp; until then,
    // or for an address it does not list, by the archive's redirect to its nearest. The
    // first address of a site asks for its index.
    CaptureReply *open(const QUrl &original, const QByteArray &method, QObject *parent);

    // Where the site's index is learnt: an object in a thread that runs for as long as
    // the routing may be asked (the guard's). None: no index, every file by redirect.
    void setHome(QObject *home);
    void setIndexLimits(const IndexLimits &limits);
    enum class Index { Unknown, Asking, Known, Failed };
    Index indexOf(const QUrl &site) const;
    // The capture the index chose for original; empty if none.
    QString indexedTimestamp(const QUrl &original) const;

    // When the archive captured the page last fetched for url (UTC); invalid if none.
    void noteCapture(const QUrl &url, const QDateTime &captured);
    QDateTime capturedFor(const QUrl &url) const;

    // Every whole capture the archive gives is kept there from now on.
    void setRecorder(std::shared_ptr<Recorder> recorder);
    std::shared_ptr<Recorder> recorder() const;

    // How long a busy archive is waited for (tests shorten it).
    void setPacing(const Pacing &pacing);
    // The user's proxy to the archive, as RunArchive::findProxy finds it. Through it the
    // archive's name is looked up by the proxy, never here.
    void setProxy(std::function<QNetworkProxy()> findProxy);

private:
    void connect(const QUrl &url, const QByteArray &method, QObject *context,
                 std::function<void(http::Reply *, Failure)> opened);
    static QString key(const QString &host, quint16 port);
    // A service of ours listens on this loopback port.
    bool isLive(quint16 port) const;
    void learnIndex(const QString &site, const QUrl &query, const Archive &archive, const IndexLimits &limits);
    void indexLearnt(const QString &site, const Archive &archive, const std::optional<QHash<QString, QString>> &chosen);

    mutable QMutex m_lock; // for all that follows
    Resolve m_resolve;
    Archive m_archive;
    bool m_everything = false;
    QSet<QString> m_sites;
    QSet<QString> m_live;
    QHash<QString, QDateTime> m_captures;
    Pacing m_pacing;
    std::function<QNetworkProxy()> m_findProxy;
    std::optional<QNetworkProxy> m_proxy;
    QObject *m_home = nullptr;
    IndexLimits m_indexLimits;
    QHash<QString, Index> m_index; // by site
    QHash<QString, QString> m_timestamps; // original: the capture chosen
    std::shared_ptr<Recorder> m_recorder;
};

} // namespace wayback
