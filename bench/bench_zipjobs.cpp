// Background runs of ZipArchive while a 16 ms timer ticks on the main
// thread, as a window's animation would:
//
//   1. compressFolder of a folder of 3006 files (171 MB), in the
//      background: the timer's longest gap and the run time; then the same
//      folder written synchronously and by `zip -r -6 -q` as the peer;
//   2. extractAll of the archive of those files, in the background: the
//      extractProgress signals delivered, against the bound of two per
//      entry plus one per 16 ms of the run;
//   3. the same extraction, with cancel() called once processedBytes first
//      reaches half of totalBytes: the files present afterwards against the
//      entries the application had been told of when it called cancel().
//
//   bench_zipjobs [--runs N] [--out FOLDER] [--archive FILE]
//
// The archive (3000 files of 200 B to 24 KB in 30 folders, three text
// files of 34 MiB and three random ones of 9 MiB, written with
// make_bench_archive.py's text and settings) is made once and kept in
// ${XDG_CACHE_HOME:-~/.cache}/maporaextras-bench; --archive names another.
// Its files are extracted once below FOLDER (default /dev/shm), where the
// runs write too. Debug lines are filtered out, as a host's logging rules
// would.

#include "BenchSupport.h"
#include "TkZipArchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

// The layout of the archive, from the benchmark archive maker's parts.
const char *const MakeArchive = R"(
import random, sys, zipfile
sys.path.insert(0, sys.argv[1])
from make_bench_archive import add, text
rng = random.Random(20230531)
with zipfile.ZipFile(sys.argv[2] + ".part", "w", compresslevel=6) as archive:
    for folder in range(30):
        for index in range(100):
            size = rng.randrange(200, 24 * 1024)
            name = f"small/d{folder:02d}/f{index:03d}"
            if index % 10 == 9:
                add(archive, name + ".bin", rng.randbytes(size))
            else:
                add(archive, name + ".txt", text(rng, size))
    for index in range(3):
        add(archive, f"large/log{index}.txt", text(rng, 34 * 1024 * 1024))
    for index in range(3):
        add(archive, f"large/random{index}.bin", rng.randbytes(9 * 1024 * 1024), zipfile.ZIP_STORED)
import os
os.replace(sys.argv[2] + ".part", sys.argv[2])
)";

QString cacheFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/maporaextras-bench");
}

bool runTool(const QString &program, const QStringList &arguments, const QString &folder = QString())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Regular files below a folder, the temporary files of runs left out.
int filesBelow(const QString &folder, qint64 *bytes = nullptr)
{
    int files = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().startsWith(QLatin1String(".maporaextras-")))
            continue;
        ++files;
        if (bytes)
            *bytes += it.fileInfo().size();
    }
    return files;
}

// The main thread's view of a background run: a 16 ms timer's ticks and
// their longest gap, from the call that starts the run to its last signal.
struct Responsiveness
{
    double seconds = 0;
    qint64 longestGapMs = 0;
    int ticks = 0;
};

Responsiveness runInBackground(TkZipArchive &zip, const std::function<bool()> &start)
{
    QEventLoop loop;
    const QList<QMetaObject::Connection> ends{
        QObject::connect(&zip, &TkZipArchive::compressCompleted, &loop, &QEventLoop::quit),
        QObject::connect(&zip, &TkZipArchive::compressCanceled, &loop, &QEventLoop::quit),
        QObject::connect(&zip, &TkZipArchive::extractCompleted, &loop, &QEventLoop::quit),
        QObject::connect(&zip, &TkZipArchive::extractCanceled, &loop, &QEventLoop::quit)};
    Responsiveness result;
    QElapsedTimer sinceTick;
    QTimer timer;
    timer.setInterval(16);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        result.longestGapMs = qMax(result.longestGapMs, sinceTick.restart());
        ++result.ticks;
    });
    QElapsedTimer run;
    run.start();
    sinceTick.start();
    timer.start();
    if (start())
        loop.exec();
    result.longestGapMs = qMax(result.longestGapMs, sinceTick.elapsed());
    result.seconds = run.nsecsElapsed() / 1e9;
    for (const QMetaObject::Connection &end : ends)
        QObject::disconnect(end);
    return result;
}

int compression(const QString &tree, const QString &work, int runs)
{
    const QString archive = work + QStringLiteral("/written.zip");
    QVector<double> background;
    QVector<double> synchronous;
    QVector<double> peer;
    qint64 longestGap = 0;
    int entries = 0;
    for (int round = 0; round < runs; ++round) {
        TkZipArchive zip;
        zip.setPath(archive);
        zip.setAsynchronous(true);
        const Responsiveness r = runInBackground(zip, [&] { return zip.compressFolder(tree); });
        background.append(r.seconds);
        longestGap = qMax(longestGap, r.longestGapMs);
        entries = zip.processedEntries();
        TkZipArchive written;
        written.setPath(archive);
        if (entries != zip.totalEntries() || written.fileNames().size() != entries) {
            std::fprintf(stderr, "the archive written holds %d of %d files\n", int(written.fileNames().size()),
                         entries);
            return 1;
        }

        zip.setAsynchronous(false);
        QElapsedTimer timer;
        timer.start();
        if (!zip.compressFolder(tree))
            return 1;
        synchronous.append(timer.nsecsElapsed() / 1e9);

        QFile::remove(archive);
        timer.restart();
        if (!runTool(QStringLiteral("zip"), {QStringLiteral("-r"), QStringLiteral("-6"), QStringLiteral("-q"), archive,
                                             QStringLiteral(".")},
                     tree))
            return 1;
        peer.append(timer.nsecsElapsed() / 1e9);
    }
    std::printf("compressFolder of %d files in the background: median %.3f s, the 16 ms timer's longest gap "
                "%lld ms (of %d runs)\n",
                entries, median(background), longestGap, runs);
    std::printf("  synchronous median %.3f s; zip -r -6 -q median %.3f s; background / zip %.2f\n",
                median(synchronous), median(peer), median(background) / median(peer));
    return 0;
}

