#pragma once

#include <QByteArray>
#include <QString>

// Platform services behind FileUtility: file times and the hidden state.
// Each platform has one implementation file, chosen by the build.
namespace Extras {
namespace FilePlatform {

// Sets access and modification time, in whole seconds since 1970-01-01 UTC,
// of the file at `localPath` (local 8-bit encoding); follows symbolic links.
// On failure returns false and stores the C library's error number in `error`.
bool setFileTimes(const QByteArray &localPath, quint32 lastRead, quint32 lastModified, int *error);

// Gives the entry at `filePath` the requested hidden state; false when
// nothing exists there or the state cannot be given.
bool setHidden(const QString &filePath, bool hidden);

} // namespace FilePlatform
} // namespace Extras
