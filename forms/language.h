#pragma once

// The program's one language, Simplified Chinese, whatever the system's locale.

#include "forms_export.h"

#include <QString>

namespace forms {

// As the web names it (the browser engine's own pages, what pages are asked for in).
inline constexpr char LanguageTag[] = "zh-CN";

// Qt's own texts of one catalogue ("qtbase": a message box's buttons; "qtwebengine":
// a page's menus) in the program's language; without the catalogue, they stay English.
FORMS_EXPORT void installQtTranslation(const QString &catalogue);

} // namespace forms
