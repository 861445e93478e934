#pragma once

#include <QtCore/qglobal.h>

// Symbols of the Extras namespace are the library's native interface: they
// are exported for hosts that link the plugin library, everything else keeps
// the hidden default visibility.
#if defined(MAPORA_EXTRAS_BUILD_LIBRARY)
#  define EXTRAS_EXPORT Q_DECL_EXPORT
#else
#  define EXTRAS_EXPORT Q_DECL_IMPORT
#endif
