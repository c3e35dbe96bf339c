#pragma once

#include <QtGlobal>

// The viewers are a module of their own, loaded when the first viewer opens, so the
// browser engine's libraries stay out of the program until then.
#if defined(VIEWERS_LIBRARY)
#define VIEWERS_EXPORT Q_DECL_EXPORT
#else
#define VIEWERS_EXPORT Q_DECL_IMPORT
#endif
