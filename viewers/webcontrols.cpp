#include "webcontrols.h"

#include "browserengine.h"
#include "errors.h"
#include "pageflash.h"
#include "playerhost.h"
#include "viewerpage.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QWebEngineProfile>

ViewerView::ViewerView(BrowserEngine &engine, bool player, QWidget *parent)
    : QWebEngineView(parent), m_engine(engine), m_page(new ViewerPage(engine.profile())), m_player(player)
{
    engine.viewerOpened(player ? BrowserEngine::Kind::Player : BrowserEngine::Kind::WebPage);
    // A stop in its window's tab order: the focus it gets goes on to the page inside.
    setFocusPolicy(Qt::StrongFocus);
    setPage(m_page);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, &ViewerView::showStopped);
    connect(m_page, &ViewerPage::newWindowWanted, this, [this](const QUrl &url) { m_engine.openInBrowser(url); });
    connect(m_page, &QWebEnginePage::loadStarted, this, [this] {
        if (m_stopped && m_stopped->isVisible()) {
            m_stopped->hide();
            show();
        }
    });
}

ViewerView::~ViewerView()
{
    delete m_stopped.data();
    // The page is ours, not the view's: it may outlive the view by a moment (its dialog
    // is still up) or for a while (blank, keeping its site's process warm).
    m_engine.viewerClosed(m_page, m_player ? BrowserEngine::Kind::Player : BrowserEngine::Kind::WebPage);
}

QString ViewerView::stoppedMessage() const
{
    return m_stopped && m_stopped->isVisible() ? m_stopped->text() : QString();
}

void ViewerView::showStopped()
{
    // In the view's place, beside it: what screen readers find there is the message, not
    // what the dead page last held.
    if (!m_stopped) {
        m_stopped = new QLabel(QStringLiteral("页面已停止运行，请重新打开。"), parentWidget());
        m_stopped->setAlignment(Qt::AlignCenter);
        m_stopped->setWordWrap(true);
        m_stopped->setAutoFillBackground(true);
        QPalette pal = m_stopped->palette();
        pal.setColor(QPalette::Window, Qt::white);
        pal.setColor(QPalette::WindowText, QColor(0x55, 0x55, 0x55));
        m_stopped->setPalette(pal);
    }
    m_stopped->setGeometry(geometry());
    m_stopped->show();
    m_stopped->raise();
    hide();
}

void ViewerView::resizeEvent(QResizeEvent *event)
{
    QWebEngineView::resizeEvent(event);
    if (m_stopped)
        m_stopped->setGeometry(geometry());
}

WebBrowser::WebBrowser(BrowserEngine &engine, PlayerHost *player, QWidget *parent)
    : ViewerView(engine, false, parent), m_host(player)
{
    if (player) {
        m_flash = new PageFlash(viewerPage(), *player);
        viewerPage()->setPlayerOrigin([host = QPointer<PlayerHost>(player)] {
            return host && host->isRunning() ? QUrl(host->base()) : QUrl();
        });
    }
    connect(viewerPage(), &ViewerPage::movieWanted, this, &WebBrowser::playMovie);
    // Gone from its movie (back to a page, say): the movie's sandbox goes too.
    connect(viewerPage(), &QWebEnginePage::urlChanged, this, [this](const QUrl &url) {
        if (!m_movieSession.isEmpty() && url.adjusted(QUrl::RemoveQuery) != m_moviePage.adjusted(QUrl::RemoveQuery))
            closeMovie();
    });
}

WebBrowser::~WebBrowser()
{
    closeMovie();
    delete m_flash.data(); // its players stop with the page's content
}

void WebBrowser::Navigate(const QString &url)
{
    // Like an address bar: "example.com/x" means http, and text that is no address at all
    // still goes to the engine, which shows its own error page.
    QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid() || target.isEmpty())
        target = QUrl(QStringLiteral("http:///"));
    const bool web = target.scheme() == QLatin1String("http") || target.scheme() == QLatin1String("https");
    if (web && ViewerPage::namesMovie(target))
        return playMovie(target, {});
    load(target);
}

void WebBrowser::playMovie(const QUrl &movie, const QUrl &from)
{
    closeMovie();
    if (!m_host || !m_host->start())
        return load(movie); // no player: the engine does what it can
    const PlayerHost::Player player = m_host->open(movie.toString(QUrl::FullyEncoded), from);
    m_movieSession = player.session;
    m_moviePage = player.url;
    load(player.url);
}

void WebBrowser::closeMovie()
{
    if (m_host && !m_movieSession.isEmpty())
        m_host->close(m_movieSession);
    m_movieSession.clear();
    m_moviePage.clear();
}

QList<QWebEnginePage::WebAction> WebBrowser::menuActions(bool editable, QWebEngineContextMenuRequest::EditFlags edit)
{
    using Page = QWebEnginePage;
    using Request = QWebEngineContextMenuRequest;
    QList<Page::WebAction> actions;
    if (!editable)
        actions << Page::Back << Page::Forward << Page::Reload << Page::NoWebAction;
    if (editable && edit.testFlag(Request::CanCut))
        actions << Page::Cut;
    if (edit.testFlag(Request::CanCopy))
        actions << Page::Copy;
    if (editable && edit.testFlag(Request::CanPaste))
        actions << Page::Paste;
    if (edit.testFlag(Request::CanSelectAll))
        actions << Page::SelectAll;
    if (!actions.isEmpty() && actions.last() == Page::NoWebAction)
        actions.removeLast();
    return actions;
}

void WebBrowser::contextMenuEvent(QContextMenuEvent *event)
{
    const QWebEngineContextMenuRequest *request = lastContextMenuRequest();
    if (!request)
        return;
    // The page's own actions: the engine keeps them enabled as its history and state allow.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QWebEnginePage::WebAction action : menuActions(request->isContentEditable(), request->editFlags())) {
        if (action == QWebEnginePage::NoWebAction)
            menu->addSeparator();
        else
            menu->addAction(page()->action(action));
    }
    menu->popup(event->globalPos());
}

ShockwaveFlash::ShockwaveFlash(BrowserEngine &engine, PlayerHost &host, QWidget *parent)
    : ViewerView(engine, true, parent), m_host(host)
{
    // Once its movie plays (or cannot), the player before it may go.
    connect(&host, &PlayerHost::movieState, this, [this](const QByteArray &session) {
        if (session == m_session)
            this->engine().playerPlaying();
    });
}

ShockwaveFlash::~ShockwaveFlash()
{
    // Whatever the movie was still loading stops with it.
    if (!m_session.isEmpty())
        m_host.close(m_session);
}

void ShockwaveFlash::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
}

void ShockwaveFlash::SetMovie(const QString &movie)
{
    if (!m_host.start())
        forms::raise(forms::err::UnexpectedError, QStringLiteral("The player cannot start"));
    if (!m_session.isEmpty())
        m_host.close(m_session);
    m_movie = movie;
    const PlayerHost::Player player = m_host.open(movie, {}, m_title);
    m_session = player.session;
    viewerPage()->setAllowedDocument(player.url);
    load(player.url);
}
