#pragma once

#include <QtCore/qglobal.h>

#if defined(GUARD_LIBRARY)
#define GUARD_EXPORT Q_DECL_EXPORT
#else
#define GUARD_EXPORT Q_DECL_IMPORT
#endif
