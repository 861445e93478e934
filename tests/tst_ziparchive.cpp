#include "MessageCapture.h"
#include "TkZipArchive.h"
#include "TkZipFileInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <clocale>
#include <langinfo.h>
#include <zlib.h>

// Reading archives written by Python's zipfile and by Info-ZIP zip, writing
// archives that those tools read back, and extraction of hostile archives.
class tst_ZipArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listing_keepsArchiveOrderAndListsOnlyEntriesPresent_data();
    void listing_keepsArchiveOrderAndListsOnlyEntriesPresent();
    void listing_matchesUnzipForInfoZipArchive();
    void archiveOpensLazilyAndClosesOnNewPath();
    void lookup_ignoresCaseOnlyWhenAsked_data();
    void lookup_ignoresCaseOnlyWhenAsked();
    void fileInfo_copiesTheEntryRecord();
    void extractFile_signalsProgressPerBuffer_data();
    void extractFile_signalsProgressPerBuffer();
    void extractFile_intoMissingFolder_failsWithoutSignal();
    void extractAll_createsNestedFoldersAndCompletes();
    void extractAll_refusesEntriesOutsideTarget_data();
    void extractAll_refusesEntriesOutsideTarget();
    void extractAll_survivesLookupsFromItsSignals();
    void extractAll_keepsNamesThatOnlyLookLikeParents();
    void extract_corruptEntryIsReported_data();
    void extract_corruptEntryIsReported();
    void extractFile_failedWriteReportsErrNo_data();
    void extractFile_failedWriteReportsErrNo();
    void unreadablePath_givesEmptyResults_data();
    void unreadablePath_givesEmptyResults();
    void writer_needsExistingFileAndOpenWriter();
    void addFiles_archiveReadsBackWithPeerAndReader();
    void nonAsciiEntryAndArchivePath();

private:
    QJsonArray makeArchive(const QString &path, const QJsonArray &entries);
    QString archivePath() const { return m_dir->filePath(QStringLiteral("archive.zip")); }
    QString outPath() const { return m_dir->filePath(QStringLiteral("out")); }
    QStringList filesBelow(const QString &folder) const;

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_previousCurrent;
};

namespace {

QJsonObject entry(const QString &name, const QString &text, const QString &method = QStringLiteral("deflated"))
{
    return QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("text"), text},
                       {QStringLiteral("method"), method}};
}

QJsonObject repeated(const QString &name, int count, const QString &method = QStringLiteral("deflated"))
{
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("repeat"), QJsonArray{QStringLiteral("r"), count}},
                       {QStringLiteral("method"), method},
                       {QStringLiteral("date"), QJsonArray{2021, 1, 31, 13, 45, 58}}};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QVariantList argumentsOf(const QSignalSpy &spy, int index)
{
    QVariantList values;
    for (const QList<QVariant> &call : spy)
        values.append(call.at(index));
    return values;
}

// One extractError call as "name | output | result".
QString errorCall(const QList<QVariant> &call)
{
    return QStringLiteral("%1 | %2 | %3")
        .arg(call.at(0).toString(), call.at(1).toString())
        .arg(int(call.at(2).value<TkZipArchive::Result>()));
}

QString errorCall(const QString &name, const QString &output, TkZipArchive::Result result)
{
    return errorCall({name, output, QVariant::fromValue(result)});
}

} // namespace

void tst_ZipArchive::initTestCase()
{
    qRegisterMetaType<TkZipArchive::Result>();
    qInfo() << "locale" << std::setlocale(LC_CTYPE, nullptr) << "codeset" << nl_langinfo(CODESET)
            << "local 8-bit codec" << QTextCodec::codecForLocale()->name();
}

void tst_ZipArchive::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    // Relative paths (and Qt's ":" resource names) resolve against the
    // working directory: point it at an empty folder of the sandbox.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("cwd/work")));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("out")));
    m_previousCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("cwd/work"))));
}

void tst_ZipArchive::cleanup()
{
    QDir::setCurrent(m_previousCurrent);
}

QJsonArray tst_ZipArchive::makeArchive(const QString &path, const QJsonArray &entries)
{
    QProcess python;
    python.start(QStringLiteral(MAPORA_PYTHON3), {QStringLiteral(MAPORA_TEST_SOURCE_DIR "/data/zip/zipmaker.py")});
    python.write(QJsonDocument(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("entries"), entries}})
                     .toJson());
    python.closeWriteChannel();
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning() << "zipmaker failed:" << python.readAllStandardError();
        return QJsonArray();
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QStringList tst_ZipArchive::filesBelow(const QString &folder) const
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(folder).relativeFilePath(it.next()));
    found.sort();
    return found;
}

