// The UTF-8 text helpers are internal to the library (the folder object's
// text reading and writing rests on them), so this test links the objects.
#include "FileUtility.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_FileUtilityText : public QObject
{
    Q_OBJECT

private slots:
    void utf8File_roundTripsNonAsciiText();
    void utf8File_emptyAndMissing();
};

void tst_FileUtilityText::utf8File_roundTripsNonAsciiText()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("note.txt"));
    const QString text = QStringLiteral("Gr\u00fc\u00dfe \u2713\nline two\n");

    QVERIFY(writeUtf8File(path, text));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text.toUtf8());
    QCOMPARE(readUtf8File(path), text);
}

void tst_FileUtilityText::utf8File_emptyAndMissing()
{
    QTemporaryDir dir;
    QVERIFY(readUtf8File(dir.filePath(QStringLiteral("absent.txt"))).isEmpty());

    const QString path = dir.filePath(QStringLiteral("empty.txt"));
    QVERIFY(writeUtf8File(path, QString()));
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(QFileInfo(path).size(), qint64(0));
}

QTEST_GUILESS_MAIN(tst_FileUtilityText)
#include "tst_fileutility_text.moc"
