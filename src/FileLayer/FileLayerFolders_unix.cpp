#include "FileLayer_unix_p.h"

#include <cstdio>
#include <vector>

// Making, removing and renaming on Unix, relative to open folders.
namespace Extras {
namespace FileLayer {

Folder openDeepestExisting(const QString &path, QStringList *missing, int *error)
{
    missing->clear();
    if (path.isEmpty() || path.startsWith(QLatin1Char(':'))) {
        if (error)
            *error = ENOENT;
        return Folder();
    }
    // The caller's own path: the part that exists is opened as the kernel
    // resolves it, links and ".." included.
    QString existing = path;
    int failure = 0;
    Folder folder = Folder::open(existing, &failure);
    while (!folder.isOpen() && failure == ENOENT) {
        while (existing.size() > 1 && existing.endsWith(QLatin1Char('/')))
            existing.chop(1);
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash < 0) {
            missing->prepend(existing);
            existing = QStringLiteral(".");
        } else {
            missing->prepend(existing.mid(slash + 1));
            existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
        }
        folder = Folder::open(existing, &failure);
    }
    if (!folder.isOpen() && error)
        *error = failure;
    return folder;
}

Folder makeFolders(const QString &path, int *error)
{
    QStringList missing;
    const Folder existing = openDeepestExisting(path, &missing, error);
    if (!existing.isOpen())
        return Folder();
    return makeFolders(existing, missing, error);
}

Folder makeFolders(const Folder &start, const QStringList &names, int *error)
{
    return makeFolders(start, names, error, MadeFolder());
}

Folder makeFolders(const Folder &start, const QStringList &names, int *error, const MadeFolder &made)
{
    Folder folder = start.childFollowing(QByteArrayLiteral("."), error);
    for (const QString &name : names) {
        if (!folder.isOpen())
            break;
        if (name.isEmpty() || name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            folder = folder.parent(error);
            continue;
        }
        const QByteArray local = localName(name);
        bool madeHere = false;
        Folder child = folder.makeChild(local, error, &madeHere);
        if (madeHere && child.isOpen() && made)
            made(std::move(folder), local, child.id());
        folder = std::move(child);
    }
    return folder;
}

Removal removeFolder(const Place &place, bool recursive, const std::function<bool(const FileId &)> &keep)
{
    if (!place.isValid())
        return Removal::Refused;
    int error = 0;
    const Folder parent = Folder::openParent(place, &error);
    if (!parent.isOpen())
        return error == ENOENT ? Removal::Missing : error == LinkInTheWay ? Removal::Refused : Removal::Failed;
    const QByteArray name = localName(place.entry());
    FileId seen;
    switch (parent.kindOf(name, false, &seen)) {
    case Kind::Missing:
        return Removal::Missing;
    case Kind::Link:
        // The link goes, what it points to stays.
        if (parent.kindOf(name, true) != Kind::Folder)
            return Removal::NotAFolder;
        return parent.remove(name, false) ? Removal::Removed : Removal::Failed;
    case Kind::Folder:
        if (keep && keep(seen))
            return Removal::Refused;
        if (recursive)
            return parent.removeTree(name, seen) ? Removal::Removed : Removal::Failed;
        return parent.remove(name, true) ? Removal::Removed : Removal::Failed;
    default:
        return Removal::NotAFolder;
    }
}

bool removeEntry(const Place &place)
{
    const Folder parent = Folder::openParent(place);
    const QByteArray name = localName(place.entry());
    const Kind kind = parent.kindOf(name);
    return kind != Kind::Missing && kind != Kind::Folder && parent.remove(name, false);
}

bool removeEmptyFolders(const QString &path)
{
    // As QDir::rmpath: the deepest folder, then each parent that became
    // empty, up to the first component of the path.
    QString current = path;
    bool removedAny = false;
    for (;;) {
        const Place place = Place::whole(current);
        const Folder parent = Folder::open(place.start());
        const QByteArray name = localName(place.entry());
        if (!place.isValid() || !parent.isOpen())
            return false;
        const Kind kind = parent.kindOf(name, true);
        if (kind == Kind::Missing || (kind != Kind::Folder && !removedAny))
            return false;
        if (!parent.remove(name, true))
            return removedAny;
        removedAny = true;
        const int slash = current.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return true;
        current = place.start();
    }
}

bool removeFolderOfOnlyEntry(const QString &filePath)
{
    const Place file = Place::whole(filePath);
    const Folder folder = Folder::open(file.start());
    const QByteArray name = localName(file.entry());
    if (!file.isValid() || folder.kindOf(name, true) == Kind::Missing)
        return false;
    QVector<Folder::Entry> entries;
    if (!folder.entries(&entries) || entries.size() != 1 || entries.first().name != name)
        return false;
    FileId seen;
    const bool isFolder = folder.kindOf(name, false, &seen) == Kind::Folder;
    if (!(isFolder ? folder.removeTree(name, seen) : folder.remove(name, false)))
        return false;
    // The folder goes only while it is empty: what appeared meanwhile keeps it.
    const Place holder = Place::whole(file.start());
    const Folder parent = Folder::openParent(holder);
    const QByteArray holderName = localName(holder.entry());
    FileId holderId;
    return holder.isValid() && parent.kindOf(holderName, false, &holderId) == Kind::Folder
        && holderId == folder.id() && parent.remove(holderName, true);
}

QVector<FileId> folderAndAncestors(const Folder &start)
{
    QVector<FileId> ids;
    Folder folder = start.childFollowing(QByteArrayLiteral("."));
    // The root is its own parent; the bound only guards against a loop.
    while (folder.isOpen() && !ids.contains(folder.id()) && ids.size() < 4096) {
        ids.append(folder.id());
        folder = folder.parent();
    }
    return ids;
}

QVector<FileId> folderAndAncestors(const QString &path)
{
    return folderAndAncestors(Folder::open(path));
}

namespace {

// A link moved to another file system: made anew there with the same text.
bool moveLinkAcross(const Folder &from, const QByteArray &name, const Folder &to, const QByteArray &newName)
{
    QByteArray text(PATH_MAX, '\0');
    const ssize_t size = ::readlinkat(from.handle(), name.constData(), text.data(), size_t(text.size()));
    if (size < 0 || size >= text.size())
        return false;
    text.truncate(int(size));
    if (::symlinkat(text.constData(), to.handle(), newName.constData()) != 0)
        return false;
    return from.remove(name, false);
}

} // namespace

bool rename(const Place &from, const Place &to, int *error)
{
    int failure = 0;
    const Folder source = Folder::openParent(from, &failure);
    const Folder target = source.isOpen() ? Folder::openParent(to, &failure) : Folder();
    const QByteArray name = localName(from.entry());
    const QByteArray newName = localName(to.entry());
    if (!target.isOpen()) {
        if (error)
            *error = failure;
        return false;
    }
    // RENAME_NOREPLACE: anything at the new name, a dangling link too, stays.
    if (::renameat2(source.handle(), name.constData(), target.handle(), newName.constData(), RENAME_NOREPLACE) == 0)
        return true;
    failure = errno;
    if (failure == EINVAL || failure == ENOSYS) {
        // A file system without the flag: the new name is looked at first.
        failure = target.kindOf(newName) != Kind::Missing ? EEXIST : 0;
        if (failure == 0 && ::renameat(source.handle(), name.constData(), target.handle(), newName.constData()) == 0)
            return true;
        failure = failure ? failure : errno;
    }
    if (failure == EXDEV) {
        // Another file system: a link or a file moves as mv moves it; a
        // link's target is never copied in its place.
        switch (source.kindOf(name)) {
        case Kind::Link:
            if (moveLinkAcross(source, name, target, newName))
                return true;
            failure = errno;
            break;
        case Kind::File:
            if (copyRegularFile(source, name, false, target, newName, &failure) && source.remove(name, false))
                return true;
            break;
        default:
            break;
        }
    }
    if (error)
        *error = failure;
    return false;
}

// ---- Removal of a tree ---------------------------------------------------

namespace {

/*!
    The removal of one tree. A stack of open folders rather than recursion:
    a deep tree costs a handle per level, never the call stack. Each folder
    is read once before any of its entries goes, entered only when it is
    the folder that was seen, and entered at most once.
*/
class TreeRemoval
{
public:
    explicit TreeRemoval(const Folder &top)
        : m_top(top)
    {
    }

