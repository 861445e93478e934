#include "FileLayerCopy_unix_p.h"

#include <QHash>

// A copy in steps on Unix, and taking back what it made, relative to open
// folders.
namespace Extras {
namespace FileLayer {

constexpr int CopyRecord::Root;

/*!
    Opens the nodes of a record one after the other, keeping the line of
    folders from the root to the last one open, so that neighbours share
    what lies above them. Every folder is opened without following a link
    and only while it is the folder the copy entered.
*/
class CopyRecord::Cursor
{
public:
    Cursor(const Folder &root, const QVector<Node> &nodes)
        : m_root(root)
        , m_nodes(nodes)
    {
    }

    // The folder of node `index`; null when it is not there as it was.
    const Folder *open(int index)
    {
        if (index == Root)
            return m_root.isOpen() ? &m_root : nullptr;
        QVector<int> line;
        for (int at = index; at != Root; at = m_nodes.at(at).parent)
            line.prepend(at);
        size_t kept = 0;
        while (kept < m_open.size() && kept < size_t(line.size()) && m_open[kept].first == line.at(int(kept)))
            ++kept;
        m_open.erase(m_open.begin() + std::ptrdiff_t(kept), m_open.end());
        for (int at = int(kept); at < line.size(); ++at) {
            const Node &node = m_nodes.at(line.at(at));
            const Folder &parent = at == 0 ? m_root : m_open.back().second;
            Folder folder = parent.child(node.name, node.id);
            if (!folder.isOpen())
                return nullptr;
            m_open.emplace_back(line.at(at), std::move(folder));
        }
        return &m_open.back().second;
    }

private:
    const Folder &m_root;
    const QVector<Node> &m_nodes;
    std::vector<std::pair<int, Folder>> m_open;
};

CopyRecord::CopyRecord()
{
    m_nodes.append({Root, QByteArray(), FileId(), false});
}

void CopyRecord::madeOnTheWay(Folder &&parent, const QByteArray &name, const FileId &id)
{
    m_way.push_back({std::move(parent), name, id});
}

int CopyRecord::entered(int parent, const QByteArray &name, const FileId &id, bool made)
{
    m_nodes.append({parent, name, id, made});
    return m_nodes.size() - 1;
}

void CopyRecord::made(int folder, const FileId &id)
{
    m_entries.append({folder, id.inode});
}

bool CopyRecord::undo(const Folder &root)
{
    QHash<int, QSet<quint64>> madeIn;
    for (const QPair<int, quint64> &entry : qAsConst(m_entries))
        madeIn[entry.first].insert(entry.second);
    bool complete = true;
    Cursor cursor(root, m_nodes);
    // Newest first: a folder's node comes after its parent's, so every
    // folder is emptied before the one that holds it.
    for (int index = m_nodes.size() - 1; index >= Root; --index) {
        const Node &node = m_nodes.at(index);
        const auto inodes = madeIn.constFind(index);
        if (inodes == madeIn.constEnd() && !node.made)
            continue;
        const Folder *folder = cursor.open(index);
        if (!folder) {
            complete = false;
            continue;
        }
        if (inodes != madeIn.constEnd() && !removeMade(*folder, *inodes))
            complete = false;
        if (node.made) {
            const Folder *parent = cursor.open(node.parent);
            if (!parent || !removeFolderIfOurs(*parent, node.name, node.id))
                complete = false;
        }
    }
    for (auto way = m_way.rbegin(); way != m_way.rend(); ++way) {
        if (!removeFolderIfOurs(way->parent, way->name, way->id))
            complete = false;
    }
    m_entries.clear();
    m_nodes.resize(1);
    m_way.clear();
    return complete;
}

bool CopyRecord::removeFolderIfOurs(const Folder &parent, const QByteArray &name, const FileId &id)
{
    FileId found;
    if (parent.kindOf(name, false, &found) != Kind::Folder || found != id)
        return true;
    // Only while empty: what others put in keeps it.
    return parent.remove(name, true);
}

bool CopyRecord::removeMade(const Folder &folder, const QSet<quint64> &inodes)
{
    QVector<Folder::Entry> entries;
    if (!folder.entries(&entries))
        return false;
    bool complete = true;
    for (const Folder::Entry &entry : qAsConst(entries)) {
        struct stat st;
        if (!statAt(folder.handle(), entry.name.constData(), &st, false) || S_ISDIR(st.st_mode)
            || quint64(st.st_dev) != folder.id().device || !inodes.contains(quint64(st.st_ino)))
            continue;
        if (!folder.remove(entry.name, false) && errno != ENOENT)
            complete = false;
    }
    return complete;
}

// ---- One copy in steps -----------------------------------------------------

struct Copy::Private
{
    CopyReport report;
    QString source;
    QString target;
    bool tree = false;
    bool valid = false;
    bool canceled = false;
    bool undoable = true;
    // The source folder, or the folder that holds the source entry.
    Folder from;
    // The target folder, or the folder of the new entry.
    Folder to;
    // An entry's names in `from` and `to`, and what the source is as the
    // copy follows it.
    QByteArray name;
    QByteArray newName;
    Kind kind = Kind::Missing;
    bool viaLink = false;
    // A tree's target folder and every folder above it.
    QVector<FileId> holders;
    CopyRecord record;

