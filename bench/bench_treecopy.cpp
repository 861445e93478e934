// Times FileFolder.copyFile of a folder tree against `cp -r` of the same
// tree, each as a whole process, in the same run, and prints the medians,
// the spread and the ratios.
//
//   bench_treecopy [--runs N] [--out FOLDER] [--no-qml]
//
// The tree (40 000 files of 0 to 1800 bytes in 800 folders: 40 folders of
// 19 subfolders each, 50 files in every one of them) is made below FOLDER,
// by default /dev/shm (a tmpfs), and removed at the end. After one untimed
// round, every round copies it once with each contender, in rotating order,
// into a target that does not exist yet:
//   host   this program started again as `--copy FOLDER NAME TARGET`: a
//          QCoreApplication and one TkFileFolder::copyFile
//   qml    the qml runtime on a document that calls FileFolder.copyFile
//          (left out with --no-qml or when no qml tool was found)
//   cp -r  GNU cp
// Each copy is checked (same files, same bytes; the untimed round compares
// every file with diff -r) and removed again, untimed.
//
//   bench_treecopy --background [--runs N] [--out FOLDER]
//
// copies the same tree in this process instead, N times each with a
// FileFolder whose `asynchronous` is set and with one whose is not, in
// turn, while a 16 ms timer ticks on the main thread. It prints each run's
// time, the largest gap between two ticks (from the copyFile call to the
// copyCompleted signal) and the signals the run sent.

#include "BenchSupport.h"
#include "TkFileFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int TopFolders = 40;
constexpr int SubFolders = 19;
constexpr int FilesPerFolder = 50;
constexpr int LargestFile = 1800;

// Writes FilesPerFolder files of pseudo-random size and content into `folder`.
bool fillFolder(const QByteArray &folder, quint32 &state)
{
    char bytes[LargestFile];
    for (int i = 0; i < FilesPerFolder; ++i) {
        // xorshift32: the same tree on every run.
        auto next = [&state] {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state;
        };
        const int size = int(next() % (LargestFile + 1));
        for (int b = 0; b < size; ++b)
            bytes[b] = char(next());
        const QByteArray name = folder + "/f" + QByteArray::number(i) + ".dat";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const bool ok = ::write(fd, bytes, size_t(size)) == size;
        if (::close(fd) != 0 || !ok)
            return false;
    }
    return true;
}

bool makeTree(const QString &root)
{
    quint32 state = 2463534242u;
    const QByteArray base = QFile::encodeName(root);
    if (::mkdir(base.constData(), 0755) != 0)
        return false;
    for (int t = 0; t < TopFolders; ++t) {
        const QByteArray top = base + "/d" + QByteArray::number(t);
        if (::mkdir(top.constData(), 0755) != 0 || !fillFolder(top, state))
            return false;
        for (int s = 0; s < SubFolders; ++s) {
            const QByteArray sub = top + "/s" + QByteArray::number(s);
            if (::mkdir(sub.constData(), 0755) != 0 || !fillFolder(sub, state))
                return false;
        }
    }
    return true;
}

struct TreeSize
{
    int folders = 0;
    int files = 0;
    qint64 bytes = 0;
    bool operator==(const TreeSize &other) const
    {
        return folders == other.folders && files == other.files && bytes == other.bytes;
    }
};

TreeSize treeSize(const QString &folder)
{
    TreeSize size;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileInfo().isDir()) {
            ++size.folders;
        } else {
            ++size.files;
            size.bytes += it.fileInfo().size();
        }
    }
    return size;
}

