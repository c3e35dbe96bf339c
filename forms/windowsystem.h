#pragma once

// What the runtime asks the X window manager directly, where Qt gives no way: the
// frame it will draw around a window (before the window is shown, so that it is placed
// right the first time), and what it may draw and offer on it.

#include "forms_export.h"

#include <QMargins>

#include <chrono>
#include <optional>

class QWindow;

namespace forms::windowsystem {

// Whether a window manager runs (one that follows the desktop conventions), and
// whether it says how wide the frames it draws are.
FORMS_EXPORT bool hasWindowManager();
FORMS_EXPORT bool managesFrames();

// The frame the window manager draws (or will draw) around window, in logical pixels,
// rounded up; nothing while it has not said. ask: have it say for a window that is not
// shown yet, waiting at most that long.
FORMS_EXPORT std::optional<QMargins> frameExtents(QWindow *window);
FORMS_EXPORT std::optional<QMargins> askFrameExtents(QWindow *window, std::chrono::milliseconds wait);

// What the window manager may draw and offer on window besides its caption, moving and
// closing, and whether the taskbar lists it.
struct Actions
{
    bool resize = false;
    bool minimize = false;
    bool maximize = false;
    bool menu = false; // the window menu, which most window managers draw as the window's icon
    bool taskbar = false;
};
// Takes effect when the window is next mapped; window must have its native window.
FORMS_EXPORT void setAllowedActions(QWindow *window, Actions actions);

} // namespace forms::windowsystem
