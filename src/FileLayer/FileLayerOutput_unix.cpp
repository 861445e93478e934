#include "FileLayer_unix_p.h"

#include <QRandomGenerator>

#include <sys/xattr.h>

// New content of files on Unix: replaced whole where nobody can tell, else
// written in place; never through a link the rules do not allow.
namespace Extras {
namespace FileLayer {

namespace {

// Whether a new file could take the place of the regular file `st` in
// `folder` without anybody noticing: a single name, owned by the writer,
// in the group a new file would get, without set-id bits and without an
// access control list. `handle` is a handle on the file itself.
bool replaceableUnseen(int folder, int handle, const struct stat &st)
{
    if (st.st_nlink != 1 || st.st_uid != ::geteuid() || (st.st_mode & (S_ISUID | S_ISGID)) != 0)
        return false;
    // A new file gets the folder's group in a set-group-id folder, else the writer's.
    struct stat parent;
    if (::fstat(folder, &parent) != 0)
        return false;
    const gid_t newGroup = (parent.st_mode & S_ISGID) ? parent.st_gid : ::getegid();
    if (st.st_gid != newGroup)
        return false;
    // An access control list would not carry over to the new file. The
    // handle's own entry in /proc names exactly this file.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(handle);
    return ::getxattr(self.constData(), "system.posix_acl_access", nullptr, 0) < 0;
}

} // namespace

OutputFile::OutputFile(const Folder &folder, const QByteArray &name, Rules rules)
    : m_folder(folder)
    , m_name(name)
    , m_rules(rules)
{
}

OutputFile::~OutputFile()
{
    if (!m_committed)
        discard();
}

void OutputFile::fail(int error)
{
    m_error = error;
    m_errorString = errorText(error);
}

bool OutputFile::inspect()
{
    m_inspected = true;
    m_existing = FileId();
    m_kind = Kind::Missing;
    m_replaceable = false;
    struct stat st;
    if (!m_folder.isOpen()) {
        fail(EBADF);
        return false;
    }
    if (!statAt(m_folder.handle(), m_name.constData(), &st, false)) {
        if (errno == ENOENT)
            return true;
        fail(errno);
        return false;
    }
    m_kind = kindOfMode(st.st_mode);
    m_mode = st.st_mode;
    m_owner = st.st_uid;
    m_group = st.st_gid;
    m_existing = idOf(st);
    if (m_kind == Kind::File && m_rules != Rules::Extraction) {
        const int handle = openAt(m_folder.handle(), m_name.constData(), O_PATH | O_NOFOLLOW);
        struct stat now;
        m_replaceable = handle >= 0 && ::fstat(handle, &now) == 0 && idOf(now) == m_existing
            && replaceableUnseen(m_folder.handle(), handle, now);
        closeHandle(handle);
    }
    return true;
}

bool OutputFile::open()
{
    if (!m_inspected && !inspect())
        return false;
    switch (m_kind) {
    case Kind::Missing:
        if (m_rules == Rules::Archive)
            return openTemporary();
        // Something may appear meanwhile: it is then looked at once more.
        if (openNew())
            return true;
        if (m_error != EEXIST || !inspect() || m_kind == Kind::Missing)
            return false;
        return open();
    case Kind::Folder:
        fail(EISDIR);
        return false;
    case Kind::Link:
        if (m_rules == Rules::Extraction || m_rules == Rules::Archive)
            return openTemporary();
        if (m_rules == Rules::Settings) {
            fail(LinkInTheWay);
            return false;
        }
        return openInPlace(true);
    case Kind::File:
        if (m_rules == Rules::Extraction || m_rules == Rules::Archive || m_replaceable)
            return openTemporary();
        return openInPlace(false);
    case Kind::Pipe:
    case Kind::Device:
        if (m_rules == Rules::Settings || m_rules == Rules::Archive) {
            fail(NotRegularFile);
            return false;
        }
        return openInPlace(false);
    case Kind::Other:
        break;
    }
    fail(NotRegularFile);
    return false;
}

bool OutputFile::openNew()
{
    // O_EXCL refuses any entry at the name, a dangling link included.
    m_handle = openAt(m_folder.handle(), m_name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY,
                      m_permissions);
    if (m_handle < 0) {
        fail(errno);
        return false;
    }
    struct stat st;
    if (::fstat(m_handle, &st) == 0)
        m_written = idOf(st);
    m_created = true;
    return true;
}

bool OutputFile::openInPlace(bool followLink)
{
    // O_NONBLOCK: a pipe without a reader refuses at once (ENXIO) instead
    // of blocking the caller. An existing file is opened without O_CREAT:
    // in a sticky folder the kernel may refuse creating opens of other
    // users' files (fs.protected_regular), and through a dangling link it
    // would make the link's target.
    const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW);
    m_handle = openAt(m_folder.handle(), m_name.constData(), flags);
    if (m_handle < 0) {
        // Through a link: ENOENT means that it leads nowhere.
        fail(followLink && errno == ENOENT ? LinkInTheWay : errno);
        return false;
    }
    struct stat st;
    if (::fstat(m_handle, &st) != 0 || !makeBlocking(m_handle)) {
        fail(errno);
        return false;
    }
    if (!followLink && idOf(st) != m_existing) {
        fail(ESTALE);
        return false;
    }
    if (S_ISDIR(st.st_mode) || S_ISSOCK(st.st_mode)) {
        fail(NotRegularFile);
        return false;
    }
    m_kind = kindOfMode(st.st_mode);
    m_inPlace = true;
    return true;
}

bool OutputFile::openTemporary()
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray candidate = ".maporaextras-"
            + QByteArray::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 16) + ".part";
        m_handle = openAt(m_folder.handle(), candidate.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, m_permissions);
        if (m_handle >= 0) {
            m_temporary = candidate;
            break;
        }
        if (errno != EEXIST) {
            fail(errno);
            return false;
        }
    }
    if (m_handle < 0) {
        fail(EEXIST);
        return false;
    }
    struct stat st;
    if (::fstat(m_handle, &st) == 0)
        m_written = idOf(st);
    if (m_kind == Kind::File) {
        // The replacement keeps the access the previous file gave (set-id
        // bits are not carried over) and, where allowed, its owner; where
        // not, it belongs to whoever writes it, as any new file does.
        ::fchmod(m_handle, m_mode & 0777);
        const bool ownerKept = ::fchown(m_handle, m_owner, m_group) == 0;
        Q_UNUSED(ownerKept)
    }
    return true;
}

