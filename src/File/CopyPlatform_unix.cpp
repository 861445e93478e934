#include "CopyPlatform.h"

#include "FilePlatform.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CopyPlatform {

namespace {

int openAt(int folder, const char *name, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::openat(folder, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The errors with which a kernel or file system refuses a copy method as
// such (old kernel, other file systems, file kinds it does not handle), as
// opposed to a failing copy.
bool refusesMethod(int error)
{
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == EBADF
        || error == EPERM || error == ETXTBSY;
}

bool copyThroughBuffer(int in, int out)
{
    // Below the size from which malloc maps fresh memory for every buffer.
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        if (!Extras::FilePlatform::writeAll(out, buffer.constData(), got))
            return false;
    }
}

enum class Step { Done, Refused, Failed };

Step stepAfter(int error)
{
    return refusesMethod(error) ? Step::Refused : Step::Failed;
}

Step copyInKernel(int in, int out)
{
    bool copiedAny = false;
    for (;;) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
        if (copied > 0)
            copiedAny = true;
        else if (copied == 0)
            // Some kernels give 0 at once for files whose size the file system
            // does not know beforehand (such as those of /proc): another way
            // tells whether they are empty.
            return copiedAny ? Step::Done : Step::Refused;
        else if (errno != EINTR)
            return stepAfter(errno);
    }
}

Step sendToEnd(int in, int out)
{
    for (;;) {
        const ssize_t sent = ::sendfile(out, in, nullptr, 0x7ffff000);
        if (sent == 0)
            return Step::Done;
        if (sent < 0 && errno != EINTR)
            return stepAfter(errno);
    }
}

// Copies `in` from its offset to its end onto `out` at its offset: in the
// kernel with copy_file_range, where that is refused with sendfile, and
// else through a buffer. Each way goes on from where the last one left
// both offsets.
bool copyContent(int in, int out)
{
    Step step = copyInKernel(in, out);
    if (step == Step::Refused)
        step = sendToEnd(in, out);
    if (step == Step::Refused)
        return copyThroughBuffer(in, out);
    return step == Step::Done;
}

// The permission bits QFile::copy gives a copy: those of the source, the
// set-id and sticky bits dropped, and each owner bit also set when the user
// may read, write or execute the source. The kernel is asked only where an
// owner bit is missing that access could grant, in Qt's order, which stops
// at the first error other than EACCES or EROFS.
mode_t copiedMode(int folder, const char *name, mode_t mode)
{
    mode_t result = mode & 0777;
    const bool executable = (mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    if ((mode & S_IRUSR) && (mode & S_IWUSR) && ((mode & S_IXUSR) || !executable))
        return result;
    const struct {
        int access;
        mode_t bit;
    } checks[] = {{R_OK, S_IRUSR}, {W_OK, S_IWUSR}, {X_OK, S_IXUSR}};
    for (const auto &check : checks) {
        if (::faccessat(folder, name, check.access, 0) == 0)
            result |= check.bit;
        else if (errno != EACCES && errno != EROFS)
            break;
    }
    return result;
}

} // namespace

OpenFolder::~OpenFolder()
{
    close();
}

bool OpenFolder::open(const QString &path)
{
    close();
    m_handle = openAt(AT_FDCWD, QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_handle >= 0;
}

void OpenFolder::close()
{
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = -1;
}

bool OpenFolder::entries(QVector<FolderEntry> *entries) const
{
    entries->clear();
    if (m_handle < 0)
        return false;
    // The stream gets a handle of its own, so that closing it leaves ours.
    const int handle = ::fcntl(m_handle, F_DUPFD_CLOEXEC, 0);
    DIR *dir = handle >= 0 ? ::fdopendir(handle) : nullptr;
    if (!dir) {
        if (handle >= 0)
            ::close(handle);
        return false;
    }
    ::rewinddir(dir);
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        bool isFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            // Not every file system says in the folder what an entry is.
            struct stat st;
            isFile = ::fstatat(m_handle, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        entries->append({QByteArray(name), isFile});
    }
    const bool complete = errno == 0;
    ::closedir(dir);
    return complete;
}

bool OpenFolder::copyFileTo(const QByteArray &name, const OpenFolder &target) const
{
    if (m_handle < 0 || target.m_handle < 0)
        return false;
    const char *local = name.constData();
    // QFile::copy is only reached when access() finds the source readable.
    if (::faccessat(m_handle, local, R_OK, 0) != 0)
        return false;
    // Should the entry have become a link, a pipe or a device since the
    // folder was read, it is not followed, nor waited on.
    const int in = openAt(m_handle, local, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    // Made for the owner alone while the bytes arrive; O_EXCL refuses any
    // existing entry, a dangling link included.
    const int out = openAt(target.m_handle, local, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                           0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = copyContent(in, out) && ::fchmod(out, copiedMode(m_handle, local, st.st_mode)) == 0;
    if (::close(out) != 0)
        ok = false;
    ::close(in);
    if (!ok)
        ::unlinkat(target.m_handle, local, 0);
    return ok;
}

} // namespace CopyPlatform
