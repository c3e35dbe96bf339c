#include "browserengine.h"

#include "viewerpage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QTranslator>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

// Qt's own setter for the context that OpenGL users share; exported by Qt GUI, declared
// only in its private headers.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {

// The engine comes with the first viewer, long after the application started without a
// shared OpenGL context: asking for one at start-up would make the main window load a
// GL driver it never uses. The engine needs one, so it is made here, just before. Where
// no OpenGL context can be made, the views draw with Qt Quick's software renderer.
void provideShareContext()
{
    if (QOpenGLContext::globalShareContext())
        return;
    auto *context = new QOpenGLContext(qApp);
    if (context->create()) {
        qt_gl_set_global_share_context(context);
    } else {
        delete context;
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
}

void appendEngineFlag(const QByteArray &flag, const QByteArray &unlessPresent)
{
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains(unlessPresent))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + ' ' + flag).trimmed());
}

// What the engine reads from the environment when it starts, set by the program itself
// so that it runs the same from a launcher, a terminal or a script.
void prepareEngineEnvironment()
{
#ifdef Q_OS_UNIX
    // The engine refuses to start its sandbox as root, and would end the program.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("photoforKP: running as root, so the browser engine runs without its sandbox\n", stderr);
    }
#endif
#ifdef Q_OS_LINUX
    // Page contents reach screen readers only when the engine is told to build them.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
#endif
    // Pages from the internet may not reach into the user's machine or network, as
    // current browsers hold them: this engine's release has the rules, but not on.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const QByteArray feature : {QByteArrayLiteral("BlockInsecurePrivateNetworkRequests"),
                                     QByteArrayLiteral("PrivateNetworkAccessRespectPreflightResults")}) {
        if (flags.contains(feature))
            continue;
        const qsizetype at = flags.indexOf("--enable-features=");
        if (at >= 0)
            flags.insert(at + qstrlen("--enable-features="), feature + ',');
        else
            flags += " --enable-features=" + feature;
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    // The program speaks Simplified Chinese, whatever the system's locale: so do the
    // engine's own pages and messages.
    appendEngineFlag("--lang=zh-CN", "--lang=");
    auto *translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtwebengine"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace

BrowserEngine::BrowserEngine() = default;

BrowserEngine::~BrowserEngine()
{
    // Pages that outlived their view for a dialog's sake go before their profile.
    ViewerPage::releaseAll();
}

QWebEngineProfile *BrowserEngine::profile()
{
    if (!m_profile) {
        prepareEngineEnvironment();
        provideShareContext();
        m_profile = std::make_unique<QWebEngineProfile>(); // no storage name: off the record
        m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        m_profile->setSpellCheckEnabled(false);
        m_profile->setHttpAcceptLanguage(QStringLiteral("zh-CN,zh;q=0.9"));
        QWebEngineSettings *settings = m_profile->settings();
        // Albums start playing on their own, as a desktop player does.
        settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
        // No other program's scheme is ever handed to the desktop, clicked or not.
        settings->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    }
    return m_profile.get();
}
