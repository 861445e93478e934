#include "JsonUtility.h"
#include "MessageCapture.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using Extras::JsonUtility;

class tst_JsonUtility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void toVariantMap_nonObject_isEmptyAndSilent_data();
    void toVariantMap_nonObject_isEmptyAndSilent();
    void toVariantMap_decodesUtf8Object();
    void toBytes_isCompactUtf8();
    void toFormattedString_isIndentedWithFinalLineBreak();
    void toStringOfValue_onlyObjectsAndArrays_data();
    void toStringOfValue_onlyObjectsAndArrays();
    void writeFile_readFile_roundTrip();
    void fileFailures_giveEmptyMapOrFalse();
};

void tst_JsonUtility::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("MaporaExtrasTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_jsonutility"));
}

void tst_JsonUtility::toVariantMap_nonObject_isEmptyAndSilent_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("array") << QByteArray("[1,2]");
    QTest::newRow("malformed") << QByteArray("{bad json");
    QTest::newRow("number") << QByteArray("42");
    QTest::newRow("string") << QByteArray("\"text\"");
    QTest::newRow("null") << QByteArray("null");
    QTest::newRow("empty") << QByteArray();
}

void tst_JsonUtility::toVariantMap_nonObject_isEmptyAndSilent()
{
    QFETCH(QByteArray, json);
    MessageCapture capture;
    QVERIFY(JsonUtility::toVariantMap(json).isEmpty());
    QVERIFY(JsonUtility::toVariantMap(QString::fromUtf8(json)).isEmpty());
    QVERIFY(capture.messages().isEmpty());
}

void tst_JsonUtility::toVariantMap_decodesUtf8Object()
{
    const QString text = QStringLiteral("{\"name\": \"Gr\u00fc\u00dfe \u2713\", \"n\": 2}");
    const QVariantMap expected{{QStringLiteral("name"), QStringLiteral("Gr\u00fc\u00dfe \u2713")}, {QStringLiteral("n"), 2}};
    QCOMPARE(JsonUtility::toVariantMap(text.toUtf8()), expected);
    QCOMPARE(JsonUtility::toVariantMap(text), expected);
}

void tst_JsonUtility::toBytes_isCompactUtf8()
{
    QCOMPARE(JsonUtility::toBytes({{QStringLiteral("a"), 1}}), QByteArray("{\"a\":1}"));

    // Non-ASCII text must come out as UTF-8 bytes and decode back unchanged.
    const QVariantMap map{{QStringLiteral("k"), QStringLiteral("\u00e4\u2713")}};
    QCOMPARE(JsonUtility::toBytes(map), QStringLiteral("{\"k\":\"\u00e4\u2713\"}").toUtf8());
    QCOMPARE(JsonUtility::toString(map), QStringLiteral("{\"k\":\"\u00e4\u2713\"}"));
}

void tst_JsonUtility::toFormattedString_isIndentedWithFinalLineBreak()
{
    const QVariantMap map{{QStringLiteral("a"), 1}};
    const QString expected = QStringLiteral("{\n    \"a\": 1\n}\n");
    QCOMPARE(JsonUtility::toFormattedString(map), expected);
    QCOMPARE(JsonUtility::toFormattedBytes(map), expected.toUtf8());
}

void tst_JsonUtility::toStringOfValue_onlyObjectsAndArrays_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("string") << QJsonValue(QStringLiteral("text")) << QString();
    QTest::newRow("number") << QJsonValue(1.5) << QString();
    QTest::newRow("boolean") << QJsonValue(true) << QString();
    QTest::newRow("null") << QJsonValue(QJsonValue::Null) << QString();
    QTest::newRow("undefined") << QJsonValue(QJsonValue::Undefined) << QString();
    QTest::newRow("empty object") << QJsonValue(QJsonObject()) << "{\n}\n";
    QTest::newRow("object") << QJsonValue(QJsonObject{{QStringLiteral("a"), 1}}) << "{\n    \"a\": 1\n}\n";
    QTest::newRow("array") << QJsonValue(QJsonArray{1, QStringLiteral("b")}) << "[\n    1,\n    \"b\"\n]\n";
}

void tst_JsonUtility::toStringOfValue_onlyObjectsAndArrays()
{
    QFETCH(QJsonValue, value);
    QFETCH(QString, expected);
    QCOMPARE(JsonUtility::toString(value), expected);
}

void tst_JsonUtility::writeFile_readFile_roundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.json"));
    const QVariantMap nested{{QStringLiteral("depth"), 2}, {QStringLiteral("tags"), QVariantList{QStringLiteral("x")}}};
    const QVariantMap map{
        {QStringLiteral("text"), QStringLiteral("Gr\u00fc\u00dfe")},
        {QStringLiteral("empty"), QString()},
        {QStringLiteral("integer"), 42},
        {QStringLiteral("real"), 2.5},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("list"), QVariantList{1, QStringLiteral("two"), false}},
        {QStringLiteral("nested"), nested},
    };

    QVERIFY(JsonUtility::writeFile(path, map));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // JSON files are written in the indented form, for people to read.
    QCOMPARE(file.readAll(), JsonUtility::toFormattedBytes(map));
    QCOMPARE(JsonUtility::readFile(path), map);
}

void tst_JsonUtility::fileFailures_giveEmptyMapOrFalse()
{
    QTemporaryDir dir;
    MessageCapture capture;
    QVERIFY(JsonUtility::readFile(dir.filePath(QStringLiteral("absent.json"))).isEmpty());

    const QString arrayFile = dir.filePath(QStringLiteral("array.json"));
    QFile file(arrayFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[1,2]");
    file.close();
    QVERIFY(JsonUtility::readFile(arrayFile).isEmpty());
    QVERIFY(capture.messages().isEmpty());

    QVERIFY(!JsonUtility::writeFile(dir.filePath(QStringLiteral("missing/config.json")), {{QStringLiteral("a"), 1}}));
}

QTEST_GUILESS_MAIN(tst_JsonUtility)
#include "tst_jsonutility.moc"
