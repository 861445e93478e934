#include "FileUtility.h"
#include "MessageCapture.h"
#include "TkZipArchive.h"
#include "TkZipFileInfo.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

#include <clocale>
#include <limits>
#include <csignal>
#include <langinfo.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
    void reading_matchesPythonForArchivesOfOtherWriters_data();
    void reading_matchesPythonForArchivesOfOtherWriters();
    void reading_sizesAndOffsetsPastFourGiB_data();
    void reading_sizesAndOffsetsPastFourGiB();
    void archiveOpensLazilyAndClosesOnNewPath();
    void lookup_ignoresCaseOnlyWhenAsked_data();
    void lookup_ignoresCaseOnlyWhenAsked();
    void names_readAsPeersReadThem_data();
    void names_readAsPeersReadThem();
    void fileInfo_copiesTheEntryRecord();
    void extractFile_signalsProgressPerBuffer_data();
    void extractFile_signalsProgressPerBuffer();
    void failedEntry_leavesExistingFileUntouched_data();
    void failedEntry_leavesExistingFileUntouched();
    void extractFile_failedWriteToDeviceReportsErrNo();
    void amounts_neverPassTheirTotal();
    void extract_refusesTargetsItMustNotReplace();
    void extract_keepsUnixPermissionBits_data();
    void extract_keepsUnixPermissionBits();
    void extractAll_createsFoldersAndCompletes();
    void extractAll_refusesEntriesOutsideTarget_data();
    void extractAll_refusesEntriesOutsideTarget();
    void extractAll_keepsNamesThatOnlyLookLikeParents();
    void extractAll_extractsTheFirstOfDuplicateNames();
    void extractAll_reportsInEntryOrderWhenALaterEntryFails_data();
    void extractAll_reportsInEntryOrderWhenALaterEntryFails();
    void extractAll_survivesHandlersThatUseTheArchive();
    void extraction_neverWritesThroughLinksBelowTheOutput_data();
    void extraction_neverWritesThroughLinksBelowTheOutput();
    void unreadablePath_givesEmptyResults_data();
    void unreadablePath_givesEmptyResults();
    void writer_createsTheArchiveAndReportsItsOutcome();
    void addFiles_archiveReadsBackWithPeerAndReader();
    void addFiles_largeEntryReadsBackWithPeers_data();
    void addFiles_largeEntryReadsBackWithPeers();
    void nonAsciiEntryAndArchivePath();
    void background_coalescesTheSignalsOfASynchronousRun_data();
    void background_coalescesTheSignalsOfASynchronousRun();
    void compressFiles_readsSourcesAsTheyWereNamed_data();
    void compressFiles_readsSourcesAsTheyWereNamed();
    void compressFolder_writesEveryRegularFileBelow();
    void compression_failedArchiveLeavesThePreviousFile_data();
    void compression_failedArchiveLeavesThePreviousFile();
    void sharedReader_outlivesTheReaderItCameFrom();
    void cancel_stopsTheRunAndLeavesNoPartialFile_data();
    void cancel_stopsTheRunAndLeavesNoPartialFile();
    void background_endsWithTheObject_data();
    void background_endsWithTheObject();
    void background_oneRunAtATime();

private:
    QString largeArchive() const { return m_large->filePath(QStringLiteral("large.zip")); }
    QJsonArray makeArchive(const QJsonObject &description);
    QJsonArray makeArchive(const QString &path, const QJsonArray &entries)
    {
        return makeArchive(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("entries"), entries}});
    }
    bool runScript(const QString &script);
    QString archivePath() const { return m_dir->filePath(QStringLiteral("archive.zip")); }
    QString outPath() const { return m_dir->filePath(QStringLiteral("out")); }
    QStringList filesBelow(const QString &folder) const;

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QTemporaryDir> m_large;
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

QString runPython(const QString &code, const QStringList &arguments)
{
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(QStringLiteral(MAPORA_PYTHON3), QStringList{QStringLiteral("-c"), code} + arguments);
    if (!python.waitForFinished(120000) || python.exitCode() != 0)
        return QStringLiteral("<python failed>");
    return QString::fromUtf8(python.readAllStandardOutput());
}

// The entries of an archive as Python's zipfile reads them, after its CRC
// check of every entry: "name md5-of-the-content" each.
QStringList peerEntries(const QString &archive)
{
    return runPython(QStringLiteral("import hashlib, sys, zipfile\n"
                                    "z = zipfile.ZipFile(sys.argv[1])\n"
                                    "assert z.testzip() is None\n"
                                    "for i in z.infolist(): print(i.filename, hashlib.md5(z.read(i)).hexdigest())\n"),
                     {archive})
        .split('\n', Qt::SkipEmptyParts);
}

QString md5Line(const QString &name, const QByteArray &content)
{
    return name + ' ' + QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

template<typename T>
void put(QByteArray &bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, sizeof(T));
}

// A Zip64 archive of a stored entry of `bigSize` zero bytes followed by a
// small entry beyond 4 GiB, written sparse: the zeros take no disk space.
// Without `bigZip64Field` the big entry's sizes stand in its headers alone,
// which works up to 4 GiB - 1 bytes.
bool writeSparseZip64(const QString &path, quint64 bigSize, bool bigZip64Field, const QByteArray &small)
{
    const QByteArray bigName("big.bin");
    const QByteArray smallName("after.txt");
    QByteArray block(1 << 20, '\0');
    const uLong blockCrc = crc32(0, reinterpret_cast<const Bytef *>(block.constData()), uInt(block.size()));
    uLong bigCrc = 0;
    for (quint64 done = 0; done + quint64(block.size()) <= bigSize; done += quint64(block.size()))
        bigCrc = crc32_combine(bigCrc, blockCrc, block.size());
    if (const uInt rest = uInt(bigSize % quint64(block.size())))
        bigCrc = crc32_combine(bigCrc, crc32(0, reinterpret_cast<const Bytef *>(block.constData()), rest), rest);
    if (!bigZip64Field && bigSize > 0xffffffffu)
        return false;
    const uLong smallCrc = crc32(0, reinterpret_cast<const Bytef *>(small.constData()), uInt(small.size()));
    const quint32 dosTime = (quint32(2022 - 1980) << 9 | 3 << 5 | 4) << 16 | (5 << 11 | 6 << 5 | 7 / 2);

    // The fields from "version needed" to the extra field's length, which
    // local and central headers share.
    auto shared = [&](QByteArray &h, const QByteArray &name, quint32 crc, quint32 size, const QByteArray &extra) {
        for (quint16 value : {quint16(45), quint16(0), quint16(0)})
            put<quint16>(h, value);
        for (quint32 value : {dosTime, crc, size, size})
            put<quint32>(h, value);
        put<quint16>(h, quint16(name.size()));
        put<quint16>(h, quint16(extra.size()));
    };
    auto localHeader = [&](const QByteArray &name, quint32 crc, quint32 size, const QByteArray &extra) {
        QByteArray h;
        put<quint32>(h, 0x04034b50);
        shared(h, name, crc, size, extra);
        return h + name + extra;
    };
    auto centralRecord = [&](const QByteArray &name, quint32 crc, quint32 size, quint32 offset,
                             const QByteArray &extra) {
        QByteArray h;
        put<quint32>(h, 0x02014b50);
        put<quint16>(h, 3 << 8 | 45);
        shared(h, name, crc, size, extra);
        for (quint16 value : {quint16(0), quint16(0), quint16(0)})
            put<quint16>(h, value);
        put<quint32>(h, 0100644u << 16);
        put<quint32>(h, offset);
        return h + name + extra;
    };
    QByteArray sizes;
    if (bigZip64Field) {
        put<quint16>(sizes, 1);
        put<quint16>(sizes, 16);
        put<quint64>(sizes, bigSize);
        put<quint64>(sizes, bigSize);
    }
    const QByteArray bigHeader = localHeader(bigName, quint32(bigCrc), 0xffffffffu, sizes);
    const quint64 smallOffset = quint64(bigHeader.size()) + bigSize;
    const QByteArray smallPart = localHeader(smallName, quint32(smallCrc), quint32(small.size()), {}) + small;
    QByteArray offset;
    put<quint16>(offset, 1);
    put<quint16>(offset, 8);
    put<quint64>(offset, smallOffset);
    const QByteArray central = centralRecord(bigName, quint32(bigCrc), 0xffffffffu, 0, sizes)
        + centralRecord(smallName, quint32(smallCrc), quint32(small.size()), 0xffffffffu, offset);
    const quint64 centralOffset = smallOffset + quint64(smallPart.size());
    QByteArray end;
    put<quint32>(end, 0x06064b50);
    put<quint64>(end, 44);
    put<quint16>(end, 45);
    put<quint16>(end, 45);
    put<quint32>(end, 0);
    put<quint32>(end, 0);
    put<quint64>(end, 2);
    put<quint64>(end, 2);
    put<quint64>(end, quint64(central.size()));
    put<quint64>(end, centralOffset);
    put<quint32>(end, 0x07064b50);
    put<quint32>(end, 0);
    put<quint64>(end, centralOffset + quint64(central.size()));
    put<quint32>(end, 1);
    put<quint32>(end, 0x06054b50);
    put<quint16>(end, 0);
    put<quint16>(end, 0);
    put<quint16>(end, 2);
    put<quint16>(end, 2);
    put<quint32>(end, quint32(central.size()));
    put<quint32>(end, 0xffffffffu);
    put<quint16>(end, 0);

    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bigHeader) == bigHeader.size()
        && file.seek(qint64(smallOffset)) && file.write(smallPart) == smallPart.size()
        && file.write(central) == central.size() && file.write(end) == end.size() && file.flush();
}

// The temporary files of entries and archives being written.
QStringList partialFiles(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, {QStringLiteral(".maporaextras-*")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

// Sets the soft limit on the size of files this process writes while it
// lives; writes past it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit next = m_previous;
        next.rlim_cur = limit;
        m_active = limit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &next) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_active)
            setrlimit(RLIMIT_FSIZE, &m_previous);
    }

private:
    rlimit m_previous;
    bool m_active = false;
};

} // namespace

