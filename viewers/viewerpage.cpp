#include "viewerpage.h"

#include "pagekeeper.h"
#include "scriptdialog.h"
#include "sandbox.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QWebEngineDownloadRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineView>

namespace {

// A dialog that follows the last one's closing this quickly counts as one more in a row.
constexpr int InARowMs = 1000;
constexpr int MaxInARow = 3;

} // namespace

ViewerPage::ViewerPage(PageKeeper &keeper, QWebEngineProfile *profile) : QWebEnginePage(profile), m_keeper(keeper)
{
    // Camera, location, notifications and the like: the viewers offer none of them.
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl &origin, Feature feature) {
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    // The engine's own word on a person's click: its popup blocker spends the click on
    // the first window it opens, and scripts without one are not even asked about.
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &request) {
        if (request.isUserInitiated() && isOpen())
            emit newWindowWanted(request.requestedUrl());
    });
}

ViewerPage::~ViewerPage() = default;

bool ViewerPage::isOpen() const
{
    return !m_leaving && m_keeper.isOpen(this);
}

void ViewerPage::leave()
{
    m_leaving = true;
    setAudioMuted(true);
    load(QUrl(QStringLiteral("about:blank")));
}

QStringList ViewerPage::chooseFiles(FileSelectionMode, const QStringList &, const QStringList &)
{
    ++m_filesRefused;
    return {}; // the viewers upload nothing, and a file dialog would hold the program
}

QString ViewerPage::boundedText(const QString &text)
{
    return scriptdialog::bounded(text);
}

bool ViewerPage::namesMovie(const QUrl &url)
{
    return url.path().endsWith(QLatin1String(".swf"), Qt::CaseInsensitive);
}

void ViewerPage::offerDownload(QWebEngineDownloadRequest *download)
{
    const QByteArray type = download->mimeType().toLatin1().toLower();
    const bool movie = type == "application/x-shockwave-flash" || type == "application/futuresplash";
    const QUrl url = download->url();
    download->cancel();
    // Only where the page itself went (a main-frame navigation, its redirects included)
    // may a movie take its place: never a frame's navigation, nor <a download>.
    if (movie && m_allowed.isEmpty() && isOpen() && !m_mainFrameAsked.isEmpty() && url == m_mainFrameAsked
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")))
        emit movieWanted(url, this->url());
}

bool ViewerPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    // The engine lets a frame navigate the top document only as the top document's
    // same-site frame or after a person's click (a frame of another site is refused
    // without one), so a main-frame navigation is the page's or the person's.
    if (isMainFrame && (type != NavigationTypeRedirect || !m_mainFrameAsked.isEmpty()))
        m_mainFrameAsked = url;
    if (!m_allowed.isEmpty()) // a player: its own document and nothing else
        return isMainFrame
               && url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment)
                      == m_allowed.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    const QString scheme = url.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (web && isMainFrame && namesMovie(url)) {
        // A browser with the Flash plug-in played a movie the page went to in the page's
        // place; so does the viewer, once the engine is out of this call.
        const QUrl from = this->url();
        QMetaObject::invokeMethod(
            this, [this, url, from] { emit movieWanted(url, from); }, Qt::QueuedConnection);
        return false;
    }
    if (web || scheme == QLatin1String("about"))
        return true;
    // Frames a page makes of its own data; never a document of another program's scheme.
    return !isMainFrame && (scheme == QLatin1String("data") || scheme == QLatin1String("blob"));
}

QWebEnginePage *ViewerPage::createWindow(WebWindowType)
{
    return nullptr;
}

void ViewerPage::javaScriptAlert(const QUrl &securityOrigin, const QString &msg)
{
    runDialog(scriptdialog::Kind::Alert, securityOrigin, msg, {}, nullptr);
}

bool ViewerPage::javaScriptConfirm(const QUrl &securityOrigin, const QString &msg)
{
    if (m_leaving)
        return true; // "leave this page?" (nothing else asks once it is leaving)
    return runDialog(scriptdialog::Kind::Confirm, securityOrigin, msg, {}, nullptr);
}

bool ViewerPage::javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                                  QString *result)
{
    return runDialog(scriptdialog::Kind::Prompt, securityOrigin, msg, defaultValue, result);
}

void ViewerPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message, int, const QString &)
{
    // Every document of the page, frames and workers of any site included, can say
    // anything here as often as it likes, and it all comes on the main thread: only the
    // finder's two kinds are read, as many as a page could need; everything else goes
    // before anything is made of it, the cheapest checks first.
    ++m_consoleHeard;
    if (!m_sinceSecond.isValid() || m_sinceSecond.elapsed() >= 1000) {
        m_sinceSecond.start();
        m_heardThisSecond = 0;
        m_consoleMessages = 0;
        m_consoleChars = 0;
    }
    // The page's own console says nothing (flashplugin.js); what still comes this fast
    // is a worker's or a new frame's in a loop, and every one costs the main thread
    // its share of the engine's work: the page is stopped.
    if (++m_heardThisSecond == MaxConsoleHeardPerSecond && isOpen())
        QMetaObject::invokeMethod(
            this, [this] { emit flooding(); }, Qt::QueuedConnection);
    static const QLatin1String movies("photoforKP:movies");
    static const QLatin1String asking("photoforKP:movie ");
    if (message.size() > MaxConsoleChars || !message.startsWith(QLatin1String("photoforKP:movie")))
        return;
    if (++m_consoleMessages > MaxConsoleMessagesPerSecond
        || (m_consoleChars += message.size()) > MaxConsoleCharsPerSecond)
        return;
    if (message == movies)
        return emit moviesFound();
    if (message.startsWith(asking))
        emit playerAsked(message.mid(asking.size()));
}

bool ViewerPage::runDialog(scriptdialog::Kind kind, const QUrl &origin, const QString &message,
                           const QString &defaultValue, QString *result)
{
    QWebEngineView *view = QWebEngineView::forPage(this);
    if (m_stopped || !isOpen() || !view)
        return false;
    // Dialog after dialog, each as soon as the last one closed: a loop, not a page
    // talking to its reader.
    if (m_sinceClosed.isValid() && m_sinceClosed.elapsed() < InARowMs) {
        if (++m_inARow >= MaxInARow) {
            m_stopped = true;
            return false;
        }
    } else {
        m_inARow = 0;
    }
    ++m_shown;

    const scriptdialog::Dialog asked
        = scriptdialog::make(view->window(), kind, origin.host(), message, defaultValue, m_shown > 1);
    if (!m_keeper.dialogOpened(this, asked.dialog)) {
        delete asked.dialog.data();
        return false;
    }
    bool accepted = scriptdialog::wait(asked.dialog);
    // The answer counts only if the page is still its view's (it may go now, after the call).
    accepted = m_keeper.dialogClosed(this) && accepted;
    if (asked.dialog) { // not gone with its window
        m_stopped = m_stopped || (asked.stop && asked.stop->isChecked());
        if (accepted && asked.answer && result)
            *result = asked.answer->text();
        delete asked.dialog.data();
    }
    m_sinceClosed.start();
    return accepted;
}