void tst_ZipArchive::listing_keepsArchiveOrderAndListsOnlyEntriesPresent_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("explicit folder entry") << QStringList{"a/", "a/b.txt", "c.txt"} << QStringList{"a/b.txt", "c.txt"}
                                           << QStringList{"a"};
    QTest::newRow("folder implied only") << QStringList{"a/b.txt"} << QStringList{"a/b.txt"} << QStringList{};
    QTest::newRow("archive order, not sorted")
        << QStringList{"z.txt", "m/", "a.txt", "b/", "m/k.txt"} << QStringList{"z.txt", "a.txt", "m/k.txt"}
        << QStringList{"m", "b"};
    QTest::newRow("empty archive") << QStringList{} << QStringList{} << QStringList{};
}

void tst_ZipArchive::listing_keepsArchiveOrderAndListsOnlyEntriesPresent()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QJsonArray description;
    for (const QString &name : entries)
        description.append(entry(name, name.endsWith('/') ? QString() : name));
    QCOMPARE(makeArchive(archivePath(), description).size(), entries.size());

    TkZipArchive zip;
    zip.setPath(archivePath());
    QCOMPARE(zip.fileNames(), files);
    QCOMPARE(zip.folderNames(), folders);
}

void tst_ZipArchive::listing_matchesUnzipForInfoZipArchive()
{
    for (const char *name : {"tree/a.txt", "tree/sub/b.txt", "tree/sub/deeper/c.txt", "tree/empty/.keep"})
        QVERIFY(writeBytes(m_dir->filePath(QString::fromLatin1(name)), name));
    QProcess zip;
    zip.setWorkingDirectory(m_dir->path());
    zip.start(QStringLiteral("zip"), {QStringLiteral("-r"), QStringLiteral("-q"), archivePath(), QStringLiteral("tree")});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archivePath()});
    QVERIFY(unzip.waitForFinished() && unzip.exitCode() == 0);
    QStringList peerFiles;
    QStringList peerFolders;
    for (const QString &line : QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        if (line.endsWith('/'))
            peerFolders.append(line.chopped(1));
        else
            peerFiles.append(line);
    }
    QVERIFY(peerFolders.contains(QStringLiteral("tree/sub/deeper")));

    TkZipArchive archive;
    archive.setPath(archivePath());
    QCOMPARE(archive.fileNames(), peerFiles);
    QCOMPARE(archive.folderNames(), peerFolders);
    QVERIFY(archive.extractAll(outPath()));
    QCOMPARE(readAll(outPath() + QStringLiteral("/tree/sub/deeper/c.txt")), QByteArray("tree/sub/deeper/c.txt"));
}

void tst_ZipArchive::archiveOpensLazilyAndClosesOnNewPath()
{
    QVERIFY(!makeArchive(archivePath(), {entry("a.txt", "a")}).isEmpty());
    TkZipArchive zip;
    QSignalSpy pathSpy(&zip, &TkZipArchive::pathChanged);
    zip.setPath(archivePath());
    QCOMPARE(pathSpy.count(), 1);
    QVERIFY2(!zip.isOpen(), "setting the path opens nothing");
    QCOMPARE(zip.fileNames(), QStringList{"a.txt"});
    QVERIFY(zip.isOpen());

    zip.setPath(QDir(m_dir->path()).filePath(QStringLiteral("archive.zip")));
    QCOMPARE(pathSpy.count(), 1);
    QVERIFY2(zip.isOpen(), "the same path keeps the archive open");

    zip.close();
    QVERIFY(!zip.isOpen());
    QVERIFY(zip.exists(QStringLiteral("a.txt")));
    zip.setPath(m_dir->filePath(QStringLiteral("other.zip")));
    QCOMPARE(pathSpy.count(), 2);
    QVERIFY(!zip.isOpen());
}

void tst_ZipArchive::lookup_ignoresCaseOnlyWhenAsked_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("found");
    QTest::newRow("exact name, insensitive") << "a/b.txt" << false << true;
    QTest::newRow("exact name, sensitive") << "a/b.txt" << true << true;
    QTest::newRow("other case, insensitive") << "A/B.TXT" << false << true;
    QTest::newRow("other case, sensitive") << "A/B.TXT" << true << false;
    QTest::newRow("prefix of a name") << "a/b" << false << false;
    QTest::newRow("implied folder") << "a" << false << false;
}

