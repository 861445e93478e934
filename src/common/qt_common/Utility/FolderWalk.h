#pragma once

#include <QString>
#include <QVector>

#include <functional>

// Reading one folder for the folder listings, with as few system calls as
// the platform allows. Each platform has one implementation file, chosen by
// the build.
namespace Extras {
namespace FolderWalk {

struct Entry
{
    QString name;
    // True for a folder, also one reached through a symbolic link.
    bool isFolder = false;
};

// What tells two folders apart, whatever path reached them.
struct FolderId
{
    quint64 device = 0;
    quint64 node = 0;
    bool operator==(const FolderId &other) const { return device == other.device && node == other.node; }
};

// Reads the folder at `path` (a native path, absolute or relative to the
// current folder) once, unsorted, into `entries`: the entries QDir lists
// with the filters Dirs, NoDotAndDotDot and, when `withFiles`, Files. So no
// hidden entry and no name that the local encoding cannot decode; folders
// (symbolic links followed); with `withFiles` also regular files and
// symbolic links to anything else that exists. `accept`, when set, is asked
// about each name before its type is looked up. `id`, when set, receives
// the folder's identity. False when the folder cannot be read.
bool readFolder(const QString &path, bool withFiles, const std::function<bool(const QString &)> &accept,
                QVector<Entry> *entries, FolderId *id);

} // namespace FolderWalk
} // namespace Extras
