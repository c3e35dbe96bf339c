#pragma once

// The one guard for every connection the browser engine makes: a loopback HTTP proxy
// (plain requests and CONNECT) that resolves each name itself, judges the address it
// got (addresses.h) and connects to that very address, so that no name, spelling,
// redirect, frame, worker or socket of a page reaches anything else on this machine
// or its network. The engine is started with it as its only proxy, loopback included.

#include "addresses.h"
#include "guard_export.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QUrl>

#include <functional>

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
    bool isRunning() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    Judge &judge() { return m_judge; }

    // For tests only (the program never calls it): a name the guard resolves to address
    // without asking DNS, as a test's resolver would. "name" or "*.suffix".
    void mapNameForTests(const QString &pattern, const QHostAddress &address);

    // Why the last connection to a host and port failed, if it did lately: a page that
    // went through the guard sees only the guard's answer, so its viewer asks here.
    enum class Outcome { None, Refused, NoName, ConnectionRefused, NoAnswer };
    Q_ENUM(Outcome)
    Outcome outcomeFor(const QUrl &url) const;

    // Whether host, looked up now, leads only to the internet (for what leaves the
    // program: the desktop's browser would look it up again).
    void resolvePublic(const QString &host, quint16 port, QObject *context, std::function<void(bool)> done);

    // Whether a connection that reached a service of this machine from peer:peerPort is
    // one of the guard's own (the only way the engine reaches such a service).
    bool isOwnConnection(const QHostAddress &peer, quint16 peerPort) const;

    int connectionCount() const { return m_connections; }
    // Connections refused by the rule so far (tests watch it).
    int refusals() const { return m_refusals; }

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
    void lookUp(const QString &host, QObject *context, std::function<void(QList<QHostAddress>)> done);
    void note(const QString &host, quint16 port, Outcome outcome);

    QTcpServer m_server;
    Judge m_judge;
    QList<QPair<QString, QHostAddress>> m_testNames;
    struct Noted
    {
        Outcome outcome;
        QElapsedTimer when;
    };
    QHash<QString, Noted> m_outcomes;
    QSet<quint16> m_ownPorts;
    int m_connections = 0;
    int m_refusals = 0;
};

} // namespace guard
