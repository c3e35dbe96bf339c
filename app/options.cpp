#include "options.h"

#include "addresses.h"
#include "identity.h"
#include "userproxy.h"
#include "wayback.h"

#include <QHostAddress>
#include <QTranslator>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>

namespace app {

namespace {

// Qt's own options, which it takes off the command line itself.
bool isQtOption(const QString &a, bool *takesValue)
{
    static const QStringList withValue{
        "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
        "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
        "style",       "stylesheet",         "name",          "title",   "visual"};
    static const QStringList flags{"reverse", "nograb", "dograb", "sync", "widgetcount"};
    if (!a.startsWith(u'-') || a == QLatin1String("-") || a == QLatin1String("--"))
        return false;
    const QString name = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
    *takesValue = withValue.contains(name);
    return *takesValue || flags.contains(name);
}

QTranslator *chineseTexts = nullptr; // null: English

} // namespace

bool wantsChinese(const std::function<QByteArray(const char *)> &variable)
{
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = variable(name);
        // LANGUAGE may list several, by preference: the first counts.
        if (!value.isEmpty())
            return value.startsWith("zh");
    }
    return false;
}

void speakChinese(bool chinese)
{
    if (!chinese) {
        delete std::exchange(chineseTexts, nullptr);
        return;
    }
    if (chineseTexts)
        return;
    // Looked up here rather than installed: the command line is read before Qt's
    // application object exists.
    auto *texts = new QTranslator;
    if (texts->load(QStringLiteral(":/i18n/photoforKP_zh_CN.qm")))
        chineseTexts = texts;
    else
        delete texts;
}

QString said(const char *source)
{
    const QString text = chineseTexts ? chineseTexts->translate("CommandLine", source) : QString();
    return text.isEmpty() ? QString::fromUtf8(source) : text;
}

Options parseOptions(const QStringList &arguments, const QString &defaultDate)
{
    Options o;
    o.archivePrefix = QUrl(QString::fromLatin1(wayback::DefaultPrefix));
    o.archiveDate = defaultDate;
    const auto valueOf = [](const QString &argument, QLatin1String name, QString *value) {
        if (!argument.startsWith(name) || argument.size() <= name.size() || argument.at(name.size()) != u'=')
            return false;
        *value = argument.mid(name.size() + 1);
        return true;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        QString value;
        bool qtValue = false;
        if (isQtOption(a, &qtValue)) {
            i += qtValue ? 1 : 0;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--version")) {
            o.version = true;
        } else if (a == QLatin1String("--archive")) {
            o.archive = true;
        } else if (valueOf(a, QLatin1String("--archive-url"), &value)) {
            const std::optional<QUrl> prefix = wayback::readPrefix(value);
            if (!prefix)
                return o.error
                       = said(QT_TRANSLATE_NOOP("CommandLine", "--archive-url: not an http or https address: %1"))
                             .arg(value),
                       o;
            o.archivePrefix = *prefix;
            o.archiveUrlGiven = true;
        } else if (valueOf(a, QLatin1String("--proxy"), &value)) {
            QString why;
            o.proxy = value == QLatin1String("none") ? std::optional<QNetworkProxy>(QNetworkProxy::NoProxy)
                                                     : userproxy::readAddress(value, &why);
            if (!o.proxy)
                return o.error = said(QT_TRANSLATE_NOOP("CommandLine", "--proxy: %1: %2"))
                                     .arg(said(why.toUtf8().constData()), value),
                       o;
        } else if (valueOf(a, QLatin1String("--archive-date"), &value)) {
            if (!wayback::isTimestamp(value))
                return o.error = said(QT_TRANSLATE_NOOP("CommandLine",
                                                        "--archive-date: not a date as YYYY[MM[DD[hh[mm[ss]]]]]: %1"))
                                     .arg(value),
                       o;
            o.archiveDate = value;
        } else if (valueOf(a, QLatin1String("--archive-file"), &value)) {
            o.archiveFiles << value;
        } else if (a == QLatin1String("--archive-file")) {
            o.askArchiveFile = true;
        } else if (valueOf(a, QLatin1String("--save-copy"), &value)
                   || valueOf(a, QLatin1String("--save-catalogue"), &value)) {
            const QString name = a.section(u'=', 0, 0);
            if (!value.endsWith(QLatin1String(".wacz"), Qt::CaseInsensitive))
                return o.error = said(QT_TRANSLATE_NOOP("CommandLine", "%1: the name must end in .wacz: %2"))
                                     .arg(name, value),
                       o;
            (name == QLatin1String("--save-copy") ? o.saveCopy : o.saveCatalogue) = value;
        } else if (a == QLatin1String("--save-catalogue")) {
            o.askSaveCatalogue = true;
        } else {
            return o.error = said(QT_TRANSLATE_NOOP("CommandLine", "unknown option: %1 (see --help)")).arg(a), o;
        }
    }
    const bool saving = !o.saveCopy.isEmpty() || !o.saveCatalogue.isEmpty() || o.askSaveCatalogue;
    if (saving && (!o.archiveFiles.isEmpty() || o.askArchiveFile))
        return o.error = said(QT_TRANSLATE_NOOP("CommandLine",
                                                "--save-copy and --save-catalogue keep what the archive on the "
                                                "network gives; they do not go with --archive-file")),
               o;
    if (!o.saveCopy.isEmpty() && (!o.saveCatalogue.isEmpty() || o.askSaveCatalogue))
        return o.error = said(QT_TRANSLATE_NOOP("CommandLine", "--save-copy and --save-catalogue: one copy at a time")),
               o;
    if (!o.saveCatalogue.isEmpty() || o.askSaveCatalogue)
        o.archive = true; // the whole catalogue comes from the archive
    return o;
}