void tst_ZipArchive::initTestCase()
{
    qRegisterMetaType<TkZipArchive::Result>();
    // Long enough (300 MiB to inflate and write, from a small archive) that
    // a background run is still going when a test acts on it.
    m_large.reset(new QTemporaryDir);
    QVERIFY(!makeArchive(largeArchive(), {entry("first.txt", "first"), repeated("big.bin", 300 << 20),
                                          entry("last.txt", "last")})
                 .isEmpty());
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

QJsonArray tst_ZipArchive::makeArchive(const QJsonObject &description)
{
    QProcess python;
    python.start(QStringLiteral(MAPORA_PYTHON3), {QStringLiteral(MAPORA_TEST_SOURCE_DIR "/data/zip/zipmaker.py")});
    python.write(QJsonDocument(description).toJson());
    python.closeWriteChannel();
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning() << "zipmaker failed:" << python.readAllStandardError();
        return QJsonArray();
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

// Runs a shell script in the sandbox with $ARCHIVE naming archivePath()
// and $ZIPMAKER the archive maker.
bool tst_ZipArchive::runScript(const QString &script)
{
    QProcess shell;
    shell.setWorkingDirectory(m_dir->path());
    shell.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ARCHIVE"), archivePath());
    environment.insert(QStringLiteral("ZIPMAKER"),
                       QStringLiteral(MAPORA_PYTHON3 " " MAPORA_TEST_SOURCE_DIR "/data/zip/zipmaker.py"));
    shell.setProcessEnvironment(environment);
    shell.start(QStringLiteral("bash"), {QStringLiteral("-euo"), QStringLiteral("pipefail"), QStringLiteral("-c"), script});
    return shell.waitForFinished(120000) && shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0;
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

void tst_ZipArchive::reading_matchesPythonForArchivesOfOtherWriters_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("extract");
    const QString tree = QStringLiteral("mkdir -p tree/sub/deeper tree/empty; echo a > tree/a.txt; "
                                        "echo c > tree/sub/deeper/c.txt; touch tree/empty/.keep; ");
    const QString sample = QStringLiteral("{\"path\": \"%1\", \"entries\": [{\"name\": \"d/\"}, "
                                          "{\"name\": \"d/x.txt\", \"repeat\": [\"x\", 9000]}, "
                                          "{\"name\": \"y.bin\", \"random\": 5000, \"method\": \"%2\"}]%3}");
    auto maker = [&](const QString &path, const QString &method, const QString &more = QString()) {
        return QStringLiteral("echo '%1' | $ZIPMAKER > /dev/null; ").arg(sample.arg(path, method, more));
    };
    QTest::newRow("Info-ZIP tree") << tree + "zip -q -r \"$ARCHIVE\" tree" << true;
    QTest::newRow("Info-ZIP, Zip64 forced") << tree + "zip -q -r -fz \"$ARCHIVE\" tree" << true;
    QTest::newRow("empty archive") << "echo '{\"path\": \"archive.zip\", \"entries\": []}' | $ZIPMAKER" << true;
    QTest::newRow("bzip2 entries") << maker("archive.zip", "bzip2") << true;
    QTest::newRow("stub in front") << maker("archive.zip", "stored", ", \"prefix\": \"#!/bin/sh\\nexec unzip\\n\"")
                                   << true;
    QTest::newRow("stub in front, offsets adjusted")
        << maker("plain.zip", "deflated") + "printf '#!/bin/sh\\nexit 0\\n' | cat - plain.zip > \"$ARCHIVE\"; "
                                            "zip -q -A \"$ARCHIVE\""
        << true;
    QTest::newRow("more than 65535 entries")
        << "$ZIPMAKER --many \"$ARCHIVE\" 65600" << false;
    // Writers without Zip64 keep the count modulo 65 536 in the end record.
    QTest::newRow("65536 entries, count wrapped to 0")
        << "$ZIPMAKER --many \"$ARCHIVE\" 65536 --no-zip64" << false;
    QTest::newRow("70000 entries, count wrapped") << "$ZIPMAKER --many \"$ARCHIVE\" 70000 --no-zip64" << false;
}

void tst_ZipArchive::reading_matchesPythonForArchivesOfOtherWriters()
{
    QFETCH(QString, script);
    QFETCH(bool, extract);
    QVERIFY(runScript(script));
    // Python's reading of the same file: names in order, sizes, and its
    // extraction of every entry.
    const QString peerOut = m_dir->filePath(QStringLiteral("peer"));
    const QJsonArray peer = QJsonDocument::fromJson(
        runPython(QStringLiteral("import json, sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1])\n"
                                 "if sys.argv[2] == '1': z.extractall(sys.argv[3])\n"
                                 "print(json.dumps([[i.filename, i.file_size, i.compress_size] for i in z.infolist()]))\n"),
                  {archivePath(), extract ? "1" : "0", peerOut})
            .toUtf8()).array();
    QVERIFY(!peer.isEmpty() || script.contains(QLatin1String("[]")));

    TkZipArchive zip;
    zip.setPath(archivePath());
    QStringList peerFiles;
    QStringList peerFolders;
    for (const QJsonValue &value : peer) {
        const QString name = value.toArray().at(0).toString();
        if (name.endsWith('/'))
            peerFolders.append(name.chopped(1));
        else
            peerFiles.append(name);
    }
    QCOMPARE(zip.fileNames(), peerFiles);
    QCOMPARE(zip.folderNames(), peerFolders);
    for (int i = 0; i < qMin(peer.size(), 20); ++i) {
        const QJsonArray p = peer.at(i).toArray();
        QScopedPointer<TkZipFileInfo> info(zip.fileInfo(p.at(0).toString()));
        QVERIFY(info);
        QCOMPARE(info->size(), QString::number(qint64(p.at(1).toDouble())));
        QCOMPARE(info->compressedSize(), QString::number(qint64(p.at(2).toDouble())));
    }
    if (!extract)
        return;

    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    const QString out = m_dir->filePath(QStringLiteral("ours"));
    QVERIFY(zip.extractAll(out));
    QCOMPARE(errorSpy.count(), 0);
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(filesBelow(out), filesBelow(peerOut));
    for (const QString &name : filesBelow(out)) {
        if (QFileInfo(QDir(out).filePath(name)).isFile())
            QCOMPARE(readAll(QDir(out).filePath(name)), readAll(QDir(peerOut).filePath(name)));
    }
}

void tst_ZipArchive::reading_sizesAndOffsetsPastFourGiB_data()
{
    QTest::addColumn<quint64>("bigSize");
    QTest::addColumn<bool>("zip64Field");
    // Stored zeros: the next entry's header lies past 4 GiB.
    QTest::newRow("4160 MiB, sizes in a Zip64 field") << (quint64(4160) << 20) << true;
    // 0xffffffff in a size field usually means "see the Zip64 field"; with
    // none there it is the size itself.
    QTest::newRow("4 GiB - 1 bytes, no Zip64 field") << quint64(0xffffffffu) << false;
}

void tst_ZipArchive::reading_sizesAndOffsetsPastFourGiB()
{
    QFETCH(quint64, bigSize);
    QFETCH(bool, zip64Field);
    if (!writeSparseZip64(archivePath(), bigSize, zip64Field, "beyond four GiB"))
        QSKIP("this file system cannot hold a sparse 4 GiB file");
    const QString peer = runPython(QStringLiteral("import sys, zipfile\n"
                                                  "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                                  "    print(i.filename, i.file_size, i.compress_size, i.header_offset, i.CRC)\n"),
                                   {archivePath()});
    const QStringList lines = peer.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0).section(' ', 0, 2), QStringLiteral("big.bin %1 %1").arg(bigSize));
    QVERIFY2(lines.at(1).section(' ', 3, 3).toULongLong() > 0xffffffffULL, qPrintable(lines.at(1)));

    TkZipArchive zip;
    zip.setPath(archivePath());
    QCOMPARE(zip.fileNames(), (QStringList{"big.bin", "after.txt"}));
    QScopedPointer<TkZipFileInfo> big(zip.fileInfo(QStringLiteral("big.bin")));
    QVERIFY(big);
    QCOMPARE(big->size(), QString::number(bigSize));
    QCOMPARE(big->compressedSize(), QString::number(bigSize));
    QCOMPARE(QString::number(big->crc()), lines.at(0).section(' ', 4, 4));
    QCOMPARE(big->lastModified(), QDateTime(QDate(2022, 3, 4), QTime(5, 6, 6)));
    const QString output = m_dir->filePath(QStringLiteral("after.txt"));
    QVERIFY(zip.extractFile(QStringLiteral("after.txt"), output));
    QCOMPARE(readAll(output), QByteArray("beyond four GiB"));
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

    // The listing is kept while the archive is open and read anew after.
    QVERIFY(!makeArchive(archivePath(), {entry("b.txt", "b")}).isEmpty());
    QCOMPARE(zip.fileNames(), QStringList{"a.txt"});
    zip.close();
    QVERIFY(!zip.isOpen());
    QCOMPARE(zip.fileNames(), QStringList{"b.txt"});
    zip.setPath(m_dir->filePath(QStringLiteral("other.zip")));
    QCOMPARE(pathSpy.count(), 2);
    QVERIFY(!zip.isOpen());
}

void tst_ZipArchive::lookup_ignoresCaseOnlyWhenAsked_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QString>("content");
    const QString longName = QStringLiteral("%1/%1/%1/%1/%1/x.txt").arg(QString(240, 'n'));
    QTest::newRow("exact name, insensitive") << "a/b.txt" << false << "b";
    QTest::newRow("exact name, sensitive") << "a/b.txt" << true << "b";
    QTest::newRow("other case, insensitive") << "A/B.TXT" << false << "b";
    QTest::newRow("other case, sensitive") << "A/B.TXT" << true << "";
    QTest::newRow("prefix of a name") << "a/b" << false << "";
    QTest::newRow("implied folder") << "a" << false << "";
    QTest::newRow("exact match before one of other case") << "Dup.txt" << false << "upper";
    QTest::newRow("first of other case") << "DUP.TXT" << false << "lower";
    QTest::newRow("non-ASCII case") << QString::fromUtf8("NA\xc3\x8f" "VE.TXT") << false << "naive";
    QTest::newRow("name of 1200 bytes") << longName << true << "long";
    QTest::newRow("name of 1200 bytes, other case") << longName.toUpper() << false << "long";
}

