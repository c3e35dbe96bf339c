#pragma once

#include <QtGlobal>

// A shared library of its own: the viewers module uses it, and so do tests and
// benchmarks that need the player's network without the browser engine.
#if defined(PLAYER_LIBRARY)
#define PLAYER_EXPORT Q_DECL_EXPORT
#else
#define PLAYER_EXPORT Q_DECL_IMPORT
#endif