QString judgeArchivePrefix(const QUrl &prefix, int timeoutMs)
{
    const QString host = prefix.host();
    if (!QHostAddress(host).isNull())
        return {}; // an address is the user's own choice, this machine included
    struct Lookup
    {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        QList<QHostAddress> addresses;
    };
    const auto lookup = std::make_shared<Lookup>();
    // Left to finish on its own if it takes too long: the answer is no longer wanted.
    std::thread([lookup, host] {
        // getaddrinfo itself: Qt's look-up wants its application object, not made yet.
        QList<QHostAddress> addresses;
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (::getaddrinfo(QUrl::toAce(host).constData(), nullptr, &hints, &found) == 0) {
            for (const addrinfo *a = found; a; a = a->ai_next)
                addresses << QHostAddress(a->ai_addr);
            ::freeaddrinfo(found);
        }
        const std::lock_guard<std::mutex> locked(lookup->lock);
        lookup->addresses = addresses;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> locked(lookup->lock);
    if (!lookup->done.wait_for(locked, std::chrono::milliseconds(timeoutMs), [&] { return lookup->finished; }))
        return {};
    const guard::Judge rule;
    const quint16 port = quint16(prefix.port(prefix.scheme() == QLatin1String("https") ? 443 : 80));
    for (const QHostAddress &address : std::as_const(lookup->addresses))
        if (!rule.countsAsPublic(address, port))
            return said(QT_TRANSLATE_NOOP("CommandLine",
                                          "--archive-url: %1 leads to this machine or its network (%2); a replay "
                                          "server on this machine is given by its address, such as "
                                          "http://127.0.0.1:8640/web/"))
                .arg(host, address.toString());
    return {};
}

QString optionsHelp()
{
    return said(QT_TRANSLATE_NOOP("CommandLine",
                                  "Usage: photoforKP [OPTION]...\n"
                                  "Browse the catalogues of the Ostavel pet community site.\n"
                                  "\n"
                                  "  --archive                 open every link from a web archive, not the site\n"
                                  "  --archive-url=PREFIX      the archive (Wayback-style), default %1\n"
                                  "  --archive-date=YYYY[MM[DD[hh[mm[ss]]]]]\n"
                                  "                            prefer the captures nearest this date (UTC)\n"
                                  "  --archive-file[=FILE]     open every link from web-archive files (.wacz,\n"
                                  "                            .warc.gz, .warc; may be given more than once),\n"
                                  "                            with no network; without FILE, ask for one\n"
                                  "  --save-copy=FILE.wacz     keep what the viewers get from the archive in FILE\n"
                                  "  --save-catalogue[=FILE.wacz]\n"
                                  "                            save every entry from the archive in FILE; without\n"
                                  "                            FILE, ask where\n"
                                  "  --proxy=URL               reach the archive through this proxy:\n"
                                  "                            http://host:port or socks5h://host:port, or none;\n"
                                  "                            default: https_proxy, http_proxy, all_proxy, then\n"
                                  "                            the desktop's setting (live sites: never a proxy)\n"
                                  "  -h, --help                print this help and exit\n"
                                  "  --version                 print the name and version and exit\n"))
        .arg(QString::fromLatin1(wayback::DefaultPrefix));
}

QString versionLine()
{
    return QStringLiteral("%1 %2\n").arg(QString::fromUtf8(identity::ProjectName),
                                         QString::fromUtf8(identity::Version));
}

} // namespace app
