#include "FileLayer_unix_p.h"

#include <QSet>

#include <algorithm>
#include <sys/sendfile.h>

// Copies of files and folder trees on Unix, from open folder to open folder.
namespace Extras {
namespace FileLayer {

namespace {

// The errors with which a kernel or file system refuses a copy method as
// such (old kernel, other file systems, file kinds it does not handle), as
// opposed to a failing copy.
bool refusesMethod(int error)
{
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == EBADF
        || error == EPERM || error == ETXTBSY;
}

enum class Step { Done, Refused, Failed };

Step stepAfter(int error)
{
    return refusesMethod(error) ? Step::Refused : Step::Failed;
}

bool copyThroughBuffer(int in, int out)
{
    // Below the size from which malloc maps fresh memory for every buffer.
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = retrying([&] { return ::read(in, buffer.data(), size_t(buffer.size())); });
        if (got <= 0)
            return got == 0;
        if (!writeAll(out, buffer.constData(), got))
            return false;
    }
}

Step copyInKernel(int in, int out)
{
    bool copiedAny = false;
    for (;;) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
        if (copied > 0)
            copiedAny = true;
        else if (copied == 0)
            // Some kernels give 0 at once for files whose size the file system
            // does not know beforehand (such as those of /proc): another way
            // tells whether they are empty.
            return copiedAny ? Step::Done : Step::Refused;
        else if (errno != EINTR)
            return stepAfter(errno);
    }
}

Step sendToEnd(int in, int out)
{
    for (;;) {
        const ssize_t sent = ::sendfile(out, in, nullptr, 0x7ffff000);
        if (sent == 0)
            return Step::Done;
        if (sent < 0 && errno != EINTR)
            return stepAfter(errno);
    }
}

// Copies `in` from its offset to its end onto `out` at its offset: in the
// kernel with copy_file_range, where that is refused with sendfile, and
// else through a buffer. Each way goes on from where the last one left
// both offsets.
bool copyContent(int in, int out)
{
    Step step = copyInKernel(in, out);
    if (step == Step::Refused)
        step = sendToEnd(in, out);
    if (step == Step::Refused)
        return copyThroughBuffer(in, out);
    return step == Step::Done;
}

// The permission bits QFile::copy gives a copy: those of the source, the
// set-id and sticky bits dropped, and each owner bit also set when the user
// may read, write or execute the source. The kernel is asked only where an
// owner bit is missing that access could grant, in Qt's order, which stops
// at the first error other than EACCES or EROFS.
mode_t copiedMode(int folder, const char *name, mode_t mode)
{
    mode_t result = mode & 0777;
    const bool executable = (mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    if ((mode & S_IRUSR) && (mode & S_IWUSR) && ((mode & S_IXUSR) || !executable))
        return result;
    const struct {
        int access;
        mode_t bit;
    } checks[] = {{R_OK, S_IRUSR}, {W_OK, S_IWUSR}, {X_OK, S_IXUSR}};
    for (const auto &check : checks) {
        if (::faccessat(folder, name, check.access, 0) == 0)
            result |= check.bit;
        else if (errno != EACCES && errno != EROFS)
            break;
    }
    return result;
}

// A named pipe is made anew with the permissions of the source: opening it
// to read would wait for a writer. The mode is set on the new pipe's own
// handle, as mkfifo applies the umask.
bool makePipe(const Folder &to, const QByteArray &name, mode_t mode, int *error)
{
    if (::mkfifoat(to.handle(), name.constData(), mode & 07777) != 0) {
        *error = errno;
        return false;
    }
    const int handle = openAt(to.handle(), name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    struct stat st;
    const bool ok = handle >= 0 && ::fstat(handle, &st) == 0 && S_ISFIFO(st.st_mode)
        && ::fchmod(handle, mode & 07777) == 0;
    *error = ok ? 0 : errno;
    closeHandle(handle);
    return ok;
}

// A link that leads nowhere is all there is: it is copied with its text.
bool copyLinkText(const Folder &from, const QByteArray &name, const Folder &to, const QByteArray &newName,
                  int *error)
{
    QByteArray text(PATH_MAX, '\0');
    const ssize_t size = ::readlinkat(from.handle(), name.constData(), text.data(), size_t(text.size()));
    if (size < 0 || size >= text.size()) {
        *error = size < 0 ? errno : ENAMETOOLONG;
        return false;
    }
    text.truncate(int(size));
    if (::symlinkat(text.constData(), to.handle(), newName.constData()) == 0)
        return true;
    *error = errno;
    return false;
}

} // namespace

bool copyRegularFile(const Folder &from, const QByteArray &name, bool follow, const Folder &to,
                     const QByteArray &newName, int *error)
{
    int failure = 0;
    const char *local = name.constData();
    // QFile::copy is only reached when access() finds the source readable.
    // Opened without waiting on a pipe or device, its type checked on the
    // handle: an entry that became something else is not copied.
    int in = ::faccessat(from.handle(), local, R_OK, 0) == 0
        ? openAt(from.handle(), local, O_RDONLY | O_NONBLOCK | O_NOCTTY | (follow ? 0 : O_NOFOLLOW))
        : -1;
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure = in < 0 ? errno : NotRegularFile;
        closeHandle(in);
        in = -1;
    }
    // Made for the owner alone while the bytes arrive; O_EXCL refuses any
    // existing entry, a dangling link included.
    const int out = in < 0 ? -1
                           : openAt(to.handle(), newName.constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0600);
    if (in >= 0 && out < 0)
        failure = errno;
    bool ok = out >= 0 && copyContent(in, out) && ::fchmod(out, copiedMode(from.handle(), local, st.st_mode)) == 0;
    if (out >= 0 && !ok)
        failure = errno;
    if (out >= 0 && ::close(out) != 0 && ok) {
        failure = errno;
        ok = false;
    }
    closeHandle(in);
    if (out >= 0 && !ok)
        ::unlinkat(to.handle(), newName.constData(), 0);
    if (error)
        *error = failure;
    return ok;
}

bool copyFileInto(const Folder &from, const QByteArray &name, const Folder &to)
{
    return copyRegularFile(from, name, false, to, name, nullptr);
}

namespace {

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// One entry of a folder being copied: its name as the file system holds it
// and as text, for the order and the messages.
struct CopiedEntry
{
    QByteArray name;
    QString text;
    Kind kind;
};

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

/*!
    A tree copy: the folders it entered, those that hold the target (a link
    to one of them would copy the copy into itself), and the line of source
    folders being copied.
*/
class TreeCopy
{
public:
    TreeCopy(const CopyReport &report, const QVector<FileId> &aboveTarget)
        : m_report(report)
    {
        for (const FileId &id : aboveTarget)
            m_aboveTarget.insert(id);
    }

