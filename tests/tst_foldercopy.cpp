#include "CopyJob.h"
#include "FileLayer.h"
#include "FileTestSupport.h"
#include "JobRelay.h"
#include "MessageCapture.h"
#include "TkFileFolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <utility>
#include <atomic>
#include <memory>
#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

// The kernel's copy calls as the code under test sees them: this program's
// own definitions come before the C library's. Each can be refused with an
// error number, and copy_file_range can be made to copy in short pieces.
namespace {
std::atomic<int> copyFileRangeError{0};
std::atomic<size_t> copyFileRangePiece{0};
std::atomic<int> copyFileRangeCalls{0};
std::atomic<int> sendfileError{0};
std::atomic<int> sendfileCalls{0};
} // namespace

extern "C" ssize_t copy_file_range(int in, loff_t *inOffset, int out, loff_t *outOffset, size_t length,
                                   unsigned int flags)
{
    ++copyFileRangeCalls;
    if (copyFileRangeError) {
        errno = copyFileRangeError;
        return -1;
    }
    if (copyFileRangePiece)
        length = std::min(length, size_t(copyFileRangePiece));
    return ::syscall(SYS_copy_file_range, in, inOffset, out, outOffset, length, flags);
}

extern "C" ssize_t sendfile(int out, int in, off_t *offset, size_t count)
{
    ++sendfileCalls;
    if (sendfileError) {
        errno = sendfileError;
        return -1;
    }
    return ::syscall(SYS_sendfile, out, in, offset, count);
}

// Forwards the reports of a copy job on the worker. `change` runs once,
// right after the source was measured; from `cancelAt` bytes copied on,
// the job is told to stop, and the kernel's copy calls made by then are
// counted.
class HookedObserver : public Jobs::Observer
{
public:
    HookedObserver(Jobs::Observer &inner, std::function<void()> change, qint64 cancelAt, int *callsAtCancel)
        : m_inner(inner)
        , m_change(std::move(change))
        , m_cancelAt(cancelAt)
        , m_callsAtCancel(callsAtCancel)
    {
    }

    void progress(const QString &name, const QString &output, double percent) override
    {
        m_inner.progress(name, output, percent);
    }
    void error(const QString &name, const QString &output, int result) override { m_inner.error(name, output, result); }
    bool canceled() override { return (m_cancelAt >= 0 && m_processed >= m_cancelAt) || m_inner.canceled(); }
    void setTotals(qint64 bytes, int entries) override
    {
        m_inner.setTotals(bytes, entries);
        if (m_change)
            std::exchange(m_change, nullptr)();
    }
    void addProcessed(qint64 bytes, int entries) override
    {
        if (m_processed < m_cancelAt && m_processed + bytes >= m_cancelAt)
            *m_callsAtCancel = copyFileRangeCalls;
        m_processed += bytes;
        m_inner.addProcessed(bytes, entries);
    }

private:
    Jobs::Observer &m_inner;
    std::function<void()> m_change;
    qint64 m_cancelAt;
    int *m_callsAtCancel;
    qint64 m_processed = 0;
};

// Tree copies through open folders: what they copy where the kernel refuses
// its copy calls, the permissions of the copies, and names QDir would take
// for something else; copies as background jobs.
class tst_FolderCopy : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void copyFileTo_copiesEveryByteWhateverTheKernelRefuses_data();
    void copyFileTo_copiesEveryByteWhateverTheKernelRefuses();
    void copyTree_givesFilesThePermissionsOfQFileCopy_data();
    void copyTree_givesFilesThePermissionsOfQFileCopy();
    void copyTree_copiesNamesBeginningWithAColon();
    void copyJob_endsOnceAndTakesBackWhatItMade_data();
    void copyJob_endsOnceAndTakesBackWhatItMade();

