#include "relay.h"

#include "addresses.h"

#include "client.h"
#include "media.h"
#include "server.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace relay {

namespace {

constexpr qint64 PieceBytes = 256 * 1024;
constexpr qint64 MaxPolicyBytes = 64 * 1024;
constexpr int PolicyTimeoutMs = 10000;

QString originOf(const QUrl &url)
{
    return url.scheme() + QStringLiteral("://") + url.host().toLower() + QLatin1Char(':')
           + QString::number(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
}

bool isWebUrl(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty()
           && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// A media type as a header may carry it: plain characters only, bounded.
QByteArray cleanType(const QByteArray &type)
{
    QByteArray out;
    for (char c : type.left(200))
        if ((c >= 0x20 && c < 0x7f) && c != '"' && c != '\\')
            out += c;
    return out.trimmed();
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

const QList<QPair<QByteArray, QByteArray>> &answerHeaders()
{
    static const QList<QPair<QByteArray, QByteArray>> headers = {
        {"Content-Type", "application/octet-stream"},
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy", "sandbox"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Cache-Control", "no-store"},
    };
    return headers;
}

// One movie's sandbox: where it came from, and the policy files read on its behalf.
class Session : public QObject
{
public:
    Session(const QUrl &movieLink, const QUrl &page, QObject *parent) : QObject(parent), link(movieLink), embedder(page)
    { }

    QUrl link;
    QUrl embedder;
    QUrl movie; // where the movie really came from, once it has arrived
    // The movie's network once it has arrived; before that, its page's, if it has one.
    sandbox::AddressSpace space = sandbox::AddressSpace::Public;
    bool judged = false; // space is known: requests are held to it
    bool movieAsked = false;
    qint64 received = 0; // all answers together
    QDateTime captured; // when an archive captured the movie, if it came from one
    Relay::Failure failure; // of the movie itself

    struct PolicyState
    {
        bool done = false;
        sandbox::Policy policy;
        std::vector<std::function<void(const sandbox::Policy &)>> waiters;
    };
    QHash<QString, PolicyState> policies;

    // Calls back with the policy of url's host, read once per session.
    void withPolicy(Relay *relay, const QUrl &url, std::function<void(const sandbox::Policy &)> then);
};

// Reads one host's /crossdomain.xml: no redirects, bounded in size and time; anything
// that goes wrong is a policy that allows nobody.
class PolicyFetch : public QObject
{
public:
    PolicyFetch(Relay *relay, Session *session, const QUrl &url)
        : QObject(session), m_session(session), m_key(originOf(url))
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { done({}); });
        m_timer.start(PolicyTimeoutMs);
        relay->open(session, sandbox::policyUrl(url), "GET", {}, {}, std::nullopt, this,
                    [this](http::Reply *reply, sandbox::AddressSpace, int, const QByteArray &) {
                        if (!reply)
                            return done({});
                        m_reply = reply;
                        reply->setParent(this);
                        connect(reply, &http::Reply::readyRead, this, [this] {
                            m_data += m_reply->read(MaxPolicyBytes + 1);
                            if (m_data.size() > MaxPolicyBytes)
                                done({});
                        });
                        connect(reply, &http::Reply::finished, this, [this] {
                            m_data += m_reply->read(MaxPolicyBytes + 1);
                            if (m_reply->failed() || m_reply->status() != 200 || m_data.size() > MaxPolicyBytes)
                                return done({});
                            done(sandbox::policyFromAnswer(m_data, m_reply->header("Content-Type"),
                                                           m_reply->header("X-Permitted-Cross-Domain-Policies")));
                        });
                    });
    }

private:
    void done(const sandbox::Policy &policy)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_timer.stop();
        if (m_reply) {
            m_reply->disconnect(this);
            m_reply->abort();
        }
        Session::PolicyState &state = m_session->policies[m_key];
        state.done = true;
        state.policy = policy;
        const auto waiters = std::move(state.waiters);
        state.waiters.clear();
        deleteLater();
        for (const auto &w : waiters)
            w(policy);
    }

