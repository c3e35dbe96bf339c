#include "browserengine.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

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

} // namespace

BrowserEngine::BrowserEngine() = default;
BrowserEngine::~BrowserEngine() = default;

QWebEngineProfile *BrowserEngine::profile()
{
    if (!m_profile) {
        provideShareContext();
        m_profile = std::make_unique<QWebEngineProfile>(); // no storage name: off the record
        m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        m_profile->setSpellCheckEnabled(false);
        // Albums start playing on their own, as a desktop player does.
        m_profile->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    }
    return m_profile.get();
}