int extraction(const QString &archive, const QString &work)
{
    const QString out = work + QStringLiteral("/extracted");
    QDir(out).removeRecursively();
    TkZipArchive zip;
    zip.setPath(archive);
    zip.setAsynchronous(true);
    int progressSignals = 0;
    QObject::connect(&zip, &TkZipArchive::extractProgress, [&] { ++progressSignals; });
    const Responsiveness r = runInBackground(zip, [&] { return zip.extractAll(out); });
    const int entries = zip.totalEntries();
    const qint64 bound = 2 * qint64(entries) + qint64(r.seconds * 1000 / 16) + 1;
    std::printf("\nextractAll of %d entries in the background: %.3f s, longest gap %lld ms; %d extractProgress "
                "signals (bound: 2 per entry + 1 per 16 ms = %lld)%s\n",
                entries, r.seconds, r.longestGapMs, progressSignals, bound,
                progressSignals <= bound ? "" : "  ABOVE THE BOUND");
    return filesBelow(out) == entries ? 0 : 1;
}

int cancelAtHalf(const QString &archive, const QString &work)
{
    const QString out = work + QStringLiteral("/canceled");
    QDir(out).removeRecursively();
    TkZipArchive zip;
    zip.setPath(archive);
    zip.setAsynchronous(true);
    QSet<QString> told;
    int toldAtCancel = -1;
    int processedAtCancel = 0;
    qint64 bytesAtCancel = 0;
    QObject::connect(&zip, &TkZipArchive::extractProgress,
                     [&](const QString &name, const QString &, double) { told.insert(name); });
    QObject::connect(&zip, &TkZipArchive::amountsChanged, [&] {
        if (toldAtCancel >= 0 || zip.totalBytes() == 0 || zip.processedBytes() * 2 < zip.totalBytes())
            return;
        toldAtCancel = told.size();
        processedAtCancel = zip.processedEntries();
        bytesAtCancel = zip.processedBytes();
        zip.cancel();
    });
    bool canceled = false;
    QObject::connect(&zip, &TkZipArchive::extractCanceled, [&] { canceled = true; });
    const Responsiveness r = runInBackground(zip, [&] { return zip.extractAll(out); });
    const int present = filesBelow(out);
    std::printf("\ncancel() at half the bytes (%lld of %lld): %s after %.3f s; files present afterwards %d, "
                "entries begun as the application was told %d (processed as told %d); told of %d in all\n",
                bytesAtCancel, zip.totalBytes(), canceled ? "canceled" : "NOT CANCELED", r.seconds, present,
                toldAtCancel, processedAtCancel, int(told.size()));
    return canceled && present <= toldAtCancel ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QLoggingCategory::setFilterRules(QStringLiteral("Quil.MaporaExtras*.debug=false"));
    const int runs = countOption(args, QStringLiteral("--runs"), 3);
    const QString work = optionValue(args, QStringLiteral("--out"), QStringLiteral("/dev/shm"))
        + QStringLiteral("/maporaextras-bench-jobs");
    QString archive = optionValue(args, QStringLiteral("--archive"), QString());
    if (archive.isEmpty()) {
        archive = cacheFolder() + QStringLiteral("/files3006-v1.zip");
        QDir().mkpath(cacheFolder());
        if (!QFileInfo::exists(archive)) {
            std::printf("making %s (once)...\n", qPrintable(archive));
            std::fflush(stdout);
            if (!runTool(QStringLiteral(MAPORA_PYTHON3), {QStringLiteral("-c"), QString::fromUtf8(MakeArchive),
                                                          QStringLiteral(MAPORA_BENCH_SOURCE_DIR), archive})) {
                std::fprintf(stderr, "could not make the archive\n");
                return 1;
            }
        }
    }
    QDir(work).removeRecursively();
    const QString tree = work + QStringLiteral("/tree");
    TkZipArchive source;
    source.setPath(archive);
    if (!source.extractAll(tree)) {
        std::fprintf(stderr, "could not extract %s\n", qPrintable(archive));
        return 1;
    }
    qint64 bytes = 0;
    const int files = filesBelow(tree, &bytes);
    std::printf("archive %s, %.1f MB; its %d files, %.1f MB, below %s\n\n", qPrintable(archive),
                QFileInfo(archive).size() / 1e6, files, bytes / 1e6, qPrintable(tree));

    int failed = compression(tree, work, runs);
    failed |= extraction(archive, work);
    failed |= cancelAtHalf(archive, work);
    QDir(work).removeRecursively();
    return failed;
}
