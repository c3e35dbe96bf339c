#include "options.h"

#include "identity.h"
#include "wayback.h"

#include <QTranslator>

namespace app {

namespace {

// Qt's own options, which it takes off the command line itself.
bool isQtOption(const QString &a, bool *takesValue)
{
    static const QStringList withValue{"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                       "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style",
                                       "stylesheet", "name", "title", "visual"};
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
                return o.error = said(QT_TRANSLATE_NOOP("CommandLine", "--archive-url: not an http or https address: %1")).arg(value), o;
            o.archivePrefix = *prefix;
        } else if (valueOf(a, QLatin1String("--archive-date"), &value)) {
            if (!wayback::isTimestamp(value))
                return o.error = said(QT_TRANSLATE_NOOP("CommandLine", "--archive-date: not a date as YYYY[MM[DD[hh[mm[ss]]]]]: %1")).arg(value), o;
            o.archiveDate = value;
        } else {
            return o.error = said(QT_TRANSLATE_NOOP("CommandLine", "unknown option: %1 (see --help)")).arg(a), o;
        }
    }
    return o;
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
                                  "  -h, --help                print this help and exit\n"
                                  "  --version                 print the name and version and exit\n"))
        .arg(QString::fromLatin1(wayback::DefaultPrefix));
}

QString versionLine()
{
    return QStringLiteral("%1 %2\n").arg(QString::fromUtf8(identity::ProjectName), QString::fromUtf8(identity::Version));
}

} // namespace app
