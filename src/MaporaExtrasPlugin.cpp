#include "MaporaExtrasPlugin.h"

#include "DebugUtility.h"

#include <QtQml>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
// Generated from the types' declarations into the backing library, which
// registers the types itself when an engine imports the module.
void qml_register_types_Quil_MaporaExtras();
#else
#include "TkExifInfo.h"
#include "TkFileFolder.h"
#include "TkFileInfo.h"
#include "TkSettings.h"
#include "TkSystem.h"
#include "TkSystemSingleton.h"
#include "TkZipArchive.h"
#include "TkZipFileInfo.h"
#endif

namespace {
bool engineInitialized = false;
} // namespace

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
void MaporaExtrasPlugin::registerTypes(const char *uri)
{
    Q_UNUSED(uri)
    // A use of the registration keeps the backing library linked, also with
    // a linker that drops libraries nothing seems to need.
    volatile auto registration = &qml_register_types_Quil_MaporaExtras;
    Q_UNUSED(registration)
}
#else
void MaporaExtrasPlugin::registerTypes(const char *uri)
{
    // Of two registrations under one name and version, this Qt resolves the
    // name to the later one: the uncreatable type goes first so that System
    // names the singleton.
    qmlRegisterUncreatableType<TkSystem>(uri, 1, 1, "System",
                                         QStringLiteral("The Quil Mapora Extras type System is not creatable"));
    qmlRegisterSingletonType<TkSystem>(uri, 1, 1, "System", &TkSystemSingleton::create);
    qmlRegisterUncreatableType<TkSettings>(uri, 1, 1, "Settings",
                                           QStringLiteral("The Quil Mapora Extras type Settings is not creatable"));
    qmlRegisterType<TkFileInfo>(uri, 1, 1, "FileInfo");
    qmlRegisterType<TkFileFolder>(uri, 1, 1, "FileFolder");
    qmlRegisterType<TkZipArchive>(uri, 1, 1, "ZipArchive");
    qmlRegisterType<TkExifInfo>(uri, 1, 1, "ExifInfo");
    qmlRegisterUncreatableType<TkZipFileInfo>(uri, 1, 1, "ZipFileInfo",
                                              QStringLiteral("The Quil Mapora Extras type ZipFileInfo is not creatable"));
}
#endif

void MaporaExtrasPlugin::initializeEngine(QQmlEngine *engine, const char *uri)
{
    if (!engineInitialized) {
        engineInitialized = true;
        Extras::DebugUtility::setAllEnabled(QStringLiteral("Quil.MaporaExtras"), true);
        Extras::DebugUtility::loadLoggingFilterRules(QStringLiteral("Quil.MaporaExtras"));
    }
    QQmlExtensionPlugin::initializeEngine(engine, uri);
}
