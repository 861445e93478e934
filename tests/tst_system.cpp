#include "MessageCapture.h"
#include "NetworkNotifier.h"
#include "TkSystem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <cstring>

// The System object where QML cannot reach: the singleton's lifetime across
// engines, the process-wide reference density, the fatal stop outside a GUI
// application, and the application properties shared with the host.
class tst_System : public QObject
{
    Q_OBJECT

private slots:
    void singleton_sharedWhileAnyEngineHoldsIt();
    void referenceDensity_data();
    void referenceDensity();
    void displayScaleFactor_describesTheScreen_data();
    void displayScaleFactor_describesTheScreen();
    void outsideGuiApplication_stopsWithFatalMessage();
    void userHomePath_fromApplicationProperty();
    void loggingSwitch_silencesTheExtrasFamily();
    void displayScaleFactor_resetIsLogged_data();
    void displayScaleFactor_resetIsLogged();
    void notifier_isReleasedWithTheSystem();
    // Stops every event loop of the thread: keep it last.
    void wait_clampsLongIntervals();

private:
    QObject *systemOf(QQmlEngine &engine);
    QProcess *runChild(const QString &mode, const QByteArray &ppi, const QByteArray &screenDpi = QByteArray());
};

QObject *tst_System::systemOf(QQmlEngine &engine)
{
    engine.addImportPath(QStringLiteral(MAPORA_TEST_QML_IMPORT_DIR));
    QQmlComponent component(&engine);
    component.setData("import QtQml 2.15\nimport Quil.MaporaExtras 1.1\nQtObject { property var system: System }\n",
                      QUrl());
    QScopedPointer<QObject> object(component.create());
    if (!object) {
        qWarning() << component.errors();
        return nullptr;
    }
    return object->property("system").value<QObject *>();
}

void tst_System::singleton_sharedWhileAnyEngineHoldsIt()
{
    auto *first = new QQmlEngine;
    auto *second = new QQmlEngine;
    QPointer<QObject> shared = systemOf(*first);
    QVERIFY(shared);
    QCOMPARE(systemOf(*second), shared.data());

    delete first;
    QVERIFY2(shared, "the object lives while the second engine holds it");
    QCOMPARE(shared->property("loggingEnabled"), QVariant(true));
    delete second;
    QVERIFY2(!shared, "the last engine takes the object with it");

    QQmlEngine third;
    QObject *fresh = systemOf(third);
    QVERIFY(fresh);
    QCOMPARE(fresh->property("displayScaleFactor").toDouble(), 100.0 / 96.0);
}

QProcess *tst_System::runChild(const QString &mode, const QByteArray &ppi, const QByteArray &screenDpi)
{
    auto *process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The offscreen screen's logical density.
    if (!screenDpi.isNull())
        environment.insert(QStringLiteral("QT_FONT_DPI"), QString::fromLatin1(screenDpi));
    if (ppi.isNull())
        environment.remove(QStringLiteral("MAPORA_RUNTIME_BASE_PPI"));
    else
        environment.insert(QStringLiteral("MAPORA_RUNTIME_BASE_PPI"), QString::fromLatin1(ppi));
    process->setProcessEnvironment(environment);
    process->start(QCoreApplication::applicationFilePath(), {mode});
    process->waitForFinished(30000);
    return process;
}

void tst_System::referenceDensity_data()
{
    QTest::addColumn<QByteArray>("ppi");
    QTest::addColumn<double>("scale");
    QTest::addColumn<bool>("warns");
    // The offscreen platform reports a logical density of 100.
    QTest::newRow("unset") << QByteArray() << 100.0 / 96.0 << false;
    QTest::newRow("72") << QByteArray("72") << 100.0 / 72.0 << false;
    QTest::newRow("fraction") << QByteArray("200.5") << 100.0 / 200.5 << false;
    QTest::newRow("zero") << QByteArray("0") << 100.0 / 96.0 << true;
    QTest::newRow("negative") << QByteArray("-5") << 100.0 / 96.0 << true;
    QTest::newRow("not a number") << QByteArray("abc") << 100.0 / 96.0 << true;
    QTest::newRow("infinite") << QByteArray("inf") << 100.0 / 96.0 << true;
    QTest::newRow("nan") << QByteArray("nan") << 100.0 / 96.0 << true;
    QTest::newRow("so small the factor overflows") << QByteArray("1e-320") << 100.0 / 96.0 << true;
}

