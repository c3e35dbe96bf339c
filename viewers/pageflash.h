#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

#include "playerhost.h"

class ViewerPage;

// Flash movies inside the web pages of a view: a script in a world of its own, in every
// document of the page (frames of any site included), finds them and asks here for a
// player frame for each; the frame plays the movie under the same sandbox as an album,
// judged by where its document is. Another, in the page's own world, tells the page's
// scripts that there is a Flash player, so that pages that ask first write their movies
// too, and tells the finder when its document has one: only then does it search.
// The engine reaches only a page's top frame from here, so the finder asks on its
// document's console, with a secret of the run's that only its world holds; it makes
// the frame's handover id and its proof itself, and posts the proof to the player frame
// alone, which trades it here for its session.
class PageFlash : public QObject
{
    Q_OBJECT
public:
    PageFlash(ViewerPage *page, PlayerHost &host);
    ~PageFlash() override;

    // Whether session is the player of one of the page's movies.
    bool plays(const QByteArray &session) const { return !session.isEmpty() && m_sessions.contains(session); }

    // What the finder asks for: a player for movie, standing in the document at page, to
    // be handed over to the frame named handover in return for proof. token: the run's
    // secret, which only the finder's world holds.
    struct Asked
    {
        QString movie;
        QUrl page;
        QByteArray handover;
        QByteArray proof;
    };
    // The finder's request, or nothing if it is not one: not this shape, too long, not
    // token's, or for a document that is not on the web.
    static std::optional<Asked> readAsked(const QString &text, const QByteArray &token);

    // How many movies play: in one document (its frames count apart), and in all the
    // documents of one page load together.
    static constexpr int MoviesPerDocument = 16;
    static constexpr int MoviesPerPage = 32;
    // A movie's address as the finder tells it, in characters.
    static constexpr int MaxMovieAddress = 65536;

private:
    void asked(const QString &text);

    QPointer<PlayerHost> m_host; // a page may outlive it by a moment at the end
    QList<QByteArray> m_sessions;
    bool m_finderInTop = false;
};
