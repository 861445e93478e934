#pragma once

#include "ExtrasGlobal.h"

#include <QLoggingCategory>
#include <QString>

class QObject;

namespace Extras {

// Logging category of the Extras utilities, "Quil.MaporaRuntime.Utility".
EXTRAS_EXPORT const QLoggingCategory &CATEGORY_UTILITY();

/*!
    Process-wide switches for the two logging families "Quil.MaporaRuntime"
    and "Quil.MaporaExtras", the loader of the rules file
    "QtProject/qtlogging.ini", and debug dumps of QObject properties.

    The switches are mirrored in the application properties
    "Quil.MaporaRuntime.loggingEnabled" and "Quil.MaporaExtras.loggingEnabled",
    so every library of the process that shares them stays in step.
*/
class EXTRAS_EXPORT DebugUtility
{
public:
    // Switches one family on or off and reinstalls the filter rules of both.
    static void setAllEnabled(const QString &category, const bool &enabled);
    // Applies the entries of the rules file whose keys contain `category`.
    static void loadLoggingFilterRules(const QString &category);

    static void dumpObject(const char *prefix, const QObject *object);
    static void dumpProperties(const QObject *object);
    static void dumpDynamicProperties(const QObject *object);

private:
    static bool m_RuntimeLogging;
    static bool m_ExtrasLogging;
};

} // namespace Extras
