#pragma once

class QWidget;

namespace forms {

// Decoration (lines, shapes, pictures that say nothing) stays out of what screen
// readers see: the containers of the forms list only their other controls.
void markDecorative(QWidget *widget);
void markFormWindow(QWidget *window);
void installAccessibility();

} // namespace forms
