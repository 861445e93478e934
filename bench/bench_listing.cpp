// Lists a tree of 40 000 files in 800 folders on tmpfs as whole processes:
// a qml process whose FileFolder lists the tree against the shell pipeline
// find | sort, interleaved round by round, and prints the medians and the
// ratios. Also the same qml process without the listing (the engine's own
// start) and the listing in process.
//
//   bench_listing [--rounds N] [--tmpfs FOLDER]
#include "FolderListing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const int topFolders = 32;
const int subFoldersEach = 24; // 32 + 32 * 24 = 800 folders
const int filesTotal = 40000;
const int largestFile = 1800;

bool makeTree(const QString &root)
{
    QStringList folders;
    for (int t = 0; t < topFolders; ++t) {
        const QString top = root + QStringLiteral("/Top%1").arg(t, 2, 10, QLatin1Char('0'));
        folders.append(top);
        for (int s = 0; s < subFoldersEach; ++s)
            folders.append(top + QStringLiteral("/sub_%1").arg(s, 2, 10, QLatin1Char('0')));
    }
    const QByteArray filler(largestFile, 'x');
    for (int i = 0; i < filesTotal; ++i) {
        const QString &folder = folders.at(i % folders.size());
        if (i < folders.size() && !QDir().mkpath(folder))
            return false;
        // Mixed case, so that the sort by name has work to do.
        QFile file(folder + (i % 3 ? QStringLiteral("/file%1.dat") : QStringLiteral("/File%1.txt")).arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        const int size = int((quint64(i) * 7919) % (largestFile + 1));
        file.write(filler.constData(), size);
    }
    return true;
}

bool writeScript(const QString &path, const QString &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    // The qml tool runs only a script whose root is a window; this one is
    // never shown, and quits once the event loop runs.
    file.write(QStringLiteral("import QtQml 2.15\nimport QtQuick.Window 2.15\nimport Quil.MaporaExtras 1.1\n"
                              "Window {\n    FileFolder { id: folder }\n    Component.onCompleted: {\n%1\n"
                              "        Qt.callLater(Qt.quit)\n    }\n}\n")
                   .arg(body)
                   .toUtf8());
    return true;
}

QString quoted(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

struct Command
{
    const char *name;
    QString shell;
    QVector<double> ms;
};

// Milliseconds from start to exit of `sh -c command`; its output is kept.
double runOnce(const QString &command, QByteArray *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    process.waitForFinished(-1);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (output)
        *output = process.readAll().trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "failed: %s\n%s\n", qPrintable(command), process.readAll().constData());
        return -1;
    }
    return ms;
}