private:
    QString write(const QString &relative, const QByteArray &bytes);
    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_FolderCopy::init()
{
    copyFileRangeError = 0;
    copyFileRangePiece = 0;
    copyFileRangeCalls = 0;
    sendfileError = 0;
    sendfileCalls = 0;
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

QString tst_FolderCopy::write(const QString &relative, const QByteArray &bytes)
{
    const QString path = m_dir->filePath(relative);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void tst_FolderCopy::copyFileTo_copiesEveryByteWhateverTheKernelRefuses_data()
{
    QTest::addColumn<int>("copyFileRange");     // error number, 0: works
    QTest::addColumn<int>("piece");             // bytes per copy_file_range call, 0: any
    QTest::addColumn<int>("sendfile");          // error number, 0: works
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("sizeLimit");      // of the process's files, 0: none
    QTest::addColumn<bool>("expected");

    QTest::newRow("kernel copy") << 0 << 0 << 0 << 300000 << qint64(0) << true;
    QTest::newRow("kernel copy in short pieces") << 0 << 1000 << 0 << 300000 << qint64(0) << true;
    QTest::newRow("empty file") << 0 << 0 << 0 << 0 << qint64(0) << true;
    QTest::newRow("copy_file_range missing: sendfile") << ENOSYS << 0 << 0 << 300000 << qint64(0) << true;
    QTest::newRow("across file systems: sendfile") << EXDEV << 0 << 0 << 1 << qint64(0) << true;
    QTest::newRow("sendfile refused too: a buffer") << ENOSYS << 0 << EINVAL << 300000 << qint64(0) << true;
    QTest::newRow("file size limit reached") << 0 << 0 << 0 << 300000 << qint64(100000) << false;
    QTest::newRow("file size limit reached through a buffer")
        << ENOSYS << 0 << EINVAL << 300000 << qint64(100000) << false;
}

void tst_FolderCopy::copyFileTo_copiesEveryByteWhateverTheKernelRefuses()
{
    QFETCH(int, copyFileRange);
    QFETCH(int, piece);
    QFETCH(int, sendfile);
    QFETCH(int, size);
    QFETCH(qint64, sizeLimit);
    QFETCH(bool, expected);

    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    QVERIFY(!write(QStringLiteral("src/f"), bytes).isEmpty());
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("dst"))));
    using Extras::FileLayer::Folder;
    const Folder from = Folder::open(m_dir->filePath(QStringLiteral("src")));
    const Folder to = Folder::open(m_dir->filePath(QStringLiteral("dst")));
    QVERIFY(from.isOpen() && to.isOpen());

    copyFileRangeError = copyFileRange;
    copyFileRangePiece = size_t(piece);
    sendfileError = sendfile;
    bool copied = false;
    {
        FileSizeLimit limit{sizeLimit ? rlim_t(sizeLimit) : RLIM_INFINITY};
        copied = Extras::FileLayer::copyFileInto(from, "f", to);
    }
    copyFileRangeError = 0;
    sendfileError = 0;

    QCOMPARE(copied, expected);
    QVERIFY2(copyFileRangeCalls > 0, "the copy did not ask for copy_file_range");
    if (piece)
        QVERIFY(copyFileRangeCalls > size / piece);
    if (copyFileRange)
        QVERIFY2(sendfileCalls > 0, "no sendfile after copy_file_range was refused");
    const QString target = m_dir->filePath(QStringLiteral("dst/f"));
    if (!expected) {
        QVERIFY2(!QFileInfo::exists(target), "a failed copy left its file behind");
        return;
    }
    QFile copy(target);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QVERIFY2(copy.readAll() == bytes, "the copy holds other bytes");
}

void tst_FolderCopy::copyTree_givesFilesThePermissionsOfQFileCopy_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("owner read-write") << 0644;
    QTest::newRow("read-only") << 0444;
    QTest::newRow("owner read only") << 0400;
    QTest::newRow("no permissions") << 0000;
    QTest::newRow("write only") << 0200;
    QTest::newRow("read-only executable") << 0555;
    QTest::newRow("executable by the group alone") << 0654;
    QTest::newRow("group bits only") << 0070;
    QTest::newRow("set-user-id") << 04755;
    QTest::newRow("set-group-id") << 02710;
    QTest::newRow("sticky") << 01644;
}

void tst_FolderCopy::copyTree_givesFilesThePermissionsOfQFileCopy()
{
    QFETCH(int, mode);
    const QString source = write(QStringLiteral("src/f"), "bytes");
    QVERIFY(!source.isEmpty());
    QCOMPARE(::chmod(QFile::encodeName(source).constData(), mode_t(mode)), 0);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("reference"))));
    const QString reference = m_dir->filePath(QStringLiteral("reference/f"));
    const bool referenceCopied = QFile::copy(source, reference);

    copyFileRangeCalls = 0;
    TkFileFolder folder(m_dir->path(), nullptr);
    QCOMPARE(folder.copyFile(QStringLiteral("src"), m_dir->filePath(QStringLiteral("dst"))), referenceCopied);
    if (!referenceCopied)
        return;
    QVERIFY2(copyFileRangeCalls > 0, "the file was not copied through the open folders");
    struct stat copied {};
    struct stat expected {};
    QCOMPARE(::stat(QFile::encodeName(m_dir->filePath(QStringLiteral("dst/f"))).constData(), &copied), 0);
    QCOMPARE(::stat(QFile::encodeName(reference).constData(), &expected), 0);
    QCOMPARE(QString::number(copied.st_mode & 07777, 8), QString::number(expected.st_mode & 07777, 8));
}

