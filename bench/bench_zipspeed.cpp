// The module's ZIP speed against the common tools, in one run:
//
//   bench_zipspeed [--runs N] [--out FOLDER] [--entries COUNT] [--only inflate|extract|write|list]
//
// 1. inflate: every deflated entry of the 3006-file archive (64 MB, 171 MB
//    unpacked; make_bench_archive.py --files-3006) read through the
//    module's entry streams (ISA-L, CRC checked) and through a plain zlib
//    loop (raw inflate and crc32), in this process, no output;
// 2. extract: that archive extracted by ZipArchive.extractAll, bsdtar -xf,
//    unzip, 7-Zip and python3 -m zipfile -e, each a whole process, into an
//    emptied folder below FOLDER; every tool must write the same files;
// 3. write: the 3006 extracted files packed by the module's writer
//    (zwOpen, addFiles, close), zip -r -6, bsdtar -a -cf, 7-Zip (-mx=5,
//    two threads) and Python's zipfile at level 6, with the archives' sizes;
// 4. list: an archive of COUNT (1 000 000) empty entries listed by
//    ZipArchive.fileNames (and folderNames), unzip -l, bsdtar -tf and
//    Python's namelist(); then one more process of the module times its
//    lookups after the listing.
//
// Each tool runs N times (3) after one untimed round, in rotating order;
// medians, peak resident memory (GNU time) and ratios to bsdtar (extract,
// list) and zip -r -6 (write) are printed. FOLDER is /dev/shm by default
// (a tmpfs: the work that differs between the tools, not the disk's). The
// archives are made once and kept in ${XDG_CACHE_HOME:-~/.cache}/maporaextras-bench.
//
// The module's own processes are this program started again with
// --child-extract ARCHIVE OUT, --child-write FOLDER ARCHIVE or
// --child-list ARCHIVE [--lookups]. The plugin's debug lines are formatted and
// dropped there, as in an application that loaded the plugin.

#include "BenchSupport.h"
#include "FileLayer.h"
#include "TkZipArchive.h"
#include "TkZipFileInfo.h"
#include "ZipReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <memory>

#include <zlib.h>

namespace {

void droppingHandler(QtMsgType, const QMessageLogContext &, const QString &) {}

QString cacheFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/maporaextras-bench");
}

bool runQuietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The archive made by make_bench_archive.py with `arguments`, made once.
QString cachedArchive(const QString &name, const QStringList &arguments)
{
    const QString path = cacheFolder() + QLatin1Char('/') + name;
    if (QFileInfo::exists(path))
        return path;
    QDir().mkpath(cacheFolder());
    std::printf("making %s (once)...\n", qPrintable(path));
    std::fflush(stdout);
    if (!runQuietly(QStringLiteral(MAPORA_PYTHON3),
                    QStringList{QStringLiteral(MAPORA_BENCH_SOURCE_DIR "/make_bench_archive.py")} + arguments
                        + QStringList{path}))
        return QString();
    return path;
}

// Files below `folder`, relative to it, and their byte total.
QStringList filesBelow(const QString &folder, qint64 *bytes = nullptr)
{
    QStringList names;
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        names.append(QDir(folder).relativeFilePath(it.filePath()));
        total += it.fileInfo().size();
    }
    if (bytes)
        *bytes = total;
    names.sort();
    return names;
}