void tst_ZipArchive::lookup_ignoresCaseOnlyWhenAsked()
{
    QFETCH(QString, name);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, found);
    QVERIFY(!makeArchive(archivePath(), {entry("a/b.txt", "content of b")}).isEmpty());
    TkZipArchive zip;
    QSignalSpy caseSpy(&zip, &TkZipArchive::caseSensitiveChanged);
    zip.setPath(archivePath());
    zip.setCaseSensitive(caseSensitive);
    zip.setCaseSensitive(caseSensitive);
    QCOMPARE(caseSpy.count(), caseSensitive ? 1 : 0);

    QCOMPARE(zip.exists(name), found);
    QScopedPointer<TkZipFileInfo> info(zip.fileInfo(name));
    QCOMPARE(!info.isNull(), found);
    if (info)
        QCOMPARE(info->filePath(), name);
    const QString output = m_dir->filePath(QStringLiteral("b.out"));
    QCOMPARE(zip.extractFile(name, output), found);
    QCOMPARE(QFileInfo::exists(output), found);
}

void tst_ZipArchive::fileInfo_copiesTheEntryRecord()
{
    const QJsonArray peer = makeArchive(archivePath(), {entry("top", "t"), repeated("a/b/c.tar.gz", 5000)});
    QCOMPARE(peer.size(), 2);
    const QJsonObject expected = peer.at(1).toObject();

    QScopedPointer<TkZipFileInfo> info;
    QScopedPointer<TkZipFileInfo> top;
    {
        TkZipArchive zip;
        zip.setPath(archivePath());
        info.reset(zip.fileInfo(QStringLiteral("a/b/c.tar.gz")));
        top.reset(zip.fileInfo(QStringLiteral("top")));
        MessageCapture capture;
        QVERIFY(!zip.fileInfo(QStringLiteral("missing")));
        QVERIFY(capture.contains(QtDebugMsg, QStringLiteral("File not found")));
    }
    QVERIFY(info && top);
    QVERIFY(!info->parent());
    QCOMPARE(info->size(), QStringLiteral("5000"));
    QCOMPARE(info->compressedSize(), QString::number(expected.value("compress_size").toInt()));
    QVERIFY(info->compressedSize() != info->size());
    const QByteArray data(5000, 'r');
    QCOMPARE(info->crc(), crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    QCOMPARE(qint64(info->crc()), qint64(expected.value("CRC").toDouble()));
    QCOMPARE(info->path(), QStringLiteral("a/b"));
    QCOMPARE(info->fileName(), QStringLiteral("c.tar.gz"));
    QCOMPARE(info->suffix(), QStringLiteral("gz"));
    QCOMPARE(info->lastModified(), QDateTime(QDate(2021, 1, 31), QTime(13, 45, 58)));
    QCOMPARE(top->path(), QStringLiteral("."));
}

void tst_ZipArchive::extractFile_signalsProgressPerBuffer_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantList>("progress");
    const QVariantList tenThousand{0.0, 40.96, 81.92, 100.0};
    QTest::newRow("10000 bytes deflated") << 10000 << "deflated" << tenThousand;
    QTest::newRow("10000 bytes stored") << 10000 << "stored" << tenThousand;
    QTest::newRow("exactly two buffers") << 8192 << "deflated" << QVariantList{0.0, 50.0, 100.0};
    QTest::newRow("empty entry") << 0 << "stored" << QVariantList{100.0};
}

