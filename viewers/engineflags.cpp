// The engine's switches and environment.
#include "enginestart.h"

#include "language.h"

#include <QNetworkProxyFactory>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace enginestart {

namespace {

// What the engine reads from the environment when it starts, set by the program itself
// so that it runs the same from a launcher, a terminal or a script.
// Every connection of the engine goes through the guard (guard.h), loopback included:
// whatever proxy switches the environment holds give way to it, and WebRTC sends no
// UDP of its own past it.
QByteArray withGuard(const QByteArray &flags, quint16 port)
{
    QByteArray out;
    for (const QByteArray &flag : flags.split(' ')) {
        const bool proxyFlag = flag.startsWith("--proxy-") || flag.startsWith("--no-proxy-server")
                               || flag.startsWith("--proxy_") || flag.startsWith("--force-webrtc-ip-handling-policy")
                               || flag.startsWith("--winhttp-proxy-resolver");
        if (!flag.isEmpty() && !proxyFlag)
            out += flag + ' ';
    }
    if (port == 0) // the benchmark's own build, measuring what the guard costs
        return out.trimmed();
    return out + "--proxy-server=http://127.0.0.1:" + QByteArray::number(port)
           + " --proxy-bypass-list=<-loopback> --force-webrtc-ip-handling-policy=disable_non_proxied_udp";
}

} // namespace

void appendFlag(const QByteArray &flag, const QByteArray &unlessPresent)
{
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains(unlessPresent))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + ' ' + flag).trimmed());
}

void prepareEnvironment(quint16 guardPort)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", withGuard(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), guardPort));
    // The engine reads its switches (above the desktop's setting) only while Qt is told
    // to use the system's proxy configuration; otherwise it takes Qt's application proxy,
    // with a bypass for this machine that would let pages past the guard.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
#ifdef Q_OS_UNIX
    // The engine refuses to start its sandbox as root, and would end the program.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("photoforKP: running as root, so the browser engine runs without its sandbox\n", stderr);
    }
#endif
#ifdef Q_OS_LINUX
    // Page contents reach screen readers only when the engine is told to build them.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
#endif
    // Pages from the internet may not reach into the user's machine or network, as
    // current browsers hold them: this engine's release has the rules, but not on.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const QByteArray &feature : {QByteArrayLiteral("BlockInsecurePrivateNetworkRequests"),
                                      QByteArrayLiteral("PrivateNetworkAccessRespectPreflightResults")}) {
        if (flags.contains(feature))
            continue;
        const qsizetype at = flags.indexOf("--enable-features=");
        if (at >= 0)
            flags.insert(at + qstrlen("--enable-features="), feature + ',');
        else
            flags += " --enable-features=" + feature;
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    // The engine's own log lines only when asked for, as Qt's are.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        appendFlag("--log-level=3", "--log-level=");
    // The program speaks Simplified Chinese, whatever the system's locale: so do the
    // engine's own pages and messages.
    appendFlag(QByteArrayLiteral("--lang=") + forms::LanguageTag, "--lang=");
    // One process per site, and each site its own: a new page of a site starts in the
    // site's running process instead of a new one, and what the player's movies used
    // stays out of the pages' process.
    appendFlag("--site-per-process", "--site-per-process");
    appendFlag("--process-per-site", "--process-per-site");
    // No spare process kept besides: what is kept warm is ours to give back.
    appendFlag("--disable-features=SpareRendererForSitePerProcess", "SpareRendererForSitePerProcess");
    forms::installQtTranslation(QStringLiteral("qtwebengine"));
}

} // namespace enginestart
