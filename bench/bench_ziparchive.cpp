// Times ZipArchive.extractAll against Info-ZIP unzip and bsdtar on the same
// archive in the same run, and prints the ratios; then times 1000 lookups
// (exists and fileInfo) of names spread over the archive, with and without
// case; and last runs one extraction in the background while a 16 ms
// timer ticks on the main thread, and prints the longest gap between ticks.
//
//   bench_ziparchive [--runs N] [--quiet-debug] [--out FOLDER]
//   bench_ziparchive --hostile [--runs N] [--out FOLDER]
//
// --hostile instead lists two crafted archives (made below FOLDER, by
// default /dev/shm) in a process of their own, against bsdtar -tf and
// unzip -l, and prints time and peak memory of each: 1500 entries whose
// central records carry 64 KiB extra fields of 16 383 empty sub-fields
// (98 MB), and a sparse 2 GiB file whose end record claims a 2 GiB central
// directory of zeros.
//
// The archive (about 200 MB, see make_bench_archive.py) is made once and
// kept in ${XDG_CACHE_HOME:-~/.cache}/maporaextras-bench; the extractions go
// to a folder beside it (or below --out), the same folder for every tool.
// On a slow disk the write-back dominates every tool alike; --out /dev/shm
// (a tmpfs) leaves the work that differs between them.
//
// The plugin switches its own logging on when an engine loads it, so by
// default every debug line of the extraction is formatted (and then dropped
// by a counting handler, so the terminal does not take part in the timing).
// --quiet-debug filters the debug lines out first, as a host with logging
// rules would.

#include "BenchSupport.h"
#include "TkZipArchive.h"
#include "TkZipFileInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>

#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

int droppedMessages = 0;

void countingHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
    ++droppedMessages;
}

QString cacheFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/maporaextras-bench");
}

// File count and byte total of a tree: every tool must have done the same work.
QPair<int, qint64> treeSize(const QString &folder)
{
    int files = 0;
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++files;
        bytes += it.fileInfo().size();
    }
    return {files, bytes};
}

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

template<typename T>
void put(QByteArray &bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, sizeof(T));
}

// 1500 empty stored entries whose central records each carry an extra
// field of 16 383 empty sub-fields.
bool writeExtraFieldArchive(const QString &path)
{
    constexpr int Count = 1500;
    const QByteArray extra = QByteArray("\xfe\xca\x00\x00", 4).repeated(16383);
    QByteArray local;
    QVector<quint32> offsets;
    for (int i = 0; i < Count; ++i) {
        offsets.append(quint32(local.size()));
        put<quint32>(local, 0x04034b50);
        for (quint16 v : {20, 0, 0, 0, 0x5021})
            put<quint16>(local, v);
        for (quint32 v : {0u, 0u, 0u})
            put<quint32>(local, v);
        put<quint16>(local, 6);
        put<quint16>(local, 0);
        local += QByteArray::number(100000 + i);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(local) != local.size())
        return false;
    for (int i = 0; i < Count; ++i) {
        QByteArray central;
        put<quint32>(central, 0x02014b50);
        for (quint16 v : {0x031e, 20, 0, 0, 0, 0x5021})
            put<quint16>(central, v);
        for (quint32 v : {0u, 0u, 0u})
            put<quint32>(central, v);
        for (quint16 v : {quint16(6), quint16(extra.size()), quint16(0), quint16(0), quint16(0)})
            put<quint16>(central, v);
        put<quint32>(central, 0100644u << 16);
        put<quint32>(central, offsets.at(i));
        central += QByteArray::number(100000 + i) + extra;
        if (file.write(central) != central.size())
            return false;
    }
    QByteArray end;
    put<quint32>(end, 0x06054b50);
    for (quint16 v : {0, 0, Count, Count})
        put<quint16>(end, v);
    put<quint32>(end, quint32(file.pos() - local.size()));
    put<quint32>(end, quint32(local.size()));
    put<quint16>(end, 0);
    return file.write(end) == end.size() && file.flush();
}

// 2 GiB of zeros (a hole) and an end record that calls them the directory
// of one entry.
bool writeZeroDirectoryArchive(const QString &path)
{
    const quint32 size = 0x7fff0000u;
    QByteArray end;
    put<quint32>(end, 0x06054b50);
    for (quint16 v : {0, 0, 1, 1})
        put<quint16>(end, v);
    put<quint32>(end, size);
    put<quint32>(end, 0);
    put<quint16>(end, 0);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size) && file.seek(size) && file.write(end) == end.size();
}