    Session *m_session;
    QString m_key;
    http::Reply *m_reply = nullptr;
    QByteArray m_data;
    QTimer m_timer;
    bool m_finished = false;
};

void Session::withPolicy(Relay *relay, const QUrl &url, std::function<void(const sandbox::Policy &)> then)
{
    const QString key = originOf(url);
    auto it = policies.find(key);
    if (it != policies.end() && it->done) {
        then(it->policy);
        return;
    }
    const bool first = it == policies.end();
    policies[key].waiters.push_back(std::move(then));
    if (first)
        new PolicyFetch(relay, this, url);
}

// Reasons the player is told, that also say why a movie did not arrive.
const QByteArray SiteSaidNo = QByteArrayLiteral("the movie is not there\n");
const QByteArray NoSuchHost = QByteArrayLiteral("unknown host\n");
const QByteArray Unreachable = QByteArrayLiteral("the host could not be reached\n");

// One relayed request, from the page's request to the end of the streamed answer.
class Transfer : public QObject
{
public:
    Transfer(Relay *relay, Session *session, Kind kind, const QUrl &target, const http::Request &request,
             http::Response *response)
        : QObject(session), m_relay(relay), m_session(session), m_kind(kind), m_target(target),
          m_method(request.method == "POST" ? "POST" : "GET"), m_body(request.body),
          m_bodyType(cleanType(request.header("X-Relay-Body-Type"))), m_response(response)
    {
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, [this] { giveUp("nothing arrived for too long\n"); });
        m_whole.setSingleShot(true);
        connect(&m_whole, &QTimer::timeout, this, [this] { giveUp("this load took too long\n"); });
        connect(response, &http::Response::closed, this, [this] {
            if (!m_done)
                finish(); // the client went away: so does the download
        });
        connect(response, &http::Response::drained, this, [this] {
            touch();
            if (m_stage == Stage::Streaming)
                pump();
        });
    }

    ~Transfer() override
    {
        dropReply();
        if (m_response) {
            m_response->disconnect(this);
            if (m_response->isOpen())
                m_response->abort();
        }
    }

    void start()
    {
        touch();
        if (m_kind == Kind::Load)
            m_whole.start(m_relay->limits().loadTimeoutMs);
        // All that one movie loads has a total; past it, loads fail as the network's do.
        if (m_session->received >= m_relay->limits().maxSessionBytes)
            return refuse(502, "this movie has loaded enough\n");
        hop(m_target);
    }

