#include "TkSettings.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The INI encodings and the blank-is-absent rule, seen from the file side.
class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void blankValueInFile_readsAsDefault_data();
    void blankValueInFile_readsAsDefault();
    void colourEncoding_data();
    void colourEncoding();
    void storingTheDefault_removesAcrossTypes_data();
    void storingTheDefault_removesAcrossTypes();
    void nonBlankText_isReturnedUntrimmed();

private:
    QString iniPath() const { return m_dir->filePath(QStringLiteral("test.ini")); }
    void writeIni(const QByteArray &content);

    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_Settings::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void tst_Settings::writeIni(const QByteArray &content)
{
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void tst_Settings::blankValueInFile_readsAsDefault_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("empty") << QByteArray("k=\n");
    QTest::newRow("spaces") << QByteArray("k=\"   \"\n");
    QTest::newRow("tab") << QByteArray("k=\"\\t\"\n");
}

void tst_Settings::blankValueInFile_readsAsDefault()
{
    QFETCH(QByteArray, stored);
    writeIni("[General]\n" + stored);
    TkSettings settings(iniPath(), QSettings::IniFormat);

    QVERIFY(settings.contains(QStringLiteral("k")));
    QCOMPARE(settings.value(QStringLiteral("k"), 7), QVariant(7));
    QCOMPARE(settings.colorValue(QStringLiteral("k"), Qt::blue), QColor(Qt::blue));
    QCOMPARE(settings.boolValue(QStringLiteral("k"), true), true);
    QCOMPARE(settings.numberValue(QStringLiteral("k"), 2.5), 2.5);
}

void tst_Settings::colourEncoding_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QString>("text");
    QTest::newRow("opaque") << QColor(255, 0, 0) << "#ff0000";
    QTest::newRow("half transparent") << QColor(255, 0, 0, 128) << "#80ff0000";
    QTest::newRow("alpha 254 keeps alpha") << QColor(1, 2, 3, 254) << "#fe010203";
    QTest::newRow("transparent") << QColor(0, 0, 0, 0) << "#00000000";
}

void tst_Settings::colourEncoding()
{
    QFETCH(QColor, colour);
    QFETCH(QString, text);
    {
        TkSettings settings(iniPath(), QSettings::IniFormat);
        QSignalSpy spy(&settings, &TkSettings::valueChanged);
        settings.setColorValue(QStringLiteral("c"), colour);
        QCOMPARE(spy.count(), 1);
    }
    QSettings raw(iniPath(), QSettings::IniFormat);
    QCOMPARE(raw.value(QStringLiteral("c")).toString(), text);

    TkSettings settings(iniPath(), QSettings::IniFormat);
    QCOMPARE(settings.colorValue(QStringLiteral("c")), colour);
}

void tst_Settings::storingTheDefault_removesAcrossTypes_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<bool>("stored");
    QTest::newRow("same int") << QVariant(5) << QVariant(5) << false;
    QTest::newRow("int and double") << QVariant(5) << QVariant(5.0) << false;
    QTest::newRow("text and number") << QVariant(QStringLiteral("5")) << QVariant(5) << false;
    QTest::newRow("different") << QVariant(6) << QVariant(5) << true;
    QTest::newRow("no default") << QVariant(5) << QVariant() << true;
    QTest::newRow("null value") << QVariant(QString()) << QVariant() << false;
}

void tst_Settings::storingTheDefault_removesAcrossTypes()
{
    QFETCH(QVariant, value);
    QFETCH(QVariant, defaultValue);
    QFETCH(bool, stored);

    TkSettings settings(iniPath(), QSettings::IniFormat);
    settings.QSettings::setValue(QStringLiteral("k"), QStringLiteral("old"));
    QSignalSpy spy(&settings, &TkSettings::valueChanged);
    settings.setValue(QStringLiteral("k"), value, defaultValue);
    QCOMPARE(settings.contains(QStringLiteral("k")), stored);
    QCOMPARE(spy.count(), stored ? 1 : 0);
}

void tst_Settings::nonBlankText_isReturnedUntrimmed()
{
    TkSettings settings(iniPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("k"), QStringLiteral("  padded  "));
    settings.sync();
    TkSettings reread(iniPath(), QSettings::IniFormat);
    QCOMPARE(reread.value(QStringLiteral("k")).toString(), QStringLiteral("  padded  "));
    QCOMPARE(reread.path(), iniPath());
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
