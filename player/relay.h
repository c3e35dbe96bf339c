#pragma once

// The album player's relay: fetches what a movie asks for, on its behalf and within its
// sandbox, and streams the answer to the player page. Each movie gets a session; the
// session knows where the movie really came from, so what it may read is decided here,
// never by the page.

#include "player_export.h"
#include "addresses.h"
#include "archiverouting.h"
#include "guard.h"
#include "sandbox.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QUrl>

#include <memory>
#include <optional>

namespace http {
struct Request;
class Response;
class Reply;
class ClientReply;
} // namespace http

namespace relay {

class Session;
class Transfer;

struct Limits
{
    qint64 maxAnswerBytes = 256LL * 1024 * 1024; // larger than any real album
    qint64 maxSessionBytes = 512LL * 1024 * 1024; // all a movie loads, together
    int idleTimeoutMs = 30000; // nothing moved for this long: give up
    // What a movie loads ends this long after it was asked for, moving or not: a load
    // holds one of the players' turns at the player host (a trickle would hold it for
    // ever). The movie itself takes no turn and has no such end.
    int loadTimeoutMs = 60000;
    int maxRedirects = 10;
    int maxSessions = 64; // an album and the movies of a page or two
};

enum class Kind {
    Movie, // the session's movie itself: once per session, and it must be a movie
    Load, // whatever the movie asks for afterwards
};

class PLAYER_EXPORT Relay : public QObject
{
    Q_OBJECT
public:
    explicit Relay(QObject *parent = nullptr);
    ~Relay() override;
    void setLimits(const Limits &limits) { m_limits = limits; }
    const Limits &limits() const { return m_limits; }
    // The player host's own address: the relay never fetches from it.
    void setSelf(const QHostAddress &address, quint16 port);
    // The program's rule on where connections may go (guard/addresses.h), as the engine's
    // guard holds the engine to it: nothing else on this machine or its network is
    // fetched, whatever the movie or its link. None set: only the movie sandbox's rules.
    void setJudge(const guard::Judge &judge) { m_judge = judge; }
    // The archive's routing, the engine's guard's own (guard.h): the sites it answers
    // for are asked of it, at its date, and never themselves.
    void setRouting(std::shared_ptr<wayback::Routing> routing) { m_routing = std::move(routing); }

    // embedder: the page a movie stands in, if it does; the movie must then be reachable
    // from where the page is, as the engine holds the page's own requests.
    QByteArray openSession(const QUrl &link, const QUrl &embedder = {});
    void closeSession(const QByteArray &id);
    bool hasSession(const QByteArray &id) const { return m_sessions.contains(id); }
    int sessionCount() const { return int(m_sessions.size()); }
    // When the archive captured the session's movie (UTC); invalid if it did not come from one.
    QDateTime capturedFor(const QByteArray &id) const;
    // Why the session's movie did not arrive, told as the guard tells a page's failure:
    // what kept it (outcome), else the site's own status (0: not the site's answer).
    struct Failure
    {
        bool failed = false;
        guard::Guard::Outcome outcome = guard::Guard::Outcome::None;
        int siteStatus = 0;
        int status = 0; // the relay's answer to the player
    };
    Failure movieFailure(const QByteArray &id) const;

    // Answers one request of the player page. target is what a Load asks for.
    void relay(const QByteArray &session, Kind kind, const QUrl &target, const http::Request &request,
               http::Response *response);

    int transferCount() const;

private:
    friend class Session;
    friend class Transfer;
    friend class PolicyFetch;
    // used: the address space of the address the request went to.
    using Opened
        = std::function<void(http::Reply *reply, sandbox::AddressSpace used, int refusal, const QByteArray &why)>;
    // Resolves url's host once, checks every address it has, and sends the request to
    // the address that was checked (so a name cannot point elsewhere between the check
    // and the use). opened gets the reply, or a refusal status.
    // redirectedFrom: where the server that redirected here is, for a redirect's hop.
    void open(Session *session, const QUrl &url, const QByteArray &method, const QByteArray &body,
              const QByteArray &bodyType, std::optional<sandbox::AddressSpace> redirectedFrom, QObject *context,
              Opened opened);

    Limits m_limits;
    std::optional<guard::Judge> m_judge;
    std::shared_ptr<wayback::Routing> m_routing;
    QHostAddress m_selfAddress;
    quint16 m_selfPort = 0;
    QHash<QByteArray, Session *> m_sessions;
    QList<QByteArray> m_sessionOrder;
};

// The headers every relayed answer carries: it is data for the player, never a document.
PLAYER_EXPORT const QList<QPair<QByteArray, QByteArray>> &answerHeaders();

// 16 random bytes in hex, for ids and secrets nobody else can guess.
PLAYER_EXPORT QByteArray randomId();

} // namespace relay
