#pragma once

#include <QDir>
#include <QStringList>

namespace Extras {

/*!
    The listings behind FileFolder.fileNames() and folderNames(): names of
    the files or of the folders inside a folder, optionally of its whole
    tree, in pre-order with each level sorted by name (case taken into
    account) and a folder's contents right after the folder's place.

    Patterns are QDir's wildcards, matched without regard to case and
    applied to folders as well as files, so a folder whose name does not
    match is neither listed nor entered. Hidden and system entries are never
    listed. A folder reached again through a symbolic link while it is being
    walked is listed but not entered.
*/
class FolderListing
{
public:
    // Names relative to `folder`, joined with the native separator.
    static QStringList names(const QDir &folder, const QStringList &patterns, bool subFolders, bool wantFiles);
};

} // namespace Extras
