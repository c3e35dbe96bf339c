#include "webcontrols.h"

#include "errors.h"
#include "playerhost.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>

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
    setPage(new QWebEnginePage(profile, this));
}

void ShockwaveFlash::SetMovie(const QString &movie)
{
    if (!m_host.start())
        forms::raise(forms::err::UnexpectedError, QStringLiteral("The player cannot start"));
    m_movie = movie;
    load(m_host.playerUrl(movie));
}