QString sevenZip()
{
    for (const char *name : {"7zz", "7z", "7za"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

// ----- the module's processes -----

int childExtract(const QString &archive, const QString &out)
{
    TkZipArchive zip;
    zip.setPath(archive);
    return zip.extractAll(out) ? 0 : 1;
}

int childWrite(const QString &folder, const QString &archive)
{
    QFile file(archive);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.close();
    TkZipArchive zip;
    zip.setPath(archive);
    if (!zip.zwOpen())
        return 1;
    zip.addFiles(QDir(folder), filesBelow(folder));
    zip.close();
    return 0;
}

// Open and list; with `lookups`, then the first lookup of each kind
// (which indexes the names) and 1000 more of each, spread over the archive.
int childList(const QString &archive, bool lookups)
{
    QElapsedTimer timer;
    timer.start();
    TkZipArchive zip;
    zip.setPath(archive);
    const QStringList files = zip.fileNames();
    const QStringList folders = zip.folderNames();
    const double listed = timer.nsecsElapsed() / 1e9;
    if (files.isEmpty())
        return 1;
    if (!lookups)
        return 0;
    QStringList probes;
    for (int i = 0; probes.size() < 1000; i = (i + 997) % files.size())
        probes.append(files.at(i));
    std::printf("entries %d; open and list %.3f s\n", int(files.size() + folders.size()), listed);
    for (bool caseSensitive : {true, false}) {
        zip.setCaseSensitive(caseSensitive);
        const QString first = caseSensitive ? files.last() : files.last().toUpper();
        timer.restart();
        const bool found = zip.exists(first);
        const double firstSeconds = timer.nsecsElapsed() / 1e9;
        int hits = 0;
        timer.restart();
        for (const QString &name : qAsConst(probes))
            hits += zip.exists(caseSensitive ? name : name.toUpper());
        const double existsMicro = timer.nsecsElapsed() / 1e3 / probes.size();
        timer.restart();
        for (const QString &name : qAsConst(probes))
            delete zip.fileInfo(caseSensitive ? name : name.toUpper());
        const double infoMicro = timer.nsecsElapsed() / 1e3 / probes.size();
        std::printf("%s: first exists %.3f s (%s), then exists %.2f us, fileInfo %.2f us (%d of %d found)\n",
                    caseSensitive ? "case-sensitive" : "ignoring case", firstSeconds, found ? "found" : "missing",
                    existsMicro, infoMicro, hits, int(probes.size()));
    }
    return 0;
}

// ----- inflate alone -----

struct DeflatedEntry {
    quint64 dataStart;
    ZipEntryRecord record;
};

// Plain zlib: raw inflate in blocks of the module's size, CRC of the output.
bool zlibInflate(FILE *file, const DeflatedEntry &entry, QByteArray &input, QByteArray &output)
{
    z_stream z = {};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    quint64 position = entry.dataStart;
    quint64 remaining = entry.record.compressedSize;
    uLong crc = crc32(0, nullptr, 0);
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0 && remaining > 0) {
            const qint64 count = qint64(qMin<quint64>(quint64(input.size()), remaining));
            if (!Extras::FileLayer::readAt(file, position, input.data(), count))
                break;
            position += quint64(count);
            remaining -= quint64(count);
            z.next_in = reinterpret_cast<Bytef *>(input.data());
            z.avail_in = uInt(count);
        }
        z.next_out = reinterpret_cast<Bytef *>(output.data());
        z.avail_out = uInt(output.size());
        status = inflate(&z, Z_NO_FLUSH);
        crc = crc32_z(crc, reinterpret_cast<const Bytef *>(output.constData()), size_t(output.size()) - z.avail_out);
    }
    inflateEnd(&z);
    return status == Z_STREAM_END && crc == entry.record.crc;
}

int inflateAlone(const QString &archive, int runs)
{
    QString reason;
    const std::unique_ptr<ZipReader> reader = ZipReader::open(archive, &reason);
    Extras::FileLayer::FileState state;
    FILE *file = Extras::FileLayer::openStream(archive, &state, &reason);
    if (!reader || !file)
        return 1;
    QVector<int> indexes;
    QVector<DeflatedEntry> entries;
    quint64 packed = 0;
    quint64 unpacked = 0;
    for (int i = 0; i < reader->count(); ++i) {
        const ZipDirectory::Entry entry = reader->entry(i);
        char header[30];
        if (entry.record.compressionMethod != 8
            || !Extras::FileLayer::readAt(file, entry.localHeaderOffset, header, sizeof header))
            continue;
        indexes.append(i);
        entries.append({entry.localHeaderOffset + 30 + qFromLittleEndian<quint16>(header + 26)
                            + qFromLittleEndian<quint16>(header + 28),
                        entry.record});
        packed += entry.record.compressedSize;
        unpacked += entry.record.uncompressedSize;
    }
    QByteArray input(ZipReader::BufferSize, Qt::Uninitialized);
    QByteArray output(ZipReader::BufferSize, Qt::Uninitialized);
    QVector<double> ours;
    QVector<double> zlib;
    for (int round = -1; round < runs; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int index : qAsConst(indexes)) {
            ZipError error;
            const std::unique_ptr<ZipEntryStream> stream = reader->openEntry(index, &error);
            qint64 count = 1;
            while (stream && count > 0)
                count = stream->read(output.data(), output.size());
            if (!stream || count < 0)
                return 1;
        }
        const double oursSeconds = timer.nsecsElapsed() / 1e9;
        timer.restart();
        for (const DeflatedEntry &entry : qAsConst(entries)) {
            if (!zlibInflate(file, entry, input, output))
                return 1;
        }
        if (round >= 0) {
            ours.append(oursSeconds);
            zlib.append(timer.nsecsElapsed() / 1e9);
        }
    }
    std::fclose(file);
    std::printf("\n== inflate alone: %d deflated entries, %.1f MB to %.1f MB, CRC checked, no output ==\n",
                int(entries.size()), packed / 1e6, unpacked / 1e6);
    std::printf("%-34s %9.3f s %8.0f MB/s\n", "entry streams (ISA-L)", median(ours), unpacked / 1e6 / median(ours));
    std::printf("%-34s %9.3f s %8.0f MB/s\n", "zlib inflate + crc32", median(zlib), unpacked / 1e6 / median(zlib));
    std::printf("zlib / entry streams: %.2f\n", median(zlib) / median(ours));
    return 0;
}

