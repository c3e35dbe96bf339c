#pragma once

#include "design.h"

// The decoration both viewers share: the clover strip above the view, olive lines.
namespace viewerdesign {
inline const QColor Olive(192, 192, 0);
forms::ControlDesign line(const QString &name, QLine ends);
forms::ControlDesign clover(int left, int top);
forms::ControlDesign credit(int left, int top, int tabIndex);
forms::FormDesign window(int clientLeft, int clientTop, int clientWidth, int clientHeight,
                         std::vector<forms::ControlDesign> controls);
} // namespace viewerdesign
