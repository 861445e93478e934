#include "ZipPlatform.h"

#include "FilePlatform.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZipPlatform {

namespace {

FileIdentity identityOf(const struct stat &st)
{
    FileIdentity identity;
    identity.device = quint64(st.st_dev);
    identity.inode = quint64(st.st_ino);
    identity.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    identity.valid = true;
    return identity;
}

int openRetrying(const QByteArray &path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

FILE *openArchive(const QString &path, FileIdentity *identity, quint64 *size, QString *reason)
{
    // Non-blocking, so that a pipe at the path cannot hang the caller until a
    // writer appears; it is refused below like anything but a regular file.
    const int fd = openRetrying(QFile::encodeName(path), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *reason = qt_error_string(errno);
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *reason = qt_error_string(errno);
        ::close(fd);
        return nullptr;
    }
    *identity = identityOf(st);
    *size = quint64(st.st_size);
    if (!S_ISREG(st.st_mode)) {
        *reason = S_ISDIR(st.st_mode) ? qt_error_string(EISDIR) : QStringLiteral("Not a regular file");
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE *file = ::fdopen(fd, "rb");
    if (!file) {
        *reason = qt_error_string(errno);
        ::close(fd);
        return nullptr;
    }
    return file;
}

bool readAt(FILE *file, quint64 offset, char *data, qint64 size)
{
    const int fd = ::fileno(file);
    while (size > 0) {
        const ssize_t count = ::pread(fd, data, size_t(size), off_t(offset));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        data += count;
        size -= count;
        offset += quint64(count);
    }
    return true;
}

FileIdentity identityOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return FileIdentity();
    return identityOf(st);
}

bool namesADrive(const QString &)
{
    return false;
}

bool makeFolder(const QString &path)
{
    const QByteArray local = QFile::encodeName(path);
    if (::mkdir(local.constData(), 0777) == 0)
        return true;
    struct stat st;
    return errno == EEXIST && ::stat(local.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

ReplacingFile::ReplacingFile(const QString &targetPath)
    : m_targetPath(targetPath)
{
}

ReplacingFile::~ReplacingFile()
{
    if (!m_committed)
        discard();
}

void ReplacingFile::fail(int error)
{
    m_errorString = qt_error_string(error);
}

bool ReplacingFile::inspect()
{
    struct stat st;
    m_exists = ::lstat(QFile::encodeName(m_targetPath).constData(), &st) == 0;
    if (!m_exists && errno != ENOENT) {
        fail(errno);
        return false;
    }
    if (m_exists) {
        m_mode = st.st_mode;
        m_owner = st.st_uid;
        m_group = st.st_gid;
        m_existing = identityOf(st);
    }
    m_inspected = true;
    return true;
}

bool ReplacingFile::open()
{
    if (!m_inspected && !inspect())
        return false;
    if (m_exists && S_ISDIR(m_mode)) {
        fail(EISDIR);
        return false;
    }
    if (m_exists && !S_ISREG(m_mode) && !S_ISLNK(m_mode)) {
        // A pipe or a device: write to it as it is. Without a reader a pipe
        // refuses at once (ENXIO) instead of blocking the caller.
        m_fd = openRetrying(QFile::encodeName(m_targetPath), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (m_fd < 0) {
            fail(errno);
            return false;
        }
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
        m_inPlace = true;
        m_writtenPath = m_targetPath;
        return true;
    }

    if (!m_exists) {
        // Nothing to keep: the file is made under its own name and removed
        // again unless it is completed. One that appears meanwhile is kept
        // until the new one is complete, as any existing file.
        m_fd = openRetrying(QFile::encodeName(m_targetPath), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                            m_permissions);
        if (m_fd >= 0) {
            m_writtenPath = m_targetPath;
            m_created = true;
            return true;
        }
        if (errno != EEXIST) {
            fail(errno);
            return false;
        }
    }

    const int slash = m_targetPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : m_targetPath.left(qMax(slash, 1));
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate = folder + QStringLiteral("/.maporaextras-")
            + QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 16)
            + QStringLiteral(".part");
        m_fd = openRetrying(QFile::encodeName(candidate), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                            m_permissions);
        if (m_fd >= 0) {
            m_writtenPath = candidate;
            break;
        }
        if (errno != EEXIST) {
            fail(errno);
            return false;
        }
    }
    if (m_fd < 0) {
        fail(EEXIST);
        return false;
    }
    if (m_exists && S_ISREG(m_mode)) {
        // The replacement keeps the access the previous file gave (set-id
        // bits are not carried over) and, where allowed, its owner; where
        // not, it belongs to whoever extracts it, as any new file does.
        ::fchmod(m_fd, m_mode & 0777);
        const bool ownerKept = ::fchown(m_fd, m_owner, m_group) == 0;
        Q_UNUSED(ownerKept)
    }
    return true;
}

bool ReplacingFile::write(const char *data, qint64 size)
{
    errno = 0;
    if (Extras::FilePlatform::writeAll(m_fd, data, size))
        return true;
    // A write that takes no byte without an error is a full device.
    fail(errno != 0 ? errno : ENOSPC);
    return false;
}

bool ReplacingFile::setTimes(qint64 secondsSinceEpoch)
{
    struct timespec times[2];
    times[0].tv_sec = time_t(secondsSinceEpoch);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::futimens(m_fd, times) == 0)
        return true;
    fail(errno);
    return false;
}

bool ReplacingFile::commit()
{
    const int fd = m_fd;
    m_fd = -1;
    // A delayed write error (NFS, quota) shows up here.
    if (::close(fd) != 0) {
        fail(errno);
        discard();
        return false;
    }
    if (!m_inPlace && !m_created
        && ::rename(QFile::encodeName(m_writtenPath).constData(), QFile::encodeName(m_targetPath).constData()) != 0) {
        fail(errno);
        discard();
        return false;
    }
    m_committed = true;
    return true;
}

void ReplacingFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_inPlace && !m_writtenPath.isEmpty()) {
        ::unlink(QFile::encodeName(m_writtenPath).constData());
        m_writtenPath.clear();
    }
}

} // namespace ZipPlatform
