#include "FilePlatform.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace Extras {
namespace FilePlatform {

namespace {
QByteArray localName(const QString &path)
{
    return QFile::encodeName(path);
}
} // namespace

bool writeAll(int handle, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(handle, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool setFileTimes(const QByteArray &localPath, quint32 lastRead, quint32 lastModified, int *error)
{
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(lastRead);
    times[0].tv_nsec = 0;
    times[1].tv_sec = static_cast<time_t>(lastModified);
    times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, localPath.constData(), times, 0) == 0)
        return true;
    if (error)
        *error = errno;
    return false;
}

bool setHidden(const QString &filePath, bool hidden)
{
    // Unix has no hidden attribute: an entry is hidden when its name begins
    // with a dot. Renaming would change the path callers hold, so the
    // request succeeds only when the state already is the one asked for.
    const QFileInfo info(filePath);
    if (!info.exists() && !info.isSymLink())
        return false;
    return info.fileName().startsWith(QLatin1Char('.')) == hidden;
}

EntryType entryType(const QString &path, bool followLinks)
{
    struct stat st {};
    const QByteArray local = localName(path);
    if ((followLinks ? ::stat(local.constData(), &st) : ::lstat(local.constData(), &st)) != 0)
        return EntryType::Missing;
    if (S_ISREG(st.st_mode))
        return EntryType::File;
    if (S_ISDIR(st.st_mode))
        return EntryType::Folder;
    if (S_ISLNK(st.st_mode))
        return EntryType::SymbolicLink;
    if (S_ISFIFO(st.st_mode))
        return EntryType::Pipe;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return EntryType::Device;
    return EntryType::Other;
}

bool canReplaceUnseen(const QString &path)
{
    const QByteArray local = localName(path);
    struct stat st {};
    if (::stat(local.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()
        || (st.st_mode & (S_ISUID | S_ISGID)) != 0)
        return false;
    // A new file gets the folder's group in a set-group-id folder, else the
    // writer's.
    struct stat folder {};
    const QString folderPath = QFileInfo(QFileInfo(path).canonicalFilePath()).path();
    if (::stat(localName(folderPath).constData(), &folder) != 0)
        return false;
    const gid_t newGroup = (folder.st_mode & S_ISGID) ? folder.st_gid : ::getegid();
    if (st.st_gid != newGroup)
        return false;
    // An access control list would not carry over to the new file.
    return ::getxattr(local.constData(), "system.posix_acl_access", nullptr, 0) < 0;
}

bool writeInPlace(const QString &path, const QByteArray &bytes)
{
    const QByteArray local = localName(path);
    // O_NONBLOCK makes opening a pipe without a reader fail (ENXIO) instead
    // of waiting for one. An existing file is opened without O_CREAT: in a
    // sticky folder the kernel may refuse creating opens of other users'
    // files (fs.protected_regular).
    const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(local.constData(), flags);
    if (fd < 0 && errno == ENOENT)
        fd = ::open(local.constData(), flags | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 && ::fstat(fd, &st) == 0;
    // Written over the old bytes first and cut afterwards: the old content
    // is only given up as far as new bytes have replaced it.
    ok = ok && writeAll(fd, bytes.constData(), bytes.size());
    if (ok && S_ISREG(st.st_mode))
        ok = ::ftruncate(fd, off_t(bytes.size())) == 0 && syncToDisk(fd);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

bool syncToDisk(int handle)
{
    return ::fsync(handle) == 0 || errno == EINVAL || errno == EROFS;
}

bool copyPipe(const QString &source, const QString &target)
{
    // The mode is set again after mkfifo, which applies the umask.
    struct stat st {};
    const QByteArray local = localName(target);
    return ::stat(localName(source).constData(), &st) == 0 && S_ISFIFO(st.st_mode)
        && ::mkfifo(local.constData(), st.st_mode & 07777) == 0 && ::chmod(local.constData(), st.st_mode & 07777) == 0;
}

bool copySymbolicLink(const QString &source, const QString &target)
{
    QByteArray text(PATH_MAX, '\0');
    const ssize_t size = ::readlink(localName(source).constData(), text.data(), size_t(text.size()));
    if (size < 0 || size >= text.size())
        return false;
    text.truncate(int(size));
    return ::symlink(text.constData(), localName(target).constData()) == 0;
}

} // namespace FilePlatform
} // namespace Extras
