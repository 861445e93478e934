#pragma once

#include <QByteArray>
#include <QString>

// Platform services behind FileUtility and the folder object: file times,
// the hidden state, and what writing, listing and copying need to know about
// links, pipes, devices, owners and link counts. Each platform has one
// implementation file, chosen by the build.
namespace Extras {
namespace FilePlatform {

// Sets access and modification time, in whole seconds since 1970-01-01 UTC,
// of the file at `localPath` (local 8-bit encoding); follows symbolic links.
// On failure returns false and stores the C library's error number in `error`.
bool setFileTimes(const QByteArray &localPath, quint32 lastRead, quint32 lastModified, int *error);

// Gives the entry at `filePath` the requested hidden state; false when
// nothing exists there or the state cannot be given.
bool setHidden(const QString &filePath, bool hidden);

// What an entry is. With `followLinks` false a symbolic link is reported as
// one; with it true a dangling link is Missing.
enum class EntryType { Missing, File, Folder, SymbolicLink, Pipe, Device, Other };
EntryType entryType(const QString &path, bool followLinks);

// Whether a new file could take the place of the one at `path` (links
// followed) without anybody else noticing: nothing is there yet, or it is a
// regular file with a single name, owned by the writer, in the group a new
// file would get, without set-id bits and without an access control list.
bool canReplaceUnseen(const QString &path);

// Writes `bytes` into the file at `path` itself (links followed, created
// when missing, never replaced by another file) and cuts a regular file to
// that length. A pipe that nobody reads fails at once instead of blocking.
// True only when every byte, the length, the flush to disk and the close
// succeeded.
bool writeInPlace(const QString &path, const QByteArray &bytes);

// Writes all `size` bytes of `data` to the open file `handle`, going on
// after interrupted and partial writes; false when a write fails.
bool writeAll(int handle, const char *data, qint64 size);

// Flushes the open file `handle` to disk; false when that failed (a file
// system that cannot flush counts as success).
bool syncToDisk(int handle);

// Makes at `target` what stands at `source` without reading it: a named
// pipe with the same permissions, or a symbolic link with the same text.
bool copyPipe(const QString &source, const QString &target);
bool copySymbolicLink(const QString &source, const QString &target);

} // namespace FilePlatform
} // namespace Extras