void tst_ZipArchive::extractFile_signalsProgressPerBuffer()
{
    QFETCH(int, size);
    QFETCH(QString, method);
    QFETCH(QVariantList, progress);
    QVERIFY(!makeArchive(archivePath(), {repeated("dir/entry.bin", size, method)}).isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy progressSpy(&zip, &TkZipArchive::extractProgress);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    const QString output = m_dir->filePath(QStringLiteral("entry.out"));
    QVERIFY(writeBytes(output, "previous, longer content that must go away entirely"));

    QVERIFY(zip.extractFile(QStringLiteral("dir/entry.bin"), output));
    QCOMPARE(argumentsOf(progressSpy, 2).size(), progress.size());
    for (int i = 0; i < progress.size(); ++i)
        QCOMPARE(argumentsOf(progressSpy, 2).at(i).toDouble(), progress.at(i).toDouble());
    for (const QList<QVariant> &call : progressSpy) {
        QCOMPARE(call.at(0).toString(), QStringLiteral("dir/entry.bin"));
        QCOMPARE(call.at(1).toString(), output);
    }
    QCOMPARE(errorSpy.count(), 0);
    QCOMPARE(readAll(output), QByteArray(size, 'r'));
    QCOMPARE(QFileInfo(output).lastModified(), QDateTime(QDate(2021, 1, 31), QTime(13, 45, 58)));
}

void tst_ZipArchive::extractFile_intoMissingFolder_failsWithoutSignal()
{
    QVERIFY(!makeArchive(archivePath(), {entry("a.txt", "a")}).isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy progressSpy(&zip, &TkZipArchive::extractProgress);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    MessageCapture capture;
    QVERIFY(!zip.extractFile(QStringLiteral("a.txt"), m_dir->filePath(QStringLiteral("missing/a.txt"))));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Error opening:")));
    QCOMPARE(progressSpy.count() + errorSpy.count(), 0);
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("missing"))));
}

void tst_ZipArchive::extractAll_createsNestedFoldersAndCompletes()
{
    QVERIFY(!makeArchive(archivePath(), {entry("a/", ""), entry("a/b/c/d.txt", "d"), entry("e/f.txt", "f"),
                                         entry("top.txt", "top")})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    MessageCapture capture;
    QVERIFY(zip.extractAll(outPath()));
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(filesBelow(outPath()), (QStringList{"a", "a/b", "a/b/c", "a/b/c/d.txt", "e", "e/f.txt", "top.txt"}));
    QCOMPARE(readAll(outPath() + QStringLiteral("/a/b/c/d.txt")), QByteArray("d"));
    // The folder entry reaches the file step too, which cannot open a folder.
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Error opening:")));

    // Top-level files into a folder that does not exist: each fails, the
    // call still completes.
    zip.close();
    QVERIFY(!makeArchive(archivePath(), {entry("x.txt", "x"), entry("y.txt", "y")}).isEmpty());
    QVERIFY(zip.extractAll(m_dir->filePath(QStringLiteral("missing"))));
    QCOMPARE(completedSpy.count(), 2);
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("missing"))));
}

void tst_ZipArchive::extractAll_survivesLookupsFromItsSignals()
{
    QVERIFY(!makeArchive(archivePath(), {entry("a.txt", "a"), entry("b.txt", "b"), entry("c/d.txt", "d"),
                                         entry("e.txt", "e")})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    // A QML list that shows the entries asks for them while extraction runs.
    connect(&zip, &TkZipArchive::extractProgress, &zip, [&zip] {
        QScopedPointer<TkZipFileInfo> info(zip.fileInfo(QStringLiteral("a.txt")));
        zip.exists(QStringLiteral("e.txt"));
    });
    QVERIFY(QDir().mkpath(outPath()));
    QVERIFY(zip.extractAll(outPath()));
    QCOMPARE(filesBelow(outPath()), (QStringList{"a.txt", "b.txt", "c", "c/d.txt", "e.txt"}));

    // Closing the archive from a signal ends the extraction without touching
    // the released handle.
    TkZipArchive closing;
    closing.setPath(archivePath());
    connect(&closing, &TkZipArchive::extractProgress, &closing, [&closing] { closing.close(); });
    QSignalSpy completedSpy(&closing, &TkZipArchive::extractCompleted);
    MessageCapture capture;
    QVERIFY(closing.extractAll(m_dir->filePath(QStringLiteral("out2"))));
    QCOMPARE(completedSpy.count(), 1);
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Archive closed during extraction:")));
}

void tst_ZipArchive::extractAll_refusesEntriesOutsideTarget_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("parent segment") << "../escaped.txt";
    QTest::newRow("parent segment deeper") << "a/../../escaped.txt";
    QTest::newRow("parent that stays inside") << "a/../b.txt";
    QTest::newRow("backslash parent") << "..\\escaped.txt";
    QTest::newRow("absolute") << "<sandbox>/escaped.txt";
    QTest::newRow("absolute with backslash") << "\\escaped.txt";
    QTest::newRow("drive letter") << "C:/escaped.txt";
    QTest::newRow("drive-relative") << "c:escaped.txt";
    QTest::newRow("resource prefix") << ":escaped/x.txt";
}

