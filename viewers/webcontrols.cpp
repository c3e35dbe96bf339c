#include "webcontrols.h"

#include "browserengine.h"
#include "errors.h"
#include "guard.h"
#include "loadnotice.h"
#include "pageflash.h"
#include "playerhost.h"
#include "viewerpage.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDateTime>
#include <QKeyEvent>
#include <QMenu>
#include <QWebEngineProfile>

ViewerView::ViewerView(BrowserEngine &engine, bool player, QWidget *parent)
    : QWebEngineView(parent), m_engine(engine),
      m_page(engine.pages().open(engine.profile(), player ? PageKeeper::Kind::Player : PageKeeper::Kind::WebPage)),
      m_overlays(*this, [this] { openArchived(); }), m_watch(engine, m_page.data())
{
    // A stop in its window's tab order: the focus it gets goes on to the page inside.
    setFocusPolicy(Qt::StrongFocus);
    setPage(m_page);
    connect(&engine, &BrowserEngine::copyFailed, this, [this] { tellFailure(loadnotice::CopyFailed, false); });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        m_watch.stop();
        showNotice(Notice::Message, QStringLiteral("页面已停止运行，请重新打开。"));
    });
    // A page that floods the console is stopped as one whose process died: its
    // documents go, and with them whatever said it.
    connect(m_page, &ViewerPage::flooding, this, [this] {
        m_watch.stop();
        connect(
            m_page, &QWebEnginePage::loadFinished, this,
            [this] { showNotice(Notice::Message, QStringLiteral("页面已停止运行，请重新打开。")); },
            Qt::SingleShotConnection);
        m_page->load(QUrl(QStringLiteral("about:blank")));
    });
    connect(m_page, &ViewerPage::newWindowWanted, this, [this](const QUrl &url) { m_engine.openInBrowser(url); });
    connect(m_page, &QWebEnginePage::loadingChanged, this, &ViewerView::loadChanged);
    connect(&m_watch, &LoadWatch::slow, this, [this] {
        if (m_overlays.noticeKind() == Notice::None)
            showNotice(Notice::Loading, loadnotice::Loading);
    });
    connect(&m_watch, &LoadWatch::archiveBusy, this, [this] {
        if (!m_overlays.says(Notice::Loading, loadnotice::ArchiveWaiting))
            showNotice(Notice::Loading, loadnotice::ArchiveWaiting);
    });
    connect(&m_watch, &LoadWatch::noAnswer, this, [this](bool archived) {
        failed(archived ? loadnotice::ArchiveNoAnswer : loadnotice::NoAnswer, !archived);
        m_page->triggerAction(QWebEnginePage::Stop);
    });
    connect(&m_watch, &LoadWatch::shown, this, &ViewerView::shown);
    // Ctrl+Tab leaves the page whatever its scripts do with keys: it is taken before the
    // engine sees it.
    qApp->installEventFilter(this);
}

ViewerView::~ViewerView()
{
    ViewerView::finish(ClosedBy::User);
}

ViewerPage *ViewerView::viewerPage() const
{
    return m_page;
}

void ViewerView::finish(ClosedBy by)
{
    if (std::exchange(m_finished, true) || !m_page)
        return;
    m_watch.stop();
    disconnect(m_page, nullptr, this, nullptr);
    // The keeper may let the page go at once: the view lets go of it first, hidden while
    // it still has it (a view hidden without a page would make itself a default one).
    hide();
    setPage(nullptr);
    // The page is the keeper's, not the view's: it may outlive the view by a moment (its
    // dialog is still up) or for a while (blank, keeping its site's process warm).
    m_engine.pages().closed(m_page, by);
}

QString ViewerView::notice() const
{
    return m_overlays.notice();
}

QPushButton *ViewerView::archiveOffer() const
{
    return m_overlays.archiveOffer();
}

QString ViewerView::archiveLabel() const
{
    return m_overlays.archiveLabel();
}

