#include "webcontrols.h"

#include "browserengine.h"
#include "errors.h"
#include "guard.h"
#include "loadnotice.h"
#include "pageflash.h"
#include "playerhost.h"
#include "viewerpage.h"
#include "wayback.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWebEngineProfile>

namespace {
// How often a load is looked at: whether it has answered, drawn, or run out of time.
constexpr int WatchEveryMs = 250;
// The page's clock and ours are read in different processes: a document begun this much
// before the request still counts as the one asked for.
constexpr qint64 ClockSlackMs = 50;
} // namespace

ViewerView::ViewerView(BrowserEngine &engine, bool player, QWidget *parent)
    : QWebEngineView(parent), m_engine(engine),
      m_page(engine.pages().open(engine.profile(), player ? PageKeeper::Kind::Player : PageKeeper::Kind::WebPage))
{
    // A stop in its window's tab order: the focus it gets goes on to the page inside.
    setFocusPolicy(Qt::StrongFocus);
    setPage(m_page);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        m_watch.stop();
        showNotice(Notice::Message, QStringLiteral("页面已停止运行，请重新打开。"));
    });
    // A page that floods the console is stopped as one whose process died: its
    // documents go, and with them whatever said it.
    connect(m_page, &ViewerPage::flooding, this, [this] {
        m_watch.stop();
        connect(m_page, &QWebEnginePage::loadFinished, this, [this] {
            showNotice(Notice::Message, QStringLiteral("页面已停止运行，请重新打开。"));
        }, Qt::SingleShotConnection);
        m_page->load(QUrl(QStringLiteral("about:blank")));
    });
    connect(m_page, &ViewerPage::newWindowWanted, this, [this](const QUrl &url) { m_engine.openInBrowser(url); });
    connect(m_page, &QWebEnginePage::loadingChanged, this, &ViewerView::loadChanged);
    m_watch.setInterval(WatchEveryMs);
    connect(&m_watch, &QTimer::timeout, this, &ViewerView::checkShown);
}

ViewerView::~ViewerView()
{
    delete m_notice.data();
    delete m_archiveLabel.data();
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
    return m_notice && m_notice->isVisible() ? m_notice->text() : QString();
}

QPushButton *ViewerView::archiveOffer() const
{
    return m_offer && m_notice && m_notice->isVisible() && m_offer->isVisible() ? m_offer.data() : nullptr;
}

QString ViewerView::archiveLabel() const
{
    return m_archiveLabel && m_archiveLabel->isVisible() ? m_archiveLabel->text() : QString();
}

void ViewerView::failed(const QString &text, bool archiveMayHelp)
{
    m_watch.stop();
    const bool offer = archiveMayHelp && m_firstLoad && m_engine.mayOfferArchive(m_asked);
    m_firstLoad = false;
    showNotice(Notice::Message, text);
    if (!offer) {
        if (m_offer)
            m_offer->hide();
        return;
    }
    if (!m_offer) {
        // Below the message, in the window's tab order.
        m_offer = new QPushButton(loadnotice::OpenArchived, m_notice);
        m_offer->setAccessibleName(loadnotice::OpenArchived);
        auto *layout = new QVBoxLayout(m_notice);
        layout->addStretch(3);
        layout->addWidget(m_offer, 0, Qt::AlignHCenter);
        layout->addStretch(2);
        connect(m_offer, &QPushButton::clicked, this, &ViewerView::openArchived);
    }
    m_offer->show();
}

// The same link in the same viewer, from the archive; its site from the archive from now on.
void ViewerView::openArchived()
{
    if (!m_asked.isValid())
        return;
    m_engine.archiveSite(m_asked);
    if (m_offer)
        m_offer->hide();
    watchLoad();
    load(m_asked);
}

void ViewerView::showArchiveLabel()
{
    const QDateTime captured = m_engine.connectionGuard().capturedFor(url());
    if (!captured.isValid()) {
        if (m_archiveLabel)
            m_archiveLabel->hide();
        return;
    }
    if (!m_archiveLabel) {
        // A line in the page area's bottom-left corner, over the page.
        m_archiveLabel = new QLabel(parentWidget());
        m_archiveLabel->setMargin(3);
        m_archiveLabel->setAutoFillBackground(true);
        QPalette pal = m_archiveLabel->palette();
        pal.setColor(QPalette::Window, QColor(0xff, 0xf8, 0xdc));
        pal.setColor(QPalette::WindowText, QColor(0x55, 0x55, 0x55));
        m_archiveLabel->setPalette(pal);
    }
    m_archiveLabel->setText(wayback::label(captured));
    m_archiveLabel->setAccessibleName(m_archiveLabel->text());
    m_archiveLabel->adjustSize();
    placeOverlays();
    m_archiveLabel->show();
    m_archiveLabel->raise();
}

