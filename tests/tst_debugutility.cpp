#include "DebugUtility.h"
#include "MessageCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtTest>

using Extras::DebugUtility;

namespace {
// Categories are matched by name, so a local category with the name of one
// of the plugin's categories obeys exactly the same rules.
bool enabled(const char *name, QtMsgType type)
{
    QLoggingCategory category(name);
    return category.isEnabled(type);
}
} // namespace

class tst_DebugUtility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void utilityCategory();
    void setAllEnabled_switchesFamilies_data();
    void setAllEnabled_switchesFamilies();
    void setAllEnabled_extrasOff_keepsCritical();
    void setAllEnabled_unknownFamily_reinstallsRules();
    void setAllEnabled_readsSharedApplicationProperties();
    void loadRules_capitalisedSection_lastMatchingKeyWins();
    void loadRules_withoutFile_keepsRules();
    void dumpObject_null();
    void dumpObject_withParentAndDynamicProperties();
    void dumpObject_withoutParent();

private:
    void writeRulesFile(const QByteArray &content);
    QString rulesFilePath() const;
};

void tst_DebugUtility::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void tst_DebugUtility::cleanup()
{
    QFile::remove(rulesFilePath());
    QCoreApplication::instance()->setProperty("Quil.MaporaRuntime.loggingEnabled", true);
    QCoreApplication::instance()->setProperty("Quil.MaporaExtras.loggingEnabled", true);
    DebugUtility::setAllEnabled(QStringLiteral("other"), true);
}

QString tst_DebugUtility::rulesFilePath() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/QtProject/qtlogging.ini");
}

void tst_DebugUtility::writeRulesFile(const QByteArray &content)
{
    const QString path = rulesFilePath();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void tst_DebugUtility::utilityCategory()
{
    QCOMPARE(QByteArray(Extras::CATEGORY_UTILITY().categoryName()), QByteArray("Quil.MaporaRuntime.Utility"));
    QCOMPARE(&Extras::CATEGORY_UTILITY(), &Extras::CATEGORY_UTILITY());
}

void tst_DebugUtility::setAllEnabled_switchesFamilies_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("runtimeDebug");
    QTest::addColumn<bool>("extrasDebug");

    QTest::newRow("extras off") << "Quil.MaporaExtras" << true << false;
    QTest::newRow("runtime off") << "Quil.MaporaRuntime" << false << true;
    QTest::newRow("family names are case-sensitive") << "quil.maporaextras" << true << true;
}

void tst_DebugUtility::setAllEnabled_switchesFamilies()
{
    QFETCH(QString, family);
    QFETCH(bool, runtimeDebug);
    QFETCH(bool, extrasDebug);

    DebugUtility::setAllEnabled(family, false);

    QCOMPARE(enabled("Quil.MaporaRuntime.Utility", QtDebugMsg), runtimeDebug);
    QCOMPARE(enabled("Quil.MaporaRuntime.Utility", QtWarningMsg), runtimeDebug);
    QCOMPARE(enabled("Quil.MaporaExtras.Core", QtDebugMsg), extrasDebug);
    QCOMPARE(enabled("Quil.MaporaExtras.File", QtWarningMsg), extrasDebug);
    // Critical messages stay on for every category.
    QVERIFY(enabled("Quil.MaporaRuntime.Utility", QtCriticalMsg));
    QVERIFY(enabled("Quil.MaporaExtras.File", QtCriticalMsg));
}

void tst_DebugUtility::setAllEnabled_extrasOff_keepsCritical()
{
    DebugUtility::setAllEnabled(QStringLiteral("Quil.MaporaExtras"), false);
    QCOMPARE(QCoreApplication::instance()->property("Quil.MaporaExtras.loggingEnabled"), QVariant(false));

    QLoggingCategory file("Quil.MaporaExtras.File");
    MessageCapture capture;
    qCWarning(file) << "suppressed warning";
    qCCritical(file) << "critical message";
    QCOMPARE(capture.texts(), QStringList{QStringLiteral("critical message")});
}

void tst_DebugUtility::setAllEnabled_unknownFamily_reinstallsRules()
{
    // Rules installed by anybody else are replaced by the two family switches.
    QLoggingCategory::setFilterRules(QStringLiteral("Quil.MaporaExtras.Core.debug=false"));
    QVERIFY(!enabled("Quil.MaporaExtras.Core", QtDebugMsg));

    DebugUtility::setAllEnabled(QStringLiteral("other"), true);
    QVERIFY(enabled("Quil.MaporaExtras.Core", QtDebugMsg));
    QVERIFY(!QCoreApplication::instance()->property("other.loggingEnabled").isValid());
}