private:
    enum class Stage { Connecting, Deciding, Sniffing, Streaming };

    void touch() { m_idle.start(m_relay->limits().idleTimeoutMs); }

    void giveUp(const QByteArray &why)
    {
        if (m_response && m_response->hasBegun())
            m_response->abort();
        refuse(504, why);
    }

    void hop(const QUrl &url)
    {
        if (++m_hops > m_relay->limits().maxRedirects + 1)
            return refuse(502, "too many redirects\n");
        m_url = url;
        m_stage = Stage::Connecting;
        // Data sent to another host needs its leave first, as the desktop players asked.
        if (m_method == "POST" && !sandbox::sameOrigin(url, m_session->movie)) {
            QPointer<Transfer> self(this);
            m_session->withPolicy(m_relay, url, [self, url](const sandbox::Policy &policy) {
                if (!self)
                    return;
                if (!sandbox::policyAllows(policy, self->m_session->movie, url))
                    return self->refuse(403, "the host does not allow this movie\n");
                self->send();
            });
            return;
        }
        send();
    }

    void send()
    {
        // A redirect is its server's doing: it may not lead more inward than where that
        // server is (a link of the internet redirected into this machine, say).
        const std::optional<sandbox::AddressSpace> from
            = m_hops > 1 ? std::optional<sandbox::AddressSpace>(m_space) : std::nullopt;
        m_relay->open(m_session, m_url, m_method, m_body, m_bodyType, from, this,
                      [this](http::Reply *reply, sandbox::AddressSpace used, int refusal, const QByteArray &why) {
                          if (!reply)
                              return refuse(refusal, why);
                          m_reply = reply;
                          m_space = used;
                          reply->setParent(this);
                          connect(reply, &http::Reply::headReady, this, &Transfer::headersArrived);
                          connect(reply, &http::Reply::readyRead, this, &Transfer::arrived);
                          connect(reply, &http::Reply::finished, this, &Transfer::arrived);
                          connect(reply, &http::Reply::progressed, this, &Transfer::touch);
                      });
    }

    void headersArrived()
    {
        if (m_stage != Stage::Connecting || !m_reply || !m_reply->hasHead())
            return;
        const int status = m_reply->status();
        touch();
        if (isRedirect(status) && !m_reply->header("Location").isEmpty()) {
            const QUrl next = m_url.resolved(QUrl::fromEncoded(m_reply->header("Location")));
            dropReply();
            if (!isWebUrl(next))
                return refuse(502, "redirected away from the web\n");
            if (status != 307 && status != 308) {
                m_method = "GET";
                m_body.clear();
                m_bodyType.clear();
            }
            return hop(next);
        }
        m_status = status;
        m_stage = Stage::Deciding;
        decide();
    }

    // Where the answer may go, judged by where it really came from.
    void decide()
    {
        const bool ok = m_status >= 200 && m_status < 300;
        if (m_kind == Kind::Movie) {
            if (!ok)
                return refuse(m_status >= 400 ? m_status : 502, SiteSaidNo);
            m_wanted = Wanted::Movie;
            return sniff();
        }
        if (sandbox::sameOrigin(m_url, m_session->movie))
            return ok ? stream() : refuse(m_status, {});
        QPointer<Transfer> self(this);
        m_session->withPolicy(m_relay, m_url, [self, ok](const sandbox::Policy &policy) {
            if (!self)
                return;
            if (sandbox::policyAllows(policy, self->m_session->movie, self->m_url))
                return ok ? self->stream() : self->refuse(self->m_status, {});
            // Not allowed to read: pictures and movies may still be shown.
            if (!ok)
                return self->refuse(403, "the host does not allow this movie\n");
            self->m_wanted = Wanted::AnyMedia;
            self->sniff();
        });
    }

    void sniff()
    {
        m_stage = Stage::Sniffing;
        arrived();
    }

    void arrived()
    {
        if (!m_reply)
            return;
        touch();
        if (m_stage == Stage::Connecting && m_reply->isFinished()) {
            headersArrived();
            if (m_stage == Stage::Connecting)
                return refuse(502, Unreachable);
            return;
        }
        if (m_stage == Stage::Sniffing) {
            if (m_reply->bytesAvailable() < media::SniffBytes && !m_reply->isFinished())
                return;
            if (m_reply->failed())
                return refuse(502, Unreachable);
            const media::Kind kind = media::sniff(m_reply->peek(media::SniffBytes));
            if (m_wanted == Wanted::Movie && kind != media::Kind::Swf)
                return refuse(415, "not a movie\n");
            if (m_wanted == Wanted::AnyMedia && !media::typeFits(kind, m_reply->header("Content-Type")))
                return refuse(403, "the host does not allow this movie to read its data\n");
            // Checked to its end as it streams: a movie must be as long as it says (a cut
            // one is no movie); what is only to be shown must be one whole picture or
            // movie and nothing more, or it is data after all and never arrives whole.
            // A movie may state no more than what is left of its session's total: what it
            // inflates to counts, so a small compressed one cannot make the relay inflate
            // more than that.
            const qint64 left = m_relay->limits().maxSessionBytes - m_session->received;
            m_check = std::make_shared<media::Check>(std::min(m_relay->limits().maxAnswerBytes, left),
                                                     m_wanted == Wanted::Movie ? media::Check::End::Short
                                                                               : media::Check::End::Exact);
            if (m_kind == Kind::Movie) {
                // From here on the movie is judged by where it really came from.
                m_session->movie = m_url;
                m_session->space = m_space;
                m_session->judged = true;
                if (const auto *capture = qobject_cast<const wayback::CaptureReply *>(m_reply))
                    m_session->captured = capture->captured();
            }
            return stream();
        }
        if (m_stage == Stage::Streaming)
            pump();
    }

    void stream()
    {
        if (!m_response || !m_response->isOpen())
            return finish();
        const qint64 length = m_reply->contentLength();
        const bool known = length >= 0;
        if (known && length > m_relay->limits().maxAnswerBytes)
            return refuse(413, "too large\n");
        auto headers = answerHeaders();
        headers.emplaceBack("X-Relay-Url", m_url.toEncoded(QUrl::FullyEncoded));
        // What is checked as it streams goes without a length of its own, so that one
        // found broken at its last byte can still be cut short; its length is told aside.
        if (known && m_check)
            headers.emplaceBack("X-Relay-Length", QByteArray::number(length));
        const QByteArray type = cleanType(m_reply->header("Content-Type"));
        if (!type.isEmpty())
            headers.emplaceBack("X-Relay-Type", type);
        m_response->begin(m_status, headers, known && !m_check ? length : -1);
        m_stage = Stage::Streaming;
        pump();
    }

    void pump()
    {
        if (!m_reply || !m_response)
            return finish();
        if (m_checking)
            return; // the piece being checked goes first
        while (m_response->isOpen() && m_response->pending() < http::Response::HighWater
               && m_reply->bytesAvailable() > 0) {
            const QByteArray piece = m_reply->read(PieceBytes);
            m_sent += piece.size();
            if (m_sent > m_relay->limits().maxAnswerBytes) {
                m_response->cutShort();
                return finish();
            }
            if (m_check)
                return check(piece);
            if ((m_session->received += piece.size()) > m_relay->limits().maxSessionBytes) {
                m_response->cutShort();
                return finish();
            }
            m_response->write(piece);
        }
        if (!m_response->isOpen())
            return finish();
        if (m_reply->isFinished() && m_reply->bytesAvailable() == 0) {
            if (!m_reply->failed() && (!m_check || m_check->finish()))
                m_response->end();
            else
                m_response->cutShort(); // cut short or not whole: the player must not take it as whole
            finish();
        }
    }

    // Inflating and walking a piece's structure can take long (a small compressed movie
    // may state hundreds of megabytes): done on a worker thread, one piece at a time, the
    // piece passed on only once it has passed.
    void check(const QByteArray &piece)
    {
        m_checking = true;
        QPointer<Transfer> self(this);
        std::shared_ptr<media::Check> checker = m_check;
        QThreadPool::globalInstance()->start([self, checker, piece] {
            const qint64 before = checker->inflated();
            const bool whole = checker->feed(piece);
            const qint64 grew = checker->inflated() - before;
            QMetaObject::invokeMethod(
                qApp,
                [self, whole, grew, piece] {
                    if (self)
                        self->checked(piece, whole, grew);
                },
                Qt::QueuedConnection);
        });
    }

    void checked(const QByteArray &piece, bool whole, qint64 inflated)
    {
        m_checking = false;
        if (m_done || !m_response)
            return finish();
        // A compressed movie counts as what it inflates to.
        m_session->received += std::max<qint64>(piece.size(), inflated);
        if (!whole || m_session->received > m_relay->limits().maxSessionBytes) {
            m_response->cutShort();
            return finish();
        }
        m_response->write(piece);
        pump();
    }

    // The movie's failure in the words a page's failure is told in.
    Relay::Failure failureOf(int status, const QByteArray &why) const
    {
        using Outcome = guard::Guard::Outcome;
        Relay::Failure f{.failed = true, .status = status};
        const bool archived = m_relay->m_routing && m_relay->m_routing->fromArchive(m_url.isEmpty() ? m_target : m_url);
        if (const auto *capture = qobject_cast<const wayback::CaptureReply *>(m_reply);
            capture && capture->failed() && capture->failure() != wayback::Failure::None) {
            f.outcome = guard::Guard::archiveOutcome(capture->failure(), capture->status());
            return f;
        }
        if (why == SiteSaidNo) {
            if (archived && status == 404)
                f.outcome = Outcome::NotArchived;
            else
                f.siteStatus = status;
        } else if (why == NoSuchHost) {
            f.outcome = Outcome::NoName;
        } else if (why == Unreachable) {
            f.outcome = Outcome::ConnectionRefused;
        } else if (status == 504) {
            f.outcome = Outcome::NoAnswer;
        } else if (status == 403) {
            f.outcome = archived ? Outcome::NotArchived : Outcome::Refused;
        }
        return f;
    }

    void refuse(int status, const QByteArray &why)
    {
        if (m_done)
            return;
        if (m_kind == Kind::Movie && !m_session->failure.failed)
            m_session->failure = failureOf(status, why);
        if (m_response && m_response->isOpen() && !m_response->hasBegun())
            m_response->send(status, {}, why, answerHeaders());
        finish();
    }

    void finish()
    {
        if (m_done)
            return;
        m_done = true;
        m_idle.stop();
        m_whole.stop();
        dropReply();
        deleteLater();
    }

    void dropReply()
    {
        if (!m_reply)
            return;
        http::Reply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }

    enum class Wanted { Movie, AnyMedia };

    Relay *m_relay;
    Session *m_session;
    Kind m_kind;
    QUrl m_target;
    QUrl m_url;
    QByteArray m_method;
    QByteArray m_body;
    QByteArray m_bodyType;
    QPointer<http::Response> m_response;
    http::Reply *m_reply = nullptr;
    sandbox::AddressSpace m_space = sandbox::AddressSpace::Public;
    Stage m_stage = Stage::Connecting;
    Wanted m_wanted = Wanted::Movie;
    int m_hops = 0;
    int m_status = 0;
    qint64 m_sent = 0;
    std::shared_ptr<media::Check> m_check; // shared with the worker checking a piece
    bool m_checking = false;
    bool m_done = false;
    QTimer m_idle;
    QTimer m_whole;
};