void ViewerView::showNotice(Notice kind, const QString &text)
{
    m_noticeKind = kind;
    if (kind == Notice::None) {
        if (m_notice)
            m_notice->hide();
        show();
        return;
    }
    // Beside the view, over it: the window's own widget, so that screen readers find the
    // words where the page would be.
    if (!m_notice) {
        m_notice = new QLabel(parentWidget());
        m_notice->setAlignment(Qt::AlignCenter);
        m_notice->setWordWrap(true);
        m_notice->setMargin(16);
        m_notice->setAutoFillBackground(true);
    }
    QPalette pal = m_notice->palette();
    pal.setColor(QPalette::Window, Qt::white);
    // The word that a page is coming is quieter than a message that it will not.
    pal.setColor(QPalette::WindowText, kind == Notice::Loading ? QColor(0x90, 0x90, 0x90) : QColor(0x55, 0x55, 0x55));
    m_notice->setPalette(pal);
    m_notice->setText(text);
    placeOverlays();
    m_notice->show();
    m_notice->raise();
    // While loading the view stays shown beneath, or the engine would not draw the page;
    // a message replaces it, and what the page held is gone from the window's tree.
    setVisible(kind == Notice::Loading);
}

void ViewerView::watchLoad()
{
    m_firstLoad = true;
    m_requestedAt = QDateTime::currentMSecsSinceEpoch();
    m_sinceRequest.start();
    m_answered = false;
    if (m_noticeKind != Notice::None)
        showNotice(Notice::None, {});
    m_watch.start();
}

void ViewerView::checkShown()
{
    const qint64 since = m_sinceRequest.elapsed();
    if (!m_answered && since >= loadnotice::NoAnswerAfterMs) {
        failed(loadnotice::NoAnswer, true);
        m_page->triggerAction(QWebEnginePage::Stop);
        return;
    }
    if (since >= loadnotice::LoadingAfterMs && m_noticeKind == Notice::None)
        showNotice(Notice::Loading, loadnotice::Loading);
    // Asked in a world of our own, where the page's scripts cannot change the answer:
    // whether the document now there is the one asked for (begun after the request; the
    // empty first document does not count) and whether it has drawn anything yet.
    const QString question = QStringLiteral("[location.href !== 'about:blank' && performance.timeOrigin >= %1,"
                                            " performance.getEntriesByType('paint').length > 0]")
                                 .arg(m_requestedAt - ClockSlackMs);
    QPointer<ViewerView> self(this);
    const qint64 asked = m_requestedAt;
    m_page->runJavaScript(question, QWebEngineScript::ApplicationWorld, [self, asked](const QVariant &answer) {
        if (!self || asked != self->m_requestedAt || !self->m_watch.isActive())
            return;
        const QVariantList parts = answer.toList();
        self->m_answered = self->m_answered || parts.value(0).toBool();
        if (parts.value(0).toBool() && parts.value(1).toBool())
            self->shown();
    });
}

void ViewerView::shown()
{
    m_watch.stop();
    m_firstLoad = false;
    if (m_noticeKind == Notice::Loading)
        showNotice(Notice::None, {});
}

void ViewerView::loadChanged(const QWebEngineLoadingInfo &info)
{
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        // Going somewhere again (a reload, back): the message gives way.
        if (m_noticeKind == Notice::Message)
            showNotice(Notice::None, {});
        if (m_firstLoad)
            m_asked = info.url();
        if (m_archiveLabel)
            m_archiveLabel->hide();
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        shown();
        showArchiveLabel();
        break;
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
                   && m_engine.mayOfferArchive(m_asked)) {
            // The site's own error page for the viewer's link: the archive may hold it.
            failed(loadnotice::statusText(info.errorCode()), true);
        } else if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
            shown();
            showArchiveLabel();
        }
        break;
    }
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        break;
    }
}

void ViewerView::showMovieMenus(PlayerHost &host, std::function<bool(const QByteArray &)> ours)
{
    connect(&host, &PlayerHost::menuWanted, this, [this, host = QPointer<PlayerHost>(&host), ours](
                                                      const QByteArray &session, const MovieMenu &asked) {
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
        connect(menu, &QObject::destroyed, host, [host, session, chosen] { host->answerMenu(session, *chosen); });
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

void ViewerView::resizeEvent(QResizeEvent *event)
{
    QWebEngineView::resizeEvent(event);
    placeOverlays();
}

void ViewerView::placeOverlays()
{
    // Siblings of the view, over it: the notice in its place, the label at its bottom left.
    if (m_notice)
        m_notice->setGeometry(geometry());
    if (m_archiveLabel)
        m_archiveLabel->move(geometry().left(), geometry().bottom() + 1 - m_archiveLabel->height());
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
        if (state != PlayerHost::MovieState::ArchiveWanted)
            return this->engine().pages().playerPlaying();
        // The album's site from the archive from now on, and the album again from there.
        const QUrl movie(m_movie);
        if (!this->engine().hasArchive() || movie.scheme() != QLatin1String("http"))
            return;
        this->engine().archiveSite(movie);
        SetMovie(m_movie);
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

void ShockwaveFlash::SetMovie(const QString &movie)
{
    if (!m_host.start())
        forms::raise(forms::err::UnexpectedError, QStringLiteral("The player cannot start"));
    if (!m_session.isEmpty())
        m_host.close(m_session);
    m_movie = movie;
    // Should it not load, an archive may hold it (unless it already comes from there).
    const PlayerHost::Player player = m_host.open(movie, {}, m_title, engine().mayOfferArchive(QUrl(movie)));
    m_session = player.session;
    viewerPage()->setAllowedDocument(player.url);
    load(player.url);
}
