#pragma once

#include <QtGlobal>

// One shared library, so the player's host and the site copy share one copy of it.
#if defined(HTTP_LIBRARY)
#define HTTP_EXPORT Q_DECL_EXPORT
#else
#define HTTP_EXPORT Q_DECL_IMPORT
#endif
