#pragma once

#include "forms_export.h"

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace forms {

// Where a window's client area goes: at its stored origin, moved only as far as needed
// for the whole window, frame included, to lie on the screen's available area. A window
// larger than the area keeps its frame's top left corner on it.
FORMS_EXPORT QPoint clientPosition(QPoint origin, QSize client, QMargins frame, QRect available);

} // namespace forms