void ViewerView::failed(const QString &text, bool archiveMayHelp)
{
    m_watch.stop();
    const bool offer = archiveMayHelp && m_firstLoad && m_engine.mayOfferArchive(m_watch.asked());
    m_firstLoad = false;
    tellFailure(text, offer);
}

void ViewerView::clearNotice()
{
    showNotice(Notice::None, {});
}

void ViewerView::tellFailure(const QString &text, bool offer)
{
    showNotice(Notice::Message, text);
    m_overlays.offerArchive(offer);
}

// The same link in the same viewer, from the archive; its site from the archive from now on.
void ViewerView::openArchived()
{
    const QUrl asked = m_watch.asked();
    if (!asked.isValid())
        return;
    m_engine.archiveSite(asked);
    m_overlays.offerArchive(false);
    watchLoad();
    load(asked);
}

void ViewerView::setArchiveLabelArea(const QRect &area)
{
    m_overlays.setArchiveLabelArea(area);
}

void ViewerView::showArchiveLabel(const QDateTime &captured)
{
    m_overlays.showArchiveLabel(captured);
}

void ViewerView::keepPage(const QUrl &url, const QString &title, const QDateTime &captured)
{
    if (!captured.isValid())
        return;
    if (const std::shared_ptr<wayback::Recorder> recorder = m_engine.connectionGuard().routing().recorder())
        recorder->notePage(url, captured, title);
}

void ViewerView::showNotice(Notice kind, const QString &text)
{
    m_overlays.showNotice(kind, text);
    // While loading the view stays shown beneath, or the engine would not draw the page;
    // a message replaces it, and what the page held is gone from the window's tree.
    setVisible(kind != Notice::Message);
}

void ViewerView::watchLoad()
{
    m_firstLoad = true;
    if (m_overlays.noticeKind() != Notice::None)
        showNotice(Notice::None, {});
    m_watch.start();
}

void ViewerView::shown()
{
    m_watch.stop();
    m_firstLoad = false;
    if (m_overlays.noticeKind() == Notice::Loading)
        showNotice(Notice::None, {});
}

void ViewerView::loadChanged(const QWebEngineLoadingInfo &info)
{
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        // Going somewhere again (a reload, back): the message gives way.
        if (m_overlays.noticeKind() == Notice::Message)
            showNotice(Notice::None, {});
        if (m_firstLoad)
            m_watch.setAsked(info.url());
        showArchiveLabel({});
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus: {
        shown();
        const QDateTime captured = m_engine.connectionGuard().routing().capturedFor(url());
        showArchiveLabel(captured);
        keepPage(url(), title(), captured);
        break;
    }
    case QWebEngineLoadingInfo::LoadFailedStatus: {
        // Through the guard the engine sees only the guard's answer; the guard says why.
        const guard::Guard::Outcome outcome = m_engine.connectionGuard().outcomeFor(info.url());
        const bool archiveMayHelp = loadnotice::archiveMayHelp(outcome, info.errorDomain(), info.errorCode());
        QString text = loadnotice::guardText(outcome);
        if (text.isEmpty())
            text = loadnotice::failureText(info.errorDomain(), info.errorCode());
        if (!text.isEmpty()) {
            failed(text, archiveMayHelp);
        } else if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && archiveMayHelp && m_firstLoad
                   && m_engine.mayOfferArchive(m_watch.asked())) {
            // The site's own error page for the viewer's link: the archive may hold it.
            failed(loadnotice::statusText(info.errorCode()), true);
        } else if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
            shown();
            showArchiveLabel(m_engine.connectionGuard().routing().capturedFor(url()));
        }
        break;
    }
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        break;
    }
}

