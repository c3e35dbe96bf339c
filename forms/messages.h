#pragma once

// Qt's and the browser engine's messages that nobody can act on, kept off the terminal:
// one filter for the whole program, whoever adds to it.

#include "forms_export.h"

#include <initializer_list>

namespace forms {

// Drops every debug, info and warning message that starts with one of these from now on;
// errors always go through, and so does everything else to the handler before.
FORMS_EXPORT void dropMessages(std::initializer_list<const char *> starts);

} // namespace forms
