#pragma once

// Helpers of the file tests: a file size limit, the kind of an entry as the
// kernel sees it, and a probe that runs one step of a test as another user.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Lowers the file size limit of the process while it lives, so a write
// beyond `bytes` fails with EFBIG instead of stopping the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_saved {};
    void (*m_handler)(int) = nullptr;
    bool m_active = false;
};

// Tells whether anybody opened the named pipes at `paths` for reading
// while it lived. A reader that waits for a writer would block: the watch
// is that writer, so the reader goes on, and the watch says it was needed.
class PipeReaderWatch
{
public:
    explicit PipeReaderWatch(const QStringList &paths)
    {
        for (const QString &path : paths)
            m_paths.append(QFile::encodeName(path));
        m_thread = std::thread([this] {
            while (!m_done) {
                for (const QByteArray &path : qAsConst(m_paths)) {
                    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                    if (fd >= 0) {
                        m_opened = true;
                        ::close(fd);
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~PipeReaderWatch() { stop(); }

    // Ends the watch; true when a reader had a pipe open.
    bool stop()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_opened;
    }

private:
    QList<QByteArray> m_paths;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_opened{false};
    std::thread m_thread;
};

// What lies at `path` itself (a final symbolic link is not followed):
// "file", "folder", "link", "fifo", "device", "other" or "missing".
inline QString entryKind(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    if (S_ISREG(st.st_mode))
        return QStringLiteral("file");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("folder");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("fifo");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("device");
    return QStringLiteral("other");
}

// Checks "path=kind" items (paths below `root`) against entryKind.
inline QString unexpectedEntries(const QString &root, const QStringList &expected)
{
    QStringList wrong;
    for (const QString &item : expected) {
        const QString path = item.section(QLatin1Char('='), 0, 0);
        const QString kind = entryKind(root + QLatin1Char('/') + path);
        if (kind != item.section(QLatin1Char('='), 1))
            wrong << path + QStringLiteral(" is ") + kind;
    }
    return wrong.join(QStringLiteral(", "));
}

// The probe's user (nobody), and another user that owns files the probe
// works on. The probe answers through its exit code.
constexpr uid_t kProbeUid = 65534;
constexpr uid_t kOtherUid = 65533;
constexpr int kProbeTrue = 10;
constexpr int kProbeFalse = 11;

struct ProbeRun {
    QString skipReason;   // set when the probe could not be run at all
    int exitCode = -1;
    QString output;
};

// Runs this test program once more in its probe mode as the user kProbeUid,
// through setpriv or runuser. Only root can hand files to other users and
// drop to another user, so anybody else gets a skip reason.
inline ProbeRun runProbeAsOtherUser(const QStringList &arguments)
{
    ProbeRun run;
    if (::geteuid() != 0) {
        run.skipReason = QStringLiteral("needs root to hand files to other users and to run as uid 65534");
        return run;
    }
    QString tool = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QStringList args;
    if (!tool.isEmpty()) {
        args << QStringLiteral("--reuid=%1").arg(kProbeUid) << QStringLiteral("--regid=%1").arg(kProbeUid)
             << QStringLiteral("--clear-groups");
    } else {
        tool = QStandardPaths::findExecutable(QStringLiteral("runuser"));
        if (tool.isEmpty()) {
            run.skipReason = QStringLiteral("neither setpriv nor runuser is installed");
            return run;
        }
        args << QStringLiteral("-u") << QStringLiteral("nobody");
    }
    args << QStringLiteral("--") << QCoreApplication::applicationFilePath() << QStringLiteral("--probe") << arguments;

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, args);
    if (!process.waitForFinished(120000)) {
        run.skipReason = QStringLiteral("the probe did not finish: ") + process.errorString();
        return run;
    }
    run.output = QString::fromLocal8Bit(process.readAll());
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    // 126 and 127: the tool could not start the program as that user.
    if (run.exitCode == 126 || run.exitCode == 127)
        run.skipReason = QStringLiteral("uid 65534 cannot run ") + QCoreApplication::applicationFilePath();
    return run;
}

// The main function of a test program that doubles as its own probe: with
// the first argument "--probe" it runs `probe(the other arguments)` and
// exits with kProbeTrue or kProbeFalse instead of running the tests.
#define MAPORA_QTEST_MAIN_WITH_PROBE(TestObject, Application, probe)                                                 \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        if (argc >= 2 && qstrcmp(argv[1], "--probe") == 0) {                                                         \
            QCoreApplication app(argc, argv);                                                                          \
            return probe(QCoreApplication::arguments().mid(2)) ? kProbeTrue : kProbeFalse;                             \
        }                                                                                                              \
        Application app(argc, argv);                                                                                   \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject test;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
