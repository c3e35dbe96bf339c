#include "playerhost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QRandomGenerator>

namespace {
constexpr int RelayTimeoutMs = 20000;
const QList<QPair<QByteArray, QByteArray>> NoStore = {{"Cache-Control", "no-store"}};
} // namespace

PlayerHost::PlayerHost(QString emulatorDir)
    : m_emulatorDir(std::move(emulatorDir)),
      m_server([this](const http::Request &r, http::Responder s) { handle(r, s); })
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    m_token = QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
}

QString PlayerHost::defaultEmulatorDir()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {appDir + QStringLiteral("/ruffle"),
                                     appDir + QStringLiteral("/../share/photoforKP/ruffle"),
                                     QStringLiteral(PHOTOFORKP_EMULATOR_BUILD_DIR)}) {
        if (QFileInfo::exists(candidate + QStringLiteral("/ruffle.js")))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return appDir + QStringLiteral("/ruffle");
}

bool PlayerHost::start()
{
    if (!m_running)
        m_running = m_server.listen(QHostAddress::LocalHost, 0);
    return m_running;
}

QString PlayerHost::base() const
{
    return QStringLiteral("http://127.0.0.1:%1/%2/").arg(m_server.port()).arg(QString::fromLatin1(m_token));
}

QUrl PlayerHost::playerUrl(const QString &movie) const
{
    QUrl url(base() + QStringLiteral("player.html"));
    url.setQuery(QStringLiteral("movie=") + QString::fromLatin1(QUrl::toPercentEncoding(movie)), QUrl::StrictMode);
    return url;
}

void PlayerHost::handle(const http::Request &request, http::Responder responder)
{
    const QByteArray prefix = '/' + m_token + '/';
    if (!request.target.startsWith(prefix)) {
        responder.send(404, "text/plain", "not found\n");
        return;
    }
    const QByteArray rest = request.target.mid(prefix.size());
    if (rest == "player.html" || rest.startsWith("player.html?")) {
        QFile shell(QStringLiteral(":/player/player.html"));
        shell.open(QIODevice::ReadOnly);
        responder.send(200, "text/html; charset=utf-8", shell.readAll(), NoStore);
    } else if (rest.startsWith("ruffle/")) {
        serveEmulatorFile(QString::fromLatin1(rest.mid(7)), responder);
    } else if (rest.startsWith("relay/")) {
        relay(rest.mid(6), responder);
    } else {
        responder.send(404, "text/plain", "not found\n");
    }
}

void PlayerHost::serveEmulatorFile(const QString &name, http::Responder responder)
{
    // Only plain file names of the emulator's folder.
    if (name.isEmpty() || name.contains('/') || name.contains('\\') || name.startsWith('.') || name.contains('?')) {
        responder.send(404, "text/plain", "not found\n");
        return;
    }
    auto it = m_fileCache.constFind(name);
    if (it == m_fileCache.constEnd()) {
        QFile f(m_emulatorDir + '/' + name);
        if (!f.open(QIODevice::ReadOnly)) {
            responder.send(404, "text/plain", "not found\n");
            return;
        }
        it = m_fileCache.insert(name, f.readAll());
    }
    // The emulator's file names carry their content hash, except the loader.
    const bool hashed = name != QLatin1String("ruffle.js");
    responder.send(200, http::contentTypeFor(name), it.value(),
                   {{"Cache-Control", hashed ? "max-age=31536000, immutable" : "no-cache"}});
}

void PlayerHost::relay(const QByteArray &rest, http::Responder responder)
{
    // relay/<scheme>/<host[:port]>/<path>?<query>, still encoded as the browser sent it.
    const qsizetype slash = rest.indexOf('/');
    const QByteArray scheme = rest.left(slash);
    if (slash <= 0 || (scheme != "http" && scheme != "https")) {
        responder.send(400, "text/plain", "unsupported address\n", NoStore);
        return;
    }
    const QUrl target = QUrl::fromEncoded(scheme + "://" + rest.mid(slash + 1), QUrl::StrictMode);
    if (!target.isValid() || target.host().isEmpty()) {
        responder.send(400, "text/plain", "invalid address\n", NoStore);
        return;
    }
    QNetworkRequest request(target);
    request.setTransferTimeout(RelayTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_network.get(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, responder]() mutable {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 0) {
            responder.send(502, "text/plain", reply->errorString().toUtf8() + '\n', NoStore);
            return;
        }
        responder.send(status, reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll(),
                       NoStore);
    });
}
