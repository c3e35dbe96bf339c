#include "userproxy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace userproxy {

namespace {

constexpr quint16 DefaultPort = 1080;
constexpr int DesktopReadMs = 1000;
constexpr qint64 MaxSettingsBytes = 256 * 1024;

bool isHttps(const QUrl &target)
{
    return target.scheme() == QLatin1String("https");
}

QStringList listOf(const QString &text)
{
    QStringList items;
    for (QString item : text.split(u',', Qt::SkipEmptyParts)) {
        item = item.trimmed();
        if (!item.isEmpty())
            items << item;
    }
    return items;
}

// What gsettings prints for a string or an array of strings: 'a' or ['a', 'b'].
QStringList gsettingsValues(QString value)
{
    value = value.trimmed();
    if (value.startsWith(u'[') && value.endsWith(u']'))
        value = value.mid(1, value.size() - 2);
    QStringList values;
    for (QString v : value.split(u',', Qt::SkipEmptyParts)) {
        v = v.trimmed();
        if (v.size() >= 2 && (v.startsWith(u'\'') || v.startsWith(u'"')))
            v = v.mid(1, v.size() - 2);
        if (!v.isEmpty())
            values << v;
    }
    return values;
}

} // namespace

std::optional<QNetworkProxy> readAddress(const QString &text, QString *error)
{
    const auto refuse = [error](const QString &why) -> std::optional<QNetworkProxy> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString t = text.trimmed();
    const QUrl url(t.contains(QLatin1String("://")) ? t : QStringLiteral("http://") + t, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    QNetworkProxy::ProxyType type;
    if (scheme == QLatin1String("http"))
        type = QNetworkProxy::HttpProxy;
    else if (scheme == QLatin1String("socks5h") || scheme == QLatin1String("socks5"))
        type = QNetworkProxy::Socks5Proxy;
    else
        return refuse(QStringLiteral("not an http:// or socks5h:// proxy"));
    if (!url.isValid() || url.host().isEmpty())
        return refuse(QStringLiteral("not a proxy address"));
    if (!url.userInfo().isEmpty())
        return refuse(QStringLiteral("a proxy that needs a password is not supported"));
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return refuse(QStringLiteral("a proxy address has no path"));
    QNetworkProxy proxy(type, url.host(), quint16(url.port(DefaultPort)));
    // Names go to the proxy as they are (socks5h), never looked up here.
    proxy.setCapabilities(proxy.capabilities() | QNetworkProxy::HostNameLookupCapability
                          | QNetworkProxy::TunnelingCapability);
    return proxy;
}

bool isBypassed(const QStringList &noProxy, const QString &rawHost)
{
    const QString host = rawHost.toLower();
    for (QString entry : noProxy) {
        entry = entry.trimmed().toLower();
        if (entry == QLatin1String("*"))
            return true;
        if (entry.startsWith(u'.'))
            entry.remove(0, 1);
        if (!entry.isEmpty() && (host == entry || host.endsWith(u'.' + entry)))
            return true;
    }
    return false;
}

std::optional<QNetworkProxy> fromEnvironment(const QProcessEnvironment &env, const QUrl &target)
{
    const QString noProxy = env.contains(QStringLiteral("no_proxy")) ? env.value(QStringLiteral("no_proxy"))
                                                                     : env.value(QStringLiteral("NO_PROXY"));
    if (isBypassed(listOf(noProxy), target.host()))
        return std::nullopt;
    // HTTP_PROXY in upper case is left out, as curl does: a web server's CGI sets it
    // from a request's "Proxy:" header.
    const QStringList names = isHttps(target) ? QStringList{"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}
                                              : QStringList{"http_proxy", "all_proxy", "ALL_PROXY"};
    for (const QString &name : names) {
        const QString value = env.value(name).trimmed();
        if (!value.isEmpty())
            return readAddress(value);
    }
    return std::nullopt;
}

std::optional<QNetworkProxy> fromGnome(const QString &settings, const QUrl &target)
{
    QHash<QString, QString> keys; // "http host" -> value
    for (const QString &line : settings.split(u'\n')) {
        static const QRegularExpression form(
            QStringLiteral("^org\\.gnome\\.system\\.proxy(?:\\.(\\w+))? ([\\w-]+) (.*)$"));
        const QRegularExpressionMatch m = form.match(line.trimmed());
        if (m.hasMatch())
            keys.insert(m.captured(1) + u' ' + m.captured(2), m.captured(3));
    }
    if (gsettingsValues(keys.value(QStringLiteral(" mode"))).value(0) != QLatin1String("manual"))
        return std::nullopt;
    if (isBypassed(gsettingsValues(keys.value(QStringLiteral(" ignore-hosts"))), target.host()))
        return std::nullopt;
    for (const QString &kind :
         {isHttps(target) ? QStringLiteral("https") : QStringLiteral("http"), QStringLiteral("socks")}) {
        const QString host = gsettingsValues(keys.value(kind + QStringLiteral(" host"))).value(0);
        const int port = keys.value(kind + QStringLiteral(" port")).trimmed().toInt();
        if (host.isEmpty() || port <= 0 || port > 65535)
            continue;
        const QString scheme = kind == QLatin1String("socks") ? QStringLiteral("socks5h") : QStringLiteral("http");
        return readAddress(scheme + QStringLiteral("://") + host + u':' + QString::number(port));
    }
    return std::nullopt;
}

std::optional<QNetworkProxy> fromKde(const QString &kioslaverc, const QUrl &target)
{
    QHash<QString, QString> keys;
    bool inProxy = false;
    for (QString line : kioslaverc.split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            inProxy = line == QLatin1String("[Proxy Settings]");
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inProxy && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    if (keys.value(QStringLiteral("ProxyType")) != QLatin1String("1"))
        return std::nullopt;
    if (isBypassed(listOf(keys.value(QStringLiteral("NoProxyFor"))), target.host()))
        return std::nullopt;
    for (const QString &key :
         {isHttps(target) ? QStringLiteral("httpsProxy") : QStringLiteral("httpProxy"), QStringLiteral("socksProxy")}) {
        QString value = keys.value(key);
        if (value.isEmpty())
            continue;
        // Older files write "http://host 8080".
        value.replace(QRegularExpression(QStringLiteral("\\s+(\\d+)$")), QStringLiteral(":\\1"));
        if (key == QLatin1String("socksProxy"))
            value.replace(QRegularExpression(QStringLiteral("^socks5?://")), QStringLiteral("socks5h://"));
        if (!value.contains(QLatin1String("://")))
            value.prepend(key == QLatin1String("socksProxy") ? QStringLiteral("socks5h://")
                                                             : QStringLiteral("http://"));
        return readAddress(value);
    }
    return std::nullopt;
}

QNetworkProxy fromDesktop(const QUrl &target)
{
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (!gsettings.isEmpty()) {
        QProcess process;
        process.start(gsettings, {QStringLiteral("list-recursively"), QStringLiteral("org.gnome.system.proxy")});
        if (process.waitForFinished(DesktopReadMs) && process.exitCode() == 0)
            if (const auto proxy
                = fromGnome(QString::fromUtf8(process.readAllStandardOutput().left(MaxSettingsBytes)), target))
                return *proxy;
        process.kill();
        process.waitForFinished(DesktopReadMs);
    }
    QFile kde(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                  .filePath(QStringLiteral("kioslaverc")));
    if (kde.open(QIODevice::ReadOnly))
        if (const auto proxy = fromKde(QString::fromUtf8(kde.read(MaxSettingsBytes)), target))
            return *proxy;
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

} // namespace userproxy
