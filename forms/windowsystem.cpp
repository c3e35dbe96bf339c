#include "windowsystem.h"

#include <QGuiApplication>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#if __has_include(<QtGui/qguiapplication_platform.h>) && __has_include(<xcb/xcb.h>)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#define FORMS_HAVE_XCB 1
#endif

namespace forms::windowsystem {

#ifdef FORMS_HAVE_XCB
namespace {

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t *c)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return screen ? screen->root : 0;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr), &std::free);
    return reply ? reply->atom : 0;
}

// A property of 32-bit values, at most max of them; empty if it is not set.
std::vector<uint32_t> cardinals(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property, uint32_t max)
{
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, max), nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
    return std::vector<uint32_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

// The window manager's own window, if one runs that follows the desktop conventions.
bool hasSupportingWindowManager(xcb_connection_t *c)
{
    const auto check = cardinals(c, rootOf(c), atom(c, "_NET_SUPPORTING_WM_CHECK"), 1);
    return !check.empty() && check[0] != 0;
}

bool supports(xcb_connection_t *c, const char *name)
{
    const xcb_atom_t wanted = atom(c, name);
    const auto supported = cardinals(c, rootOf(c), atom(c, "_NET_SUPPORTED"), 1024);
    return wanted && std::find(supported.begin(), supported.end(), wanted) != supported.end();
}

QString windowManagerName(xcb_connection_t *c)
{
    const auto check = cardinals(c, rootOf(c), atom(c, "_NET_SUPPORTING_WM_CHECK"), 1);
    if (check.empty())
        return {};
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, check[0], atom(c, "_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr),
        &std::free);
    if (!reply || reply->format != 8)
        return {};
    return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}

xcb_window_t idOf(QWindow *window)
{
    return window && window->handle() ? xcb_window_t(window->winId()) : 0;
}

} // namespace

bool hasWindowManager()
{
    xcb_connection_t *c = connection();
    return c && hasSupportingWindowManager(c);
}

bool managesFrames()
{
    xcb_connection_t *c = connection();
    return c && hasSupportingWindowManager(c) && supports(c, "_NET_FRAME_EXTENTS");
}

std::optional<QMargins> frameExtents(QWindow *window)
{
    xcb_connection_t *c = connection();
    const xcb_window_t id = idOf(window);
    if (!c || !id)
        return std::nullopt;
    // left, right, top, bottom, in the screen's own pixels.
    const auto e = cardinals(c, id, atom(c, "_NET_FRAME_EXTENTS"), 4);
    if (e.size() != 4)
        return std::nullopt;
    // Rounded up: a frame a fraction of a logical pixel wide still needs the room.
    const qreal ratio = window->devicePixelRatio() > 0 ? window->devicePixelRatio() : 1.0;
    const auto logical = [ratio](uint32_t device) { return int(std::ceil(device / ratio - 1e-6)); };
    return QMargins(logical(e[0]), logical(e[2]), logical(e[1]), logical(e[3]));
}

std::optional<QMargins> askFrameExtents(QWindow *window, std::chrono::milliseconds wait)
{
    xcb_connection_t *c = connection();
    const xcb_window_t id = idOf(window);
    if (!c || !id || !hasSupportingWindowManager(c) || !supports(c, "_NET_REQUEST_FRAME_EXTENTS"))
        return frameExtents(window);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(c);
    // The answer is a property on the window, set within a round trip or two of the
    // window manager's; it is read straight from the server, not from the event queue.
    const auto until = std::chrono::steady_clock::now() + wait;
    do {
        if (auto extents = frameExtents(window))
            return extents;
        QThread::msleep(2);
    } while (std::chrono::steady_clock::now() < until);
    return std::nullopt;
}

void setAllowedActions(QWindow *window, Actions actions)
{
    xcb_connection_t *c = connection();
    const xcb_window_t id = idOf(window);
    if (!c || !id)
        return;
    // The Motif hints: flags, functions, decorations, input mode, status. Qt derives
    // them from the window flags and always lets the window be resized; these say what
    // the design has, to the window managers that draw their boxes and handles by them.
    constexpr uint32_t HintFunctions = 1, HintDecorations = 2;
    constexpr uint32_t FuncResize = 2, FuncMove = 4, FuncMinimize = 8, FuncMaximize = 16, FuncClose = 32;
    constexpr uint32_t DecorBorder = 2, DecorResizeHandle = 4, DecorTitle = 8, DecorMenu = 16, DecorMinimize = 32,
                       DecorMaximize = 64;
    const xcb_atom_t motif = atom(c, "_MOTIF_WM_HINTS");
    auto hints = cardinals(c, id, motif, 5);
    hints.resize(5, 0);
    hints[0] |= HintFunctions | HintDecorations;
    hints[1] = FuncMove | FuncClose | (actions.resize ? FuncResize : 0u) | (actions.minimize ? FuncMinimize : 0u)
               | (actions.maximize ? FuncMaximize : 0u);
    hints[2] = DecorBorder | DecorTitle | (actions.resize ? DecorResizeHandle : 0u) | (actions.menu ? DecorMenu : 0u)
               | (actions.minimize ? DecorMinimize : 0u) | (actions.maximize ? DecorMaximize : 0u);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, motif, motif, 32, 5, hints.data());
    // Openbox draws the minimize and maximize boxes by the window's type alone, whatever
    // the Motif hints say, and leaves both off toolbars only (which it otherwise frames
    // and treats as it does utility windows); elsewhere a toolbar may lose its title bar,
    // so this is for Openbox alone. Qt writes the type anew whenever the window's flags
    // change, putting first the types a property of the window names (8: toolbar).
    if (!actions.minimize && !actions.maximize && windowManagerName(c) == QLatin1String("Openbox")) {
        window->setProperty("_q_xcb_wm_window_type", 0x8);
        const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE");
        auto types = cardinals(c, id, type, 16);
        const xcb_atom_t toolbar = atom(c, "_NET_WM_WINDOW_TYPE_TOOLBAR");
        if (std::find(types.begin(), types.end(), toolbar) == types.end()) {
            types.insert(types.begin(), toolbar);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, type, XCB_ATOM_ATOM, 32, uint32_t(types.size()),
                                types.data());
        }
    }
    // The taskbar entry. Qt keeps the states it finds on the window when it maps it.
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    auto states = cardinals(c, id, state, 64);
    std::erase(states, skipTaskbar);
    if (!actions.taskbar)
        states.push_back(skipTaskbar);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, uint32_t(states.size()), states.data());
    xcb_flush(c);
}

#else

bool hasWindowManager()
{
    return false;
}

bool managesFrames()
{
    return false;
}

std::optional<QMargins> frameExtents(QWindow *)
{
    return std::nullopt;
}

std::optional<QMargins> askFrameExtents(QWindow *, std::chrono::milliseconds)
{
    return std::nullopt;
}

void setAllowedActions(QWindow *, Actions) { }

#endif

} // namespace forms::windowsystem