Relay::Relay(QObject *parent) : QObject(parent) { }

Relay::~Relay()
{
    qDeleteAll(m_sessions);
}

void Relay::setSelf(const QHostAddress &address, quint16 port)
{
    m_selfAddress = address;
    m_selfPort = port;
}

QByteArray Relay::openSession(const QUrl &link, const QUrl &embedder)
{
    while (m_sessionOrder.size() >= m_limits.maxSessions)
        closeSession(m_sessionOrder.first());
    const QByteArray id = randomId();
    m_sessions.insert(id, new Session(link, embedder, this));
    m_sessionOrder << id;
    return id;
}

void Relay::closeSession(const QByteArray &id)
{
    m_sessionOrder.removeAll(id);
    delete m_sessions.take(id); // its transfers go with it, and their downloads stop
}

Relay::Failure Relay::movieFailure(const QByteArray &id) const
{
    const Session *s = m_sessions.value(id);
    return s ? s->failure : Failure();
}

QDateTime Relay::capturedFor(const QByteArray &id) const
{
    const Session *s = m_sessions.value(id);
    return s ? s->captured : QDateTime();
}

int Relay::transferCount() const
{
    int n = 0;
    for (Session *s : m_sessions)
        n += int(s->findChildren<Transfer *>(Qt::FindDirectChildrenOnly).size());
    return n;
}

