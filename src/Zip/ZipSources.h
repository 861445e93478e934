#pragma once

#include "FileLayer.h"

#include <QHash>
#include <QPair>
#include <QString>
#include <QVector>

#include <utility>
#include <vector>

namespace Jobs {
class Observer;
}

/*!
    The files an archive is written from: a folder the caller chose (links
    on its way followed, as the caller's), and names below it, each with
    what it was when it was named or met by a walk. Below the folder nothing
    is reached through a link: every folder on a name's way is opened
    relative to its parent without following one, and later only when it
    is still the folder that was seen.

    A name that cannot be written (a link, pipe, device, socket or folder,
    a name that leaves the folder, one that does not exist) is kept with
    what was found, so that the writer reports it in its place.
*/
class ZipSources
{
public:
    struct Item
    {
        // The entry name: relative to the root, "/" between components.
        QString name;
        // Index of its folder, or -1 when the way there failed (`error`).
        int folder = -1;
        QByteArray fileName;
        Extras::FileLayer::Kind kind = Extras::FileLayer::Kind::Missing;
        Extras::FileLayer::FileState state;
        int error = 0;
        // A name that would land outside the folder it is extracted to.
        bool unsafe = false;
    };

    ZipSources() = default;
    ZipSources(const ZipSources &) = delete;
    ZipSources &operator=(const ZipSources &) = delete;

    // Opens the root folder; false with the system's error number.
    bool open(const QString &folderPath, int *error);
    // A name given by the caller, looked at now.
    void addNamed(const QString &name);
    // Every entry below the root that is no folder, in the order of their
    // byte names, a subfolder's entries where the subfolder stands; never
    // the file `skip`. False when the observer canceled the walk.
    bool addTree(Jobs::Observer &observer, const Extras::FileLayer::FileId &skip);

    int count() const { return m_items.size(); }
    const Item &item(int index) const { return m_items.at(index); }
    // The sizes of the regular files among the items.
    qint64 totalBytes() const;
    // The open folder of `item`, checked against the one seen when it was
    // named; null with LinkInTheWay, ESTALE or the system's error number.
    const Extras::FileLayer::Folder *folderOf(const Item &item, int *error);
    // The same for reading ahead of the writer, through folders of its own:
    // what folderOf() finds is never what a look ahead left open.
    const Extras::FileLayer::Folder *folderAhead(const Item &item, int *error);

private:
    struct FolderRecord
    {
        int parent = -1;
        QByteArray name;
        Extras::FileLayer::FileId id;
    };

    // Index of the folder `name` below folder `parent`, opened (through
    // the cache) and recorded the first time; -1 with the error.
    int folderBelow(int parent, const QByteArray &name, int *error);
    using OpenFolders = std::vector<std::pair<int, Extras::FileLayer::Folder>>;
    // The folder `index` open, the cache `open` reused as far as it leads
    // there.
    const Extras::FileLayer::Folder *openFolder(int index, int *error, OpenFolders &open);
    const Extras::FileLayer::Folder *openFolder(int index, int *error) { return openFolder(index, error, m_open); }

    QVector<FolderRecord> m_folders;
    QHash<QPair<int, QByteArray>, int> m_folderIndex;
    QVector<Item> m_items;
    // The folders from the root down to the last one asked for, open.
    OpenFolders m_open;
    // The same for folderAhead(), from a handle of its own on the root.
    OpenFolders m_ahead;
};
