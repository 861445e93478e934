#pragma once

// The declarations that register a class as a QML type (QML_NAMED_ELEMENT,
// QML_UNCREATABLE, QML_SINGLETON, QML_ADDED_IN_VERSION). Qt 6 generates the
// registration from them; Qt 5 registers by hand and only records them.
#include <QtQml/qqml.h>

// Qt 5.15 names the version that added a type by its minor number alone.
#ifndef QML_ADDED_IN_VERSION
#define QML_ADDED_IN_VERSION(MAJOR, MINOR) QML_ADDED_IN_MINOR_VERSION(MINOR)
#endif