int hostileArchives(const QStringList &args, const QString &self)
{
    const int runs = countOption(args, QStringLiteral("--runs"), 5);
    const QString folder = optionValue(args, QStringLiteral("--out"), QStringLiteral("/dev/shm"))
        + QStringLiteral("/maporaextras-bench-hostile");
    QDir().mkpath(folder);
    const QString extra = folder + QStringLiteral("/extra-fields.zip");
    const QString zeros = folder + QStringLiteral("/zero-directory.zip");
    if (!writeExtraFieldArchive(extra) || !writeZeroDirectoryArchive(zeros)) {
        std::fprintf(stderr, "could not write the archives below %s\n", qPrintable(folder));
        return 1;
    }
    std::printf("%d runs each, whole processes; median seconds, peak resident MB\n", runs);
    std::printf("%-22s %-34s %10s %10s\n", "archive", "command", "median s", "peak MB");
    for (const QString &archive : {extra, zeros}) {
        const QList<QStringList> commands{{self, QStringLiteral("--list"), archive},
                                          {QStringLiteral("bsdtar"), QStringLiteral("-tf"), archive},
                                          {QStringLiteral("unzip"), QStringLiteral("-l"), archive}};
        for (const QStringList &command : commands) {
            QVector<double> seconds;
            double peak = 0;
            for (int round = 0; round < runs; ++round) {
                const ProcessFigures result = measureProcess(command, folder + QStringLiteral("/time.txt"));
                seconds.append(result.seconds);
                peak = qMax(peak, result.peakMB);
            }
            const QString shown = command.first() == self ? QStringLiteral("ZipArchive.fileNames") : command.mid(0, 2).join(' ');
            std::printf("%-22s %-34s %10.3f %10.1f\n", qPrintable(QFileInfo(archive).fileName()), qPrintable(shown),
                        median(seconds), peak);
        }
    }
    QDir(folder).removeRecursively();
    return 0;
}