void tst_System::referenceDensity()
{
    QFETCH(QByteArray, ppi);
    QFETCH(double, scale);
    QFETCH(bool, warns);
    // The density is fixed once per process, so every case runs in its own.
    QProcess *child = runChild(QStringLiteral("--print-scale"), ppi);
    QCOMPARE(child->exitCode(), 0);
    QCOMPARE(QString::fromLatin1(child->readAllStandardOutput()).trimmed().toDouble(), scale);
    const QByteArray errors = child->readAllStandardError();
    QCOMPARE(errors.contains("MAPORA_RUNTIME_BASE_PPI is not a positive number"), warns);
    if (warns)
        QVERIFY2(errors.contains("Core: TkSystem::TkSystem(QObject*) MAPORA_RUNTIME_BASE_PPI"), errors.constData());
}

void tst_System::displayScaleFactor_describesTheScreen_data()
{
    QTest::addColumn<QByteArray>("screenDpi");
    QTest::addColumn<double>("scale");
    // Qt 6 scales by density / 96 itself and reports a logical density of
    // 96 for every such screen; the factor still describes the screen.
    QTest::newRow("120 dpi") << QByteArray("120") << 1.25;
    QTest::newRow("144 dpi") << QByteArray("144") << 1.5;
}

void tst_System::displayScaleFactor_describesTheScreen()
{
    QFETCH(QByteArray, screenDpi);
    QFETCH(double, scale);
    QProcess *child = runChild(QStringLiteral("--print-scale"), QByteArray(), screenDpi);
    QCOMPARE(child->exitCode(), 0);
    QCOMPARE(QString::fromLatin1(child->readAllStandardOutput()).trimmed().toDouble(), scale);
}

void tst_System::outsideGuiApplication_stopsWithFatalMessage()
{
    QProcess *child = runChild(QStringLiteral("--core-application"), QByteArray());
    QCOMPARE(child->exitStatus(), QProcess::CrashExit);
    QVERIFY(child->readAllStandardError().contains("This is not a GUI application"));
}

void tst_System::userHomePath_fromApplicationProperty()
{
    QTemporaryDir home;
    QCoreApplication::instance()->setProperty("userHomePath", home.path());
    TkSystem system;
    MessageCapture capture;
    QCOMPARE(system.userHomePath(), QUrl::fromLocalFile(home.path()));
    QVERIFY(capture.contains(QtDebugMsg, QStringLiteral("App property:")));
    QCOMPARE(system.resolvedPath(QStringLiteral("~/a")), home.path() + QStringLiteral("/a"));
    QCoreApplication::instance()->setProperty("userHomePath", QVariant());

    QSignalSpy spy(&system, &TkSystem::userHomePathChanged);
    system.setUserHomePath(QUrl());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(system.userHomePath(), QUrl::fromLocalFile(QDir::homePath()));
}

void tst_System::loggingSwitch_silencesTheExtrasFamily()
{
    TkSystem system;
    QLoggingCategory file("Quil.MaporaExtras.File");
    system.setLoggingEnabled(false);
    QCOMPARE(QCoreApplication::instance()->property("Quil.MaporaExtras.loggingEnabled"), QVariant(false));
    QVERIFY(!file.isWarningEnabled());
    QVERIFY(file.isCriticalEnabled());
    system.setLoggingEnabled(true);
    QVERIFY(file.isWarningEnabled());
}

void tst_System::displayScaleFactor_resetIsLogged_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative") << -1.0;
    QTest::newRow("nan") << qQNaN();
}

void tst_System::displayScaleFactor_resetIsLogged()
{
    QFETCH(double, value);
    TkSystem system;
    system.setDisplayScaleFactor(2);
    QSignalSpy spy(&system, &TkSystem::displayScaleFactorChanged);
    MessageCapture capture;
    system.setDisplayScaleFactor(value);
    QVERIFY(capture.contains(QtDebugMsg, QStringLiteral("Reset to default scale factor")));
    QCOMPARE(system.displayScaleFactor(), 100.0 / 96.0);
    QCOMPARE(spy.count(), 1);
}

void tst_System::notifier_isReleasedWithTheSystem()
{
    auto *system = new TkSystem;
    const QList<NetworkNotifier *> notifiers = system->findChildren<NetworkNotifier *>();
    QCOMPARE(notifiers.size(), 1);
    QPointer<NetworkNotifier> notifier = notifiers.first();
    delete system;
    QVERIFY(!notifier);
}

void tst_System::wait_clampsLongIntervals()
{
    TkSystem system;
    MessageCapture capture;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer::singleShot(100, [] { QThread::currentThread()->exit(); });
    system.wait(4294967295u);
    QVERIFY(elapsed.elapsed() >= 90);
    QVERIFY2(!capture.contains(QtWarningMsg, QStringLiteral("negative")), "the interval fits the timer");
}

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--core-application") == 0) {
        QCoreApplication app(argc, argv);
        TkSystem system;
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--print-scale") == 0) {
        QGuiApplication app(argc, argv);
        TkSystem system;
        std::printf("%.17g\n", system.displayScaleFactor());
        return 0;
    }
    QGuiApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("MaporaExtrasTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_system"));
    tst_System test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_system.moc"
