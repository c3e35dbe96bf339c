#include "user32.h"

#include <QGuiApplication>
#include <QLibrary>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#if __has_include(<QtGui/qguiapplication_platform.h>)
#include <QtGui/qguiapplication_platform.h>
#endif

namespace user32 {

namespace {

#ifndef Q_OS_WIN
// The built-in library: the extended style is kept per window; layered alpha is the
// window's opacity; the topmost band is Qt's stay-on-top hint.
constexpr char StyleProperty[] = "_user32_exstyle";

QWidget *widgetFor(HWND hWnd)
{
    QWidget *w = QWidget::find(WId(reinterpret_cast<quintptr>(hWnd)));
    return w && w->isWindow() ? w : nullptr;
}

std::int32_t styleOf(QWidget *w)
{
    const QVariant v = w->property(StyleProperty);
    if (v.isValid())
        return v.toInt();
    std::int32_t style = 0;
    if ((w->windowFlags() & Qt::WindowType_Mask) == Qt::Tool)
        style |= WS_EX_TOOLWINDOW;
    if (w->windowFlags() & Qt::WindowStaysOnTopHint)
        style |= WS_EX_TOPMOST;
    return style;
}

std::int32_t USER32_API builtinGetWindowLongA(HWND hWnd, std::int32_t index)
{
    QWidget *w = widgetFor(hWnd);
    return (w && index == GWL_EXSTYLE) ? styleOf(w) : 0;
}

std::int32_t USER32_API builtinSetWindowLongA(HWND hWnd, std::int32_t index, std::int32_t value)
{
    QWidget *w = widgetFor(hWnd);
    if (!w || index != GWL_EXSTYLE)
        return 0;
    const std::int32_t previous = styleOf(w);
    w->setProperty(StyleProperty, value);
    return previous;
}

std::int32_t USER32_API builtinSetLayeredWindowAttributes(HWND hWnd, std::uint32_t, std::uint8_t alpha,
                                                          std::uint32_t flags)
{
    QWidget *w = widgetFor(hWnd);
    if (!w || !(styleOf(w) & WS_EX_LAYERED))
        return 0;
    if (flags & LWA_ALPHA) {
        w->setWindowOpacity(alpha / 255.0);
        flushWindowSystem();
    }
    return 1;
}

void setStaysOnTop(QWidget *w, bool on)
{
    if (bool(w->windowFlags() & Qt::WindowStaysOnTopHint) == on)
        return;
    if (QWindow *handle = w->windowHandle()) {
        // A visible window takes the hint as it is (changing the widget's flags would hide
        // it). A hidden one gets a new native window, made with the hint: Qt would make
        // one itself when it next shows the window, and what the window manager was told
        // of the old one (its type, its boxes, its taskbar entry) would be lost.
        const bool remake = !w->isVisible() && handle->handle();
        if (remake)
            handle->destroy();
        handle->setFlag(Qt::WindowStaysOnTopHint, on);
        w->overrideWindowFlags(handle->flags());
        if (remake)
            w->winId();
    } else {
        w->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    }
}

std::int32_t USER32_API builtinSetWindowPos(HWND hWnd, HWND insertAfter, std::int32_t x, std::int32_t y,
                                            std::int32_t cx, std::int32_t cy, std::uint32_t flags)
{
    QWidget *w = widgetFor(hWnd);
    if (!w)
        return 0;
    if (insertAfter == HWND_TOPMOST)
        setStaysOnTop(w, true);
    else if (insertAfter == HWND_NOTOPMOST)
        setStaysOnTop(w, false);
    if (!(flags & SWP_NOMOVE))
        w->move(x, y);
    if (!(flags & SWP_NOSIZE))
        w->resize(cx, cy);
    flushWindowSystem();
    return 1;
}
#endif

} // namespace

Loader::Loader()
{
#ifndef Q_OS_WIN
    m_builtin["GetWindowLongA"] = reinterpret_cast<void *>(&builtinGetWindowLongA);
    m_builtin["SetWindowLongA"] = reinterpret_cast<void *>(&builtinSetWindowLongA);
    m_builtin["SetLayeredWindowAttributes"] = reinterpret_cast<void *>(&builtinSetLayeredWindowAttributes);
    m_builtin["SetWindowPos"] = reinterpret_cast<void *>(&builtinSetWindowPos);
#endif
}

void *Loader::resolve(const QString &library, const char *entryPoint) const
{
    if (m_removed.count(entryPoint))
        return nullptr;
#ifdef Q_OS_WIN
    return reinterpret_cast<void *>(QLibrary::resolve(library, entryPoint));
#else
    const QString lib = library.toLower();
    if (lib != QLatin1String("user32") && lib != QLatin1String("user32.dll"))
        return nullptr;
    auto it = m_builtin.find(entryPoint);
    return it == m_builtin.end() ? nullptr : it->second;
#endif
}

void flushWindowSystem()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) && __has_include(<QtGui/qguiapplication_platform.h>)
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return;
    using FlushFn = int (*)(void *);
    static const auto flush = reinterpret_cast<FlushFn>(QLibrary::resolve(QStringLiteral("xcb"), 1, "xcb_flush"));
    if (flush && x11->connection())
        flush(x11->connection());
#endif
}

} // namespace user32
