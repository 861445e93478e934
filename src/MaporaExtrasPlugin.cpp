#include "MaporaExtrasPlugin.h"

#include "DebugUtility.h"
#include "TkFileFolder.h"
#include "TkFileInfo.h"
#include "TkSettings.h"
#include "TkZipArchive.h"
#include "TkZipFileInfo.h"

#include <QtQml>

namespace {
bool engineInitialized = false;
} // namespace

void MaporaExtrasPlugin::registerTypes(const char *uri)
{
    // Types are registered at version 1.1; the module version is announced
    // on its own so the import resolves whatever types it holds.
    qmlRegisterModule(uri, 1, 1);

    qmlRegisterUncreatableType<TkSettings>(uri, 1, 1, "Settings",
                                           QStringLiteral("The Quil Mapora Extras type Settings is not creatable"));
    qmlRegisterType<TkFileInfo>(uri, 1, 1, "FileInfo");
    qmlRegisterType<TkFileFolder>(uri, 1, 1, "FileFolder");
    qmlRegisterType<TkZipArchive>(uri, 1, 1, "ZipArchive");
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