    bool copyFolder(const Folder &from, const Folder &to, const QString &fromPath, const QString &toPath);
    void enterTarget(const FileId &id) { m_walked.enter(id); }
    bool enterSource(const FileId &id) { return m_walked.enter(id); }

private:
    bool copyEntry(const Folder &from, const Folder &to, const CopiedEntry &entry, const QString &source,
                   const QString &target);
    bool copyFile(const Folder &from, const Folder &to, const CopiedEntry &entry, bool follow,
                  const QString &source, const QString &target);
    bool enterFolder(const Folder &from, const Folder &to, const CopiedEntry &entry, bool viaLink,
                     const QString &source, const QString &target);
    bool stop(CopyEvent event, const QString &source, const QString &target)
    {
        m_report(event, source, target);
        return false;
    }
    // An entry that could not be copied stops the copy: what stood in the
    // way, then the entry.
    bool failed(int error, const QString &source, const QString &target)
    {
        m_report(error == EEXIST ? CopyEvent::TargetExists : CopyEvent::CopyFailed, source, target);
        return stop(CopyEvent::EntryFailed, source, target);
    }

    const CopyReport &m_report;
    QSet<FileId> m_aboveTarget;
    QVector<FileId> m_line;
    WalkedFolders m_walked;
};

bool TreeCopy::copyFolder(const Folder &from, const Folder &to, const QString &fromPath, const QString &toPath)
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
        ok = copyEntry(from, to, entry, joined(fromPath, entry.text), joined(toPath, entry.text));
        if (!ok)
            break;
    }
    m_line.removeLast();
    return ok;
}

bool TreeCopy::copyEntry(const Folder &from, const Folder &to, const CopiedEntry &entry, const QString &source,
                         const QString &target)
{
    Kind kind = entry.kind == Kind::Missing ? from.kindOf(entry.name) : entry.kind;
    int error = 0;
    if (kind == Kind::File) {
        if (copyRegularFile(from, entry.name, false, to, entry.name, &error))
            return true;
        if (error != ELOOP && error != NotRegularFile)
            return failed(error, source, target);
        // The entry changed since the folder was read: look again.
        kind = from.kindOf(entry.name);
    }
    bool viaLink = false;
    if (kind == Kind::Link) {
        viaLink = true;
        kind = from.kindOf(entry.name, true);
    }
    switch (kind) {
    case Kind::File:
        return copyFile(from, to, entry, viaLink, source, target);
    case Kind::Folder:
        return enterFolder(from, to, entry, viaLink, source, target);
    case Kind::Pipe: {
        struct stat st;
        if (statAt(from.handle(), entry.name.constData(), &st, viaLink) && makePipe(to, entry.name, st.st_mode, &error))
            return true;
        break;
    }
    case Kind::Missing:
        if (viaLink && copyLinkText(from, entry.name, to, entry.name, &error))
            return true;
        break;
    case Kind::Device:
    case Kind::Other:
    case Kind::Link:
        m_report(CopyEvent::NotCopied, source, target);
        return true;
    }
    return failed(error, source, target);
}