void tst_ZipArchive::extractAll_refusesEntriesOutsideTarget()
{
    QFETCH(QString, name);
    name.replace(QStringLiteral("<sandbox>"), m_dir->path());
    QVERIFY(!makeArchive(archivePath(), {entry(QStringLiteral("first.txt"), "1"), entry(name, "evil"),
                                         entry(QStringLiteral("last.txt"), "2")})
                 .isEmpty());
    const QString target = outPath() + QStringLiteral("/target");
    QVERIFY(QDir().mkpath(target));
    TkZipArchive zip;
    zip.setPath(archivePath());
    QCOMPARE(zip.fileNames().at(1), name);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    MessageCapture capture;
    QVERIFY(zip.extractAll(target));

    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorCall(errorSpy.at(0)),
             errorCall(name, QDir(target).filePath(name), TkZipArchive::Result::ParameterError));
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Entry outside the output folder")));
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(filesBelow(m_dir->path()),
             (QStringList{"archive.zip", "cwd", "cwd/work", "out", "out/target", "out/target/first.txt",
                          "out/target/last.txt"}));
}

void tst_ZipArchive::extractAll_keepsNamesThatOnlyLookLikeParents()
{
    QVERIFY(!makeArchive(archivePath(), {entry("..hidden", "1"), entry("a..b/c..txt", "2"), entry(".../x", "3"),
                                         entry("d/..", "4")})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QVERIFY(zip.extractAll(outPath()));
    QCOMPARE(argumentsOf(errorSpy, 0), QVariantList{QStringLiteral("d/..")});
    QCOMPARE(filesBelow(outPath()), (QStringList{"...", ".../x", "..hidden", "a..b", "a..b/c..txt"}));
}

void tst_ZipArchive::extract_corruptEntryIsReported_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("result");
    // A flipped byte of stored data is only noticed by the CRC at the end.
    QTest::newRow("stored data altered") << "stored" << int(TkZipArchive::Result::CrcError);
    // 0xff starts a deflate block of the reserved type: zlib's Z_DATA_ERROR.
    QTest::newRow("deflate stream broken") << "deflated" << Z_DATA_ERROR;
}

void tst_ZipArchive::extract_corruptEntryIsReported()
{
    QFETCH(QString, method);
    QFETCH(int, result);
    const QString payload = QStringLiteral("payload ").repeated(600);
    const QJsonArray peer = makeArchive(archivePath(), {entry("good.txt", "good"), entry("bad.txt", payload, method)});
    QCOMPARE(peer.size(), 2);
    QByteArray bytes = readAll(archivePath());
    // The data follows the 30-byte local header, the name and no extra field.
    const int dataStart = peer.at(1).toObject().value("header_offset").toInt() + 30 + 7;
    if (method == QLatin1String("stored")) {
        QCOMPARE(bytes.mid(dataStart, 8), QByteArray("payload "));
        bytes[dataStart + 100] = char(bytes.at(dataStart + 100) ^ 0x20);
    } else {
        bytes[dataStart] = char(0xff);
    }
    QVERIFY(writeBytes(archivePath(), bytes));

    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy progressSpy(&zip, &TkZipArchive::extractProgress);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    const QString output = m_dir->filePath(QStringLiteral("bad.out"));
    QVERIFY(!zip.extractFile(QStringLiteral("bad.txt"), output));
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorCall(errorSpy.at(0)), errorCall(QStringLiteral("bad.txt"), output, TkZipArchive::Result(result)));
    QVERIFY2(!argumentsOf(progressSpy, 2).contains(100.0), "a corrupt entry never reports completion");

    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    QVERIFY(zip.extractAll(outPath()));
    QCOMPARE(errorSpy.count(), 2);
    QCOMPARE(errorSpy.at(1).at(2).value<TkZipArchive::Result>(), TkZipArchive::Result(result));
    QCOMPARE(readAll(outPath() + QStringLiteral("/good.txt")), QByteArray("good"));
    QCOMPARE(completedSpy.count(), 1);
}

void tst_ZipArchive::extractFile_failedWriteReportsErrNo_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("smaller than the write buffer, fails at flush") << 3000;
    QTest::newRow("larger than the write buffer, fails at write") << 200000;
}

