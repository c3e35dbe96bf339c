#pragma once

#include "design.h"

// The decoration both viewers share: the clover strip above the view, olive lines.
namespace viewerdesign {
inline const QColor Olive(192, 192, 0);
forms::ControlDesign line(const char *name, int x1, int y1, int x2, int y2);
forms::ControlDesign clover(int left, int top);
forms::ControlDesign credit(int left, int top, int tabIndex);
forms::FormDesign window(int clientLeft, int clientTop, int clientWidth, int clientHeight);
} // namespace viewerdesign