// Runs `program` with `arguments` and waits for it: the seconds it took from
// the start to its end, or a negative value when it failed.
double timeProcess(const QString &program, const QStringList &arguments)
{
    QList<QByteArray> texts{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        texts.append(QFile::encodeName(argument));
    QVector<char *> argv;
    for (QByteArray &text : texts)
        argv.append(text.data());
    argv.append(nullptr);

    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv.at(0), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    const double seconds = timer.nsecsElapsed() / 1e9;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

struct Contender
{
    QString name;
    QString program;
    QStringList arguments;          // the target is appended
    QVector<double> seconds;
};

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// One copy in this process while a 16 ms timer ticks on this thread.
struct InProcessRun
{
    bool ok = false;
    double seconds = 0;
    qint64 largestGapMs = 0;
    int ticks = 0;
    int progressSignals = 0;
    int amountSignals = 0;
};

InProcessRun copyInProcess(const QString &folderPath, const QString &target, bool asynchronous)
{
    InProcessRun run;
    TkFileFolder folder(folderPath, nullptr);
    folder.setAsynchronous(asynchronous);
    QEventLoop loop;
    QElapsedTimer sinceTick;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(16);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        run.largestGapMs = qMax(run.largestGapMs, sinceTick.restart());
        ++run.ticks;
    });
    QObject::connect(&folder, &TkFileFolder::copyProgress, [&] { ++run.progressSignals; });
    QObject::connect(&folder, &TkFileFolder::amountsChanged, [&] { ++run.amountSignals; });
    QObject::connect(&folder, &TkFileFolder::copyCompleted, &loop, [&](bool success) {
        run.ok = success;
        loop.quit();
    });
    QElapsedTimer total;
    timer.start();
    sinceTick.start();
    total.start();
    if (folder.copyFile(QStringLiteral("tree"), target) && asynchronous)
        loop.exec();
    run.seconds = total.nsecsElapsed() / 1e9;
    run.largestGapMs = qMax(run.largestGapMs, sinceTick.elapsed());
    return run;
}

