#pragma once

#include <QQmlExtensionPlugin>

/*!
    Entry point of the QML module Quil.MaporaExtras: registers the module's
    types and, for the first engine of the process, switches the plugin's
    logging on and applies the logging rules file.
*/
class MaporaExtrasPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)

public:
    void registerTypes(const char *uri) override;
    void initializeEngine(QQmlEngine *engine, const char *uri) override;
};