    bool run(const QByteArray &name, const FileId &seen)
    {
        if (!enter(m_top, name, seen))
            return false;
        while (!m_stack.empty()) {
            Frame &frame = m_stack.back();
            if (frame.next < frame.entries.size()) {
                // A copy: entering a subfolder moves the frames.
                const Folder::Entry entry = frame.entries.at(frame.next++);
                removeEntry(frame.folder, entry);
            } else {
                leave();
            }
        }
        return m_ok;
    }

private:
    struct Frame
    {
        Folder folder;
        QByteArray name;
        QVector<Folder::Entry> entries;
        int next = 0;
    };

    bool enter(const Folder &holder, const QByteArray &name, const FileId &seen)
    {
        Frame frame;
        frame.folder = holder.child(name, seen);
        if (!frame.folder.isOpen() || !m_walked.enter(frame.folder.id()))
            return false;
        frame.name = name;
        if (!frame.folder.entries(&frame.entries))
            m_ok = false;
        m_stack.push_back(std::move(frame));
        return true;
    }

    // A subfolder is entered; anything else, links included, goes itself.
    void removeEntry(const Folder &folder, const Folder::Entry &entry)
    {
        FileId id;
        Kind kind = entry.kind;
        if (kind == Kind::Folder || kind == Kind::Missing)
            kind = folder.kindOf(entry.name, false, &id);
        if (kind == Kind::Folder) {
            if (!enter(folder, entry.name, id))
                m_ok = false;
            return;
        }
        removeName(folder, entry.name, false);
    }

    // The folder on top is empty now, as far as it could be emptied.
    void leave()
    {
        const QByteArray name = m_stack.back().name;
        m_stack.pop_back();
        removeName(m_stack.empty() ? m_top : m_stack.back().folder, name, true);
    }

    void removeName(const Folder &folder, const QByteArray &name, bool isFolder)
    {
        int error = 0;
        if (!folder.remove(name, isFolder, &error) && error != ENOENT)
            m_ok = false;
    }

    const Folder &m_top;
    std::vector<Frame> m_stack;
    WalkedFolders m_walked;
    bool m_ok = true;
};

} // namespace

bool Folder::removeTree(const QByteArray &name, const FileId &seen) const
{
    return TreeRemoval(*this).run(name, seen);
}

} // namespace FileLayer
} // namespace Extras