void tst_FolderCopy::copyTree_copiesNamesBeginningWithAColon()
{
    QVERIFY(!write(QStringLiteral("src/:file"), "a").isEmpty());
    QVERIFY(!write(QStringLiteral("src/:folder/b"), "b").isEmpty());
    QVERIFY(!write(QStringLiteral("src/z"), "z").isEmpty());
    TkFileFolder folder(m_dir->path(), nullptr);
    QVERIFY(folder.copyFile(QStringLiteral("src"), m_dir->filePath(QStringLiteral("dst"))));
    const QString wrong = unexpectedEntries(m_dir->path(), {"dst/:file=file", "dst/:folder=folder",
                                                            "dst/:folder/b=file", "dst/z=file"});
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_FolderCopy::copyJob_endsOnceAndTakesBackWhatItMade_data()
{
    QTest::addColumn<bool>("tree");             // src, else src/sub/new/big.bin alone
    QTest::addColumn<QString>("change");        // of the source, after it was measured
    QTest::addColumn<qint64>("cancelAt");       // bytes copied when the job is told to stop, -1: never
    QTest::addColumn<bool>("targetExists");     // dst/old.txt and dst/sub/keep.txt were there before
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("after");     // "path=kind" below the test folder

    // The source: a.txt, sub/b.txt, sub/new/big.bin (three blocks and a
    // bit), z.txt; the target: out/dst (out/big.bin for the file), or dst
    // when it exists.
    const QStringList whole{"out/dst/a.txt=file", "out/dst/sub/b.txt=file", "out/dst/sub/new/big.bin=file",
                            "out/dst/z.txt=file"};
    const QStringList before{"dst/old.txt=file", "dst/sub/keep.txt=file", "dst/a.txt=missing",
                             "dst/sub/b.txt=missing", "dst/sub/new=missing", "dst/z.txt=missing"};
    const QStringList nothing{"out=missing"};
    const int completed = int(Jobs::Outcome::Completed);
    const int canceled = int(Jobs::Outcome::Canceled);
    const int failed = int(Jobs::Outcome::Failed);
    // After the first block of big.bin.
    const qint64 block = 1024 * 1024;

    QTest::newRow("complete") << true << "" << qint64(-1) << false << completed << whole;
    QTest::newRow("complete, merged into an existing target")
        << true << "" << qint64(-1) << true << completed
        << QStringList{"dst/old.txt=file", "dst/sub/keep.txt=file", "dst/sub/new/big.bin=file", "dst/z.txt=file"};
    QTest::newRow("cancel while measuring") << true << "" << qint64(0) << false << canceled << nothing;
    QTest::newRow("cancel within a large file") << true << "" << block << false << canceled << nothing;
    QTest::newRow("cancel within a large file, merged into an existing target")
        << true << "" << block << true << canceled << before;
    QTest::newRow("changed source: a file grew") << true << "grow" << qint64(-1) << false << completed << whole;
    QTest::newRow("vanished source") << true << "vanish" << qint64(-1) << false << failed << nothing;
    QTest::newRow("vanished source, merged into an existing target")
        << true << "vanish" << qint64(-1) << true << failed << before;
    QTest::newRow("FIFO source") << true << "fifo" << qint64(-1) << false << completed
                                 << QStringList{"out/dst/sub/b.txt=fifo", "out/dst/z.txt=file"};
    QTest::newRow("file: complete") << false << "" << qint64(-1) << false << completed
                                    << QStringList{"out/big.bin=file"};
    QTest::newRow("file: cancel within") << false << "" << block << false << canceled
                                         << QStringList{"out=folder", "out/big.bin=missing"};
    QTest::newRow("file: vanished source") << false << "vanish" << qint64(-1) << false << failed
                                           << QStringList{"out=folder", "out/big.bin=missing"};
}

void tst_FolderCopy::copyJob_endsOnceAndTakesBackWhatItMade()
{
    QFETCH(bool, tree);
    QFETCH(QString, change);
    QFETCH(qint64, cancelAt);
    QFETCH(bool, targetExists);
    QFETCH(int, outcome);
    QFETCH(QStringList, after);

    QByteArray big(3 * 1024 * 1024 + 5, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 31 + i / 4093);
    qint64 bytes = big.size();
    for (const char *name : {"src/a.txt", "src/sub/b.txt", "src/z.txt"}) {
        QVERIFY(!write(QString::fromLatin1(name), name).isEmpty());
        bytes += qint64(qstrlen(name));
    }
    const QString bigPath = write(QStringLiteral("src/sub/new/big.bin"), big);
    QVERIFY(!bigPath.isEmpty());
    if (targetExists) {
        QVERIFY(!write(QStringLiteral("dst/old.txt"), "old").isEmpty());
        QVERIFY(!write(QStringLiteral("dst/sub/keep.txt"), "keep").isEmpty());
    }
    QVERIFY(tree || QDir().mkpath(m_dir->filePath(QStringLiteral("out"))));
    const QString source = tree ? m_dir->filePath(QStringLiteral("src")) : bigPath;
    const QString target = m_dir->filePath(targetExists ? QStringLiteral("dst")
                                                        : tree ? QStringLiteral("out/dst") : QStringLiteral("out/big.bin"));
    const QString b = m_dir->filePath(QStringLiteral("src/sub/b.txt"));
    std::unique_ptr<PipeReaderWatch> pipes;
    std::function<void()> changeSource;
    if (change == QLatin1String("grow"))
        changeSource = [&] {
            QFile file(bigPath);
            QVERIFY(file.open(QIODevice::Append) && file.write(QByteArray(100, 'x')) == 100);
            big.append(QByteArray(100, 'x'));
            bytes += 100;
        };
    else if (change == QLatin1String("vanish"))
        changeSource = [&] { QVERIFY(tree ? QDir(source).removeRecursively() : QFile::remove(source)); };
    else if (change == QLatin1String("fifo"))
        changeSource = [&] {
            QVERIFY(QFile::remove(b));
            QCOMPARE(::mkfifo(QFile::encodeName(b).constData(), 0600), 0);
            pipes.reset(new PipeReaderWatch({b}));
            bytes -= qstrlen("src/sub/b.txt");
        };

    MessageCapture capture;
    const Extras::FileLayer::CopyReport report = CopyJob::messages("copy");
    Extras::FileLayer::Copy copy = tree ? Extras::FileLayer::Copy::tree(source, target, report)
                                        : Extras::FileLayer::Copy::entry(source, Extras::FileLayer::Place::whole(target), report);
    QVERIFY(copy.isValid());
    auto job = std::make_shared<CopyJob>(std::move(copy), source, CopyJob::OnFailure::TakeBack);
    int callsAtCancel = -1;
    Jobs::JobRelay relay;
    QVector<QPair<QString, double>> progress;
    connect(&relay, &Jobs::JobRelay::progress, this,
            [&](const QString &name, const QString &, double percent) { progress.append({name, percent}); });
    QVector<Jobs::Outcome> finished;
    connect(&relay, &Jobs::JobRelay::finished, this, [&](Jobs::Outcome outcome) { finished.append(outcome); });
    QVERIFY(relay.start([&, job](Jobs::Observer &observer) {
        HookedObserver hooked(observer, changeSource, cancelAt, &callsAtCancel);
        return job->run(hooked);
    }));
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
    QVERIFY2(!pipes || !pipes->stop(), "the copy opened a named pipe for reading");
    QTest::qWait(20);

    QCOMPARE(finished.size(), 1);
    QCOMPARE(int(finished.first()), outcome);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.first(), qMakePair(source, 0.0));
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY2(progress.at(i).second >= progress.at(i - 1).second && progress.at(i).second <= 100,
                 qPrintable(QStringLiteral("%1 after %2").arg(progress.at(i).second).arg(progress.at(i - 1).second)));
    const Jobs::Amounts amounts = relay.amounts();
    if (outcome == int(Jobs::Outcome::Completed)) {
        QCOMPARE(progress.last(), qMakePair(source, 100.0));
        QCOMPARE(amounts.processedBytes, tree ? bytes : qint64(big.size()));
        QCOMPARE(amounts.totalBytes, amounts.processedBytes);
        QCOMPARE(amounts.processedEntries, tree ? 6 : 1);
        QCOMPARE(amounts.totalEntries, amounts.processedEntries);
        QFile copied(tree ? target + QStringLiteral("/sub/new/big.bin") : target);
        QVERIFY(copied.open(QIODevice::ReadOnly));
        QVERIFY2(copied.readAll() == big, "the copy holds other bytes");
    } else {
        QVERIFY2(progress.last().second < 100, "a copy that did not complete reported 100");
    }
    if (cancelAt > 0)
        QVERIFY2(copyFileRangeCalls == callsAtCancel, "the kernel copied more after the cancel");
    if (change == QLatin1String("vanish"))
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("File is not readable:"))
                || capture.contains(QtWarningMsg, QStringLiteral("File copy failed:")));
    if (targetExists) {
        QFile old(m_dir->filePath(QStringLiteral("dst/old.txt")));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
    }
}

QTEST_GUILESS_MAIN(tst_FolderCopy)
#include "tst_foldercopy.moc"