struct Tool {
    QString name;
    std::function<bool(const QString &archive, const QString &out)> extract;
    QVector<double> seconds;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--list")) {
        QLoggingCategory::setFilterRules(QStringLiteral("Quil.*=false"));
        TkZipArchive zip;
        zip.setPath(args.at(2));
        std::printf("%d entries\n", int(zip.fileNames().size()));
        return 0;
    }
    if (args.contains(QStringLiteral("--hostile")))
        return hostileArchives(args, app.applicationFilePath());
    const int runs = countOption(args, QStringLiteral("--runs"), 5);
    const bool quietDebug = args.contains(QStringLiteral("--quiet-debug"));

    QLoggingCategory::setFilterRules(quietDebug ? QStringLiteral("Quil.MaporaExtras*.debug=false")
                                                : QStringLiteral("Quil.MaporaExtras*=true"));
    qInstallMessageHandler(countingHandler);

    const QString cache = cacheFolder();
    QDir().mkpath(cache);
    const QString archive = cache + QStringLiteral("/mixed-v1.zip");
    if (!QFileInfo::exists(archive)) {
        std::printf("making %s (once)...\n", qPrintable(archive));
        std::fflush(stdout);
        if (!runTool(QStringLiteral(MAPORA_PYTHON3),
                     {QStringLiteral(MAPORA_BENCH_SOURCE_DIR "/make_bench_archive.py"), archive})) {
            std::fprintf(stderr, "could not make the archive\n");
            return 1;
        }
    }
    const QString out = optionValue(args, QStringLiteral("--out"), cache)
        + QStringLiteral("/maporaextras-bench-out");

    QVector<Tool> tools{
        {QStringLiteral("ZipArchive.extractAll"),
         [](const QString &archive, const QString &out) {
             TkZipArchive zip;
             zip.setPath(archive);
             return zip.extractAll(out);
         },
         {}},
        {QStringLiteral("unzip -q -o"),
         [](const QString &archive, const QString &out) {
             return runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), QStringLiteral("-o"), archive,
                                                      QStringLiteral("-d"), out});
         },
         {}},
        {QStringLiteral("bsdtar -xf"),
         [](const QString &archive, const QString &out) {
             return runTool(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), archive, QStringLiteral("-C"), out});
         },
         {}},
    };

    std::printf("archive %s, %.1f MB; output %s; %d runs per tool%s\n", qPrintable(archive),
                QFileInfo(archive).size() / 1e6, qPrintable(out), runs, quietDebug ? ", debug lines filtered" : "");
    QPair<int, qint64> expected{-1, -1};
    // One untimed round warms the page cache for every tool alike.
    for (int round = -1; round < runs; ++round) {
        // Rotate the order so no tool always follows the same one.
        for (int k = 0; k < tools.size(); ++k) {
            Tool &tool = tools[(k + qMax(round, 0)) % tools.size()];
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            ::sync();
            QElapsedTimer timer;
            timer.start();
            const bool ok = tool.extract(archive, out);
            const double seconds = timer.nsecsElapsed() / 1e9;
            const QPair<int, qint64> size = treeSize(out);
            if (!ok || (expected.first >= 0 && size != expected)) {
                std::fprintf(stderr, "%s failed or extracted %d files, %lld bytes\n", qPrintable(tool.name),
                             size.first, size.second);
                return 1;
            }
            expected = size;
            if (round >= 0)
                tool.seconds.append(seconds);
        }
    }
    QDir(out).removeRecursively();

    std::printf("extracted %d files, %.1f MB each time\n\n", expected.first, expected.second / 1e6);
    std::printf("%-24s %10s %10s\n", "tool", "best s", "median s");
    for (const Tool &tool : tools)
        std::printf("%-24s %10.3f %10.3f\n", qPrintable(tool.name),
                    *std::min_element(tool.seconds.begin(), tool.seconds.end()), median(tool.seconds));
    const double ours = median(tools.at(0).seconds);
    std::printf("\nextractAll / unzip  (median): %.2f\n", ours / median(tools.at(1).seconds));
    std::printf("extractAll / bsdtar (median): %.2f\n", ours / median(tools.at(2).seconds));
    std::printf("log messages formatted and dropped: %d\n", droppedMessages);

    // Lookups: every 20th name, other case for the case-insensitive round,
    // 1000 of each call.
    TkZipArchive zip;
    zip.setPath(archive);
    const QStringList names = zip.fileNames() + zip.folderNames();
    QStringList probes;
    for (int i = 0; probes.size() < 1000; i = (i + 20) % names.size())
        probes.append(names.at(i));
    std::printf("\n%d entries; 1000 lookups of each kind (median of %d rounds):\n", int(names.size()), runs);
    for (bool caseSensitive : {true, false}) {
        zip.setCaseSensitive(caseSensitive);
        QVector<double> existsMs;
        QVector<double> infoMs;
        int found = 0;
        for (int round = 0; round < runs; ++round) {
            QElapsedTimer timer;
            timer.start();
            for (const QString &name : qAsConst(probes))
                found += zip.exists(caseSensitive ? name : name.toUpper());
            existsMs.append(timer.nsecsElapsed() / 1e6);
            timer.restart();
            for (const QString &name : qAsConst(probes))
                delete zip.fileInfo(caseSensitive ? name : name.toUpper());
            infoMs.append(timer.nsecsElapsed() / 1e6);
        }
        std::printf("  %-17s exists %.3f ms, fileInfo %.3f ms (%d found)\n",
                    caseSensitive ? "case-sensitive:" : "ignoring case:", median(existsMs), median(infoMs), found);
    }

    // Responsiveness: the event loop of the object's thread goes on while a
    // background run extracts the whole archive.
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    TkZipArchive background;
    background.setPath(archive);
    background.setAsynchronous(true);
    QEventLoop loop;
    QObject::connect(&background, &TkZipArchive::extractCompleted, &loop, &QEventLoop::quit);
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(16);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        longestGap = qMax(longestGap, sinceTick.restart());
        ++ticks;
    });
    QElapsedTimer run;
    run.start();
    sinceTick.start();
    timer.start();
    if (!background.extractAll(out))
        return 1;
    loop.exec();
    const double runSeconds = run.nsecsElapsed() / 1e9;
    std::printf("\nbackground extractAll: %.3f s (synchronous median %.3f s); a 16 ms timer ticked %d times, "
                "longest gap %lld ms\n",
                runSeconds, ours, ticks, longestGap);
    QDir(out).removeRecursively();
    return 0;
}
