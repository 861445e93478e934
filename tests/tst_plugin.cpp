#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QtTest>

// Loads the module the way an application does: through a QML engine that
// imports it from the build tree.
class tst_Plugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metadata();
    void loggingSetup_runsOnceForAllEngines();

private:
    bool importModule(QQmlEngine &engine);
};

void tst_Plugin::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

bool tst_Plugin::importModule(QQmlEngine &engine)
{
    engine.addImportPath(QStringLiteral(MAPORA_TEST_QML_IMPORT_DIR));
    QQmlComponent component(&engine);
    component.setData("import QtQml 2.15\nimport Quil.MaporaExtras 1.1\nQtObject {}\n", QUrl());
    QScopedPointer<QObject> object(component.create());
    if (!object)
        qWarning() << component.errors();
    return !object.isNull();
}

void tst_Plugin::metadata()
{
    QPluginLoader loader(QStringLiteral(MAPORA_TEST_QML_IMPORT_DIR "/Quil/MaporaExtras/libquilmaporaextrasplugin.so"));
    const QJsonObject meta = loader.metaData();
    QCOMPARE(meta.value(QStringLiteral("IID")).toString(),
             QStringLiteral("org.qt-project.Qt.QQmlExtensionInterface/1.0"));
    QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("MaporaExtrasPlugin"));
    const QJsonArray uri = meta.value(QStringLiteral("uri")).toArray();
    QCOMPARE(uri, QJsonArray{QStringLiteral("Quil.MaporaExtras")});
}

void tst_Plugin::loggingSetup_runsOnceForAllEngines()
{
    // A rules file whose entries for the family must override the switch.
    const QString rules = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/QtProject/qtlogging.ini");
    QVERIFY(QDir().mkpath(QFileInfo(rules).path()));
    QFile file(rules);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Rules]\nQuil.MaporaExtras.Plugin.debug=false\n");
    file.close();

    QLoggingCategory fileCategory("Quil.MaporaExtras.File");
    QLoggingCategory pluginCategory("Quil.MaporaExtras.Plugin");
    QLoggingCategory::setFilterRules(QStringLiteral("Quil.MaporaExtras*=false"));
    QVERIFY(!fileCategory.isWarningEnabled());

    {
        QQmlEngine first;
        QVERIFY(importModule(first));
    }
    QCOMPARE(QCoreApplication::instance()->property("Quil.MaporaExtras.loggingEnabled"), QVariant(true));
    QVERIFY2(!pluginCategory.isDebugEnabled(), "the rules file is applied after the switch");

    QLoggingCategory::setFilterRules(QStringLiteral("Quil.MaporaExtras*=false"));
    {
        QQmlEngine second;
        QVERIFY(importModule(second));
    }
    QVERIFY2(!fileCategory.isWarningEnabled(), "the second engine does not run the setup again");
    QFile::remove(rules);
}

QTEST_MAIN(tst_Plugin)
#include "tst_plugin.moc"