    bool runEntry(CopyWatch *watch);
    void refuse(CopyEvent event) { report(event, source, target); }
};

Copy::Copy(Private *d)
    : d(d)
{
}

Copy::Copy(Copy &&other) noexcept = default;
Copy &Copy::operator=(Copy &&other) noexcept = default;
Copy::~Copy() = default;

Copy Copy::entry(const QString &source, const Place &target, const CopyReport &report)
{
    Copy copy(new Private);
    Private &d = *copy.d;
    d.report = report;
    d.source = source;
    d.target = target.path();
    d.to = Folder::openParent(target);
    d.newName = localName(target.entry());
    if (d.to.isOpen() && d.to.kindOf(d.newName) != Kind::Missing) {
        d.refuse(CopyEvent::TargetExists);
        return copy;
    }
    // The source is read: links on its way and at its end are followed.
    const Place from = Place::whole(source);
    d.from = Folder::open(from.start());
    d.name = localName(from.entry());
    d.kind = d.from.kindOf(d.name);
    d.viaLink = d.kind == Kind::Link;
    if (d.viaLink)
        d.kind = d.from.kindOf(d.name, true);
    if (!d.to.isOpen() || (d.kind == Kind::Missing && !d.viaLink)) {
        d.refuse(CopyEvent::CopyFailed);
        return copy;
    }
    if (d.kind != Kind::File && d.kind != Kind::Pipe && d.kind != Kind::Missing) {
        d.refuse(CopyEvent::NotCopied);
        return copy;
    }
    d.valid = true;
    return copy;
}

Copy Copy::tree(const QString &source, const QString &target, const CopyReport &report)
{
    Copy copy(new Private);
    Private &d = *copy.d;
    d.report = report;
    d.source = source;
    d.target = target;
    d.tree = true;
    d.from = Folder::open(source);
    if (!d.from.isOpen()) {
        d.refuse(CopyEvent::FolderUnreadable);
        return copy;
    }
    // Where the kernel resolves the target: a copy into the source itself
    // or below it would nest copies of itself until a step fails.
    QStringList missing;
    const Folder deepest = openDeepestExisting(target, &missing, nullptr);
    if (deepest.isOpen())
        d.holders = folderAndAncestors(deepest);
    if (d.holders.contains(d.from.id())) {
        d.refuse(CopyEvent::TargetInsideSource);
        return copy;
    }
    int error = 0;
    CopyRecord &record = d.record;
    const MadeFolder made = [&record](Folder &&parent, const QByteArray &name, const FileId &id) {
        record.madeOnTheWay(std::move(parent), name, id);
    };
    if (deepest.isOpen())
        d.to = makeFolders(deepest, missing, &error, made);
    if (!d.to.isOpen()) {
        d.refuse(error == LinkInTheWay ? CopyEvent::LinkInTarget : CopyEvent::MakeFolderFailed);
        return copy;
    }
    d.valid = true;
    return copy;
}

bool Copy::isValid() const
{
    return d->valid;
}

bool Copy::wasCanceled() const
{
    return d->canceled;
}

void Copy::setUndoable(bool undoable)
{
    d->undoable = undoable;
}

bool Copy::measure(CopyAmount *amount, CopyWatch *watch)
{
    *amount = CopyAmount();
    if (!d->valid)
        return true;
    if (d->tree) {
        TreeCopy walk(d->report, d->holders, watch, nullptr);
        walk.enterSource(d->from.id());
        walk.enterTarget(d->to.id());
        d->canceled = !walk.measureFolder(d->from, amount) && walk.wasCanceled();
        return !d->canceled;
    }
    struct stat st;
    if (d->kind == Kind::File && statAt(d->from.handle(), d->name.constData(), &st, d->viaLink))
        amount->bytes = st.st_size;
    amount->entries = 1;
    return true;
}

bool Copy::run(CopyWatch *watch)
{
    if (!d->valid)
        return false;
    if (!d->tree)
        return d->runEntry(watch);
    TreeCopy copy(d->report, d->holders, watch, d->undoable ? &d->record : nullptr);
    copy.enterSource(d->from.id());
    copy.enterTarget(d->to.id());
    const bool ok = copy.copyFolder(d->from, d->to, CopyRecord::Root, d->source, d->target);
    d->canceled = copy.wasCanceled();
    return ok;
}

bool Copy::Private::runEntry(CopyWatch *watch)
{
    canceled = watch && watch->canceled();
    if (canceled)
        return false;
    if (watch)
        watch->begins(source);
    int error = ENOENT;
    FileId made;
    struct stat st;
    bool ok = false;
    switch (kind) {
    case Kind::File:
        ok = copyRegularFile(from, name, viaLink, to, newName, &error, watch, undoable ? &made : nullptr);
        break;
    case Kind::Pipe:
        ok = statAt(from.handle(), name.constData(), &st, true) && makePipe(to, newName, st.st_mode, &error, &made);
        break;
    default:
        ok = copyLinkText(from, name, to, newName, &error, &made);
        break;
    }
    if (ok) {
        if (undoable)
            record.made(CopyRecord::Root, made);
        if (watch)
            watch->finished();
        return true;
    }
    canceled = error == ECANCELED;
    if (!canceled)
        report(error == EEXIST ? CopyEvent::TargetExists : CopyEvent::CopyFailed, source, target);
    return false;
}

bool Copy::undo()
{
    if (!d->valid || d->record.undo(d->to))
        return true;
    d->report(CopyEvent::NotUndone, d->source, d->target);
    return false;
}

namespace {

bool runOnce(Copy &&copy)
{
    copy.setUndoable(false);
    return copy.isValid() && copy.run();
}

} // namespace

bool copyEntry(const QString &source, const Place &target, const CopyReport &report)
{
    return runOnce(Copy::entry(source, target, report));
}

bool copyTree(const QString &source, const QString &target, const CopyReport &report)
{
    return runOnce(Copy::tree(source, target, report));
}

} // namespace FileLayer
} // namespace Extras