void tst_ZipArchive::lookup_ignoresCaseOnlyWhenAsked()
{
    QFETCH(QString, name);
    QFETCH(bool, caseSensitive);
    QFETCH(QString, content);
    const QString longName = QStringLiteral("%1/%1/%1/%1/%1/x.txt").arg(QString(240, 'n'));
    QVERIFY(!makeArchive(archivePath(), {entry("a/b.txt", "b"), entry("dup.txt", "lower"), entry("Dup.txt", "upper"),
                                         entry(QString::fromUtf8("na\xc3\xafve.txt"), "naive"), entry(longName, "long")})
                 .isEmpty());
    const bool found = !content.isEmpty();
    TkZipArchive zip;
    QSignalSpy caseSpy(&zip, &TkZipArchive::caseSensitiveChanged);
    zip.setPath(archivePath());
    zip.setCaseSensitive(caseSensitive);
    zip.setCaseSensitive(caseSensitive);
    QCOMPARE(caseSpy.count(), caseSensitive ? 1 : 0);

    QCOMPARE(zip.exists(name), found);
    QScopedPointer<TkZipFileInfo> info(zip.fileInfo(name));
    QCOMPARE(!info.isNull(), found);
    if (info) {
        QCOMPARE(info->filePath(), name);
        QCOMPARE(info->size(), QString::number(content.size()));
    }
    const QString output = m_dir->filePath(QStringLiteral("b.out"));
    QCOMPARE(zip.extractFile(name, output), found);
    QCOMPARE(QString::fromUtf8(readAll(output)), found ? content : QStringLiteral("<unreadable>"));
}

void tst_ZipArchive::names_readAsPeersReadThem_data()
{
    // The entry as zipmaker takes it (stored name bytes, host, fields), the
    // name it is listed and extracted under, and whether it can be.
    QTest::addColumn<QJsonObject>("named");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("readable");
    auto raw = [](const char *hex) { return QJsonObject{{"raw_name", hex}}; };
    QTest::newRow("code page 437 letter") << raw("636166822e747874") << QString::fromUtf8("caf\xc3\xa9.txt") << true;
    QTest::newRow("code page 437 box drawing")
        << raw("c42db32e747874") << QString::fromUtf8("\xe2\x94\x80-\xe2\x94\x82.txt") << true;
    QTest::newRow("valid UTF-8, no flag") << raw("636166c3a92e747874") << QString::fromUtf8("caf\xc3\xa9.txt") << true;
    QTest::newRow("control bytes are ASCII") << raw("6101021f7f2e747874") << QStringLiteral("a\x01\x02\x1f\x7f.txt")
                                             << true;
    QTest::newRow("NUL ends the name") << raw("74650074") << QStringLiteral("te") << true;
    // Qt's UTF-8 decoder drops it; the name is found as it is listed.
    QTest::newRow("leading byte order mark") << raw("efbbbf612e747874") << QStringLiteral("a.txt") << true;
    QTest::newRow("backslash of a DOS host") << QJsonObject{{"raw_name", "615c622e747874"}, {"create_system", 0}}
                                             << QStringLiteral("a/b.txt") << true;
    // WinZip: the name in the OEM code page, the Unicode path field with
    // the CRC of those bytes.
    QTest::newRow("Unicode path field of a Windows host")
        << QJsonObject{{"raw_name", "845c812e747874"}, {"create_system", 0},
                       {"unicode_path", QString::fromUtf8("\xc3\xa4\\\xc3\xbc.txt")}}
        << QString::fromUtf8("\xc3\xa4/\xc3\xbc.txt") << true;
    QTest::newRow("flagged UTF-8, bytes are not")
        << QJsonObject{{"raw_name", "6261ff2e747874"}, {"flag_bits", 0x800}} << QString::fromUtf8("ba\xef\xbf\xbd.txt")
        << false;
}