// ----- tools as processes -----

struct Contender {
    Contender(const QString &name, const std::function<QStringList()> &command, const QString &folder = QString())
        : name(name)
        , command(command)
        , folder(folder)
    {
    }
    QString name;
    // The command, and the folder it runs in (empty: any).
    std::function<QStringList()> command;
    QString folder;
    QVector<double> seconds;
    double peakMB = 0;
};

// Runs every contender `runs` times after an untimed round, in rotating
// order; `prepare` runs untimed before each run, `check` after it.
bool race(QVector<Contender> &contenders, int runs, const QString &work, const std::function<void()> &prepare,
          const std::function<bool(const Contender &)> &check)
{
    for (int round = -1; round < runs; ++round) {
        for (int k = 0; k < contenders.size(); ++k) {
            Contender &c = contenders[(k + qMax(round, 0)) % contenders.size()];
            prepare();
            const ProcessFigures figures = measureProcess(c.command(), work + QStringLiteral("/time.txt"), c.folder);
            if (!figures.succeeded || !check(c)) {
                std::fprintf(stderr, "%s failed\n", qPrintable(c.name));
                return false;
            }
            if (round >= 0) {
                c.seconds.append(figures.seconds);
                c.peakMB = qMax(c.peakMB, figures.peakMB);
            }
        }
    }
    return true;
}

void printRace(const QVector<Contender> &contenders, int reference, const QString &referenceName,
               const QVector<double> &sizes = {})
{
    std::printf("%-36s %10s %10s %9s %12s%s\n", "command", "median s", "best s", "peak MB",
                qPrintable(QStringLiteral("/ ") + referenceName), sizes.isEmpty() ? "" : "   archive MB");
    const double base = median(contenders.at(reference).seconds);
    for (int i = 0; i < contenders.size(); ++i) {
        const Contender &c = contenders.at(i);
        std::printf("%-36s %10.3f %10.3f %9.1f %12.2f", qPrintable(c.name), median(c.seconds),
                    *std::min_element(c.seconds.begin(), c.seconds.end()), c.peakMB, median(c.seconds) / base);
        if (!sizes.isEmpty())
            std::printf("   %12.2f", sizes.at(i));
        std::printf("\n");
    }
}