bool TreeCopy::copyFile(const Folder &from, const Folder &to, const CopiedEntry &entry, bool follow,
                        const QString &source, const QString &target)
{
    int error = 0;
    if (copyRegularFile(from, entry.name, follow, to, entry.name, &error))
        return true;
    return failed(error, source, target);
}

bool TreeCopy::enterFolder(const Folder &from, const Folder &to, const CopiedEntry &entry, bool viaLink,
                           const QString &source, const QString &target)
{
    FileId id;
    from.kindOf(entry.name, viaLink, &id);
    if (viaLink && (m_line.contains(id) || m_aboveTarget.contains(id))) {
        m_report(CopyEvent::LinksBack, source, target);
        return true;
    }
    if (!m_walked.enter(id)) {
        m_report(CopyEvent::AlreadyCopied, source, target);
        return true;
    }
    int error = 0;
    const Folder sourceFolder = viaLink ? from.childFollowing(entry.name, &error) : from.child(entry.name, id, &error);
    if (!sourceFolder.isOpen() || sourceFolder.id() != id)
        return stop(CopyEvent::FolderUnreadable, source, target);
    const Folder targetFolder = to.makeChild(entry.name, &error);
    if (!targetFolder.isOpen())
        return stop(error == LinkInTheWay ? CopyEvent::LinkInTarget : CopyEvent::MakeFolderFailed, source, target);
    m_walked.enter(targetFolder.id());
    return copyFolder(sourceFolder, targetFolder, source, target);
}

} // namespace

bool copyEntry(const QString &source, const Place &target, const CopyReport &report)
{
    const Folder to = Folder::openParent(target);
    const QByteArray newName = localName(target.entry());
    if (to.isOpen() && to.kindOf(newName) != Kind::Missing) {
        report(CopyEvent::TargetExists, source, target.path());
        return false;
    }
    // The source is read: links on its way and at its end are followed.
    const Place from = Place::whole(source);
    const Folder holder = Folder::open(from.start());
    const QByteArray name = localName(from.entry());
    Kind kind = holder.kindOf(name);
    const bool viaLink = kind == Kind::Link;
    if (viaLink)
        kind = holder.kindOf(name, true);
    int error = ENOENT;
    bool ok = false;
    if (to.isOpen()) {
        struct stat st;
        switch (kind) {
        case Kind::File:
            ok = copyRegularFile(holder, name, viaLink, to, newName, &error);
            break;
        case Kind::Pipe:
            ok = statAt(holder.handle(), name.constData(), &st, true) && makePipe(to, newName, st.st_mode, &error);
            break;
        case Kind::Missing:
            ok = viaLink && copyLinkText(holder, name, to, newName, &error);
            break;
        default:
            report(CopyEvent::NotCopied, source, target.path());
            return false;
        }
    }
    if (!ok)
        report(error == EEXIST ? CopyEvent::TargetExists : CopyEvent::CopyFailed, source, target.path());
    return ok;
}

bool copyTree(const QString &source, const QString &target, const CopyReport &report)
{
    const Folder from = Folder::open(source);
    if (!from.isOpen()) {
        report(CopyEvent::FolderUnreadable, source, target);
        return false;
    }
    // Where the kernel resolves the target: a copy into the source itself
    // or below it would nest copies of itself until a step fails.
    QStringList missing;
    const Folder deepest = openDeepestExisting(target, &missing, nullptr);
    const QVector<FileId> holders = deepest.isOpen() ? folderAndAncestors(deepest) : QVector<FileId>();
    if (holders.contains(from.id())) {
        report(CopyEvent::TargetInsideSource, source, target);
        return false;
    }
    int error = 0;
    const Folder to = deepest.isOpen() ? makeFolders(deepest, missing, &error) : Folder();
    if (!to.isOpen()) {
        report(error == LinkInTheWay ? CopyEvent::LinkInTarget : CopyEvent::MakeFolderFailed, source, target);
        return false;
    }
    TreeCopy copy(report, holders);
    copy.enterSource(from.id());
    copy.enterTarget(to.id());
    return copy.copyFolder(from, to, source, target);
}

} // namespace FileLayer
} // namespace Extras