double quantile(QVector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    const double at = q * (values.size() - 1);
    const int below = int(at);
    const int above = std::min(below + 1, int(values.size()) - 1);
    return values[below] + (values[above] - values[below]) * (at - below);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int rounds = 11;
    QString tmpfs = QStringLiteral("/dev/shm");
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds") && i + 1 < args.size())
            rounds = qMax(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--tmpfs") && i + 1 < args.size())
            tmpfs = args[++i];
    }

    QTemporaryDir work(tmpfs + QStringLiteral("/mapora-bench-listing-XXXXXX"));
    const QString tree = work.filePath(QStringLiteral("tree"));
    if (!work.isValid() || !makeTree(tree)) {
        std::fprintf(stderr, "cannot make the tree below %s\n", qPrintable(tmpfs));
        return 1;
    }
    const QString files = work.filePath(QStringLiteral("files.qml"));
    const QString folders = work.filePath(QStringLiteral("folders.qml"));
    const QString empty = work.filePath(QStringLiteral("empty.qml"));
    QString treeText = tree;
    treeText.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    const QString pathLine = QStringLiteral("        folder.path = \"%1\"\n").arg(treeText);
    if (!writeScript(files, pathLine + QStringLiteral("        console.info(folder.fileNames(\"*\", true).length)"))
        || !writeScript(folders, pathLine + QStringLiteral("        console.info(folder.folderNames(\"*\", true).length)"))
        || !writeScript(empty, QStringLiteral("        console.info(0)"))) {
        std::fprintf(stderr, "cannot write the scripts\n");
        return 1;
    }

    // The engine runs headless, its cache of compiled scripts off, so that
    // every round compiles the same small script as the first.
    const QString qml = QStringLiteral("QT_QPA_PLATFORM=offscreen QML_DISABLE_DISK_CACHE=1 %1 -I %2 ")
                            .arg(quoted(QStringLiteral(MAPORA_BENCH_QML_TOOL)), quoted(QStringLiteral(MAPORA_BENCH_IMPORT_DIR)));
    QVector<Command> commands = {
        {"find -type f | sort", QStringLiteral("find %1 -type f | sort >/dev/null").arg(quoted(tree)), {}},
        {"qml fileNames(\"*\", true)", qml + quoted(files), {}},
        {"find -mindepth 1 -type d | sort", QStringLiteral("find %1 -mindepth 1 -type d | sort >/dev/null").arg(quoted(tree)), {}},
        {"qml folderNames(\"*\", true)", qml + quoted(folders), {}},
        {"qml, no listing", qml + quoted(empty), {}},
    };

    // The counts must agree before any timing means something.
    QByteArray out;
    runOnce(QStringLiteral("find %1 -type f | wc -l").arg(quoted(tree)), &out);
    const QByteArray findFiles = out;
    runOnce(QStringLiteral("find %1 -mindepth 1 -type d | wc -l").arg(quoted(tree)), &out);
    const QByteArray findFolders = out;
    runOnce(commands[1].shell, &out);
    const bool filesAgree = out.endsWith(" " + findFiles);
    runOnce(commands[3].shell, &out);
    const bool foldersAgree = out.endsWith(" " + findFolders);
    std::printf("tree: %s files, %s folders on %s; counts agree with find: files %s, folders %s\n",
                findFiles.constData(), findFolders.constData(), qPrintable(tmpfs), filesAgree ? "yes" : "NO",
                foldersAgree ? "yes" : "NO");
    if (!filesAgree || !foldersAgree)
        return 1;
    std::printf("locale for sort: LC_ALL=%s LANG=%s\n", qgetenv("LC_ALL").constData(), qgetenv("LANG").constData());

    // One warm-up round, then the commands interleaved round by round.
    for (Command &command : commands)
        runOnce(command.shell, nullptr);
    for (int r = 0; r < rounds; ++r) {
        for (Command &command : commands) {
            const double ms = runOnce(command.shell, nullptr);
            if (ms < 0)
                return 1;
            command.ms.append(ms);
        }
    }

    QVector<double> inProcess;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        const QStringList names = Extras::FolderListing::names(QDir(tree), {QStringLiteral("*")}, true, true);
        inProcess.append(double(timer.nsecsElapsed()) / 1e6);
        if (names.size() != filesTotal)
            return 1;
    }

    std::printf("\n%d rounds, whole processes, milliseconds\n", rounds);
    std::printf("%-34s %8s %8s %8s %8s\n", "command", "median", "q1", "q3", "min");
    for (const Command &command : qAsConst(commands))
        std::printf("%-34s %8.1f %8.1f %8.1f %8.1f\n", command.name, quantile(command.ms, 0.5),
                    quantile(command.ms, 0.25), quantile(command.ms, 0.75), quantile(command.ms, 0));
    std::printf("%-34s %8.1f %8.1f %8.1f %8.1f\n", "fileNames in process", quantile(inProcess, 0.5),
                quantile(inProcess, 0.25), quantile(inProcess, 0.75), quantile(inProcess, 0));

    // Ratios of the medians, and the median of the per-round ratios, which
    // is less sensitive to a slow stretch of the machine.
    auto ratios = [&](int ours, int peer) {
        QVector<double> perRound;
        for (int r = 0; r < rounds; ++r)
            perRound.append(commands[ours].ms[r] / commands[peer].ms[r]);
        std::printf("%-34s %.2fx of medians, %.2fx median of rounds (q1 %.2fx, q3 %.2fx)\n",
                    qPrintable(QStringLiteral("%1 / %2").arg(QLatin1String(ours == 1 ? "fileNames" : "folderNames"),
                                                              QLatin1String("find | sort"))),
                    quantile(commands[ours].ms, 0.5) / quantile(commands[peer].ms, 0.5), quantile(perRound, 0.5),
                    quantile(perRound, 0.25), quantile(perRound, 0.75));
    };
    std::printf("\n");
    ratios(1, 0);
    ratios(3, 2);
    return 0;
}