int extractRace(const QString &self, const QString &archive, const QString &work, int runs)
{
    const QString out = work + QStringLiteral("/extracted");
    const QString seven = sevenZip();
    QVector<Contender> contenders{
        {QStringLiteral("ZipArchive.extractAll"), [&] { return QStringList{self, "--child-extract", archive, out}; }},
        {QStringLiteral("bsdtar -xf"), [&] { return QStringList{"bsdtar", "-xf", archive, "-C", out}; }},
        {QStringLiteral("unzip -q -o"), [&] { return QStringList{"unzip", "-q", "-o", archive, "-d", out}; }},
        {QStringLiteral("python3 -m zipfile -e"),
         [&] { return QStringList{MAPORA_PYTHON3, "-m", "zipfile", "-e", archive, out}; }},
    };
    if (!seven.isEmpty())
        contenders.append({QFileInfo(seven).fileName() + QStringLiteral(" x"),
                           [&] { return QStringList{seven, "x", "-y", "-bd", "-o" + out, archive}; }});
    QStringList expected;
    qint64 expectedBytes = -1;
    const bool ok = race(
        contenders, runs, work,
        [&] {
            QDir(out).removeRecursively();
            QDir().mkpath(out);
        },
        [&](const Contender &) {
            qint64 bytes = 0;
            const QStringList files = filesBelow(out, &bytes);
            if (expectedBytes < 0) {
                expected = files;
                expectedBytes = bytes;
            }
            return files == expected && bytes == expectedBytes;
        });
    QDir(out).removeRecursively();
    if (!ok)
        return 1;
    std::printf("\n== extract: %s, %.1f MB, %d files, %.1f MB out; output on %s ==\n", qPrintable(archive),
                QFileInfo(archive).size() / 1e6, int(expected.size()), expectedBytes / 1e6, qPrintable(work));
    printRace(contenders, 1, QStringLiteral("bsdtar"));
    return 0;
}

int writeRace(const QString &self, const QString &archive, const QString &work, int runs)
{
    const QString source = work + QStringLiteral("/source");
    QDir(source).removeRecursively();
    if (!runQuietly(QStringLiteral(MAPORA_PYTHON3), {"-m", "zipfile", "-e", archive, source}))
        return 1;
    qint64 sourceBytes = 0;
    const QStringList files = filesBelow(source, &sourceBytes);
    const QStringList top = QDir(source).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    const QString out = work + QStringLiteral("/written.zip");
    const QString seven = sevenZip();
    const QString python = QStringLiteral(
        "import os, sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED, compresslevel=6) as z:\n"
        "    for folder, subfolders, names in os.walk('.'):\n"
        "        subfolders.sort()\n"
        "        for name in sorted(names):\n"
        "            z.write(os.path.join(folder, name)[2:])\n");
    QVector<Contender> contenders{
        {QStringLiteral("ZipArchive zwOpen/addFiles/close"),
         [&] { return QStringList{self, "--child-write", source, out}; }},
        {QStringLiteral("zip -r -6"), [&] { return QStringList{"zip", "-q", "-r", "-6", out} + top; }, source},
        {QStringLiteral("bsdtar -a -cf"), [&] { return QStringList{"bsdtar", "-a", "-cf", out} + top; }, source},
        {QStringLiteral("python3 zipfile level 6"), [&] { return QStringList{MAPORA_PYTHON3, "-c", python, out}; },
         source},
    };
    if (!seven.isEmpty())
        contenders.append({QFileInfo(seven).fileName() + QStringLiteral(" a -tzip -mx=5 -mmt=2"),
                           [&] { return QStringList{seven, "a", "-tzip", "-mx=5", "-mmt=2", "-bd", out} + top; },
                           source});
    QMap<QString, double> sizes;
    const bool ok = race(
        contenders, runs, work, [&] { QFile::remove(out); },
        [&](const Contender &c) {
            sizes[c.name] = QFileInfo(out).size() / 1e6;
            // Every archive must hold every file; names are checked once.
            if (c.seconds.isEmpty() && !runQuietly(QStringLiteral(MAPORA_PYTHON3),
                                                   {"-c",
                                                    "import sys, zipfile\n"
                                                    "n = [i for i in zipfile.ZipFile(sys.argv[1]).namelist() "
                                                    "if not i.endswith('/')]\n"
                                                    "sys.exit(0 if len(n) == int(sys.argv[2]) else 1)\n",
                                                    out, QString::number(files.size())}))
                return false;
            return true;
        });
    QFile::remove(out);
    QDir(source).removeRecursively();
    if (!ok)
        return 1;
    QVector<double> sizeColumn;
    for (const Contender &c : qAsConst(contenders))
        sizeColumn.append(sizes.value(c.name));
    std::printf("\n== write: %d files, %.1f MB, into %s ==\n", int(files.size()), sourceBytes / 1e6, qPrintable(work));
    printRace(contenders, 1, QStringLiteral("zip -r -6"), sizeColumn);
    return 0;
}

