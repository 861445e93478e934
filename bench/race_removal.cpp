// Races FileFolder's tree removal and tree copy against a process that
// keeps swapping a real folder of the tree with a link to a folder outside
// it, and counts what happened outside.
//
//   race_removal [--rounds N] [--files F] [--mode removal|copy|both] [--base FOLDER]
//
// Every round makes, below FOLDER (by default /dev/shm, a tmpfs):
//   outside/        F files that nothing may touch (for the removal named
//                   like files of the swapped folder)
//   swap -> outside a symbolic link
//   tree/           files and tree/sub/, a real folder with files and
//                   folders of its own (removal)
//   src/, dst/sub/  a tree and a target that it is merged into (copy)
// and starts a swapper process that exchanges tree/sub (or dst/sub) with
// swap (renameat2 with RENAME_EXCHANGE) as fast as it can, while this
// process runs FileFolder.removeFolder("tree", true) (or
// copyFile("src", "<base>/dst")). Then it stops the swapper and counts the
// files of outside/: removal must lose none, the copy must add none.
// N is 300 by default; the exit code is 1 when anything outside changed.

#include "BenchSupport.h"
#include "TkFileFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool makeFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd >= 0 && ::write(fd, "x", 1) == 1 && ::close(fd) == 0;
}

bool makeFiles(const QByteArray &folder, const char *prefix, int count)
{
    if (::mkdir(folder.constData(), 0755) != 0 && errno != EEXIST)
        return false;
    for (int i = 0; i < count; ++i) {
        if (!makeFile(folder + '/' + prefix + QByteArray::number(i)))
            return false;
    }
    return true;
}

int countFiles(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size();
}

// Exchanges `a` and `b` until it is killed; the child of a fork, so it
// does nothing but system calls. Returns once the first exchange is done,
// so that the race starts with the swapper running.
pid_t startSwapper(const QByteArray &a, const QByteArray &b)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        while (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) != 0) {
        }
        if (::write(ready[1], "r", 1) != 1)
            ::_exit(1);
        ::close(ready[1]);
        for (;;)
            ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE);
    }
    ::close(ready[1]);
    char byte = 0;
    while (pid > 0 && ::read(ready[0], &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    return pid;
}

void stopSwapper(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

struct Result
{
    int rounds = 0;
    int changedRounds = 0;
    int changedFiles = 0;
    int succeeded = 0;
};

// One round; false when the round could not be set up.
bool runRound(const QString &base, bool copy, int files, Result *result)
{
    const QByteArray root = QFile::encodeName(base);
    const QByteArray outside = root + "/outside";
    const QByteArray swap = root + "/swap";
    QByteArray swapped;
    // For the removal the outside files bear the names of files in the
    // swapped folder: a removal by path through the link meets them. For
    // the copy they do not, so that a copy through the link can add files.
    if (!makeFiles(outside, copy ? "o" : "s", files) || ::symlink(outside.constData(), swap.constData()) != 0)
        return false;
    if (copy) {
        if (!makeFiles(root + "/src", "a", 20) || !makeFiles(root + "/src/sub", "s", 200)
            || !makeFiles(root + "/dst", "d", 1) || !makeFiles(root + "/dst/sub", "t", 1))
            return false;
        swapped = root + "/dst/sub";
    } else {
        if (!makeFiles(root + "/tree", "a", 20) || !makeFiles(root + "/tree/sub", "s", 100))
            return false;
        for (int i = 0; i < 10; ++i) {
            if (!makeFiles(root + "/tree/sub/d" + QByteArray::number(i), "f", 10))
                return false;
        }
        swapped = root + "/tree/sub";
    }

    const pid_t swapper = startSwapper(swapped, swap);
    TkFileFolder folder(base, nullptr);
    const bool ok = copy ? folder.copyFile(QStringLiteral("src"), base + QStringLiteral("/dst"))
                         : folder.removeFolder(QStringLiteral("tree"), true);
    stopSwapper(swapper);

    const int now = countFiles(base + QStringLiteral("/outside"));
    const int changed = copy ? now - files : files - now;
    ++result->rounds;
    result->succeeded += ok ? 1 : 0;
    if (changed != 0) {
        ++result->changedRounds;
        result->changedFiles += changed;
    }
    // Cleared for the next round without following any link.
    return QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"),
                                                     base + QStringLiteral("/outside"), base + QStringLiteral("/swap"),
                                                     base + QStringLiteral("/tree"), base + QStringLiteral("/src"),
                                                     base + QStringLiteral("/dst")}) == 0;
}

bool runMode(const QString &base, bool copy, int rounds, int files)
{
    Result result;
    for (int round = 0; round < rounds; ++round) {
        if (!runRound(base, copy, files, &result)) {
            std::fprintf(stderr, "round %d could not be set up in %s\n", round, qPrintable(base));
            return false;
        }
    }
    if (copy)
        std::printf("tree copy: %d rounds, %d copies succeeded; files written outside: %d in %d rounds\n",
                    result.rounds, result.succeeded, result.changedFiles, result.changedRounds);
    else
        std::printf("removal:   %d rounds, %d removals succeeded; outside files lost: %d in %d rounds\n",
                    result.rounds, result.succeeded, result.changedFiles, result.changedRounds);
    std::fflush(stdout);
    return result.changedRounds == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The copy reports every refused entry: not what is measured here.
    QLoggingCategory::setFilterRules(QStringLiteral("Quil.MaporaExtras.*=false"));
    const QStringList args = app.arguments();
    const int rounds = countOption(args, QStringLiteral("--rounds"), 300);
    const int files = countOption(args, QStringLiteral("--files"), 20);
    const QString mode = optionValue(args, QStringLiteral("--mode"), QStringLiteral("both"));
    QTemporaryDir base(optionValue(args, QStringLiteral("--base"), QStringLiteral("/dev/shm"))
                       + QStringLiteral("/maporaextras-race-XXXXXX"));
    if (!base.isValid()) {
        std::fprintf(stderr, "no folder for the race: %s\n", qPrintable(base.errorString()));
        return 2;
    }
    std::printf("%d rounds, %d files outside, in %s\n", rounds, files, qPrintable(base.path()));
    bool clean = true;
    if (mode != QLatin1String("copy"))
        clean = runMode(base.path(), false, rounds, files) && clean;
    if (mode != QLatin1String("removal"))
        clean = runMode(base.path(), true, rounds, files) && clean;
    return clean ? 0 : 1;
}