void Relay::relay(const QByteArray &sessionId, Kind kind, const QUrl &target, const http::Request &request,
                  http::Response *response)
{
    Session *session = m_sessions.value(sessionId);
    if (!session)
        return response->send(404, {}, "no such player\n", answerHeaders());
    QUrl url = target;
    if (kind == Kind::Movie) {
        if (session->movieAsked || request.method != "GET")
            return response->send(409, {}, "the movie is asked for once\n", answerHeaders());
        session->movieAsked = true;
        url = session->link;
    } else {
        if (session->movie.isEmpty())
            return response->send(409, {}, "no movie yet\n", answerHeaders());
        if (request.method != "GET" && request.method != "POST")
            return response->send(405, {}, "GET or POST\n", answerHeaders());
    }
    url = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    if (!isWebUrl(url))
        return response->send(400, {}, "only http and https addresses\n", answerHeaders());
    if (kind == Kind::Movie && isWebUrl(session->embedder)) {
        // A movie in a page is judged by where the page is: by its address if it has one;
        // a name is the internet (a name looked up again now could say anything).
        const QHostAddress address(session->embedder.host());
        session->space = address.isNull() ? sandbox::AddressSpace::Public
                                          : guard::spaceFor(address, quint16(session->embedder.port(80)));
        session->judged = true;
    }
    auto *transfer = new Transfer(this, session, kind, url, request, response);
    transfer->start();
}