void tst_ZipArchive::names_readAsPeersReadThem()
{
    QFETCH(QJsonObject, named);
    QFETCH(QString, expected);
    QFETCH(bool, readable);
    named.insert("text", "named");
    QVERIFY(!makeArchive(archivePath(), {named, entry("other.txt", "other")}).isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    zip.setCaseSensitive(true);
    QCOMPARE(zip.fileNames(), (QStringList{expected, "other.txt"}));
    QVERIFY(zip.exists(expected));
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QCOMPARE(zip.extractAll(outPath()), readable);
    // An entry that cannot be read fails alone.
    const QString output = QDir(outPath()).filePath(expected);
    QCOMPARE(readAll(output), readable ? QByteArray("named") : QByteArray("<unreadable>"));
    QCOMPARE(errorSpy.count(), readable ? 0 : 1);
    if (!readable)
        QCOMPARE(errorCall(errorSpy.at(0)), errorCall(expected, output, TkZipArchive::Result::BadZipFile));
    QCOMPARE(readAll(QDir(outPath()).filePath("other.txt")), QByteArray("other"));
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
    QTest::newRow("exactly two steps") << 8192 << "deflated" << QVariantList{0.0, 50.0, 100.0};
    QTest::newRow("empty entry") << 0 << "stored" << QVariantList{100.0};
    // Read in several large blocks, still reported every 4096 bytes.
    QVariantList steps;
    for (int at = 0; at < 600000; at += 4096)
        steps.append(at / 600000.0 * 100.0);
    steps.append(100.0);
    QTest::newRow("600000 bytes, several blocks") << 600000 << "deflated" << steps;
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

void tst_ZipArchive::failedEntry_leavesExistingFileUntouched_data()
{
    QTest::addColumn<QJsonObject>("description");
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("sizeLimit");
    const QJsonObject payload = entry("bad.txt", QStringLiteral("payload ").repeated(600));
    const QJsonObject stored = entry("bad.txt", QStringLiteral("payload ").repeated(600), "stored");
    auto with = [](const QJsonObject &e, const QString &key, const QJsonValue &value) {
        return QJsonObject{{"entries", QJsonArray{e}}, {key, value}};
    };
    auto patch = [](const char *field, int value) {
        return QJsonArray{QJsonObject{{"entry", 0}, {"field", field}, {"value", value}}};
    };
    QTest::newRow("CRC mismatch") << with(stored, "patches", patch("crc", 12345)) << "" << int(TkZipArchive::Result::CrcError) << 0;
    // 0xff starts a deflate block of the reserved type: zlib's Z_DATA_ERROR.
    QTest::newRow("deflate stream broken") << with(payload, "sets", QJsonArray{QJsonArray{0, 0, 255}}) << ""
                                           << Z_DATA_ERROR << 0;
    // Five whole stored blocks (more than one read) and then a block of
    // the reserved type: the inflater that takes the first blocks finds
    // the broken one, and zlib's status still comes out.
    QByteArray blocks;
    for (int block = 0; block < 5; ++block) {
        blocks.append('\0');
        put<quint16>(blocks, 0xffff);
        put<quint16>(blocks, 0);
        blocks.append(QByteArray(0xffff, char('a' + block)));
    }
    blocks.append('\x07');
    QTest::newRow("deflate stream broken after several blocks")
        << with(QJsonObject{{"name", "bad.txt"}, {"hex", QString::fromLatin1(blocks.toHex())}, {"method", "stored"}},
                "patches", QJsonArray{patch("method", 8)[0], patch("file_size", 400000)[0]})
        << "" << Z_DATA_ERROR << 0;
    QTest::newRow("data end before the declared size")
        << with(payload, "patches", patch("file_size", 10000)) << "" << int(TkZipArchive::Result::BadZipFile) << 0;
    QTest::newRow("data inflate past the declared size")
        << with(repeated("bad.txt", 3000000), "patches", patch("file_size", 1000)) << ""
        << int(TkZipArchive::Result::BadZipFile) << 0;
    // Sizes of 0 with the CRC of the data: the CRC of no bytes differs.
    QTest::newRow("stored, sizes 0, CRC of the data")
        << with(stored, "patches", QJsonArray{patch("compress_size", 0)[0], patch("file_size", 0)[0]}) << ""
        << int(TkZipArchive::Result::CrcError) << 0;
    QTest::newRow("no local header where the directory points")
        << with(payload, "patches", patch("local_signature", 0x12345678)) << "" << int(TkZipArchive::Result::BadZipFile)
        << 0;
    QTest::newRow("one local header, many central records")
        << with(payload, "repeat_central", QJsonArray{0, 3}) << "" << int(TkZipArchive::Result::BadZipFile) << 0;
    QTest::newRow("method that cannot be read (LZMA)")
        << QJsonObject{{"entries", QJsonArray{entry("bad.txt", "lzma data", "lzma")}}} << ""
        << int(TkZipArchive::Result::BadZipFile) << 0;
    QTest::newRow("encrypted entry")
        << QJsonObject() << "mkdir -p src; printf secret > src/bad.txt; cd src; zip -q -P pw \"$ARCHIVE\" bad.txt"
        << int(TkZipArchive::Result::ParameterError) << 0;
    // Refused before a byte is written: free space is checked first.
    QTest::newRow("declared size past the free space")
        << QJsonObject{{"entries", QJsonArray{payload}}, {"declares", QJsonArray{0, 1LL << 60}}} << ""
        << int(TkZipArchive::Result::ErrNo) << 0;
    QTest::newRow("file size limit reached")
        << QJsonObject{{"entries", QJsonArray{repeated("bad.txt", 600000)}}} << "" << int(TkZipArchive::Result::ErrNo)
        << 100000;
}

void tst_ZipArchive::failedEntry_leavesExistingFileUntouched()
{
    QFETCH(QJsonObject, description);
    QFETCH(QString, script);
    QFETCH(int, result);
    QFETCH(int, sizeLimit);
    if (script.isEmpty()) {
        description.insert("path", archivePath());
        QVERIFY(!makeArchive(description).isEmpty());
    } else {
        QVERIFY(runScript(script));
    }
    const QString victim = QDir(outPath()).filePath(QStringLiteral("bad.txt"));
    const QByteArray previous("previous content, kept on every failure\n");
    QVERIFY(writeBytes(victim, previous));

    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy progressSpy(&zip, &TkZipArchive::extractProgress);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    {
        const FileSizeLimit limit(sizeLimit > 0 ? rlim_t(sizeLimit) : RLIM_INFINITY);
        QVERIFY(!zip.extractFile(QStringLiteral("bad.txt"), victim));
        QCOMPARE(errorSpy.count(), 1);
        QCOMPARE(errorCall(errorSpy.at(0)), errorCall(QStringLiteral("bad.txt"), victim, TkZipArchive::Result(result)));
        QVERIFY2(!argumentsOf(progressSpy, 2).contains(100.0), "a failed entry never reports completion");
        QVERIFY2(!zip.extractAll(outPath()), "a failed entry is not reported as success");
        // Where no file was, none is left.
        QVERIFY(!zip.extractFile(QStringLiteral("bad.txt"), QDir(outPath()).filePath(QStringLiteral("new.txt"))));
    }
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(errorSpy.at(1).at(2).value<TkZipArchive::Result>(), TkZipArchive::Result(result));
    QCOMPARE(errorSpy.last().at(2).value<TkZipArchive::Result>(), TkZipArchive::Result(result));
    QCOMPARE(readAll(victim), previous);
    QCOMPARE(filesBelow(outPath()), QStringList{"bad.txt"});
}

void tst_ZipArchive::amounts_neverPassTheirTotal()
{
    // Declared sizes whose sum no count holds: the total stops at the
    // largest count, and what is processed at the total.
    const double huge = 3.0 * double(1LL << 62);
    QVERIFY(!makeArchive(QJsonObject{{"path", archivePath()},
                                     {"entries", QJsonArray{entry("a.txt", "a"), entry("b.txt", "b")}},
                                     {"declares", QJsonArray{QJsonArray{0, huge}, QJsonArray{1, huge}}}})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QVERIFY(!zip.extractAll(outPath()));
    const qint64 most = std::numeric_limits<qint64>::max();
    QCOMPARE(QList<qint64>({zip.processedBytes(), zip.totalBytes(), zip.processedEntries(), zip.totalEntries()}),
             (QList<qint64>{most, most, 2, 2}));
}

void tst_ZipArchive::extractFile_failedWriteToDeviceReportsErrNo()
{
    // /dev/full opens for writing and then refuses every byte with ENOSPC;
    // a device is written as it is, never replaced by a file.
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable())
        QSKIP("/dev/full is not available here");
    QVERIFY(!makeArchive(archivePath(), {repeated("big.bin", 3000)}).isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QVERIFY(!zip.extractFile(QStringLiteral("big.bin"), QStringLiteral("/dev/full")));
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorCall(errorSpy.at(0)),
             errorCall(QStringLiteral("big.bin"), QStringLiteral("/dev/full"), TkZipArchive::Result::ErrNo));
    struct stat st;
    QVERIFY(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
}

void tst_ZipArchive::extract_refusesTargetsItMustNotReplace()
{
    QVERIFY(!makeArchive(archivePath(), {entry("a.txt", "a")}).isEmpty());
    const QByteArray archive = readAll(archivePath());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    MessageCapture capture;

    QVERIFY(!zip.extractFile(QStringLiteral("a.txt"), archivePath()));
    QCOMPARE(errorCall(errorSpy.takeFirst()), errorCall("a.txt", archivePath(), TkZipArchive::Result::ParameterError));
    QCOMPARE(readAll(archivePath()), archive);

    QVERIFY2(!zip.extractAll(QString()), "no folder is no working folder");
    QCOMPARE(completedSpy.count() + errorSpy.count(), 0);
    QVERIFY(filesBelow(QDir::currentPath()).isEmpty());

    const QString folder = QDir(outPath()).filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!zip.extractFile(QStringLiteral("a.txt"), folder));
    QCOMPARE(errorCall(errorSpy.takeFirst()), errorCall("a.txt", folder, TkZipArchive::Result::ErrNo));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Error opening:")));

    // A pipe nobody reads is refused at once instead of blocking.
    const QString pipe = QDir(outPath()).filePath(QStringLiteral("pipe"));
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    QVERIFY(!zip.extractFile(QStringLiteral("a.txt"), pipe));
    QCOMPARE(errorSpy.count(), 1);
    struct stat st;
    QVERIFY(::lstat(QFile::encodeName(pipe).constData(), &st) == 0 && S_ISFIFO(st.st_mode));

    // A link at the target is replaced by the file, not written through.
    const QString outside = m_dir->filePath(QStringLiteral("outside.txt"));
    QVERIFY(writeBytes(outside, "outside"));
    const QString link = QDir(outPath()).filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(outside, link));
    QVERIFY(zip.extractFile(QStringLiteral("a.txt"), link));
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(readAll(link), QByteArray("a"));
    QCOMPARE(readAll(outside), QByteArray("outside"));
}

void tst_ZipArchive::extract_keepsUnixPermissionBits_data()
{
    QTest::addColumn<uint>("stored");
    QTest::addColumn<uint>("expected");
    QTest::newRow("script") << 0100755u << 0755u;
    QTest::newRow("set-id and sticky bits dropped") << 0107755u << 0755u;
    QTest::newRow("writable by all, under the umask") << 0100777u << 0777u;
}

void tst_ZipArchive::extract_keepsUnixPermissionBits()
{
    QFETCH(uint, stored);
    QFETCH(uint, expected);
    QJsonObject file = entry("run.sh", "#!/bin/sh\n");
    file.insert("create_system", 3);
    file.insert("external_attr", double(quint64(stored) << 16));
    QVERIFY(!makeArchive(archivePath(), {file}).isEmpty());
    const mode_t mask = ::umask(022);
    ::umask(mask);
    TkZipArchive zip;
    zip.setPath(archivePath());
    QVERIFY(zip.extractAll(outPath()));
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(QDir(outPath()).filePath("run.sh")).constData(), &st) == 0);
    QCOMPARE(uint(st.st_mode & 07777), expected & ~uint(mask));
}

