#pragma once

// The heads the guard reads and writes, without sockets: a proxy request as the engine
// sends it, and an answer's head as it goes back. Pure, so that they can be fuzzed.

#include "guard_export.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace guard {

// The parts of an authority ("host", "host:port", "[v6]:port"): false if it is not one.
GUARD_EXPORT bool splitAuthority(const QByteArray &authority, quint16 defaultPort, QString *host, quint16 *port);

struct ProxyRequest
{
    bool tunnel = false; // CONNECT host:port: bytes either way once it stands
    QString host; // a name or an address, as written
    quint16 port = 0;
    // For a plain request, what goes upstream: the request in origin form, with the
    // Host it was judged for, no hop-by-hop headers, and Connection: close.
    QByteArray upstreamHead;
    QByteArray method;
    QByteArray target; // for a plain request, http://authority/path?query as it asked
    QByteArray dest; // what the engine fetches it for (Sec-Fetch-Dest): "document", ...
    // For a plain request, the same in parts: as written, and the fields that go on.
    QByteArray authority;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> fields;
    bool hasBody = false; // it says it has one (a length over 0, or a transfer coding)
};
// head: the whole head, up to and with its blank line. Empty, with *refusal the status
// to answer, if it is not a request the guard serves.
GUARD_EXPORT std::optional<ProxyRequest> readProxyRequest(const QByteArray &head, int *refusal);

struct AnswerHead
{
    int status = 0;
    QByteArray head; // as it goes back: hop-by-hop headers out, Connection: close in
};
// An answer's head from upstream; empty if it is not one. An interim answer (1xx) goes
// back as it is; so does 101, after which bytes go either way.
GUARD_EXPORT std::optional<AnswerHead> rewriteAnswerHead(const QByteArray &head);

// The head that goes back for a final answer read (and decoded) by a client of the guard's
// own: hop-by-hop headers out, the body's length as sent unless it came in chunks (it
// then ends with the connection), Connection: close in.
GUARD_EXPORT QByteArray decodedAnswerHead(int status, const QList<QPair<QByteArray, QByteArray>> &headers);

inline constexpr int MaxHeadLines = 100;

} // namespace guard
