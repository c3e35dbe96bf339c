#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "playerhost.h"

class QWebChannel;
class ViewerPage;

// Flash movies inside the web pages of a view: a script in a world of its own finds
// them in the page and asks here for a player frame for each; the frame plays the movie
// under the same sandbox as an album, judged by where the page is. Another, in the
// page's own world, tells the page's scripts that there is a Flash player, so that pages
// that ask first write their movies too, and tells this when a document has one: the
// finder's world is made only then, as making it costs every document.
class PageFlash : public QObject
{
    Q_OBJECT
public:
    PageFlash(ViewerPage *page, PlayerHost &host);
    ~PageFlash() override;

    // A player frame for movie: its address, and the session and movie the frame is to be
    // handed (never part of an address the page can read); nothing once a document has
    // had enough.
    Q_INVOKABLE QVariantMap open(const QString &movie, const QString &page);

    // Whether session is the player of one of the page's movies.
    bool plays(const QByteArray &session) const { return !session.isEmpty() && m_sessions.contains(session); }

    // How many movies play: in one document (its frames count apart), and in all the
    // documents of one page load together.
    static constexpr int MoviesPerDocument = 16;
    static constexpr int MoviesPerPage = 32;
    // How long a look may take before the next one goes ahead anyway.
    static constexpr int LookMs = 3000;

private:
    void look();
    void looked(quint64 run);

    ViewerPage *m_page;
    QPointer<PlayerHost> m_host; // a page may outlive it by a moment at the end
    QList<QByteArray> m_sessions;
    QPointer<QWebChannel> m_channel;
    // One look at a time, and one more if a document found movies meanwhile (each tells
    // only once). A look whose answer has not come in a few seconds (its document went
    // with its process) counts as done.
    bool m_looking = false;
    bool m_lookAgain = false;
    quint64 m_run = 0;
};
