#include "pageflash.h"

#include "viewerpage.h"

#include <QFile>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

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
QWebEngineScript frameScript(const QString &name, const QString &source, QWebEngineScript::ScriptWorldId world)
{
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setWorldId(world);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(true);
    return script;
}

// The movie finder: Qt's own channel client, the document's limit (the page's is kept
// here, in open()), then the finder itself, in one script so that they share its
// world's scope. It is run again for each look, so nothing in it is declared twice.
QString finderSource()
{
    return resourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js"))
           + QStringLiteral("\n{\nconst FlashLimits = { perDocument: %1 };\n").arg(PageFlash::MoviesPerDocument)
           + resourceText(QStringLiteral(":/viewers/flashembed.js")) + QStringLiteral("\n}\n");
}

} // namespace

PageFlash::PageFlash(ViewerPage *page, PlayerHost &host) : QObject(page), m_page(page), m_host(&host)
{
    static const QString plugin = resourceText(QStringLiteral(":/viewers/flashplugin.js"));
    // In the page's own world, where its scripts ask whether Flash is there.
    page->scripts().insert(frameScript(QStringLiteral("flash-plugin"), plugin, QWebEngineScript::MainWorld));
    connect(page, &ViewerPage::moviesFound, this, &PageFlash::look);
    // A new document is a new page: its players are new, and so is its allowance.
    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        if (m_host)
            for (const QByteArray &session : std::as_const(m_sessions))
                m_host->close(session);
        m_sessions.clear();
    });
    // The channel lives as long as its page, and is never taken off it: a page kept on
    // (blank, for its site's process) that lost its channel while a movie frame of it
    // was still going crashed the engine when the site's next page started, about one
    // time in three. Without this object on it, the channel answers nothing.
    m_channel = new QWebChannel(page);
    m_channel->registerObject(QStringLiteral("flash"), this);
    page->setWebChannel(m_channel, QWebEngineScript::ApplicationWorld);
}

PageFlash::~PageFlash()
{
    if (m_channel)
        m_channel->deregisterObject(this);
    if (m_host)
        for (const QByteArray &session : std::as_const(m_sessions))
            m_host->close(session);
}

void PageFlash::look()
{
    if (m_looking) {
        m_lookAgain = true;
        return;
    }
    static const QString finder = finderSource();
    m_looking = true;
    const quint64 run = ++m_run;
    m_page->runJavaScript(finder, QWebEngineScript::ApplicationWorld, [self = QPointer<PageFlash>(this), run](const QVariant &) {
        if (self)
            self->looked(run);
    });
    QTimer::singleShot(LookMs, this, [this, run] { looked(run); });
}

void PageFlash::looked(quint64 run)
{
    if (!m_looking || run != m_run)
        return;
    m_looking = false;
    if (std::exchange(m_lookAgain, false))
        look();
}

QVariantMap PageFlash::open(const QString &movie, const QString &page)
{
    if (!m_host || m_sessions.size() >= MoviesPerPage || !m_host->start())
        return {};
    const QUrl embedder(page);
    if (embedder.scheme() != QLatin1String("http") && embedder.scheme() != QLatin1String("https"))
        return {};
    const PlayerHost::Player player = m_host->open(movie, embedder);
    m_sessions << player.session;
    return {{QStringLiteral("url"), player.frameUrl.toString(QUrl::FullyEncoded)},
            {QStringLiteral("session"), QString::fromLatin1(player.session)},
            {QStringLiteral("movie"), movie}};
}
