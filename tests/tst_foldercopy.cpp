#include "FileLayer.h"
#include "FileTestSupport.h"
#include "TkFileFolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
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

// Tree copies through open folders: what they copy where the kernel refuses
// its copy calls, the permissions of the copies, and names QDir would take
// for something else.
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

QTEST_GUILESS_MAIN(tst_FolderCopy)
#include "tst_foldercopy.moc"
