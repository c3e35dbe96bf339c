#pragma once

#include <QtGlobal>

// The platform layer is one shared library, so the program and the viewer module it
// loads later share one copy of it (one set of control classes, one runtime).
#if defined(FORMS_LIBRARY)
#define FORMS_EXPORT Q_DECL_EXPORT
#else
#define FORMS_EXPORT Q_DECL_IMPORT
#endif