void tst_ZipArchive::extractAll_createsFoldersAndCompletes()
{
    QVERIFY(!makeArchive(archivePath(), {entry("a/", ""), entry("a/b/c/d.txt", "d"), entry("e/f.txt", "f"),
                                         entry("top.txt", "top"), entry("empty/", "")})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    MessageCapture capture;
    // The output folder is made first, whatever the order of the entries.
    const QString out = QDir(outPath()).filePath(QStringLiteral("new/deeper"));
    QVERIFY(zip.extractAll(out));
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 0);
    QCOMPARE(filesBelow(out), (QStringList{"a", "a/b", "a/b/c", "a/b/c/d.txt", "e", "e/f.txt", "empty", "top.txt"}));
    QCOMPARE(readAll(out + QStringLiteral("/a/b/c/d.txt")), QByteArray("d"));
    for (const MessageCapture::Message &m : capture.messages())
        QVERIFY2(m.type == QtDebugMsg, qPrintable(m.text));
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
    QVERIFY2(!zip.extractAll(target), "a skipped entry is a failed one");

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
    // Drive letters mean nothing where the file system has none.
    QVERIFY(!makeArchive(archivePath(), {entry("..hidden", "1"), entry("a..b/c..txt", "2"), entry(".../x", "3"),
                                         entry("d/..", "4"), entry("C:/x.txt", "5"), entry("c:y.txt", "6")})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QVERIFY(!zip.extractAll(outPath()));
    QCOMPARE(argumentsOf(errorSpy, 0), QVariantList{QStringLiteral("d/..")});
    QCOMPARE(filesBelow(outPath()),
             (QStringList{"...", ".../x", "..hidden", "C:", "C:/x.txt", "a..b", "a..b/c..txt", "c:y.txt"}));
}

void tst_ZipArchive::extractAll_extractsTheFirstOfDuplicateNames()
{
    // Names are compared as they land: empty and "." segments do not count.
    QVERIFY(!makeArchive(archivePath(), {entry("same.txt", "first"), entry("d/", ""), entry("other.txt", "o"),
                                         entry("same.txt", "second"), entry("d/", ""), entry("a/x.txt", "first a"),
                                         entry("a//x.txt", "2"), entry("./a/x.txt", "3"), entry("a/./x.txt", "4")})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    QVERIFY(!zip.extractAll(outPath()));
    QStringList errors;
    for (const QList<QVariant> &call : errorSpy)
        errors.append(errorCall(call));
    const QDir out(outPath());
    const TkZipArchive::Result repeated = TkZipArchive::Result::ParameterError;
    QCOMPARE(errors, (QStringList{errorCall("same.txt", out.filePath("same.txt"), repeated),
                                  errorCall("a//x.txt", out.filePath("a/x.txt"), repeated),
                                  errorCall("./a/x.txt", out.filePath("a/x.txt"), repeated),
                                  errorCall("a/./x.txt", out.filePath("a/x.txt"), repeated)}));
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(readAll(out.filePath("same.txt")), QByteArray("first"));
    QCOMPARE(readAll(out.filePath("a/x.txt")), QByteArray("first a"));
    QCOMPARE(filesBelow(outPath()), (QStringList{"a", "a/x.txt", "d", "other.txt", "same.txt"}));
}

void tst_ZipArchive::extractAll_survivesHandlersThatUseTheArchive()
{
    const QByteArray big = QByteArray("0123456789").repeated(100000);
    QVERIFY(!makeArchive(archivePath(), {entry("a.txt", "a"), entry("b.txt", QString::fromLatin1(big)),
                                         entry("c/d.txt", "d"), entry("e.txt", "e")})
                 .isEmpty());
    const QString other = m_dir->filePath(QStringLiteral("other.zip"));
    QVERIFY(!makeArchive(other, {entry("x.txt", "x"), entry("y.txt", "y"), entry("z.txt", "z")}).isEmpty());

    // A QML list that shows the entries asks for them while extraction runs;
    // a nested extraction is refused and leaves the outer one whole.
    TkZipArchive zip;
    zip.setPath(archivePath());
    QVector<bool> nested;
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    connect(&zip, &TkZipArchive::extractProgress, &zip, [&] {
        QScopedPointer<TkZipFileInfo> info(zip.fileInfo(QStringLiteral("a.txt")));
        zip.exists(QStringLiteral("e.txt"));
        zip.fileNames();
        nested << zip.extractFile(QStringLiteral("b.txt"), elsewhere) << zip.extractAll(elsewhere);
    });
    MessageCapture capture;
    QVERIFY(zip.extractAll(outPath()));
    QCOMPARE(filesBelow(outPath()), (QStringList{"a.txt", "b.txt", "c", "c/d.txt", "e.txt"}));
    QCOMPARE(readAll(outPath() + QStringLiteral("/b.txt")), big);
    QVERIFY(!nested.isEmpty() && !nested.contains(true));
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Extraction already running:")));
    QVERIFY(!QFileInfo::exists(elsewhere));

    // Closing the archive and opening another from a signal ends the
    // extraction after the entry being written, with none of the other
    // archive's entries.
    TkZipArchive closing;
    closing.setPath(archivePath());
    connect(&closing, &TkZipArchive::extractProgress, &closing, [&] {
        closing.setPath(other);
        closing.fileNames();
    });
    QSignalSpy completedSpy(&closing, &TkZipArchive::extractCompleted);
    const QString out2 = m_dir->filePath(QStringLiteral("out2"));
    QVERIFY(!closing.extractAll(out2));
    QCOMPARE(completedSpy.count(), 1);
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Archive closed during extraction:")));
    QCOMPARE(filesBelow(out2), QStringList{"a.txt"});
}

void tst_ZipArchive::extraction_neverWritesThroughLinksBelowTheOutput_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("entry");     // extractFile of this entry; empty: extractAll
    QTest::addColumn<QString>("output");    // in the sandbox, or beginning with a path variable
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QStringList>("after"); // "path=kind" in the sandbox

    // out/docs is a link to outside/, which holds keep.txt.
    const QStringList outsideKept{"outside/keep.txt=file", "out/docs=link"};
    QTest::newRow("entries into a linked folder")
        << QStringList{"a.txt", "docs/keep.txt", "docs/new.txt"} << "" << "out" << false
        << (outsideKept + QStringList{"outside/new.txt=missing", "out/a.txt=file"});
    QTest::newRow("an entry below a linked folder")
        << QStringList{"docs/sub/x.txt"} << "" << "out" << false << (outsideKept + QStringList{"outside/sub=missing"});
    QTest::newRow("an output folder with a path variable")
        << QStringList{"a.txt"} << "" << "$MAPORA_TEST_OUT/x" << true
        << QStringList{"var/x/a.txt=file", "cwd/work/$MAPORA_TEST_OUT=missing"};
    QTest::newRow("an output folder with an unresolved variable")
        << QStringList{"a.txt"} << "" << "$MAPORA_TEST_UNSET/<sandbox>/y" << false
        << QStringList{"y=missing", "cwd/work/$MAPORA_TEST_UNSET=missing"};
    QTest::newRow("an output file with a path variable")
        << QStringList{"a.txt"} << "a.txt" << "$MAPORA_TEST_OUT/b.txt" << true << QStringList{"var/b.txt=file"};
}

void tst_ZipArchive::extraction_neverWritesThroughLinksBelowTheOutput()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, entry);
    QFETCH(QString, output);
    QFETCH(bool, expected);
    QFETCH(QStringList, after);

    QJsonArray made;
    for (const QString &name : entries)
        made.append(::entry(name, QStringLiteral("from the archive")));
    QVERIFY(!makeArchive(archivePath(), made).isEmpty());
    QVERIFY(writeBytes(m_dir->filePath(QStringLiteral("outside/keep.txt")), "outside"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("outside")), QDir(outPath()).filePath(QStringLiteral("docs"))));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("var")));
    Extras::FileUtility::setPathVariable(QStringLiteral("MAPORA_TEST_OUT"), m_dir->filePath(QStringLiteral("var")));
    output.replace(QStringLiteral("<sandbox>"), m_dir->path());
    if (!output.startsWith(QLatin1Char('$')))
        output = m_dir->filePath(output);

    TkZipArchive zip;
    zip.setPath(archivePath());
    const bool result = entry.isEmpty() ? zip.extractAll(output) : zip.extractFile(entry, output);
    Extras::FileUtility::setPathVariable(QStringLiteral("MAPORA_TEST_OUT"), QString());
    QCOMPARE(result, expected);
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("outside/keep.txt"))), QByteArray("outside"));
    for (const QString &item : after) {
        const QFileInfo info(m_dir->filePath(item.section(QLatin1Char('='), 0, 0)));
        const QString kind = info.isSymLink() ? QStringLiteral("link")
            : info.isFile()                   ? QStringLiteral("file")
            : info.isDir()                    ? QStringLiteral("folder")
                                              : QStringLiteral("missing");
        QCOMPARE(item.section(QLatin1Char('='), 0, 0) + QLatin1Char('=') + kind, item);
    }
}

void tst_ZipArchive::unreadablePath_givesEmptyResults_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("warns");
    // The reason is given once; the file is not read again while it stays the same.
    QTest::newRow("missing path") << "missing.zip" << QByteArray() << false;
    QTest::newRow("not an archive") << "text.zip" << QByteArray("just some text, no archive\n") << true;
    QTest::newRow("truncated archive") << "cut.zip" << QByteArray("PK\x03\x04\x14\x00", 6) << true;
    QTest::newRow("a folder") << "folder.zip" << QByteArray() << true;
}

void tst_ZipArchive::unreadablePath_givesEmptyResults()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, warns);
    const QString path = m_dir->filePath(fileName);
    if (!content.isEmpty())
        QVERIFY(writeBytes(path, content));
    else if (warns)
        QVERIFY(QDir().mkpath(path));
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
    // A missing file is not worth a warning; a file that is no archive is.
    for (const MessageCapture::Message &m : capture.messages()) {
        const bool expected = m.type == QtDebugMsg ? m.text.contains(QLatin1String(" ZIP not open "))
                                                   : m.type == QtWarningMsg && warns
                && m.text.contains(QLatin1String("Unable to open:"));
        QVERIFY2(expected, qPrintable(m.text));
    }
    int warnings = 0;
    for (const MessageCapture::Message &m : capture.messages())
        warnings += m.type == QtWarningMsg;
    QCOMPARE(warnings, warns ? 1 : 0);
}

void tst_ZipArchive::writer_createsTheArchiveAndReportsItsOutcome()
{
    const QDir source(m_dir->filePath(QStringLiteral("src")));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("a.txt")), "a"));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("grows.txt")), "before"));
    QVERIFY(writeBytes(m_dir->filePath(QStringLiteral("outside.txt")), "outside"));
    TkZipArchive zip;
    zip.setPath(archivePath());
    QSignalSpy completedSpy(&zip, &TkZipArchive::compressCompleted);
    QSignalSpy errorSpy(&zip, &TkZipArchive::compressError);
    MessageCapture capture;
    QVERIFY2(!zip.addFile(source, QStringLiteral("a.txt"), QString()), "no writer yet");
    QVERIFY2(zip.zwOpen(), "no file needs to exist at the path");
    QVERIFY(zip.isOpen());
    QVERIFY(zip.addFile(source, QStringLiteral("a.txt"), QStringLiteral("a comment")));
    QVERIFY(zip.addFile(source, QStringLiteral("grows.txt"), QString()));
    QVERIFY(!zip.addFile(source, QStringLiteral("missing.txt"), QString()));
    for (const MessageCapture::Message &m : capture.messages())
        QVERIFY2(m.type == QtDebugMsg, qPrintable(m.text));
    // Sources are read when they are added: what becomes of them later
    // changes nothing, and nothing stands at the path before close().
    QFile grows(source.filePath(QStringLiteral("grows.txt")));
    QVERIFY(grows.open(QIODevice::Append) && grows.write(" and after") == 10);
    grows.close();
    QVERIFY(QFile::remove(source.filePath(QStringLiteral("a.txt"))));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("outside.txt")), source.filePath(QStringLiteral("a.txt"))));
    QVERIFY(!QFileInfo::exists(archivePath()));
    zip.close();
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 0);
    QCOMPARE(peerEntries(archivePath()), (QStringList{md5Line("a.txt", "a"), md5Line("grows.txt", "before")}));

    // The archive itself cannot be finished: the previous file stays, and
    // close() says so.
    const QByteArray previous = readAll(archivePath());
    QVERIFY(zip.zwOpen());
    QVERIFY(zip.addFile(source, QStringLiteral("grows.txt"), QString()));
    const QStringList partial = partialFiles(m_dir->path());
    QCOMPARE(partial.size(), 1);
    {
        const FileSizeLimit limit(rlim_t(QFileInfo(partial.first()).size()));
        zip.close();
    }
    QCOMPARE(completedSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.at(0), (QList<QVariant>{archivePath(), int(TkZipArchive::Result::ErrNo)}));
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Unable to write:")));
    QCOMPARE(readAll(archivePath()), previous);
    QCOMPARE(partialFiles(m_dir->path()), QStringList());

    // Reading finishes the archive first.
    QVERIFY(zip.zwOpen());
    QVERIFY(zip.addFile(source, QStringLiteral("grows.txt"), QString()));
    QCOMPARE(zip.fileNames(), QStringList{"grows.txt"});

    // A link at the path is replaced, never written through; a pipe there
    // is refused at once.
    const QString link = m_dir->filePath(QStringLiteral("link.zip"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("outside.txt")), link));
    zip.setPath(link);
    QVERIFY(zip.zwOpen());
    zip.close();
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("outside.txt"))), QByteArray("outside"));
    const QString pipe = m_dir->filePath(QStringLiteral("pipe.zip"));
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    zip.setPath(pipe);
    QVERIFY(!zip.zwOpen());
    zip.setPath(m_dir->filePath(QStringLiteral("missing/archive.zip")));
    QVERIFY(!zip.zwOpen());
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Unable to open:")));
}

