#pragma once

#include "viewers_export.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWebEnginePage>

#include <functional>

class PageKeeper;
class QWebEngineDownloadRequest;
class QWebEngineView;

// The page of a viewer: what a page may do beyond itself is decided here.
// - Only web addresses open in it (and the engine's own pages); no other scheme is
//   ever handed to the desktop. It opens no window of its own: a new window a person
//   asked for is only told of, for the desktop's browser.
// - Its script dialogs hold the page, never the program: they are not modal, belong to
//   the viewer's window, go when the viewer goes, and a page that opens them in a row
//   is stopped after a few.
// Its keeper (pagekeeper.h) makes it, says whether it is still open, and lets it go.
namespace scriptdialog {
enum class Kind;
}

class VIEWERS_EXPORT ViewerPage : public QWebEnginePage
{
    Q_OBJECT
public:
    ViewerPage(PageKeeper &keeper, QWebEngineProfile *profile);
    ~ViewerPage() override;

    // The only document a player page may show; empty for a web page viewer.
    void setAllowedDocument(const QUrl &url) { m_allowed = url; }
    bool dialogsStopped() const { return m_stopped; }
    // File choosers the page asked for (each refused at once: the viewers upload nothing).
    int fileChoicesRefused() const { return m_filesRefused; }
    // Goes blank and silent, whatever the page says (no "stay on this page").
    void leave();

    // Plain text of a dialog: bounded, as a page may send megabytes.
    static QString boundedText(const QString &text);

    // Whether url names a Flash movie: its path ends in .swf, whatever the case.
    static bool namesMovie(const QUrl &url);
    // The engine would download what the page went to: a Flash movie is played in its
    // place (by whoever shows the page); nothing is ever saved.
    void offerDownload(QWebEngineDownloadRequest *download);

    // What a page's console may cost: longer messages, and any past these in a second,
    // are dropped unread (a page asks for 32 players at most, each address at most 64K).
    static constexpr int MaxConsoleChars = 2 * 65536 + 256;
    static constexpr int MaxConsoleMessagesPerSecond = 64;
    static constexpr int MaxConsoleCharsPerSecond = 512 * 1024;
    // More console messages than this in a second, read or not: the page floods.
    static constexpr int MaxConsoleHeardPerSecond = 1000;
    // Console messages of the page's documents that reached the program, read or not.
    qint64 consoleMessagesHeard() const { return m_consoleHeard; }

signals:
    // A person's click asked for url in a new window (a link, a script, a movie); the
    // page itself opens none.
    void newWindowWanted(const QUrl &url);
    // The page went to a Flash movie (by its name, or by the type it was served as),
    // from the page at from: the movie is to play in the page's place.
    void movieWanted(const QUrl &url, const QUrl &from);
    // A document of the page (any frame) has an <object> or <embed> (it says so on the
    // console; a page saying it falsely gains nothing but a look for movies).
    void moviesFound();
    // Something on a document's console said text after "photoforKP:movie " (the movie
    // finder asks for a player so; anything else may say it too).
    void playerAsked(const QString &text);
    // The page's documents say more on the console than any page needs to (in a loop):
    // it is to be stopped.
    void flooding();

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    bool runDialog(scriptdialog::Kind kind, const QUrl &origin, const QString &message, const QString &defaultValue,
                   QString *result);

    bool isOpen() const;

    PageKeeper &m_keeper;
    QUrl m_allowed;
    QUrl m_mainFrameAsked; // the last main-frame navigation, after its redirects
    int m_shown = 0;
    int m_filesRefused = 0;
    int m_inARow = 0;
    bool m_stopped = false;
    bool m_leaving = false;
    QElapsedTimer m_sinceClosed;
    QElapsedTimer m_sinceSecond; // the console's current second
    int m_heardThisSecond = 0;
    int m_consoleMessages = 0;
    qsizetype m_consoleChars = 0;
    qint64 m_consoleHeard = 0;
};
