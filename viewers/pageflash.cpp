#include "pageflash.h"

#include "relay.h"
#include "viewerpage.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <algorithm>
#include <utility>

namespace {

QString resourceText(const QString &resource)
{
    QFile f(resource);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Made anew for every page, never copied from one: the engine knows a script by the
// object behind it, in every page of a process, so removing a shared one from a page
// that goes would remove it from the next page of the same site as well.
QWebEngineScript frameScript(const QString &name, const QString &source, QWebEngineScript::ScriptWorldId world,
                             QWebEngineScript::InjectionPoint when)
{
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setWorldId(world);
    script.setInjectionPoint(when);
    script.setRunsOnSubFrames(true);
    return script;
}

// The movie finder, with what it needs in its world's scope: the document's limit (the
// page's is kept here), the run's secret and the player's page.
QString finderSource(const QByteArray &token, const QUrl &player)
{
    return QStringLiteral("{\nconst FlashSetup = { perDocument: %1, token: \"%2\", player: \"%3\" };\n%4")
               .arg(PageFlash::MoviesPerDocument)
               .arg(QString::fromLatin1(token), player.toString(QUrl::FullyEncoded),
                    QString::fromLatin1(PlayerHost::sharedScript()))
           + resourceText(QStringLiteral(":/player/pagedata.js")) + QStringLiteral("\n")
           + resourceText(QStringLiteral(":/viewers/flashembed.js")) + QStringLiteral("\n}\n");
}

// Made by the finder from 16 random bytes.
bool isId(const QByteArray &id)
{
    return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// The secret the finder asks with: one for the whole run. The engine may run a script of
// an earlier page of the same process in a later one, so every page's finder must be
// the same script.
const QByteArray &runToken()
{
    static const QByteArray token = relay::randomId();
    return token;
}

} // namespace

PageFlash::PageFlash(ViewerPage *page, PlayerHost &host) : QObject(page), m_host(&host)
{
    host.start();
    // In a block, so that the page's scripts see nothing of it.
    static const QString plugin = QStringLiteral("{\n") + resourceText(QStringLiteral(":/player/pagedata.js"))
                                  + QStringLiteral("\n") + resourceText(QStringLiteral(":/viewers/flashplugin.js"))
                                  + QStringLiteral("\n}\n");
    const QString finder = finderSource(runToken(), host.frameUrl());
    // In the page's own world, where its scripts ask whether Flash is there, before them.
    page->scripts().insert(frameScript(QStringLiteral("flash-plugin"), plugin, QWebEngineScript::MainWorld,
                                       QWebEngineScript::DocumentCreation));
    // The finder's world costs every document it is made in (a page's load takes about
    // a tenth longer), so it comes into a frame only once the frame has loaded; the top
    // document's movies start sooner: once a document says it has one, the finder is
    // run in the top frame at once (the only frame the engine lets the program reach).
    page->scripts().insert(frameScript(QStringLiteral("flash-finder"), finder, QWebEngineScript::ApplicationWorld,
                                       QWebEngineScript::Deferred));
    connect(page, &ViewerPage::moviesFound, this, [this, page, finder] {
        if (!std::exchange(m_finderInTop, true)) // once a load: a page may say it any number of times
            page->runJavaScript(finder, QWebEngineScript::ApplicationWorld);
    });
    connect(page, &ViewerPage::playerAsked, this, &PageFlash::asked);
    // A new document is a new page: its players are new, and so is its allowance.
    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        m_finderInTop = false;
        if (m_host)
            for (const QByteArray &session : std::as_const(m_sessions))
                m_host->close(session);
        m_sessions.clear();
    });
}

PageFlash::~PageFlash()
{
    if (m_host)
        for (const QByteArray &session : std::as_const(m_sessions))
            m_host->close(session);
}

std::optional<PageFlash::Asked> PageFlash::readAsked(const QString &text, const QByteArray &token)
{
    // Anything may say it, any number of times: the secret comes first, and without it
    // nothing is parsed. Compared whole, whatever differs first: a guess learns nothing
    // from the time taken.
    const qsizetype n = token.size();
    if (n == 0 || text.size() <= n || text.size() > 2 * MaxMovieAddress || text.at(n) != QLatin1Char(' '))
        return std::nullopt;
    int differs = 0;
    for (qsizetype i = 0; i < n; ++i)
        differs |= text.at(i).unicode() ^ uchar(token[i]);
    if (differs)
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(QStringView(text).mid(n + 1).toUtf8()).object();
    Asked asked{o.value(QLatin1String("movie")).toString(), QUrl(o.value(QLatin1String("page")).toString()),
                o.value(QLatin1String("handover")).toString().toLatin1(),
                o.value(QLatin1String("proof")).toString().toLatin1()};
    if (!isId(asked.handover) || !isId(asked.proof) || asked.movie.isEmpty() || asked.movie.size() > MaxMovieAddress
        || (asked.page.scheme() != QLatin1String("http") && asked.page.scheme() != QLatin1String("https")))
        return std::nullopt;
    return asked;
}

void PageFlash::asked(const QString &text)
{
    const std::optional<Asked> asked = readAsked(text, runToken());
    if (!asked || !m_host || m_sessions.size() >= MoviesPerPage || !m_host->start())
        return; // its frame stays blank
    const QByteArray session = m_host->openFrame(asked->movie, asked->page, asked->handover, asked->proof);
    if (!session.isEmpty())
        m_sessions << session;
}