int copyInProcessRuns(const QString &base, const QString &target, const TreeSize &expected, int runs)
{
    QVector<double> seconds[2];
    qint64 largestGap[2] = {0, 0};
    std::printf("%-12s %4s %9s %12s %6s %9s %9s\n", "run", "", "seconds", "largest gap", "ticks", "progress",
                "amounts");
    for (int round = 0; round < runs; ++round) {
        for (const bool asynchronous : {round % 2 == 0, round % 2 != 0}) {
            const InProcessRun run = copyInProcess(base, target, asynchronous);
            if (!run.ok || !(treeSize(target) == expected) || !QDir(target).removeRecursively()) {
                std::fprintf(stderr, "the copy failed or copied something else\n");
                return 1;
            }
            std::printf("%-12s %4d %9.3f %9lld ms %6d %9d %9d\n", asynchronous ? "background" : "synchronous",
                        round + 1, run.seconds, run.largestGapMs, run.ticks, run.progressSignals, run.amountSignals);
            std::fflush(stdout);
            seconds[asynchronous].append(run.seconds);
            largestGap[asynchronous] = qMax(largestGap[asynchronous], run.largestGapMs);
        }
    }
    std::printf("\nbackground:  median %.3f s, largest gap of all runs %lld ms\n", median(seconds[1]), largestGap[1]);
    std::printf("synchronous: median %.3f s, largest gap of all runs %lld ms\n", median(seconds[0]), largestGap[0]);
    std::printf("background / synchronous: %.2f (medians)\n", median(seconds[1]) / median(seconds[0]));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--copy") == 0) {
        QCoreApplication app(argc, argv);
        TkFileFolder folder(QString::fromLocal8Bit(argv[2]), nullptr);
        return folder.copyFile(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4])) ? 0 : 1;
    }

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = countOption(args, QStringLiteral("--runs"), 5);
    const QString out = optionValue(args, QStringLiteral("--out"), QStringLiteral("/dev/shm"));

    QTemporaryDir work(out + QStringLiteral("/maporaextras-treecopy-XXXXXX"));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot make a folder below %s\n", qPrintable(out));
        return 1;
    }
    const QString source = work.filePath(QStringLiteral("tree"));
    const QString target = work.filePath(QStringLiteral("copy"));
    if (!makeTree(source)) {
        std::fprintf(stderr, "cannot make the tree in %s\n", qPrintable(source));
        return 1;
    }
    const TreeSize expected = treeSize(source);
    if (args.contains(QStringLiteral("--background"))) {
        std::printf("tree %s: %d files, %d folders, %.1f MB; %d runs each\n\n", qPrintable(source), expected.files,
                    expected.folders, expected.bytes / 1e6, runs);
        return copyInProcessRuns(work.path(), target, expected, runs);
    }

    QVector<Contender> contenders{
        {QStringLiteral("host copyFile"), app.applicationFilePath(),
         {QStringLiteral("--copy"), work.path(), QStringLiteral("tree")}, {}},
        {QStringLiteral("cp -r"), QStringLiteral("cp"), {QStringLiteral("-r"), source}, {}},
    };
    const QString qml = QStandardPaths::findExecutable(QStringLiteral("qml"));
    if (!args.contains(QStringLiteral("--no-qml")) && !qml.isEmpty()) {
        QFile document(work.filePath(QStringLiteral("copy.qml")));
        if (!document.open(QIODevice::WriteOnly))
            return 1;
        // The qml tool of Qt 5.15 wants a visual root; it gets an empty
        // item on the offscreen platform with the software renderer.
        document.write(QStringLiteral("import QtQuick 2.15\n"
                                      "import Quil.MaporaExtras 1.1\n"
                                      "Item {\n"
                                      "    property FileFolder folder: FileFolder { path: %1 }\n"
                                      "    Component.onCompleted: {\n"
                                      "        const ok = folder.copyFile(\"tree\", Qt.application.arguments[Qt.application.arguments.length - 1])\n"
                                      "        Qt.callLater(Qt.exit, ok ? 0 : 1)\n"
                                      "    }\n"
                                      "}\n")
                           .arg(quoted(work.path()))
                           .toUtf8());
        document.close();
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_QUICK_BACKEND", "software");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(work.path()));
        contenders.append({QStringLiteral("qml copyFile"), qml,
                           {QStringLiteral("-I"), QStringLiteral(MAPORA_BENCH_QML_DIR), document.fileName(),
                            QStringLiteral("--")},
                           {}});
    }

    std::printf("tree %s: %d files, %d folders, %.1f MB; %d runs per contender\n", qPrintable(source),
                expected.files, expected.folders, expected.bytes / 1e6, runs);
    std::fflush(stdout);
    for (int round = -1; round < runs; ++round) {
        // Rotated so that no contender always follows the same one.
        for (int k = 0; k < contenders.size(); ++k) {
            Contender &contender = contenders[(k + qMax(round, 0)) % contenders.size()];
            const double seconds = timeProcess(contender.program, contender.arguments + QStringList{target});
            const TreeSize copied = treeSize(target);
            const bool same = round >= 0
                || QProcess::execute(QStringLiteral("diff"), {QStringLiteral("-r"), QStringLiteral("-q"), source,
                                                              target}) == 0;
            if (seconds < 0 || !(copied == expected) || !same) {
                std::fprintf(stderr, "%s failed or copied %d files, %d folders, %lld bytes\n",
                             qPrintable(contender.name), copied.files, copied.folders, copied.bytes);
                return 1;
            }
            if (round >= 0)
                contender.seconds.append(seconds);
            if (!QDir(target).removeRecursively())
                return 1;
        }
    }

    std::printf("\n%-14s %9s %9s %9s\n", "contender", "best s", "median s", "worst s");
    for (const Contender &contender : qAsConst(contenders))
        std::printf("%-14s %9.3f %9.3f %9.3f\n", qPrintable(contender.name),
                    *std::min_element(contender.seconds.begin(), contender.seconds.end()), median(contender.seconds),
                    *std::max_element(contender.seconds.begin(), contender.seconds.end()));
    const Contender &cp = contenders.at(1);
    std::printf("\n");
    for (const Contender &contender : qAsConst(contenders)) {
        if (&contender == &cp)
            continue;
        // The ratio of the medians, and the spread of the ratios of the
        // rounds (each round times both in a row, under the same load).
        QVector<double> ratios;
        for (int i = 0; i < runs; ++i)
            ratios.append(contender.seconds.at(i) / cp.seconds.at(i));
        std::printf("%s / cp -r: %.2f (medians); per round %.2f to %.2f, median %.2f\n", qPrintable(contender.name),
                    median(contender.seconds) / median(cp.seconds), *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()), median(ratios));
    }
    return 0;
}
