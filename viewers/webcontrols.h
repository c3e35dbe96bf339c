#pragma once

#include "keeping.h"
#include "loadnotice.h"
#include "loadwatch.h"
#include "vieweroverlays.h"
#include "viewers_export.h"

#include <QByteArray>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineScript>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>

class BrowserEngine;
class PageFlash;
class PlayerHost;
class QDateTime;
class QPushButton;
class ViewerPage;

// What both controls share: a page from the engine's page keeper, which owns it and,
// once the control goes, keeps it for a while or lets it go (pagekeeper.h); and a plain
// message in the page's place (vieweroverlays.h) while a page is slow to come (its watch,
// loadwatch.h), when it cannot be shown (the engine's own error page is off) or when its
// process died.
class VIEWERS_EXPORT ViewerView : public QWebEngineView
{
    Q_OBJECT
public:
    using ClosedBy = keeping::Keeping::By;

    ViewerView(BrowserEngine &engine, bool player, QWidget *parent);
    ~ViewerView() override;
    ViewerPage *viewerPage() const;
    // Its viewer unloaded (by the user, or for the next press's viewer): the page goes
    // back to the keeper now, not when the widget goes at the next turn of the event
    // loop, and the view loads and asks nothing more. Going does it if nothing did.
    virtual void finish(ClosedBy by);
    // What the page area says instead of the page, if anything.
    QString notice() const;
    // The button that opens the failed link's archived copy, while it is offered.
    QPushButton *archiveOffer() const;
    // What the line says of an archived copy shown, if one is.
    QString archiveLabel() const;
    // Where that line stands, in the parent's coordinates: the window's strip beside its
    // close button. Until one is given, over the view's bottom-left corner.
    void setArchiveLabelArea(const QRect &area);

protected:
    void resizeEvent(QResizeEvent *event) override;
    // Tab past the page's last element (Shift+Tab before its first): the engine hands the
    // focus back here, and it goes on to the window's next control.
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    BrowserEngine &engine() const { return m_engine; }
    // Called before loading a page the program asks for: until it draws, the page area
    // says it is coming, and says so if the site does not answer at all.
    void watchLoad();
    // The menus of the view's movies (ours: whether a player session is one of them),
    // shown as the program's own menus over the view.
    void showMovieMenus(PlayerHost &host, std::function<bool(const QByteArray &)> ours);
    // Says that what is shown is the archive's copy of captured (invalid: it is not).
    void showArchiveLabel(const QDateTime &captured);
    // An archived page or album shown: listed in the copy the run keeps, if it keeps one.
    void keepPage(const QUrl &url, const QString &title, const QDateTime &captured);
    // A message in the view's place, with the offer of the archive's copy if offerArchive.
    void tellFailure(const QString &text, bool offerArchive);
    // What the offer does: the same link in the same view, from the archive.
    virtual void openArchived();
    // The view itself again, without a message.
    void clearNotice();

private:
    using Notice = ViewerOverlays::Notice;
    // The notice, and the view beneath it only while there is no message.
    void showNotice(Notice kind, const QString &text);
    // A message for the first load's failure, with the archive's offer where it may help.
    void failed(const QString &text, bool archiveMayHelp);
    void loadChanged(const QWebEngineLoadingInfo &info);
    void shown();

    BrowserEngine &m_engine;
    QPointer<ViewerPage> m_page; // the keeper's, which may let it go once the view finished
    bool m_finished = false;
    ViewerOverlays m_overlays;
    bool m_firstLoad = false; // the viewer's own load, until it succeeds or fails
    LoadWatch m_watch;
};

// The web browser control: a browser view that is told where to go. Flash movies in
// its pages play in frames of the album player, if it has one.
class VIEWERS_EXPORT WebBrowser : public ViewerView
{
    Q_OBJECT
public:
    // findMovies false: the movies inside pages do not play (what looking for them costs
    // is measured against it); a movie's own address still does.
    WebBrowser(BrowserEngine &engine, PlayerHost &host, QWidget *parent, bool findMovies = true);
    ~WebBrowser() override;
    void finish(ClosedBy by) override;
    // Starts loading url; the text is handed to the engine as a user would type it. A
    // Flash movie's address (its path ends in .swf) plays in the player page, in this
    // view, as a browser with the Flash plug-in played it.
    void Navigate(const QString &url);

    // What a right click offers, in order (NoWebAction: a line between): going back,
    // forward, reloading, copying what is selected and selecting all; in a field that
    // can be edited, cutting and pasting too. Nothing that saves the page or opens its
    // source, which the viewer has no place for.
    static QList<QWebEnginePage::WebAction> menuActions(bool editable, QWebEngineContextMenuRequest::EditFlags edit);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // Plays movie in the view's place; from: the page that went to it, if one did (the
    // movie is then held to what that page may reach).
    void playMovie(const QUrl &movie, const QUrl &from);
    void closeMovie();

    QPointer<PageFlash> m_flash;
    PlayerHost &m_host;
    QByteArray m_movieSession;
    QUrl m_moviePage;
};

// The Flash player control: the emulator's player page in a browser view, with a
// sandbox of its own on the player host for each movie it is given, until the next one
// or its viewer unloads.
class VIEWERS_EXPORT ShockwaveFlash : public ViewerView
{
    Q_OBJECT
public:
    ShockwaveFlash(BrowserEngine &engine, PlayerHost &host, QWidget *parent);
    ~ShockwaveFlash() override;
    void finish(ClosedBy by) override;
    QString Movie() const { return m_movie; }
    void SetMovie(const QString &movie);
    // What the movie is, for screen readers (the album's name); set before the movie.
    void setTitle(const QString &title) { m_title = title; }

protected:
    // None of the engine's: the movie's own comes from its player.
    void contextMenuEvent(QContextMenuEvent *event) override;
    void openArchived() override;

private:
    PlayerHost &m_host;
    QString m_movie;
    QString m_title;
    QByteArray m_session;
};