void tst_ZipArchive::extractFile_failedWriteReportsErrNo()
{
    QFETCH(int, size);
    // /dev/full opens for writing and then refuses every byte with ENOSPC.
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable())
        QSKIP("/dev/full is not available here");
    QVERIFY(!makeArchive(archivePath(), {repeated("big.bin", size)}).isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy progressSpy(&zip, &TkZipArchive::extractProgress);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QVERIFY(!zip.extractFile(QStringLiteral("big.bin"), QStringLiteral("/dev/full")));
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorCall(errorSpy.at(0)),
             errorCall(QStringLiteral("big.bin"), QStringLiteral("/dev/full"), TkZipArchive::Result::ErrNo));
    QVERIFY(!argumentsOf(progressSpy, 2).contains(100.0));
    // The archive is still usable afterwards.
    QVERIFY(zip.extractFile(QStringLiteral("big.bin"), m_dir->filePath(QStringLiteral("big.bin"))));
    QCOMPARE(QFileInfo(m_dir->filePath(QStringLiteral("big.bin"))).size(), qint64(size));
}

void tst_ZipArchive::unreadablePath_givesEmptyResults_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing path") << "missing.zip" << QByteArray();
    QTest::newRow("not an archive") << "text.zip" << QByteArray("just some text, no archive\n");
    QTest::newRow("truncated archive") << "cut.zip" << QByteArray("PK\x03\x04\x14\x00", 6);
}

void tst_ZipArchive::unreadablePath_givesEmptyResults()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    const QString path = m_dir->filePath(fileName);
    if (!content.isEmpty())
        QVERIFY(writeBytes(path, content));
    TkZipArchive zip;
    zip.setPath(path);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    MessageCapture capture;
    QVERIFY(zip.fileNames().isEmpty() && zip.folderNames().isEmpty());
    QVERIFY(!zip.exists(QStringLiteral("a")));
    QVERIFY(!zip.fileInfo(QStringLiteral("a")));
    QVERIFY(!zip.extractFile(QStringLiteral("a"), m_dir->filePath(QStringLiteral("a"))));
    QVERIFY(!zip.extractAll(outPath()));
    QVERIFY(!zip.isOpen());
    QCOMPARE(completedSpy.count(), 0);
    QVERIFY(filesBelow(outPath()).isEmpty());
    // A missing file is not worth a warning; a file minizip refuses is.
    for (const MessageCapture::Message &m : capture.messages()) {
        const bool expected = m.type == QtDebugMsg ? m.text.contains(QLatin1String(" ZIP not open "))
                                                   : m.type == QtWarningMsg && !content.isEmpty()
                && m.text.contains(QLatin1String("Unable to open:"));
        QVERIFY2(expected, qPrintable(m.text));
    }
    QCOMPARE(capture.contains(QtWarningMsg, QStringLiteral("Unable to open:")), !content.isEmpty());
}

void tst_ZipArchive::writer_needsExistingFileAndOpenWriter()
{
    QVERIFY(writeBytes(m_dir->filePath(QStringLiteral("src/a.txt")), "a"));
    const QDir source(m_dir->filePath(QStringLiteral("src")));
    TkZipArchive zip;
    zip.setPath(archivePath());
    MessageCapture capture;
    QVERIFY2(!zip.addFile(source, QStringLiteral("a.txt"), QString()), "no writer yet");
    QVERIFY2(!zip.zwOpen(), "no file at the path");
    QVERIFY(capture.messages().isEmpty());
    QVERIFY(!QFileInfo::exists(archivePath()));

    // An existing file is replaced by the new archive.
    QVERIFY(writeBytes(archivePath(), "old content that is no archive"));
    QVERIFY(zip.zwOpen());
    QVERIFY(zip.isOpen());
    QVERIFY(zip.addFile(source, QStringLiteral("a.txt"), QStringLiteral("a comment")));
    QVERIFY(!zip.addFile(source, QStringLiteral("missing.txt"), QString()));
    // Reading finishes the archive first.
    QCOMPARE(zip.fileNames(), QStringList{"a.txt"});
    QVERIFY(zip.isOpen());
}

