#include "FileTestSupport.h"
#include "TkFileFolder.h"
#include "TkSettings.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    void folderFile_storesOnlyInARegularFileOfTheFolder_data();
    void folderFile_storesOnlyInARegularFileOfTheFolder();

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

void tst_Settings::folderFile_storesOnlyInARegularFileOfTheFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("after");     // "path=kind" in the sandbox

    // folder/ holds the settings; other.ini and outside/ lie beside it.
    QTest::newRow("a link to another file") << "toOther.ini" << QStringList{"folder/toOther.ini=link", "other.ini=file"};
    QTest::newRow("a dangling link") << "dangling.ini" << QStringList{"nowhere.ini=missing"};
    QTest::newRow("a named pipe") << "pipe.ini" << QStringList{"folder/pipe.ini=fifo"};
    QTest::newRow("a linked folder on the way") << "linked/x.ini" << QStringList{"outside/x.ini=missing"};
}

void tst_Settings::folderFile_storesOnlyInARegularFileOfTheFolder()
{
    QFETCH(QString, name);
    QFETCH(QStringList, after);
    const QString folder = m_dir->filePath(QStringLiteral("folder"));
    const QString other = m_dir->filePath(QStringLiteral("other.ini"));
    const QByteArray otherContent("[General]\na=1\n");
    QVERIFY(QDir().mkpath(folder) && QDir().mkpath(m_dir->filePath(QStringLiteral("outside"))));
    QFile file(other);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(otherContent) == otherContent.size());
    file.close();
    QVERIFY(QFile::link(other, folder + QStringLiteral("/toOther.ini")));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere.ini")), folder + QStringLiteral("/dangling.ini")));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("outside")), folder + QStringLiteral("/linked")));
    const QByteArray pipe = QFile::encodeName(folder + QStringLiteral("/pipe.ini"));
    QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);

    PipeReaderWatch watch({QFile::decodeName(pipe)});
    QVariant read;
    {
        QScopedPointer<TkSettings> settings(TkFileFolder(folder, nullptr).settingsFile(name));
        read = settings->value(QStringLiteral("a"));
        settings->setValue(QStringLiteral("k"), 2);
        settings->synchronize();
    }
    QVERIFY2(!watch.stop(), "a named pipe was opened for reading");
    QVERIFY2(!read.isValid(), "a value was read from a file that is not a regular file of the folder");
    QFile check(other);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), otherContent);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
