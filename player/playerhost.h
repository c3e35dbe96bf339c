#pragma once

// The album player: its loopback host (shell page, emulator files, the relay with the
// movie sandbox). Nothing of the browser engine in here; the viewers drive it.

#include "emulatorfiles.h"
#include "moviemenu.h"
#include "player_export.h"
#include "relay.h"
#include "server.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

// Serves the album player on 127.0.0.1 under a per-run secret path: our shell page, the
// emulator's files and the relay that fetches what movies ask for. It answers only the
// browser engine's own requests of the kinds the player makes (by the engine's
// Sec-Fetch headers), under its own Host name; everything else gets nothing.
class PLAYER_EXPORT PlayerHost : public QObject
{
    Q_OBJECT
public:
    // The longest title a player takes for its movie (what screen readers hear of it).
    static constexpr int MaxTitleChars = 200;
    // What a player frame in a page says to the page's side of the program once it is there.
    static constexpr char HelloFromPlayer[] = "photoforKP:player";
    // Both, as a script's first line for the scripts that share them (the player's, the
    // finder's): a frozen global Shared.
    static QByteArray sharedScript();

    explicit PlayerHost(QString emulatorDir = defaultEmulatorDir(), QObject *parent = nullptr);
    ~PlayerHost() override;
    bool start();
    bool isRunning() const { return m_running; }
    quint16 port() const { return m_server.port(); }

    // A fresh player for movie, with a sandbox of its own: the shell page's address
    // (the link travels as data in it, never as markup) and the session to close.
    struct Player
    {
        QUrl url; // the player page with its session and movie (a viewer's own page)
        QByteArray session;
    };
    // embedder: the page a movie stands in (a frame of the page then plays it); title:
    // what the movie is, for screen readers.
    // offerArchive: an album whose movie cannot load offers its archived copy.
    Player open(const QString &movie, const QUrl &embedder = {}, const QString &title = {}, bool offerArchive = false);
    // A player for a frame in a web page: the page holding the frame can read its
    // address, which holds only the handover id, so the frame gets its session from
    // here, once, in return for the proof that the program's finder posted to it alone.
    // The session, or nothing if that handover id is taken.
    QByteArray openFrame(const QString &movie, const QUrl &embedder, const QByteArray &handover,
                         const QByteArray &proof);
    // The bare player page: frames get their session as above, the album viewer's is in
    // the address open() gives.
    QUrl frameUrl() const { return QUrl(base() + QStringLiteral("player.html")); }
    void close(const QByteArray &session);

    // How a player's movie fares, as its page reports it.
    // ArchiveWanted: the person took the failed album's offer of its archived copy.
    enum class MovieState { Painted, Failed, ArchiveWanted };
    Q_ENUM(MovieState)

    // The player page that plays no movie: it compiles the emulator ahead of the next
    // player (in the same page process) and fetches nothing else.
    QUrl warmUrl() const { return warmUrlOf(frameUrl()); }
    // The same, from the address of any player page of the host.
    static QUrl warmUrlOf(const QUrl &playerPage)
    {
        QUrl warm = playerPage.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
        warm.setQuery(QStringLiteral("warm"));
        return warm;
    }
    // http://127.0.0.1:PORT/TOKEN/, where everything is served.
    QString base() const;
    // Its relay's limits and counts, for whoever tunes or watches them (tests do).
    relay::Relay &relay() { return m_relay; }
    // Who may connect (the program's guard, when the engine goes through one): anyone
    // else is cut at once, so that no other program can crowd the engine out.
    void setAdmission(std::function<bool(const QHostAddress &, quint16)> admits)
    {
        m_server.setAdmission(std::move(admits));
    }
    // Emulator files served so far, for tests that check a page without movies loads none.
    int filesServed() const { return m_filesServed; }

    // Where the installed program keeps the emulator (beside the executable, in share/).
    static QString defaultEmulatorDir();

    // The choice made from a movie's menu (menuWanted): the index of one of its
    // entries, or -1 when it closed with none. Anything else counts as none.
    void answerMenu(const QByteArray &session, int index);

signals:
    void movieState(const QByteArray &session, PlayerHost::MovieState state);
    // A person asked for the menu of the movie of session; answer with answerMenu.
    void menuWanted(const QByteArray &session, const MovieMenu &menu);
    // The movie no longer waits for its menu (its player went): close it unanswered.
    void menuGone(const QByteArray &session);

private:
    void handle(const http::Request &request, http::Response *response);
    void serveFile(const QByteArray &name, const http::Request &request, http::Response *response);

    QString m_emulatorDir;
    QByteArray m_token;
    http::Server m_server;
    EmulatorFiles m_files;
    relay::Relay m_relay;
    struct Handover
    {
        QByteArray session;
        QByteArray proof;
    };
    QHash<QByteArray, Handover> m_handovers; // a frame's one-time id
    struct AskedMenu
    {
        MovieMenu menu;
        QPointer<http::Response> answer;
    };
    QHash<QByteArray, AskedMenu> m_menus; // a session's open menu, at most one each
    static constexpr int MaxHandovers = 256;
    int m_filesServed = 0;
    bool m_running = false;
};