void ViewerView::showMovieMenus(PlayerHost &host, std::function<bool(const QByteArray &)> ours)
{
    connect(&host, &PlayerHost::menuWanted, this,
            [this, host = QPointer<PlayerHost>(&host), ours](const QByteArray &session, const MovieMenu &asked) {
                if (!ours(session))
                    return; // another view's
                if (!isVisible())
                    return host->answerMenu(session, -1);
                auto *menu = new QMenu(this);
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->setObjectName(QStringLiteral("movieMenu"));
                auto chosen = std::make_shared<int>(-1);
                for (const MovieMenu::Entry &e : asked.entries) {
                    if (e.separatorBefore && !menu->isEmpty())
                        menu->addSeparator();
                    QAction *action = menu->addAction(QString(e.text).replace(QLatin1Char('&'), QLatin1String("&&")));
                    action->setEnabled(e.enabled);
                    action->setCheckable(e.checked);
                    action->setChecked(e.checked);
                    connect(action, &QAction::triggered, menu, [chosen, index = e.index] { *chosen = index; });
                }
                // Answered once it has gone, chosen or not; closed unanswered if the movie went.
                connect(menu, &QObject::destroyed, host,
                        [host, session, chosen] { host->answerMenu(session, *chosen); });
                connect(host, &PlayerHost::menuGone, menu, [menu, session](const QByteArray &gone) {
                    if (gone == session)
                        menu->close();
                });
                // At the pointer; the keyboard's where the movie stands, or mid-view.
                const QRect area(mapToGlobal(QPoint(0, 0)), size());
                QPoint at = asked.byKey ? asked.at.value_or(area.center()) : QCursor::pos();
                if (!area.contains(at))
                    at = area.center();
                menu->popup(at);
            });
}

bool ViewerView::focusNextPrevChild(bool next)
{
    // The window's chain from where the page's widget stands in it, past everything of
    // the view's own, to the next control that takes Tab and can be seen.
    QWidget *const from = focusProxy() ? focusProxy() : this;
    for (QWidget *w = next ? from->nextInFocusChain() : from->previousInFocusChain(); w != from;
         w = next ? w->nextInFocusChain() : w->previousInFocusChain()) {
        if (w == this || isAncestorOf(w) || w->focusProxy() || !(w->focusPolicy() & Qt::TabFocus)
            || !w->isVisibleTo(window()) || !w->isEnabled())
            continue;
        // Come by keyboard: it shows its focus mark.
        window()->setAttribute(Qt::WA_KeyboardFocusChange);
        w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return false;
}

bool ViewerView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || !isAncestorOf(static_cast<QWidget *>(watched)))
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    const bool ctrlTab = key->key() == Qt::Key_Tab && mods == Qt::ControlModifier;
    const bool ctrlShiftTab = (key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Tab)
                              && mods == (Qt::ControlModifier | Qt::ShiftModifier);
    if (!ctrlTab && !ctrlShiftTab)
        return false;
    focusNextPrevChild(ctrlTab);
    return true;
}

void ViewerView::resizeEvent(QResizeEvent *event)
{
    QWebEngineView::resizeEvent(event);
    m_overlays.place();
}

WebBrowser::WebBrowser(BrowserEngine &engine, PlayerHost &host, QWidget *parent, bool findMovies)
    : ViewerView(engine, false, parent), m_host(host)
{
    if (findMovies)
        m_flash = new PageFlash(viewerPage(), host);
    showMovieMenus(host, [this](const QByteArray &session) {
        return session == m_movieSession || (m_flash && m_flash->plays(session));
    });
    connect(viewerPage(), &ViewerPage::movieWanted, this, &WebBrowser::playMovie);
    // Gone from its movie (back to a page, say): the movie's sandbox goes too.
    connect(viewerPage(), &QWebEnginePage::urlChanged, this, [this](const QUrl &url) {
        if (!m_movieSession.isEmpty() && url.adjusted(QUrl::RemoveQuery) != m_moviePage.adjusted(QUrl::RemoveQuery))
            closeMovie();
    });
}

WebBrowser::~WebBrowser()
{
    WebBrowser::finish(ClosedBy::User);
}

