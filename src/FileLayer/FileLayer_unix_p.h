#pragma once

// System calls of the Unix file layer: one retry helper for interrupted
// calls, O_CLOEXEC on every handle, and what the files of the layer share.

#include "FileLayer.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Extras {
namespace FileLayer {

// Runs a system call again while a signal interrupts it.
template<typename Call>
auto retrying(Call call) -> decltype(call())
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == decltype(result)(-1) && errno == EINTR);
    return result;
}

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

inline int openAt(int folder, const char *name, int flags, mode_t mode = 0)
{
    return retrying([&] { return ::openat(folder, name, flags | O_CLOEXEC, mode); });
}

inline bool statAt(int folder, const char *name, struct stat *st, bool follow)
{
    return ::fstatat(folder, name, st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

inline void closeHandle(int handle)
{
    // Linux releases the handle even when close is interrupted.
    if (handle >= 0)
        ::close(handle);
}

inline FileId idOf(const struct stat &st)
{
    FileId id;
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.valid = true;
    return id;
}

inline FileState stateOf(const struct stat &st)
{
    FileState state;
    state.id = idOf(st);
    state.size = quint64(st.st_size);
    state.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return state;
}

Kind kindOfMode(mode_t mode);

// Writes all `size` bytes, going on after partial writes; false when a
// write fails (errno tells why; a write that takes nothing is ENOSPC).
bool writeAll(int handle, const char *data, qint64 size);
// Flushes to disk; a file system that cannot flush counts as success.
bool syncToDisk(int handle);
// Clears O_NONBLOCK, set so that opening a pipe never waits.
bool makeBlocking(int handle);

// The deepest folder of `path` that exists, opened as the kernel resolves
// it; `missing` gets the components below it that do not exist yet.
Folder openDeepestExisting(const QString &path, QStringList *missing, int *error);

// Identities of `start` and of every folder above it.
QVector<FileId> folderAndAncestors(const Folder &start);

// Copies the regular file `name` of `from` (through a link there with
// `follow`) to the new file `newName` of `to`; see copyFileInto. The watch
// may stop it before any block (ECANCELED, nothing left); `made` tells
// which file was made.
bool copyRegularFile(const Folder &from, const QByteArray &name, bool follow, const Folder &to,
                     const QByteArray &newName, int *error, CopyWatch *watch = nullptr, FileId *made = nullptr);

// makeFolders, handing each folder it made to `made` with the folder it
// was made in.
using MadeFolder = std::function<void(Folder &&parent, const QByteArray &name, const FileId &id)>;
Folder makeFolders(const Folder &start, const QStringList &names, int *error, const MadeFolder &made);

// Builds folders from handles for the files of the layer.
class FolderAccess
{
public:
    // Takes `handle` over; its identity is read from it. Closed, giving a
    // closed folder, when it is no folder.
    static Folder adopt(int handle, int *error);
};

} // namespace FileLayer
} // namespace Extras
