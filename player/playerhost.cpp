#include "playerhost.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrlQuery>

#include <optional>

Q_LOGGING_CATEGORY(playerLog, "photoforKP.player", QtWarningMsg)

namespace {

// What follows prefix in a path that starts with it (a session, an id), else nothing.
std::optional<QByteArray> after(const QByteArray &path, QByteArrayView prefix)
{
    if (!path.startsWith(prefix))
        return std::nullopt;
    return path.mid(prefix.size());
}

// Movies send little: form variables, a score. Anything larger is refused.
constexpr qint64 MaxRequestBody = 1024 * 1024;

// The shell may run our own script and the emulator (with its WebAssembly) and talk to
// this host only; it may not submit forms or load anything from elsewhere, and only web
// pages may frame it (a movie in a page plays in such a frame).
constexpr char ShellPolicy[]
    = "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; connect-src 'self'; "
      "img-src 'self' data: blob:; media-src 'self' data: blob:; style-src 'self' 'unsafe-inline'; "
      "font-src 'self' data:; worker-src 'self' blob:; frame-src 'none'; object-src 'none'; "
      "base-uri 'none'; form-action 'none'; frame-ancestors http: https:";

QByteArray resource(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

PlayerHost::PlayerHost(QString emulatorDir, QObject *parent)
    : QObject(parent), m_emulatorDir(std::move(emulatorDir)),
      m_server([this](const http::Request &r, http::Response *s) { handle(r, s); },
               // Another program on the machine may open connections and say nothing:
               // a few such at a time, each for a moment, so the engine's get through.
               http::Limits{.maxBodyBytes = MaxRequestBody, .maxWaitingForHead = 8, .headTimeoutMs = 2000}),
      m_files(m_emulatorDir)
{
    m_token = relay::randomId() + relay::randomId();
}

PlayerHost::~PlayerHost() = default;

QString PlayerHost::defaultEmulatorDir()
{
    // Where the environment says (programs run from elsewhere in the build tree, such as
    // tests), beside the program (the build tree), or in share/ (installed).
    const QString appDir = QCoreApplication::applicationDirPath();
    QStringList dirs{appDir + QStringLiteral("/ruffle"), appDir + QStringLiteral("/../share/photoforKP/ruffle")};
    if (qEnvironmentVariableIsSet("PHOTOFORKP_EMULATOR_DIR"))
        dirs.prepend(qEnvironmentVariable("PHOTOFORKP_EMULATOR_DIR"));
    for (const QString &candidate : std::as_const(dirs)) {
        if (QFileInfo::exists(candidate + QStringLiteral("/ruffle.js")))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return appDir + QStringLiteral("/ruffle");
}

bool PlayerHost::start()
{
    if (!m_running && m_server.listen(QHostAddress::LocalHost, 0)) {
        m_running = true;
        m_server.setAllowedHosts({"127.0.0.1:" + QByteArray::number(m_server.port())});
        m_relay.setSelf(QHostAddress::LocalHost, m_server.port());
    }
    return m_running;
}

QString PlayerHost::base() const
{
    return QStringLiteral("http://127.0.0.1:%1/%2/").arg(m_server.port()).arg(QString::fromLatin1(m_token));
}

QByteArray PlayerHost::sharedScript()
{
    return QByteArrayLiteral("const Shared = Object.freeze({ maxTitleChars: ") + QByteArray::number(MaxTitleChars)
           + QByteArrayLiteral(", helloFromPlayer: \"") + HelloFromPlayer + QByteArrayLiteral("\" });\n");
}

PlayerHost::Player PlayerHost::open(const QString &movie, const QUrl &embedder, const QString &title, bool offerArchive)
{
    Player player;
    player.session = m_relay.openSession(QUrl(movie, QUrl::StrictMode), embedder);
    player.url = frameUrl();
    player.url.setQuery(QStringLiteral("session=") + QString::fromLatin1(player.session) + QStringLiteral("&movie=")
                            + QString::fromLatin1(QUrl::toPercentEncoding(movie)) + QStringLiteral("&title=")
                            + QString::fromLatin1(QUrl::toPercentEncoding(title.left(MaxTitleChars)))
                            + (offerArchive ? QStringLiteral("&offer=1") : QString()),
                        QUrl::StrictMode);
    return player;
}

QByteArray PlayerHost::openFrame(const QString &movie, const QUrl &embedder, const QByteArray &handover,
                                 const QByteArray &proof)
{
    if (handover.isEmpty() || proof.isEmpty() || m_handovers.contains(handover))
        return {};
    if (m_handovers.size() >= MaxHandovers)
        m_handovers.clear(); // frames that never asked: their players stay blank
    const QByteArray session = m_relay.openSession(QUrl(movie, QUrl::StrictMode), embedder);
    m_handovers.insert(handover, {session, proof});
    return session;
}

void PlayerHost::handle(const http::Request &request, http::Response *response)
{
    const auto refuse = [response](int status, const QByteArray &why) {
        response->send(status, "text/plain; charset=utf-8", why, relay::answerHeaders());
    };
    const QByteArray prefix = '/' + m_token + '/';
    const QByteArray path = request.path();
    if (!path.startsWith(prefix))
        return refuse(404, "not found\n");
    const QByteArray rest = path.mid(prefix.size());
    // The engine says who asks and for what; the player's own kinds only.
    const QByteArray site = request.header("Sec-Fetch-Site");
    const QByteArray dest = request.header("Sec-Fetch-Dest");
    const bool sameOrigin = site == "same-origin";
    const bool readOnly = request.method == "GET" || request.method == "HEAD";

    if (rest == "player.html") {
        if (!readOnly)
            return refuse(405, "method not allowed\n");
        // The album viewer's own page, or a frame of a page the movie stands in.
        if (!(dest == "document" && (site == "none" || sameOrigin)) && dest != "iframe")
            return refuse(403, "not for this page\n");
        return response->send(200, "text/html; charset=utf-8", resource(QStringLiteral(":/player/player.html")),
                              {{"Content-Security-Policy", ShellPolicy},
                               {"X-Content-Type-Options", "nosniff"},
                               {"Referrer-Policy", "no-referrer"},
                               {"Cache-Control", "no-store"}});
    }
    if (rest == "player.js" || rest == "pagedata.js" || rest.startsWith("ruffle/")) {
        if (!readOnly)
            return refuse(405, "method not allowed\n");
        if (!sameOrigin || (dest != "script" && dest != "empty"))
            return refuse(403, "not for this page\n");
        return serveFile(rest, request, response);
    }
    if (rest == "loads.js") { // the worker all players share
        if (!readOnly)
            return refuse(405, "method not allowed\n");
        if (!sameOrigin || dest != "sharedworker")
            return refuse(403, "not for this page\n");
        return serveFile(rest, request, response);
    }
    if (const std::optional<QByteArray> stateTail = after(rest, "state/")) {
        if (request.method != "GET" || !sameOrigin || dest != "empty")
            return refuse(403, "not for this page\n");
        const QByteArray session = *stateTail;
        const QByteArray state = request.query();
        if (!m_relay.hasSession(session) || (state != "painted" && state != "failed" && state != "archive"))
            return refuse(404, "not found\n");
        response->send(204, {}, {}, relay::answerHeaders());
        emit movieState(session, state == "painted"  ? MovieState::Painted
                                 : state == "failed" ? MovieState::Failed
                                                     : MovieState::ArchiveWanted);
        return;
    }
    if (const std::optional<QByteArray> menuTail = after(rest, "menu/")) {
        if (request.method != "POST" || !sameOrigin || dest != "empty")
            return refuse(403, "not for this page\n");
        const QByteArray session = *menuTail;
        if (!m_relay.hasSession(session))
            return refuse(404, "not found\n");
        std::optional<MovieMenu> menu = MovieMenu::parse(request.body);
        if (!menu)
            return refuse(400, "not a menu\n");
        answerMenu(session, -1); // one menu at a time: a new one replaces it
        m_menus.insert(session, {*menu, response});
        // Its player went (or waited too long): the menu goes with it.
        connect(response, &http::Response::closed, this, [this, session, answer = QPointer<http::Response>(response)] {
            const auto it = m_menus.constFind(session);
            if (it != m_menus.constEnd() && it->answer == answer) {
                m_menus.erase(it);
                emit menuGone(session);
            }
        });
        emit menuWanted(session, *menu);
        return;
    }
    if (const std::optional<QByteArray> handoverTail = after(rest, "handover/")) {
        if (request.method != "GET" || !sameOrigin || dest != "empty")
            return refuse(403, "not for this page\n");
        const QByteArray id = *handoverTail;
        const QByteArray proof = QUrlQuery(QString::fromLatin1(request.query()))
                                     .queryItemValue(QStringLiteral("proof"), QUrl::FullyDecoded)
                                     .toLatin1();
        const auto it = m_handovers.constFind(id);
        if (it == m_handovers.constEnd() || proof.isEmpty() || it->proof != proof || !m_relay.hasSession(it->session))
            return refuse(404, "not found\n");
        const QByteArray session = it->session;
        m_handovers.erase(it); // once
        return response->send(200, "text/plain; charset=utf-8", session, relay::answerHeaders());
    }
    if (const std::optional<QByteArray> relayTail = after(rest, "relay/")) {
        const QByteArray mode = request.header("Sec-Fetch-Mode");
        if (!sameOrigin || dest != "empty" || (mode != "cors" && mode != "same-origin"))
            return refuse(403, "not for this page\n");
        const QUrlQuery query(QString::fromLatin1(request.query()));
        const QString kind = query.queryItemValue(QStringLiteral("kind"));
        if (kind != QLatin1String("movie") && kind != QLatin1String("load"))
            return refuse(400, "what kind?\n");
        const QUrl target(query.queryItemValue(QStringLiteral("url"), QUrl::FullyDecoded), QUrl::StrictMode);
        return m_relay.relay(*relayTail, kind == QLatin1String("movie") ? relay::Kind::Movie : relay::Kind::Load,
                             target, request, response);
    }
    refuse(404, "not found\n");
}

void PlayerHost::close(const QByteArray &session)
{
    m_relay.closeSession(session);
    if (m_menus.contains(session)) {
        answerMenu(session, -1);
        emit menuGone(session);
    }
}

void PlayerHost::answerMenu(const QByteArray &session, int index)
{
    const AskedMenu asked = m_menus.take(session);
    if (asked.answer && asked.answer->isOpen())
        asked.answer->send(200, "text/plain; charset=utf-8", QByteArray::number(asked.menu.offers(index) ? index : -1),
                           relay::answerHeaders());
}

void PlayerHost::serveFile(const QByteArray &name, const http::Request &request, http::Response *response)
{
    const auto shellScript = [](const QString &path) {
        EmulatorFiles::File f;
        f.data = resource(path);
        f.contentType = "text/javascript; charset=utf-8";
        return f;
    };
    static const EmulatorFiles::File player = shellScript(QStringLiteral(":/player/player.js"));
    static const EmulatorFiles::File loads = shellScript(QStringLiteral(":/player/loads.js"));
    static const EmulatorFiles::File pageData = [&] {
        EmulatorFiles::File f = shellScript(QStringLiteral(":/player/pagedata.js"));
        f.data.prepend(sharedScript()); // the first of the player's scripts
        return f;
    }();
    const EmulatorFiles::File *file = name == "player.js"     ? &player
                                      : name == "loads.js"    ? &loads
                                      : name == "pagedata.js" ? &pageData
                                                              : m_files.find(name.mid(int(qstrlen("ruffle/"))));
    if (!file)
        return response->send(404, "text/plain; charset=utf-8", "not found\n", relay::answerHeaders());
    ++m_filesServed;
    qCDebug(playerLog) << "serving" << name;
    http::Headers headers = {{"Content-Type", file->contentType},
                             {"X-Content-Type-Options", "nosniff"},
                             {"Cross-Origin-Resource-Policy", "same-origin"}};
    if (file->immutable) {
        headers.emplaceBack("Cache-Control", "max-age=31536000, immutable");
    } else if (!file->etag.isEmpty()) {
        headers.emplaceBack("Cache-Control", "no-cache");
        headers.emplaceBack("ETag", file->etag);
        if (request.header("If-None-Match") == file->etag)
            return response->send(304, {}, {}, headers);
    } else {
        headers.emplaceBack("Cache-Control", "no-store");
    }
    http::sendData(response, 200, headers, file->data);
}
