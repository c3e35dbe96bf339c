#pragma once

#include <QtCore/qglobal.h>

#if defined(WEBARCHIVE_LIBRARY)
#define WEBARCHIVE_EXPORT Q_DECL_EXPORT
#else
#define WEBARCHIVE_EXPORT Q_DECL_IMPORT
#endif