void tst_ZipArchive::addFiles_archiveReadsBackWithPeerAndReader()
{
    const QDir source(m_dir->filePath(QStringLiteral("src")));
    QByteArray binary;
    for (int i = 0; i < 20000; ++i)
        binary.append(char((i * 7919) >> 3));
    const QString utf8Name = QString::fromUtf8("na\xc3\xafve.txt");
    QVERIFY(writeBytes(source.filePath(QStringLiteral("a.txt")), QByteArray("text ").repeated(1000)));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("sub/b.bin")), binary));
    QVERIFY(writeBytes(source.filePath(utf8Name), "utf-8"));
    QVERIFY(writeBytes(m_dir->filePath(QStringLiteral("escape.txt")), "outside the folder"));
    const QFile::Permissions script = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::ExeGroup;
    QVERIFY(writeBytes(source.filePath(QStringLiteral("run.sh")), "#!/bin/sh\n"));
    QVERIFY(QFile::setPermissions(source.filePath(QStringLiteral("run.sh")), script));
    const QList<QPair<QString, QDateTime>> dated{
        {QStringLiteral("dated.txt"), QDateTime(QDate(2023, 10, 31), QTime(8, 9, 10))},
        {QStringLiteral("old.txt"), QDateTime(QDate(1970, 1, 2), QTime(3, 4, 5))},
        {QStringLiteral("future.txt"), QDateTime(QDate(2150, 6, 1), QTime(0, 0, 0))}};
    for (const auto &d : dated) {
        QFile file(source.filePath(d.first));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.write("dated") == 5 && file.flush());
        QVERIFY(file.setFileTime(d.second, QFileDevice::FileModificationTime));
    }
    QVERIFY(writeBytes(archivePath(), QByteArray()));

    {
        TkZipArchive zip;
        zip.setPath(archivePath());
        QVERIFY(zip.zwOpen());
        MessageCapture capture;
        QVERIFY(zip.addFiles(source, {"a.txt", "missing.txt", "sub/b.bin", "../escape.txt", utf8Name, "run.sh",
                                      "dated.txt", "old.txt", "future.txt"}));
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Error adding: \"missing.txt\"")));
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Unsafe entry name: \"../escape.txt\"")));
    }

    // Python's zipfile checks every CRC and reports names, dates and sizes,
    // the UTF-8 flag, the system the entry was made on and its mode.
    const QStringList lines =
        runPython(QStringLiteral("import sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1])\n"
                                 "assert z.testzip() is None\n"
                                 "for i in z.infolist(): print(i.filename, i.compress_type, i.file_size, "
                                 "'%04d-%02d-%02dT%02d:%02d:%02d' % i.date_time, i.flag_bits & 0x800, "
                                 "i.create_system, oct(i.external_attr >> 16))\n"),
                  {archivePath()})
            .split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.at(0).section(' ', 0, 2), QStringLiteral("a.txt 8 5000"));
    QCOMPARE(lines.at(1).section(' ', 0, 2), QStringLiteral("sub/b.bin 8 20000"));
    QCOMPARE(lines.at(2).section(' ', 0, 2) + ' ' + lines.at(2).section(' ', 4, 5), utf8Name + " 8 5 2048 3");
    QCOMPARE(lines.at(3).section(' ', 5, 6), QStringLiteral("3 0o100750"));
    QCOMPARE(lines.at(4).section(' ', 0, 4), QStringLiteral("dated.txt 8 5 2023-10-31T08:09:10 0"));
    QCOMPARE(lines.at(5).section(' ', 3, 3), QStringLiteral("1980-01-01T00:00:00"));
    QCOMPARE(lines.at(6).section(' ', 3, 3), QStringLiteral("2107-12-31T23:59:58"));

    TkZipArchive reader;
    reader.setPath(archivePath());
    QScopedPointer<TkZipFileInfo> info(reader.fileInfo(QStringLiteral("dated.txt")));
    QVERIFY(info);
    QCOMPARE(info->lastModified(), QDateTime(QDate(2023, 10, 31), QTime(8, 9, 10)));
    QVERIFY(reader.extractAll(outPath()));
    QCOMPARE(readAll(outPath() + QStringLiteral("/sub/b.bin")), binary);
    QCOMPARE(readAll(outPath() + QStringLiteral("/a.txt")), QByteArray("text ").repeated(1000));
    QCOMPARE(readAll(QDir(outPath()).filePath(utf8Name)), QByteArray("utf-8"));
}

void tst_ZipArchive::addFiles_largeEntryReadsBackWithPeers_data()
{
    QTest::addColumn<QByteArray>("content");
    QByteArray text;
    for (int i = 0; text.size() < (3 << 20) + 12345; ++i)
        text.append(QByteArray::number(i * 7919 % 100003)).append(i % 7 ? " entry " : " folder\n");
    QByteArray random(2 << 20, Qt::Uninitialized);
    QRandomGenerator(22).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    // Data past a MiB are deflated in pieces that must join into one stream.
    QTest::newRow("text, the last piece short") << text;
    QTest::newRow("random bytes, pieces end at the end") << random;
}

void tst_ZipArchive::addFiles_largeEntryReadsBackWithPeers()
{
    QFETCH(QByteArray, content);
    const QDir source(m_dir->filePath(QStringLiteral("src")));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("big.bin")), content));
    QVERIFY(writeBytes(source.filePath(QStringLiteral("small.txt")), "small"));
    TkZipArchive zip;
    zip.setPath(archivePath());
    QVERIFY(zip.zwOpen());
    QVERIFY(zip.addFiles(source, {"big.bin", "small.txt"}));
    zip.close();
    QCOMPARE(peerEntries(archivePath()), (QStringList{md5Line("big.bin", content), md5Line("small.txt", "small")}));
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), archivePath()});
    QVERIFY(unzip.waitForFinished(60000));
    QCOMPARE(unzip.exitCode(), 0);
}

void tst_ZipArchive::sharedReader_outlivesTheReaderItCameFrom()
{
    QVERIFY(!makeArchive(archivePath(), {entry("a.txt", "first"), repeated("b/big.txt", 600000)}).isEmpty());
    QString reason;
    std::unique_ptr<ZipReader> first = ZipReader::open(archivePath(), &reason);
    QVERIFY2(first, qPrintable(reason));
    std::unique_ptr<ZipReader> shared = first->share(&reason);
    QVERIFY2(shared, qPrintable(reason));
    first.reset();
    // The directory and the open file stay with the shared reader, even
    // when the archive's path names something else by now.
    QVERIFY(QFile::remove(archivePath()));
    QCOMPARE(shared->fileNames(), (QStringList{"a.txt", "b/big.txt"}));
    const int index = shared->indexOf(QStringLiteral("B/BIG.TXT"), false);
    QCOMPARE(index, 1);
    ZipError error;
    const std::unique_ptr<ZipEntryStream> stream = shared->openEntry(index, &error);
    QVERIFY2(stream, qPrintable(error.text));
    QByteArray data;
    for (qint64 count = 1; count > 0;) {
        count = stream->read(shared->buffer(), ZipReader::BufferSize);
        QVERIFY2(count >= 0, qPrintable(stream->error().text));
        data.append(shared->buffer(), int(count));
    }
    QCOMPARE(data, QByteArray(600000, 'r'));
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
    QVERIFY(zip.exists(name));
    QVERIFY(zip.extractAll(outPath()));
    QCOMPARE(readAll(QDir(outPath()).filePath(name)), QByteArray("utf-8 name"));

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
    QCOMPARE(reader.fileNames(), QStringList{name});
}

namespace {

// Every signal of a run as one line (extraction: output paths relative to
// `folder`), and whether each came on the object's thread.
class SignalRecorder
{
public:
    SignalRecorder(TkZipArchive *zip, const QString &folder)
    {
        auto relative = [folder](const QString &path) { return QDir(folder).relativeFilePath(path); };
        auto note = [this](const QString &line) {
            lines.append(line);
            offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        };
        QObject::connect(zip, &TkZipArchive::extractProgress, zip,
                         [=](const QString &name, const QString &output, double percent) {
                             note(QStringLiteral("progress %1 %2 %3").arg(name, relative(output)).arg(percent));
                         }, Qt::DirectConnection);
        QObject::connect(zip, &TkZipArchive::extractError, zip,
                         [=](const QString &name, const QString &output, TkZipArchive::Result result) {
                             note(QStringLiteral("error %1 %2 %3").arg(name, relative(output)).arg(int(result)));
                         }, Qt::DirectConnection);
        QObject::connect(zip, &TkZipArchive::compressProgress, zip, [=](const QString &name, double percent) {
            note(QStringLiteral("progress %1 %2").arg(name).arg(percent));
        }, Qt::DirectConnection);
        QObject::connect(zip, &TkZipArchive::compressError, zip, [=](const QString &name, int result) {
            note(QStringLiteral("error %1 %2").arg(name).arg(result));
        }, Qt::DirectConnection);
        for (auto signal : {&TkZipArchive::extractCompleted, &TkZipArchive::compressCompleted})
            QObject::connect(zip, signal, zip, [=] { note(QStringLiteral("completed")); }, Qt::DirectConnection);
        for (auto signal : {&TkZipArchive::extractCanceled, &TkZipArchive::compressCanceled})
            QObject::connect(zip, signal, zip, [=] { note(QStringLiteral("canceled")); }, Qt::DirectConnection);
    }
    // What coalescing keeps whatever the pace: each entry's first and last
    // progress, every error and the end.
    QStringList milestones() const
    {
        QStringList kept;
        for (const QString &line : lines) {
            if (!line.startsWith(QLatin1String("progress ")) || line.endsWith(QLatin1String(" 0"))
                || line.endsWith(QLatin1String(" 100")))
                kept.append(line);
        }
        return kept;
    }
    int progressCount() const { return lines.filter(QRegularExpression(QStringLiteral("^progress "))).size(); }