void tst_DebugUtility::setAllEnabled_readsSharedApplicationProperties()
{
    // Another library of the process switched the runtime family off through
    // the shared property; the next switch of any family honours it.
    QCoreApplication::instance()->setProperty("Quil.MaporaRuntime.loggingEnabled", false);
    DebugUtility::setAllEnabled(QStringLiteral("Quil.MaporaExtras"), true);
    QVERIFY(!enabled("Quil.MaporaRuntime.Utility", QtDebugMsg));
    QVERIFY(enabled("Quil.MaporaExtras.File", QtDebugMsg));
}

void tst_DebugUtility::loadRules_capitalisedSection_lastMatchingKeyWins()
{
    // QSettings returns keys sorted, upper case before lower case: the
    // lower-case key, matched ignoring case, is the last one applied.
    writeRulesFile("[Rules]\n"
                   "Other.Category.debug=false\n"
                   "Quil.MaporaExtras.Core.debug=false\n"
                   "Quil.MaporaExtras.File.warning=false\n"
                   "quil.maporaextras.lower.debug=false\n");

    DebugUtility::loadLoggingFilterRules(QStringLiteral("Quil.MaporaExtras"));

    QVERIFY(!enabled("quil.maporaextras.lower", QtDebugMsg));
    // Earlier keys were replaced, and keys of other families never applied.
    QVERIFY(enabled("Quil.MaporaExtras.Core", QtDebugMsg));
    QVERIFY(enabled("Quil.MaporaExtras.File", QtWarningMsg));
    QVERIFY(enabled("Other.Category", QtDebugMsg));
}

void tst_DebugUtility::loadRules_withoutFile_keepsRules()
{
    DebugUtility::setAllEnabled(QStringLiteral("Quil.MaporaExtras"), false);
    DebugUtility::loadLoggingFilterRules(QStringLiteral("Quil.MaporaExtras"));
    QVERIFY(!enabled("Quil.MaporaExtras.File", QtWarningMsg));
}

void tst_DebugUtility::dumpObject_null()
{
    MessageCapture capture;
    DebugUtility::dumpObject("x", nullptr);
    QCOMPARE(capture.texts(), QStringList{QStringLiteral("x NULL object")});
}

void tst_DebugUtility::dumpObject_withParentAndDynamicProperties()
{
    QObject parent;
    parent.setObjectName(QStringLiteral("theParent"));
    QObject child(&parent);
    child.setObjectName(QStringLiteral("theChild"));
    child.setProperty("colour", QStringLiteral("blue"));

    MessageCapture capture;
    DebugUtility::dumpObject("pre", &child);
    const QStringList lines = capture.texts(QStringLiteral("Quil.MaporaRuntime.Utility"));

    QCOMPARE(lines.value(0), QStringLiteral("pre objectName: \"theChild\""));
    QCOMPARE(lines.value(1), QStringLiteral("pre className: QObject"));
    QCOMPARE(lines.value(2), QStringLiteral("pre parent->objectName: \"theParent\""));
    QCOMPARE(lines.value(3), QStringLiteral("pre parent->className: QObject"));
    QCOMPARE(lines.value(4), QStringLiteral("Properties: QObject"));
    QVERIFY2(lines.value(5).startsWith(QStringLiteral("  objectName = ")), qPrintable(lines.value(5)));
    QVERIFY(lines.value(5).contains(QStringLiteral("theChild")));
    QCOMPARE(lines.value(6), QStringLiteral("Dynamic properties: \"theChild\" QObject"));
    QVERIFY2(lines.value(7).startsWith(QStringLiteral("  colour = ")), qPrintable(lines.value(7)));
    QVERIFY(lines.value(7).contains(QStringLiteral("blue")));
    QCOMPARE(lines.size(), 8);
}

void tst_DebugUtility::dumpObject_withoutParent()
{
    QObject object;
    MessageCapture capture;
    DebugUtility::dumpObject("p", &object);
    const QStringList lines = capture.texts();
    QCOMPARE(lines.value(2), QStringLiteral("p NULL parent object"));
    for (const QString &line : lines)
        QVERIFY2(!line.startsWith(QStringLiteral("Dynamic properties:")), qPrintable(line));
}

QTEST_GUILESS_MAIN(tst_DebugUtility)
#include "tst_debugutility.moc"
