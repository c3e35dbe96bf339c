#pragma once

// Where an address stands, from one table that the guard and the relay both judge by.
// Pure decisions, no I/O.

#include "guard_export.h"

#include <QHostAddress>

namespace guard {

// From the most private to the most public. Only Public is the internet: the guard
// connects there (but to this machine's own addresses and networks, addresses.h), and
// a redirect from there leads no further in.
enum class AddressSpace { Loopback, Private, Public };

// The space of the most specific row of the table that holds address. The rows are
// IANA's IPv4 and IPv6 Special-Purpose Address Registries, and multicast, which they
// leave out. An IPv4 address inside IPv6 (mapped, the NAT64 prefix, 6to4, the old
// compatible form) stands where that IPv4 address does. A null address is Loopback:
// nothing placed, so the most private.
GUARD_EXPORT AddressSpace addressSpace(const QHostAddress &address);

// Globally reachable unicast.
inline bool isGlobal(const QHostAddress &address)
{
    return addressSpace(address) == AddressSpace::Public;
}

} // namespace guard