void WebBrowser::finish(ClosedBy by)
{
    closeMovie();
    delete m_flash.data(); // its players stop with the page's content
    ViewerView::finish(by);
}

void WebBrowser::Navigate(const QString &url)
{
    // Like an address bar: "example.com/x" means http, and text that is no address at all
    // still goes to the engine, whose failure the page area then tells.
    QUrl target = QUrl::fromUserInput(url);
    if (!target.isValid() || target.isEmpty())
        target = QUrl(QStringLiteral("http:///"));
    const bool web = target.scheme() == QLatin1String("http") || target.scheme() == QLatin1String("https");
    if (web && ViewerPage::namesMovie(target))
        return playMovie(target, {});
    watchLoad();
    load(target);
}

void WebBrowser::playMovie(const QUrl &movie, const QUrl &from)
{
    closeMovie();
    if (!m_host.start())
        return load(movie); // no player: the engine does what it can
    const PlayerHost::Player player = m_host.open(movie.toString(QUrl::FullyEncoded), from);
    m_movieSession = player.session;
    m_moviePage = player.url;
    load(player.url);
}

void WebBrowser::closeMovie()
{
    if (!m_movieSession.isEmpty())
        m_host.close(m_movieSession);
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
    showMovieMenus(host, [this](const QByteArray &session) { return session == m_session; });
    // Once its movie plays (or cannot), the player before it may go.
    connect(&host, &PlayerHost::movieState, this, [this](const QByteArray &session, PlayerHost::MovieState state) {
        if (session != m_session)
            return;
        if (state == PlayerHost::MovieState::Painted) {
            showArchiveLabel(m_host.relay().capturedFor(session));
            keepPage(QUrl(m_movie), window()->windowTitle(), m_host.relay().capturedFor(session));
        }
        if (state == PlayerHost::MovieState::Failed) {
            // Told as the page viewer tells a page's failure, with the same offer.
            const relay::Relay::Failure f = m_host.relay().movieFailure(session);
            const bool archiveMayHelp
                = f.failed
                  && loadnotice::archiveMayHelp(f.outcome, QWebEngineLoadingInfo::HttpStatusCodeDomain, f.siteStatus);
            tellFailure(loadnotice::movieText(!f.failed, f.outcome, f.siteStatus, f.status),
                        archiveMayHelp && this->engine().mayOfferArchive(QUrl(m_movie)));
        }
        if (state != PlayerHost::MovieState::ArchiveWanted)
            return this->engine().pages().playerPlaying();
        openArchived();
    });
}

ShockwaveFlash::~ShockwaveFlash()
{
    ShockwaveFlash::finish(ClosedBy::User);
}

void ShockwaveFlash::finish(ClosedBy by)
{
    // Whatever the movie was still loading stops with it.
    if (!m_session.isEmpty())
        m_host.close(m_session);
    m_session.clear();
    ViewerView::finish(by);
}

void ShockwaveFlash::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
}

// The album's site from the archive from now on, and the album again from there.
void ShockwaveFlash::openArchived()
{
    const QUrl movie(m_movie);
    if (!engine().hasArchive() || movie.scheme() != QLatin1String("http"))
        return;
    engine().archiveSite(movie);
    SetMovie(m_movie);
}

void ShockwaveFlash::SetMovie(const QString &movie)
{
    if (!m_host.start())
        forms::raise(forms::err::UnexpectedError, QStringLiteral("The player cannot start"));
    if (!m_session.isEmpty())
        m_host.close(m_session);
    m_movie = movie;
    showArchiveLabel({});
    clearNotice();
    // Should it not load, the viewer says why, as the page viewer does, and offers the
    // archive's copy where that may help: the player shows no message or offer of its own.
    const PlayerHost::Player player = m_host.open(movie, {}, m_title, false);
    m_session = player.session;
    viewerPage()->setAllowedDocument(player.url);
    load(player.url);
}
