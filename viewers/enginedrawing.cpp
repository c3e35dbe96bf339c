// How the engine draws: with the shared OpenGL context where a real driver is there.
#include "enginestart.h"

#include <QCoreApplication>
#include <QDir>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>

#include <cstdio>
#include <utility>

#ifdef Q_OS_UNIX
#include <dlfcn.h>
#endif

namespace enginestart {

namespace {

// Qt's own setter for the context that OpenGL users share: exported by Qt GUI but
// declared only in its private headers, so it is looked up when needed rather than
// linked. Checked against Qt 6.4.2 (Debian 12); Qt GUI has exported it under this name
// since Qt 5.
using SetShareContext = void (*)(QOpenGLContext *);
SetShareContext shareContextSetter()
{
#ifdef Q_OS_UNIX
    return reinterpret_cast<SetShareContext>(
        ::dlsym(RTLD_DEFAULT, "_Z30qt_gl_set_global_share_contextP14QOpenGLContext"));
#else
    return nullptr;
#endif
}

// Draws views with Qt Quick's software renderer, and the engine's pages without OpenGL
// (the engine would otherwise look for the shared context that is not there).
void drawInSoftware()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    enginestart::appendFlag("--disable-gpu", "--disable-gpu");
}

// Whether an OpenGL renderer is a rasteriser on the processor (Mesa's llvmpipe and
// softpipe, SwiftShader, Windows' GDI one): drawing through it costs more than Qt
// Quick's own software renderer.
bool isSoftwareRenderer(const QByteArray &renderer)
{
    const QByteArray r = renderer.toLower();
    return r.contains("llvmpipe") || r.contains("softpipe") || r.contains("swiftshader") || r.contains("software")
           || r.contains("gdi generic");
}

} // namespace

// The engine comes with the first viewer, long after the application started without a
// shared OpenGL context: asking for one at start-up would make the main window load a
// GL driver it never uses. The engine wants one whatever it draws with (loaded late, as
// a module, it does not make its own), so it is made here, just before. Where OpenGL is
// missing or only a software rasteriser, the views draw with Qt Quick's software
// renderer instead.
void chooseDrawing()
{
    static bool chosen = false;
    if (std::exchange(chosen, true))
        return;
    // Linked in rather than loaded (a test, say), the engine has made its own already.
    QOpenGLContext *context = QOpenGLContext::globalShareContext();
    if (!context) {
        const SetShareContext setShareContext = shareContextSetter();
        if (!setShareContext) {
            std::fputs("photoforKP: this Qt has no qt_gl_set_global_share_context, so the viewers draw in "
                       "software\n",
                       stderr);
            return drawInSoftware();
        }
        context = new QOpenGLContext(qApp);
        setShareContext(context);
    }
#ifdef Q_OS_LINUX
    // No render node: whatever OpenGL there is runs on the processor. The engine only
    // reads the context's settings then, so no driver is loaded for it.
    if (QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty())
        return drawInSoftware();
#endif
    if (!context->isValid())
        context->create();
    QOffscreenSurface surface;
    surface.create();
    QByteArray renderer;
    if (context->isValid() && context->makeCurrent(&surface)) {
        renderer = reinterpret_cast<const char *>(context->functions()->glGetString(GL_RENDERER));
        context->doneCurrent();
    }
    if (renderer.isEmpty() || isSoftwareRenderer(renderer))
        drawInSoftware();
}

} // namespace enginestart
