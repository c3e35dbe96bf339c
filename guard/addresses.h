#pragma once

// Which addresses the engine and the relay may connect to, judged by the address a name
// really resolved to, never by how it is spelled. Pure decisions, no I/O.

#include "addressspace.h"
#include "guard_export.h"

#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

namespace guard {

// An address and port; port 0 stands for any port.
struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;
    bool matches(const QHostAddress &a, quint16 p) const;
};

// PHOTOFORKP_PUBLIC_ADDRESSES, for tests: loopback addresses (or address:port) that
// count as the internet, so that hostile sites can be played on this machine.
// Comma-separated "127.0.0.5", "127.0.0.5:8080", "::1" or "[::1]:8080"; anything else,
// or an entry off loopback, is an error (the message says which).
struct Parsed
{
    QList<Endpoint> endpoints;
    QString error; // empty: all good
};
GUARD_EXPORT Parsed parsePublicAddresses(const QString &text);
inline constexpr char PublicAddressesVariable[] = "PHOTOFORKP_PUBLIC_ADDRESSES";
// The variable as this process has it (an invalid value counts as none: start-up has
// refused it already).
GUARD_EXPORT const QList<Endpoint> &publicAddresses();
// Where the relay places address:port: as the table does (addressspace.h), but that the
// variable's entries are Public, as they are to the guard.
GUARD_EXPORT AddressSpace spaceFor(const QHostAddress &address, quint16 port);

// The one rule: address:port may be reached if it is on the allow-list (exact pairs),
// or counts as the internet.
class GUARD_EXPORT Judge
{
public:
    Judge();
    void allow(const QHostAddress &address, quint16 port);
    void disallow(const QHostAddress &address, quint16 port);
    bool isAllowed(const QHostAddress &address, quint16 port) const;
    bool countsAsPublic(const QHostAddress &address, quint16 port) const;
    bool mayConnect(const QHostAddress &address, quint16 port) const
    {
        return isAllowed(address, port) || countsAsPublic(address, port);
    }
    // The content host as built (its address if it is written as one), and the site
    // copy's second host in builds for the copy.
    static QList<Endpoint> builtInHosts();

private:
    QList<Endpoint> m_allowed;
    QList<Endpoint> m_public;
};

} // namespace guard