bool OutputFile::write(const char *data, qint64 size)
{
    if (writeAll(m_handle, data, size))
        return true;
    fail(errno);
    return false;
}

bool OutputFile::writeAt(quint64 offset, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = retrying([&] { return ::pwrite(m_handle, data, size_t(size), off_t(offset)); });
        if (written <= 0) {
            fail(written < 0 ? errno : ENOSPC);
            return false;
        }
        data += written;
        size -= written;
        offset += quint64(written);
    }
    return true;
}

bool OutputFile::truncate(quint64 size)
{
    if (retrying([&] { return ::ftruncate(m_handle, off_t(size)); }) == 0 && ::lseek(m_handle, off_t(size), SEEK_SET) >= 0)
        return true;
    fail(errno);
    return false;
}

bool OutputFile::setTimes(qint64 secondsSinceEpoch)
{
    struct timespec times[2];
    times[0].tv_sec = time_t(secondsSinceEpoch);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::futimens(m_handle, times) == 0)
        return true;
    fail(errno);
    return false;
}

bool OutputFile::commit()
{
    if (m_handle < 0) {
        fail(EBADF);
        return false;
    }
    bool ok = true;
    if (m_inPlace && m_kind == Kind::File) {
        // Written over the old bytes first and cut afterwards: the old
        // content is only given up as far as new bytes have replaced it.
        const off_t end = ::lseek(m_handle, 0, SEEK_CUR);
        ok = end >= 0 && ::ftruncate(m_handle, end) == 0;
    }
    // Whole-file writes promise the bytes are on disk; extraction leaves
    // that to the system, as unzip and bsdtar do.
    if (ok && m_rules != Rules::Extraction && (m_kind == Kind::File || m_kind == Kind::Missing || !m_inPlace))
        ok = syncToDisk(m_handle);
    if (!ok)
        fail(errno);
    const int handle = m_handle;
    m_handle = -1;
    // A delayed write error (NFS, quota) shows up at the close.
    if (::close(handle) != 0 && ok) {
        fail(errno);
        ok = false;
    }
    if (ok && !m_temporary.isEmpty()
        && ::renameat(m_folder.handle(), m_temporary.constData(), m_folder.handle(), m_name.constData()) != 0) {
        fail(errno);
        ok = false;
    }
    if (!ok) {
        discard();
        return false;
    }
    m_temporary.clear();
    m_committed = true;
    return true;
}

void OutputFile::discard()
{
    closeHandle(m_handle);
    m_handle = -1;
    if (!m_temporary.isEmpty()) {
        ::unlinkat(m_folder.handle(), m_temporary.constData(), 0);
        m_temporary.clear();
    }
    if (m_created) {
        // Only the file made here goes, not what may have taken its name.
        FileId now;
        if (m_folder.kindOf(m_name, false, &now) == Kind::File && now == m_written)
            ::unlinkat(m_folder.handle(), m_name.constData(), 0);
        m_created = false;
    }
}

bool writeFile(const Place &place, const QByteArray &bytes, OutputFile::Rules rules, QString *reason)
{
    int error = 0;
    const Folder folder = Folder::openParent(place, &error);
    if (!folder.isOpen()) {
        if (reason)
            *reason = errorText(error);
        return false;
    }
    OutputFile output(folder, localName(place.entry()), rules);
    if (output.open() && output.write(bytes.constData(), bytes.size()) && output.commit())
        return true;
    if (reason)
        *reason = output.errorString();
    return false;
}

} // namespace FileLayer
} // namespace Extras
