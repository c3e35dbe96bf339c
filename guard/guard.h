#pragma once

// The one guard for every connection the browser engine makes: a loopback HTTP proxy
// (plain requests and CONNECT) that resolves each name itself, judges the address it
// got (addresses.h) and connects to that very address, so that no name, spelling,
// redirect, frame, worker or socket of a page reaches anything else on this machine
// or its network. The engine is started with it as its only proxy, loopback included.
// It serves on a thread of its own, so a busy window never holds the engine's traffic;
// every public function may be called from any thread.

#include "addresses.h"
#include "archiverouting.h"
#include "names.h"
#include "outcomes.h"
#include "guard_export.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>

class QTcpServer;

namespace guard {

class Connection;

class GUARD_EXPORT Guard : public QObject
{
    Q_OBJECT
public:
    explicit Guard(QObject *parent = nullptr);
    ~Guard() override;
    // On 127.0.0.1, a free port.
    bool start();
    bool isRunning() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    // Adds an exact address and port to the rule's allow-list.
    void allow(const QHostAddress &address, quint16 port);
    // The rule as it stands, for other judges (the relay's).
    Judge judge() const;

    // For tests only (the program never calls it): a name the guard resolves to address
    // without asking DNS, as a test's resolver would. "name" or "*.suffix"; a name mapped
    // again has each address.
    void mapNameForTests(const QString &pattern, const QHostAddress &address);

    // Why the last connection to a host and port failed, if it did lately (outcomes.h).
    using Outcome = guard::Outcome;
    Outcome outcomeFor(const QUrl &url) const;
    // The outcome for a capture the archive could not give (status: the reply's).
    static Outcome archiveOutcome(wayback::Failure failure, int status);

    // Whether host, looked up now, leads only to the internet (for what leaves the
    // program: the desktop's browser would look it up again).
    void resolvePublic(const QString &host, quint16 port, QObject *context, std::function<void(bool)> done);

    // Whether a connection that reached a service of this machine from peer:peerPort is
    // one of the guard's own (the only way the engine reaches such a service).
    bool isOwnConnection(const QHostAddress &peer, quint16 peerPort) const;

    // A web archive: the sites it answers for (every http site of the run, or those
    // added one by one to its routing) are never asked themselves, nor their names looked
    // up; their addresses are asked of the archive instead, and an https address of
    // theirs is refused. Its own address, if it is written as one, joins the allow-list.
    void setArchive(const wayback::Archive &archive, bool everything);
    // The archive's routing, shared with the relay; it reaches the archive through this
    // guard's rule.
    wayback::Routing &routing() const { return *m_routing; }
    std::shared_ptr<wayback::Routing> sharedRouting() const { return m_routing; }

    int connectionCount() const { return m_connections.load(); }
    // Connections refused by the rule so far (tests watch it).
    int refusals() const { return m_refusals.load(); }

    static constexpr int MaxConnections = 256;
    static constexpr qsizetype MaxHeadBytes = 64 * 1024;
    static constexpr int MaxHeadLines = 100;
    static constexpr int HeadTimeoutMs = 10000;
    static constexpr int ConnectTimeoutMs = 30000;

signals:
    void refused(const QString &host, quint16 port);

private:
    friend class Connection;
    void accept();
    // Resolves host (a name or an address) and calls back with the first address the
    // rule allows, or the outcome that stopped it.
    void resolve(const QString &host, quint16 port, QObject *context,
                 std::function<void(const QHostAddress &, Outcome)> done);
    void note(const QString &host, quint16 port, Outcome outcome);
    void ownPort(quint16 port, bool open);

    QThread m_thread;
    QObject *m_home = nullptr; // in m_thread: the server and the connections
    QTcpServer *m_server = nullptr; // a child of m_home
    quint16 m_port = 0;
    mutable QMutex m_lock; // for what follows
    Judge m_judge;
    Names m_names;
    OutcomeLog m_outcomes;
    QSet<quint16> m_ownPorts;
    std::shared_ptr<wayback::Routing> m_routing;
    std::atomic<int> m_connections = 0;
    std::atomic<int> m_refusals = 0;
};

} // namespace guard
