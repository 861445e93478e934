#include "MaporaExtrasPlugin.h"

#include "DebugUtility.h"
#include "TkExifInfo.h"
#include "TkFileFolder.h"
#include "TkFileInfo.h"
#include "TkSettings.h"
#include "TkSystem.h"
#include "TkZipArchive.h"
#include "TkZipFileInfo.h"

#include <QPointer>
#include <QSet>
#include <QtQml>

namespace {
bool engineInitialized = false;

// The System object shared by every engine, and the engines it was handed to.
QPointer<TkSystem> systemGuard;
QSet<QObject *> systemEngines;

void releaseSystemFor(QObject *engine)
{
    systemEngines.remove(engine);
    // Every engine keeps the singleton in its own table: deleting it while
    // another engine still holds it would leave that engine a dangling
    // pointer, so the object lives until the last engine is gone.
    if (systemEngines.isEmpty())
        delete systemGuard.data();
}

QObject *systemProvider(QQmlEngine *engine, QJSEngine *scriptEngine)
{
    Q_UNUSED(scriptEngine)
    if (!systemGuard) {
        systemGuard = new TkSystem(nullptr);
        // No engine may delete the shared object by itself.
        QQmlEngine::setObjectOwnership(systemGuard, QQmlEngine::CppOwnership);
    }
    if (engine && !systemEngines.contains(engine)) {
        systemEngines.insert(engine);
        QObject::connect(engine, &QObject::destroyed, [](QObject *gone) { releaseSystemFor(gone); });
    }
    return systemGuard;
}
} // namespace

void MaporaExtrasPlugin::registerTypes(const char *uri)
{
    // Of two registrations under one name and version, this Qt resolves the
    // name to the later one: the uncreatable type goes first so that System
    // names the singleton.
    qmlRegisterUncreatableType<TkSystem>(uri, 1, 1, "System",
                                         QStringLiteral("The Quil Mapora Extras type System is not creatable"));
    qmlRegisterSingletonType<TkSystem>(uri, 1, 1, "System", systemProvider);
    qmlRegisterUncreatableType<TkSettings>(uri, 1, 1, "Settings",
                                           QStringLiteral("The Quil Mapora Extras type Settings is not creatable"));
    qmlRegisterType<TkFileInfo>(uri, 1, 1, "FileInfo");
    qmlRegisterType<TkFileFolder>(uri, 1, 1, "FileFolder");
    qmlRegisterType<TkZipArchive>(uri, 1, 1, "ZipArchive");
    qmlRegisterType<TkExifInfo>(uri, 1, 1, "ExifInfo");
    qmlRegisterUncreatableType<TkZipFileInfo>(uri, 1, 1, "ZipFileInfo",
                                              QStringLiteral("The Quil Mapora Extras type ZipFileInfo is not creatable"));
}

void MaporaExtrasPlugin::initializeEngine(QQmlEngine *engine, const char *uri)
{
    if (!engineInitialized) {
        engineInitialized = true;
        Extras::DebugUtility::setAllEnabled(QStringLiteral("Quil.MaporaExtras"), true);
        Extras::DebugUtility::loadLoggingFilterRules(QStringLiteral("Quil.MaporaExtras"));
    }
    QQmlExtensionPlugin::initializeEngine(engine, uri);
}