    QStringList lines;
    bool offThread = false;
};

// Waits, with the event loop running, until the object is no longer busy.
bool waitUntilIdle(TkZipArchive &zip)
{
    QDeadlineTimer deadline(60000);
    while (zip.busy() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return !zip.busy();
}

} // namespace

void tst_ZipArchive::extractAll_reportsInEntryOrderWhenALaterEntryFails_data()
{
    QTest::addColumn<QJsonObject>("second");
    QTest::addColumn<QJsonArray>("patches");
    QTest::addColumn<QStringList>("secondLines");
    QTest::newRow("CRC error, met while the first entry is written")
        << entry("bad.txt", "damaged", "stored") << QJsonArray{QJsonObject{{"entry", 1}, {"field", "crc"}, {"value", 1}}}
        << QStringList{"progress bad.txt bad.txt 0", "error bad.txt bad.txt -105"};
    QTest::newRow("name outside the output, refused before the first entry is written")
        << entry("../bad.txt", "x") << QJsonArray() << QStringList{"error ../bad.txt ../bad.txt -102"};
}

void tst_ZipArchive::extractAll_reportsInEntryOrderWhenALaterEntryFails()
{
    QFETCH(QJsonObject, second);
    QFETCH(QJsonArray, patches);
    QFETCH(QStringList, secondLines);
    const int bigSize = 8 << 20;
    QVERIFY(!makeArchive(QJsonObject{{"path", archivePath()},
                                     {"entries", QJsonArray{repeated("big.bin", bigSize), second, entry("last.txt", "last")}},
                                     {"patches", patches}})
                 .isEmpty());
    TkZipArchive zip;
    zip.setPath(archivePath());
    SignalRecorder recorder(&zip, outPath());
    QVERIFY(!zip.extractAll(outPath()));
    // The signals of a run that writes one entry after the other.
    QStringList expected;
    for (qint64 at = 0; at < bigSize; at += 4096)
        expected << QStringLiteral("progress big.bin big.bin %1").arg(double(at) / double(bigSize) * 100.0);
    expected << "progress big.bin big.bin 100" << secondLines << "progress last.txt last.txt 0"
             << "progress last.txt last.txt 100" << "completed";
    QCOMPARE(recorder.lines, expected);
    QCOMPARE(readAll(outPath() + QStringLiteral("/big.bin")), QByteArray(bigSize, 'r'));
    QCOMPARE(filesBelow(outPath()), (QStringList{"big.bin", "last.txt"}));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("bad.txt"))));
}

void tst_ZipArchive::background_coalescesTheSignalsOfASynchronousRun_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("extractAll") << "";
    QTest::newRow("extractFile") << "d/big.bin";
}

void tst_ZipArchive::background_coalescesTheSignalsOfASynchronousRun()
{
    QFETCH(QString, fileName);
    QVERIFY(!makeArchive(QJsonObject{{"path", archivePath()},
                                     {"entries", QJsonArray{entry("d/", ""), repeated("d/big.bin", 600000),
                                                            entry("bad.txt", "damaged", "stored"),
                                                            entry("../slip.txt", "x"), entry("same.txt", "1"),
                                                            entry("same.txt", "2"), repeated("d/e/f.bin", 10000)}},
                                     {"patches", QJsonArray{QJsonObject{{"entry", 2}, {"field", "crc"}, {"value", 1}}}}})
                 .isEmpty());
    QMap<bool, QStringList> signalLines;
    QMap<bool, QStringList> milestones;
    QMap<bool, QStringList> trees;
    QMap<bool, QList<qint64>> amounts;
    for (bool background : {false, true}) {
        const QString out = m_dir->filePath(background ? QStringLiteral("async") : QStringLiteral("sync"));
        QVERIFY(QDir().mkpath(out));
        TkZipArchive zip;
        zip.setPath(archivePath());
        zip.setAsynchronous(background);
        SignalRecorder recorder(&zip, out);
        QSignalSpy busySpy(&zip, &TkZipArchive::busyChanged);
        QElapsedTimer run;
        run.start();
        const bool result = fileName.isEmpty() ? zip.extractAll(out) : zip.extractFile(fileName, out + "/x.bin");
        if (background) {
            QVERIFY2(result, "a background run that started");
            QVERIFY(zip.busy());
            QVERIFY(recorder.lines.isEmpty() || !recorder.lines.contains("completed"));
            // The reading members work while the worker reads.
            QCOMPARE(zip.fileNames().size(), 6);
            QVERIFY(waitUntilIdle(zip));
            QCOMPARE(busySpy.count(), 2);
            // At most each entry's first and last report, and one per interval.
            const int entries = fileName.isEmpty() ? 7 : 1;
            QVERIFY2(recorder.progressCount() <= 2 * entries + run.elapsed() / 16 + 1,
                     qPrintable(QString::number(recorder.progressCount())));
        } else {
            QCOMPARE(result, !fileName.isEmpty());
            QCOMPARE(busySpy.count(), 0);
            // A background extractFile ends with extractCompleted as every
            // background run does; a synchronous one never emits it.
            if (!fileName.isEmpty())
                recorder.lines.append(QStringLiteral("completed"));
        }
        QVERIFY(!recorder.offThread);
        signalLines[background] = recorder.lines;
        milestones[background] = recorder.milestones();
        amounts[background] = {zip.processedBytes(), zip.totalBytes(), zip.processedEntries(), zip.totalEntries()};
        for (const QString &name : filesBelow(out))
            trees[background].append(md5Line(name, readAll(QDir(out).filePath(name))));
    }
    QVERIFY(signalLines[false].size() > 140);
    QVERIFY(signalLines[true].size() < signalLines[false].size());
    // What a background run delivers is what a synchronous one does, less
    // some of the progress within entries.
    int at = 0;
    for (const QString &line : qAsConst(signalLines[true])) {
        at = signalLines[false].indexOf(line, at) + 1;
        QVERIFY2(at > 0, qPrintable(line));
    }
    QCOMPARE(milestones[true], milestones[false]);
    QCOMPARE(trees[true], trees[false]);
    // Failed and skipped entries count as processed: the bar ends full.
    QCOMPARE(amounts[true], amounts[false]);
    QCOMPARE(amounts[false].at(0), amounts[false].at(1));
    QCOMPARE(amounts[false].at(2), amounts[false].at(3));
    QCOMPARE(amounts[false].at(3), fileName.isEmpty() ? 7 : 1);
    QVERIFY(amounts[false].at(1) >= 600000);
}

void tst_ZipArchive::cancel_stopsTheRunAndLeavesNoPartialFile_data()
{
    QTest::addColumn<bool>("background");
    QTest::newRow("background run") << true;
    QTest::newRow("synchronous run, from a handler") << false;
}

void tst_ZipArchive::cancel_stopsTheRunAndLeavesNoPartialFile()
{
    QFETCH(bool, background);
    const QString large = largeArchive();
    const QString victim = QDir(outPath()).filePath(QStringLiteral("big.bin"));
    QVERIFY(writeBytes(victim, "previous"));
    TkZipArchive zip;
    zip.setPath(large);
    zip.setAsynchronous(background);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    QSignalSpy canceledSpy(&zip, &TkZipArchive::extractCanceled);
    QSignalSpy errorSpy(&zip, &TkZipArchive::extractError);
    // Canceled in the middle of the large entry; the ticks of a 16 ms timer
    // show that the event loop went on during a background run.
    connect(&zip, &TkZipArchive::extractProgress, &zip, [&zip](const QString &name, const QString &, double percent) {
        if (name == QLatin1String("big.bin") && percent > 10)
            zip.cancel();
    });
    int ticks = 0;
    QTimer timer;
    timer.setInterval(16);
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    QCOMPARE(zip.extractAll(outPath()), background);
    QVERIFY(waitUntilIdle(zip));
    QCOMPARE(canceledSpy.count(), 1);
    QCOMPARE(completedSpy.count() + errorSpy.count(), 0);
    QCOMPARE(readAll(victim), QByteArray("previous"));
    QCOMPARE(readAll(QDir(outPath()).filePath("first.txt")), QByteArray("first"));
    QVERIFY(!QFileInfo::exists(QDir(outPath()).filePath("last.txt")));
    QCOMPARE(partialFiles(m_dir->path()), QStringList());
    if (background)
        QVERIFY2(ticks > 0, "the timer fired while the archive was extracted");

    // The next run is whole again; cancel() without a run does nothing.
    zip.cancel();
    QVERIFY(zip.extractFile(QStringLiteral("last.txt"), QDir(outPath()).filePath("last.txt")));
    QVERIFY(waitUntilIdle(zip));
    QCOMPARE(readAll(QDir(outPath()).filePath("last.txt")), QByteArray("last"));
    QCOMPARE(canceledSpy.count(), 1);
}

void tst_ZipArchive::background_endsWithTheObject_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("close") << "close";
    QTest::newRow("new path") << "path";
    QTest::newRow("destruction") << "destroy";
}

void tst_ZipArchive::background_endsWithTheObject()
{
    QFETCH(QString, action);
    const QString large = largeArchive();
    QPointer<TkZipArchive> zip = new TkZipArchive;
    zip->setPath(large);
    zip->setAsynchronous(true);
    QSignalSpy canceledSpy(zip.data(), &TkZipArchive::extractCanceled);
    QVERIFY(zip->extractAll(outPath()));
    // Let the worker get into the large entry.
    QTRY_VERIFY(QFileInfo::exists(QDir(outPath()).filePath("first.txt")));
    if (action == QLatin1String("close"))
        zip->close();
    else if (action == QLatin1String("path"))
        zip->setPath(archivePath());
    else
        delete zip;
    if (zip) {
        // Cancelled and waited for: the run's signals came before the call returned.
        QVERIFY(!zip->busy());
        QCOMPARE(canceledSpy.count(), 1);
        delete zip;
    }
    QCoreApplication::processEvents();
    QCOMPARE(partialFiles(m_dir->path()), QStringList());
    QVERIFY(!QFileInfo::exists(QDir(outPath()).filePath("last.txt")));
}

