#include "webcontrols.h"

#include "errors.h"
#include "playerhost.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

// The player's page stays the player: the movie cannot take it anywhere else.
class PlayerPage : public QWebEnginePage
{
public:
    PlayerPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent) {}
    QUrl shell;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        return isMainFrame && url.adjusted(QUrl::RemoveQuery) == shell.adjusted(QUrl::RemoveQuery);
    }
};

} // namespace

WebBrowser::WebBrowser(QWebEngineProfile *profile, QWidget *parent) : QWebEngineView(parent)
{
    setPage(new QWebEnginePage(profile, this));
}

void WebBrowser::Navigate(const QString &url)
{
    // Like an address bar: "example.com/x" means http, and text that is no address at all
    // still goes to the engine, which shows its own error page.
    QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid() || target.isEmpty())
        target = QUrl(QStringLiteral("http:///"));
    load(target);
}

ShockwaveFlash::ShockwaveFlash(QWebEngineProfile *profile, PlayerHost &host, QWidget *parent)
    : QWebEngineView(parent), m_host(host)
{
    setPage(new PlayerPage(profile, this));
}

ShockwaveFlash::~ShockwaveFlash()
{
    // Whatever the movie was still loading stops with it.
    if (!m_session.isEmpty())
        m_host.close(m_session);
}

void ShockwaveFlash::SetMovie(const QString &movie)
{
    if (!m_host.start())
        forms::raise(forms::err::UnexpectedError, QStringLiteral("The player cannot start"));
    if (!m_session.isEmpty())
        m_host.close(m_session);
    m_movie = movie;
    const PlayerHost::Player player = m_host.open(movie);
    m_session = player.session;
    static_cast<PlayerPage *>(page())->shell = player.url;
    load(player.url);
}
