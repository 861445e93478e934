#include "FileLayerCopy_unix_p.h"

#include <QSet>

#include <algorithm>
#include <sys/sendfile.h>

// Copies of single files, pipes and links on Unix, from open folder to open
// folder.
namespace Extras {
namespace FileLayer {

namespace {

// The errors with which a kernel or file system refuses a copy method as
// such (old kernel, other file systems, file kinds it does not handle), as
// opposed to a failing copy.
bool refusesMethod(int error)
{
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == EBADF
        || error == EPERM || error == ETXTBSY;
}

// Bytes between two looks at the watch: a cancel stops a large file within
// one block.
constexpr size_t Block = size_t(1) << 20;

enum class Method { Kernel, Send, Buffer };

// One block of `in` from its offset onto `out` at its offset: in the kernel
// with copy_file_range, where that is refused with sendfile, and else
// through a buffer; each way goes on from where the last one left both
// offsets. The bytes copied, 0 at the end, -1 on failure.
ssize_t copyBlock(Method &method, int in, int out, bool copiedAny, QByteArray &buffer)
{
    for (;;) {
        ssize_t copied = -1;
        switch (method) {
        case Method::Kernel:
            copied = retrying([&] { return ::copy_file_range(in, nullptr, out, nullptr, Block, 0); });
            // Some kernels give 0 at once for files whose size the file system
            // does not know beforehand (such as those of /proc): another way
            // tells whether they are empty.
            if (copied == 0 && !copiedAny) {
                method = Method::Send;
                continue;
            }
            break;
        case Method::Send:
            copied = retrying([&] { return ::sendfile(out, in, nullptr, Block); });
            break;
        case Method::Buffer:
            // Below the size from which malloc maps fresh memory for every buffer.
            if (buffer.isEmpty())
                buffer.resize(64 * 1024);
            copied = retrying([&] { return ::read(in, buffer.data(), size_t(buffer.size())); });
            return copied > 0 && !writeAll(out, buffer.constData(), copied) ? -1 : copied;
        }
        if (copied >= 0 || !refusesMethod(errno))
            return copied;
        method = method == Method::Kernel ? Method::Send : Method::Buffer;
    }
}

// Copies `in` from its offset to its end onto `out`, block by block, asking
// the watch before each block (ECANCELED when it stops the copy).
bool copyContent(int in, int out, CopyWatch *watch)
{
    Method method = Method::Kernel;
    QByteArray buffer;
    bool copiedAny = false;
    for (;;) {
        if (watch && watch->canceled()) {
            errno = ECANCELED;
            return false;
        }
        const ssize_t copied = copyBlock(method, in, out, copiedAny, buffer);
        if (copied <= 0)
            return copied == 0;
        copiedAny = true;
        if (watch)
            watch->copied(copied);
    }
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

// A named pipe is made anew with the permissions of the source: opening it
// to read would wait for a writer. The mode is set on the new pipe's own
// handle, as mkfifo applies the umask.
bool makePipe(const Folder &to, const QByteArray &name, mode_t mode, int *error, FileId *made)
{
    if (::mkfifoat(to.handle(), name.constData(), mode & 07777) != 0) {
        *error = errno;
        return false;
    }
    const int handle = openAt(to.handle(), name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    struct stat st;
    const bool ok = handle >= 0 && ::fstat(handle, &st) == 0 && S_ISFIFO(st.st_mode)
        && ::fchmod(handle, mode & 07777) == 0;
    *error = ok ? 0 : errno;
    if (ok)
        *made = idOf(st);
    closeHandle(handle);
    return ok;
}

// A link that leads nowhere is all there is: it is copied with its text.
bool copyLinkText(const Folder &from, const QByteArray &name, const Folder &to, const QByteArray &newName,
                  int *error, FileId *made)
{
    QByteArray text(PATH_MAX, '\0');
    const ssize_t size = ::readlinkat(from.handle(), name.constData(), text.data(), size_t(text.size()));
    if (size < 0 || size >= text.size()) {
        *error = size < 0 ? errno : ENAMETOOLONG;
        return false;
    }
    text.truncate(int(size));
    struct stat st;
    if (::symlinkat(text.constData(), to.handle(), newName.constData()) == 0) {
        if (statAt(to.handle(), newName.constData(), &st, false))
            *made = idOf(st);
        return true;
    }
    *error = errno;
    return false;
}

bool copyRegularFile(const Folder &from, const QByteArray &name, bool follow, const Folder &to,
                     const QByteArray &newName, int *error, CopyWatch *watch, FileId *made)
{
    int failure = 0;
    const char *local = name.constData();
    // QFile::copy is only reached when access() finds the source readable.
    // Opened without waiting on a pipe or device, its type checked on the
    // handle: an entry that became something else is not copied.
    int in = ::faccessat(from.handle(), local, R_OK, 0) == 0
        ? openAt(from.handle(), local, O_RDONLY | O_NONBLOCK | O_NOCTTY | (follow ? 0 : O_NOFOLLOW))
        : -1;
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure = in < 0 ? errno : NotRegularFile;
        closeHandle(in);
        in = -1;
    }
    // Made for the owner alone while the bytes arrive; O_EXCL refuses any
    // existing entry, a dangling link included.
    const int out = in < 0 ? -1
                           : openAt(to.handle(), newName.constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0600);
    if (in >= 0 && out < 0)
        failure = errno;
    bool ok = out >= 0 && copyContent(in, out, watch)
        && ::fchmod(out, copiedMode(from.handle(), local, st.st_mode)) == 0;
    struct stat written;
    if (ok && made) {
        ok = ::fstat(out, &written) == 0;
        *made = idOf(written);
    }
    if (out >= 0 && !ok)
        failure = errno;
    if (out >= 0 && ::close(out) != 0 && ok) {
        failure = errno;
        ok = false;
    }
    closeHandle(in);
    if (out >= 0 && !ok)
        ::unlinkat(to.handle(), newName.constData(), 0);
    if (error)
        *error = failure;
    return ok;
}

bool copyFileInto(const Folder &from, const QByteArray &name, const Folder &to)
{
    return copyRegularFile(from, name, false, to, name, nullptr);
}

} // namespace FileLayer
} // namespace Extras
