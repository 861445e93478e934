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
    listed. Folders are read through open handles; folders reached through
    symbolic links are entered too, but a walk enters each folder at most
    once: met again, it is listed and not entered.
*/
class FolderListing
{
public:
    // Names relative to `folder`, joined with the native separator.
    static QStringList names(const QDir &folder, const QStringList &patterns, bool subFolders, bool wantFiles);
    // Every file below `folder`, depth first, `prefix` and the native
    // separator before each; the folder's own name filters apply to its
    // own entries only.
    static QStringList filesBelow(const QDir &folder, const QString &prefix);
};

} // namespace Extras