void tst_ZipArchive::addFiles_archiveReadsBackWithPeerAndReader()
{
    const QDir source(m_dir->filePath(QStringLiteral("src")));
    QByteArray binary;
    for (int i = 0; i < 20000; ++i)
        binary.append(char((i * 7919) >> 3));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("a.txt")), QByteArray("text ").repeated(1000)));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("sub/b.bin")), binary));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("empty.txt")), QByteArray()));
    QFile dated(source.filePath(QStringLiteral("dated.txt")));
    QVERIFY(dated.open(QIODevice::ReadWrite));
    QVERIFY(dated.write("dated") == 5 && dated.flush());
    QVERIFY(dated.setFileTime(QDateTime(QDate(2023, 10, 31), QTime(8, 9, 10)), QFileDevice::FileModificationTime));
    dated.close();
    QVERIFY(writeBytes(archivePath(), QByteArray()));

    {
        TkZipArchive zip;
        zip.setPath(archivePath());
        QVERIFY(zip.zwOpen());
        MessageCapture capture;
        QVERIFY(zip.addFiles(source, {"a.txt", "missing.txt", "sub/b.bin", "empty.txt", "dated.txt"}));
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Error adding: \"missing.txt\"")));
    }

    // Python's zipfile checks every CRC and reports names, dates and sizes.
    QProcess python;
    python.start(QStringLiteral(MAPORA_PYTHON3),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1])\n"
                                 "assert z.testzip() is None\n"
                                 "for i in z.infolist(): print(i.filename, i.compress_type, i.file_size, "
                                 "'%04d-%02d-%02dT%02d:%02d:%02d' % i.date_time)\n"),
                  archivePath()});
    QVERIFY(python.waitForFinished());
    QCOMPARE(python.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0).section(' ', 0, 2), QStringLiteral("a.txt 8 5000"));
    QCOMPARE(lines.at(1).section(' ', 0, 2), QStringLiteral("sub/b.bin 8 20000"));
    QCOMPARE(lines.at(2).section(' ', 0, 2), QStringLiteral("empty.txt 8 0"));
    QCOMPARE(lines.at(3), QStringLiteral("dated.txt 8 5 2023-10-31T08:09:10"));

    TkZipArchive reader;
    reader.setPath(archivePath());
    QScopedPointer<TkZipFileInfo> info(reader.fileInfo(QStringLiteral("dated.txt")));
    QVERIFY(info);
    QCOMPARE(info->lastModified(), QDateTime(QDate(2023, 10, 31), QTime(8, 9, 10)));
    QVERIFY(reader.extractAll(outPath()));
    QCOMPARE(readAll(outPath() + QStringLiteral("/sub/b.bin")), binary);
    QCOMPARE(readAll(outPath() + QStringLiteral("/a.txt")), QByteArray("text ").repeated(1000));
}

void tst_ZipArchive::nonAsciiEntryAndArchivePath()
{
    // Registered twice in CTest: under LC_ALL=C and under LC_ALL=C.UTF-8.
    const QString name = QString::fromUtf8("dossi\xc3\xa9r/na\xc3\xafve-\xc3\x9f.txt");
    const QString path = m_dir->filePath(QString::fromUtf8("\xc3\x84rchiv-\xc3\xa9.zip"));
    QVERIFY(!makeArchive(path, {entry(name, "utf-8 name")}).isEmpty());

    TkZipArchive zip;
    zip.setPath(path);
    QCOMPARE(zip.fileNames(), QStringList{name});
    // Names are looked up in the local 8-bit encoding against the stored
    // UTF-8 bytes; they meet only where the two encodings agree.
    const bool localIsUtf8 = name.toLocal8Bit() == name.toUtf8();
    QCOMPARE(zip.exists(name), localIsUtf8);
    QVERIFY(zip.extractAll(outPath()));
    QCOMPARE(readAll(QDir(outPath()).filePath(name)), QByteArray("utf-8 name"));

    // The writer stores the name in the local encoding; the reader gets it back.
    QVERIFY(writeBytes(m_dir->filePath(QStringLiteral("src/")) + name, "written"));
    const QString written = m_dir->filePath(QString::fromUtf8("\xc3\xa9" "crit.zip"));
    QVERIFY(writeBytes(written, QByteArray()));
    TkZipArchive writer;
    writer.setPath(written);
    QVERIFY(writer.zwOpen());
    QVERIFY(writer.addFile(QDir(m_dir->filePath(QStringLiteral("src"))), name, QString()));
    writer.close();
    TkZipArchive reader;
    reader.setPath(written);
    QCOMPARE(reader.fileNames(), QStringList{localIsUtf8 ? name : QString::fromUtf8(name.toLocal8Bit())});
}

QTEST_GUILESS_MAIN(tst_ZipArchive)

#include "tst_ziparchive.moc"