void tst_ZipArchive::background_oneRunAtATime()
{
    const QString large = largeArchive();
    TkZipArchive zip;
    zip.setAsynchronous(true);
    MessageCapture capture;
    zip.setPath(m_dir->filePath(QStringLiteral("missing.zip")));
    QVERIFY2(!zip.extractAll(outPath()), "no archive, no run");
    QVERIFY(!zip.busy());

    zip.setPath(large);
    QSignalSpy completedSpy(&zip, &TkZipArchive::extractCompleted);
    QVERIFY(zip.extractAll(outPath()));
    QVERIFY(!zip.extractAll(m_dir->filePath(QStringLiteral("second"))));
    zip.setAsynchronous(false);
    QVERIFY(!zip.extractFile(QStringLiteral("first.txt"), m_dir->filePath(QStringLiteral("second.txt"))));
    QVERIFY(waitUntilIdle(zip));
    QCOMPARE(completedSpy.count(), 1);
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Extraction already running:")));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("second"))));
    QCOMPARE(QFileInfo(QDir(outPath()).filePath("big.bin")).size(), qint64(300 << 20));
}

void tst_ZipArchive::compressFiles_readsSourcesAsTheyWereNamed_data()
{
    QTest::addColumn<QString>("change");          // what happens once the run started
    QTest::addColumn<QStringList>("milestones");  // of the signals (see SignalRecorder)
    QTest::addColumn<QStringList>("archived");    // nothing: the previous file stays
    const QStringList big{"progress big.bin 0", "progress big.bin 100"};
    const QStringList later{"progress later.txt 0", "progress later.txt 100"};
    const QStringList more{"progress sub/more.txt 0", "progress sub/more.txt 100", "completed"};
    auto laterFailed = [&](TkZipArchive::Result result) {
        return big + QStringList{QStringLiteral("error later.txt %1").arg(int(result))} + more;
    };
    const QStringList withoutLater{"big.bin", "sub/more.txt"};
    const int changed = int(TkZipArchive::Result::ParameterError);
    QTest::newRow("complete") << "" << big + later + more << QStringList{"big.bin", "later.txt", "sub/more.txt"};
    QTest::newRow("canceled at once") << "cancel" << QStringList{"canceled"} << QStringList();
    QTest::newRow("grown") << "grow" << laterFailed(TkZipArchive::Result::ParameterError) << withoutLater;
    QTest::newRow("rewritten, same size") << "rewrite" << laterFailed(TkZipArchive::Result::ParameterError)
                                          << withoutLater;
    QTest::newRow("vanished") << "remove" << laterFailed(TkZipArchive::Result::ErrNo) << withoutLater;
    QTest::newRow("FIFO swapped in") << "fifo" << laterFailed(TkZipArchive::Result::ParameterError) << withoutLater;
    QTest::newRow("link swapped in") << "link" << laterFailed(TkZipArchive::Result::ParameterError) << withoutLater;
    QTest::newRow("its folder swapped for a link")
        << "folder" << big + later + QStringList{QStringLiteral("error sub/more.txt %1").arg(changed), "completed"}
        << QStringList{"big.bin", "later.txt"};
}

void tst_ZipArchive::compressFiles_readsSourcesAsTheyWereNamed()
{
    QFETCH(QString, change);
    QFETCH(QStringList, milestones);
    QFETCH(QStringList, archived);
    const QDir source(m_dir->filePath(QStringLiteral("src")));
    // Random bytes deflate slowly: the worker is still in the first entry
    // when the sources change.
    QByteArray random(8 << 20, Qt::Uninitialized);
    QRandomGenerator(21).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    const QMap<QString, QByteArray> content{{"big.bin", random}, {"later.txt", "later\n"}, {"sub/more.txt", "more"}};
    for (auto it = content.cbegin(); it != content.cend(); ++it)
        QVERIFY(writeBytes(source.filePath(it.key()), it.value()));
    QVERIFY(writeBytes(m_dir->filePath(QStringLiteral("outside.txt")), "outside"));
    QVERIFY(writeBytes(archivePath(), "previous file"));

    TkZipArchive zip;
    zip.setPath(archivePath());
    zip.setAsynchronous(true);
    SignalRecorder recorder(&zip, QString());
    QVERIFY(zip.compressFiles(source.path(), {"big.bin", "later.txt", "sub/more.txt"}));
    QVERIFY(zip.busy());
    // The worker never gets more than one interval ahead of the reports
    // this thread has taken, and it takes none before waitUntilIdle().
    const QString later = source.filePath(QStringLiteral("later.txt"));
    if (change == QLatin1String("cancel")) {
        zip.cancel();
    } else if (change == QLatin1String("grow")) {
        QVERIFY(writeBytes(later, "later, and more\n"));
    } else if (change == QLatin1String("rewrite")) {
        QFile file(later);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("LATER\n") == 6);
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(100), QFileDevice::FileModificationTime));
    } else if (change == QLatin1String("remove")) {
        QVERIFY(QFile::remove(later));
    } else if (change == QLatin1String("fifo")) {
        QVERIFY(QFile::remove(later) && ::mkfifo(QFile::encodeName(later).constData(), 0600) == 0);
    } else if (change == QLatin1String("link")) {
        QVERIFY(QFile::remove(later) && QFile::link(m_dir->filePath(QStringLiteral("outside.txt")), later));
    } else if (change == QLatin1String("folder")) {
        QVERIFY(QDir(source).rename(QStringLiteral("sub"), QStringLiteral("moved")));
        QVERIFY(QFile::link(source.filePath(QStringLiteral("moved")), source.filePath(QStringLiteral("sub"))));
    }
    QVERIFY(waitUntilIdle(zip));
    QVERIFY(!recorder.offThread);
    QCOMPARE(recorder.milestones(), milestones);
    QCOMPARE(partialFiles(m_dir->path()), QStringList());
    if (archived.isEmpty()) {
        QCOMPARE(readAll(archivePath()), QByteArray("previous file"));
        return;
    }
    QStringList expected;
    for (const QString &name : archived)
        expected.append(md5Line(name, content.value(name)));
    QCOMPARE(peerEntries(archivePath()), expected);
    QCOMPARE(zip.totalEntries(), 3);
    QCOMPARE(zip.processedEntries(), 3);
    QCOMPARE(zip.totalBytes(), qint64(random.size() + 6 + 4));
    QCOMPARE(zip.processedBytes(), zip.totalBytes());
}

void tst_ZipArchive::compressFolder_writesEveryRegularFileBelow()
{
    const QString source = m_dir->filePath(QStringLiteral("src"));
    QVERIFY(writeBytes(source + QStringLiteral("/a.txt"), "a"));
    QVERIFY(writeBytes(source + QStringLiteral("/b/c.txt"), "c"));
    QVERIFY(writeBytes(source + QStringLiteral("/b/d/e.txt"), "e"));
    QVERIFY(QDir().mkpath(source + QStringLiteral("/empty")));
    QVERIFY(QFile::link(source + QStringLiteral("/a.txt"), source + QStringLiteral("/link.txt")));
    QVERIFY(QFile::link(source + QStringLiteral("/b"), source + QStringLiteral("/linked")));
    QVERIFY(::mkfifo(QFile::encodeName(source + QStringLiteral("/pipe")).constData(), 0600) == 0);
    // The archive is made in the folder it is made of: the walk meets its
    // temporary file, which stays out.
    const QString archive = source + QStringLiteral("/packed.zip");
    TkZipArchive zip;
    zip.setPath(archive);
    SignalRecorder recorder(&zip, QString());
    MessageCapture capture;
    QVERIFY(zip.compressFolder(source));
    const QString refused = QString::number(int(TkZipArchive::Result::ParameterError));
    QCOMPARE(recorder.lines, (QStringList{"progress a.txt 0", "progress a.txt 100", "progress b/c.txt 0",
                                          "progress b/c.txt 100", "progress b/d/e.txt 0", "progress b/d/e.txt 100",
                                          "error link.txt " + refused, "error linked " + refused,
                                          "error pipe " + refused, "completed"}));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Not a regular file, skipped:")));
    QCOMPARE(peerEntries(archive), (QStringList{md5Line("a.txt", "a"), md5Line("b/c.txt", "c"), md5Line("b/d/e.txt", "e")}));
    QCOMPARE(QList<qint64>({zip.processedBytes(), zip.totalBytes(), zip.processedEntries(), zip.totalEntries()}),
             (QList<qint64>{3, 3, 6, 6}));
}

void tst_ZipArchive::compression_failedArchiveLeavesThePreviousFile_data()
{
    QTest::addColumn<bool>("background");
    QTest::newRow("synchronous") << false;
    QTest::newRow("background") << true;
}

void tst_ZipArchive::compression_failedArchiveLeavesThePreviousFile()
{
    QFETCH(bool, background);
    const QString source = m_dir->filePath(QStringLiteral("src"));
    QByteArray random(1 << 20, Qt::Uninitialized);
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    QVERIFY(writeBytes(source + QStringLiteral("/small.txt"), "small"));
    QVERIFY(writeBytes(source + QStringLiteral("/big.bin"), random));
    QVERIFY(writeBytes(archivePath(), "previous file"));
    TkZipArchive zip;
    zip.setPath(archivePath());
    zip.setAsynchronous(background);
    SignalRecorder recorder(&zip, QString());
    {
        // The archive's writes fail past 200 000 bytes, within big.bin.
        const FileSizeLimit limit(200000);
        QCOMPARE(zip.compressFiles(source, {"small.txt", "big.bin"}), background);
        QVERIFY(waitUntilIdle(zip));
    }
    QCOMPARE(recorder.milestones(),
             (QStringList{"progress small.txt 0", "progress small.txt 100", "progress big.bin 0",
                          QStringLiteral("error %1 %2").arg(archivePath()).arg(int(TkZipArchive::Result::ErrNo)),
                          "completed"}));
    QCOMPARE(readAll(archivePath()), QByteArray("previous file"));
    QCOMPARE(partialFiles(m_dir->path()), QStringList());
}

QTEST_GUILESS_MAIN(tst_ZipArchive)

#include "tst_ziparchive.moc"