int listRace(const QString &self, const QString &archive, const QString &work, int runs)
{
    const QString lookups = work + QStringLiteral("/lookups.txt");
    QVector<Contender> contenders{
        {QStringLiteral("ZipArchive.fileNames"), [&] { return QStringList{self, "--child-list", archive}; }},
        {QStringLiteral("bsdtar -tf"), [&] { return QStringList{"bsdtar", "-tf", archive}; }},
        {QStringLiteral("unzip -l"), [&] { return QStringList{"unzip", "-l", archive}; }},
        {QStringLiteral("python3 zipfile namelist()"),
         [&] {
             return QStringList{MAPORA_PYTHON3, "-c",
                                "import sys, zipfile\nprint(len(zipfile.ZipFile(sys.argv[1]).namelist()))", archive};
         }},
    };
    if (!race(contenders, runs, work, [] {}, [](const Contender &) { return true; }))
        return 1;
    // Once more with the lookups, for the figures the module's process prints.
    measureProcess(contenders.at(0).command() << QStringLiteral("--lookups"), work + QStringLiteral("/time.txt"),
                   QString(), lookups);
    QFile report(lookups);
    report.open(QIODevice::ReadOnly);
    std::printf("\n== list: %s, %.1f MB; whole processes ==\n", qPrintable(archive), QFileInfo(archive).size() / 1e6);
    printRace(contenders, 1, QStringLiteral("bsdtar"));
    std::printf("inside the module's process (last run):\n%s", report.readAll().constData());
    QFile::remove(lookups);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString self = app.applicationFilePath();
    if (args.size() >= 3 && args.at(1).startsWith(QLatin1String("--child-"))) {
        QLoggingCategory::setFilterRules(QStringLiteral("Quil.MaporaExtras*=true"));
        qInstallMessageHandler(droppingHandler);
        if (args.at(1) == QLatin1String("--child-extract") && args.size() == 4)
            return childExtract(args.at(2), args.at(3));
        if (args.at(1) == QLatin1String("--child-write") && args.size() == 4)
            return childWrite(args.at(2), args.at(3));
        if (args.at(1) == QLatin1String("--child-list"))
            return childList(args.at(2), args.contains(QStringLiteral("--lookups")));
        return 2;
    }
    const int runs = countOption(args, QStringLiteral("--runs"), 3);
    const int entries = countOption(args, QStringLiteral("--entries"), 1000000);
    const QString only = optionValue(args, QStringLiteral("--only"), QString());
    const QString work = optionValue(args, QStringLiteral("--out"), QStringLiteral("/dev/shm"))
        + QStringLiteral("/maporaextras-zipspeed");
    QDir(work).removeRecursively();
    QDir().mkpath(work);

    const QString files = cachedArchive(QStringLiteral("files-3006-v1.zip"), {QStringLiteral("--files-3006")});
    const QString many = cachedArchive(QStringLiteral("entries-%1-v1.zip").arg(entries),
                                       {QStringLiteral("--entries"), QString::number(entries)});
    if (files.isEmpty() || many.isEmpty()) {
        std::fprintf(stderr, "could not make the archives\n");
        return 1;
    }
    QFile load(QStringLiteral("/proc/loadavg"));
    const QByteArray loadAverage = load.open(QIODevice::ReadOnly) ? load.readLine() : QByteArray("?\n");
    std::printf("%d runs per command after an untimed round; load average at start: %s", runs,
                loadAverage.constData());
    int failed = 0;
    if (only.isEmpty() || only == QLatin1String("inflate"))
        failed += inflateAlone(files, runs);
    if (only.isEmpty() || only == QLatin1String("extract"))
        failed += extractRace(self, files, work, runs);
    if (only.isEmpty() || only == QLatin1String("write"))
        failed += writeRace(self, files, work, runs);
    if (only.isEmpty() || only == QLatin1String("list"))
        failed += listRace(self, many, work, runs);
    QDir(work).removeRecursively();
    return failed == 0 ? 0 : 1;
}
