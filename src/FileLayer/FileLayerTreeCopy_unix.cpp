#include "FileLayerCopy_unix_p.h"

#include <algorithm>

// Tree copies on Unix: one walk copies, another measures what it would copy.
namespace Extras {
namespace FileLayer {

namespace {

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Folder copies list each folder by name, ignoring case.
void sortByName(QVector<CopiedEntry> &entries)
{
    std::sort(entries.begin(), entries.end(), [](const CopiedEntry &a, const CopiedEntry &b) {
        const int ignoringCase = a.text.compare(b.text, Qt::CaseInsensitive);
        if (ignoringCase != 0)
            return ignoringCase < 0;
        return a.text != b.text ? a.text < b.text : a.name < b.name;
    });
}

} // namespace

bool TreeCopy::copyFolder(const Folder &from, const Folder &to, int node, const QString &fromPath,
                          const QString &toPath)
{
    QVector<Folder::Entry> found;
    if (!from.entries(&found))
        return stop(CopyEvent::FolderUnreadable, fromPath, toPath);
    QVector<CopiedEntry> entries;
    entries.reserve(found.size());
    for (const Folder::Entry &entry : qAsConst(found))
        entries.append({entry.name, displayName(entry.name), entry.kind});
    sortByName(entries);
    m_line.append(from.id());
    bool ok = true;
    for (const CopiedEntry &entry : qAsConst(entries)) {
        ok = copyEntry(from, to, node, entry, joined(fromPath, entry.text), joined(toPath, entry.text));
        if (!ok)
            break;
    }
    m_line.removeLast();
    return ok;
}

Kind TreeCopy::followed(const Folder &from, const QByteArray &name, Kind kind, bool *viaLink)
{
    if (kind == Kind::Missing)
        kind = from.kindOf(name);
    *viaLink = kind == Kind::Link;
    return *viaLink ? from.kindOf(name, true) : kind;
}

bool TreeCopy::copyEntry(const Folder &from, const Folder &to, int node, const CopiedEntry &entry,
                         const QString &source, const QString &target)
{
    if (canceled())
        return false;
    if (m_watch)
        m_watch->begins(source);
    Kind kind = entry.kind;
    int error = 0;
    FileId made;
    // Identities are looked up only for a record.
    FileId *const madeId = m_record ? &made : nullptr;
    if (kind == Kind::File) {
        if (copyRegularFile(from, entry.name, false, to, entry.name, &error, m_watch, madeId))
            return done(node, made);
        if (error != ELOOP && error != NotRegularFile)
            return failed(error, source, target);
        // The entry changed since the folder was read: look again.
        kind = Kind::Missing;
    }
    bool viaLink = false;
    kind = followed(from, entry.name, kind, &viaLink);
    struct stat st;
    switch (kind) {
    case Kind::File:
        if (copyRegularFile(from, entry.name, viaLink, to, entry.name, &error, m_watch, madeId))
            return done(node, made);
        break;
    case Kind::Folder:
        return enterFolder(from, to, node, entry, viaLink, source, target);
    case Kind::Pipe:
        if (statAt(from.handle(), entry.name.constData(), &st, viaLink) && makePipe(to, entry.name, st.st_mode, &error, &made))
            return done(node, made);
        break;
    case Kind::Missing:
        if (viaLink && copyLinkText(from, entry.name, to, entry.name, &error, &made))
            return done(node, made);
        break;
    case Kind::Device:
    case Kind::Other:
    case Kind::Link:
        m_report(CopyEvent::NotCopied, source, target);
        return true;
    }
    return failed(error, source, target);
}

TreeCopy::Visit TreeCopy::visit(const Folder &from, const QByteArray &name, bool viaLink, FileId *id)
{
    from.kindOf(name, viaLink, id);
    if (viaLink && (m_line.contains(*id) || m_aboveTarget.contains(*id)))
        return Visit::LinksBack;
    return m_walked.enter(*id) ? Visit::Enter : Visit::AlreadyCopied;
}

Folder TreeCopy::openSource(const Folder &from, const QByteArray &name, bool viaLink, const FileId &id)
{
    Folder folder = viaLink ? from.childFollowing(name) : from.child(name, id);
    return folder.isOpen() && folder.id() == id ? std::move(folder) : Folder();
}

bool TreeCopy::enterFolder(const Folder &from, const Folder &to, int node, const CopiedEntry &entry, bool viaLink,
                           const QString &source, const QString &target)
{
    FileId id;
    switch (visit(from, entry.name, viaLink, &id)) {
    case Visit::LinksBack:
        m_report(CopyEvent::LinksBack, source, target);
        return true;
    case Visit::AlreadyCopied:
        m_report(CopyEvent::AlreadyCopied, source, target);
        return true;
    case Visit::Enter:
        break;
    }
    const Folder sourceFolder = openSource(from, entry.name, viaLink, id);
    if (!sourceFolder.isOpen())
        return stop(CopyEvent::FolderUnreadable, source, target);
    int error = 0;
    bool made = false;
    const Folder targetFolder = to.makeChild(entry.name, &error, &made);
    if (!targetFolder.isOpen())
        return stop(error == LinkInTheWay ? CopyEvent::LinkInTarget : CopyEvent::MakeFolderFailed, source, target);
    m_walked.enter(targetFolder.id());
    const int child = m_record ? m_record->entered(node, entry.name, targetFolder.id(), made) : CopyRecord::Root;
    if (m_watch)
        m_watch->finished();
    return copyFolder(sourceFolder, targetFolder, child, source, target);
}

bool TreeCopy::measureFolder(const Folder &from, CopyAmount *amount)
{
    QVector<Folder::Entry> found;
    // A folder that cannot be read stops the copy, which reports it.
    if (!from.entries(&found))
        return true;
    m_line.append(from.id());
    bool going = true;
    for (const Folder::Entry &entry : qAsConst(found)) {
        going = !canceled() && measureEntry(from, entry, amount);
        if (!going)
            break;
    }
    m_line.removeLast();
    return going;
}

bool TreeCopy::measureEntry(const Folder &from, const Folder::Entry &entry, CopyAmount *amount)
{
    bool viaLink = false;
    struct stat st;
    switch (followed(from, entry.name, entry.kind, &viaLink)) {
    case Kind::File:
        if (statAt(from.handle(), entry.name.constData(), &st, viaLink))
            amount->bytes += st.st_size;
        break;
    case Kind::Folder: {
        FileId id;
        if (visit(from, entry.name, viaLink, &id) != Visit::Enter)
            return true;
        const Folder folder = openSource(from, entry.name, viaLink, id);
        if (!folder.isOpen())
            return true;
        ++amount->entries;
        return measureFolder(folder, amount);
    }
    case Kind::Pipe:
        break;
    case Kind::Missing:
        if (!viaLink)
            return true;
        break;
    case Kind::Device:
    case Kind::Other:
    case Kind::Link:
        return true;
    }
    ++amount->entries;
    return true;
}

} // namespace FileLayer
} // namespace Extras