void Relay::open(Session *session, const QUrl &url, const QByteArray &method, const QByteArray &body,
                 const QByteArray &bodyType, std::optional<sandbox::AddressSpace> redirectedFrom, QObject *context,
                 Opened opened)
{
    const int port = url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    if (m_routing && m_routing->fromArchive(url)) {
        // As the site answered when it was captured; https was never the site's.
        if (url.scheme() != QLatin1String("http"))
            return opened(nullptr, {}, 403, "not in the archive\n");
        return opened(m_routing->open(url, method, context), sandbox::AddressSpace::Public, 0, {});
    }
    if (!isWebUrl(url) || sandbox::isBlockedPort(port))
        return opened(nullptr, {}, 403, "this address is not for the web\n");
    // A movie from the catalogue is not judged; a movie in a page is judged by where
    // the page is, and whatever a movie asks for by where the movie is.
    const bool judged = session->judged;
    const auto movieSpace = session->space;
    QHostInfo::lookupHost(url.host(), context, [=, this](const QHostInfo &info) {
        QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty())
            return opened(nullptr, {}, 502, NoSuchHost);
        auto space = sandbox::AddressSpace::Public;
        for (const QHostAddress &a : addresses) {
            const auto s = guard::spaceFor(a, quint16(port));
            space = std::min(space, s);
            if (s == sandbox::AddressSpace::Loopback && port == m_selfPort)
                return opened(nullptr, {}, 403, "not the player itself\n");
        }
        // Only to an address the rule allows, and to that very address.
        if (m_judge)
            addresses.removeIf([&](const QHostAddress &a) { return !m_judge->mayConnect(a, quint16(port)); });
        if (addresses.isEmpty())
            return opened(nullptr, {}, 403, "this address is not for the viewers\n");
        if (judged && !sandbox::mayReach(movieSpace, space))
            return opened(nullptr, {}, 403, "a movie from the internet cannot reach this network\n");
        if (redirectedFrom && !sandbox::mayReach(*redirectedFrom, space))
            return opened(nullptr, {}, 403, "redirected into this machine or its network\n");
        // IPv4 first: what most servers listen on.
        std::stable_sort(addresses.begin(), addresses.end(), [](const QHostAddress &a, const QHostAddress &b) {
            return a.protocol() == QAbstractSocket::IPv4Protocol && b.protocol() != QAbstractSocket::IPv4Protocol;
        });
        const http::ClientReply::Target target = http::ClientReply::Target::to(url, addresses.first());
        http::Headers headers = {{"Accept", "*/*"},
                                 {"Accept-Encoding", "identity"}, // lengths stay true; nothing to inflate
                                 {"Accept-Language", "zh-CN,zh;q=0.9"},
                                 {"User-Agent", "Mozilla/5.0 (compatible; photoforKP/1.00)"}};
        if (judged && sandbox::sameOrigin(url, session->movie))
            headers.emplaceBack("Referer", session->movie.toEncoded());
        if (method == "POST")
            headers.emplaceBack("Content-Type",
                                bodyType.isEmpty() ? QByteArray("application/x-www-form-urlencoded") : bodyType);
        auto *reply = http::ClientReply::send(target, method, headers, body, context);
        opened(reply, guard::spaceFor(target.address, target.port), 0, {});
    });
}

QByteArray randomId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
}

} // namespace relay
