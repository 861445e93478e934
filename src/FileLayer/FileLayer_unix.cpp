#include "FileLayer_unix_p.h"

#include <QFileInfo>

#include <cstring>
#include <dirent.h>
#include <sys/statvfs.h>

// Open folders, file times and attributes on Unix.
namespace Extras {
namespace FileLayer {

Kind kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return Kind::File;
    if (S_ISDIR(mode))
        return Kind::Folder;
    if (S_ISLNK(mode))
        return Kind::Link;
    if (S_ISFIFO(mode))
        return Kind::Pipe;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Kind::Device;
    return Kind::Other;
}

QString errorText(int error)
{
    switch (error) {
    case LinkInTheWay:
        return QStringLiteral("A symbolic link stands in the way");
    case NotRegularFile:
        return QStringLiteral("Not a regular file");
    default:
        return qt_error_string(error);
    }
}

bool writeAll(int handle, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = retrying([&] { return ::write(handle, data, size_t(size)); });
        if (written < 0)
            return false;
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool syncToDisk(int handle)
{
    return ::fsync(handle) == 0 || errno == EINVAL || errno == EROFS;
}

bool makeBlocking(int handle)
{
    const int flags = ::fcntl(handle, F_GETFL);
    return flags >= 0 && ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

Folder FolderAccess::adopt(int handle, int *error)
{
    struct stat st;
    if (handle < 0 || ::fstat(handle, &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error)
            *error = handle < 0 ? errno : ENOTDIR;
        closeHandle(handle);
        return Folder();
    }
    return Folder(handle, idOf(st));
}

namespace {

void setError(int *error, int value)
{
    if (error)
        *error = value;
}

// After an open without following failed with ENOTDIR or ELOOP: whether a
// link stood there, which the caller reports as such.
int refusalAt(int folder, const char *name, int error)
{
    struct stat st;
    if ((error == ENOTDIR || error == ELOOP) && statAt(folder, name, &st, false) && S_ISLNK(st.st_mode))
        return LinkInTheWay;
    return error;
}

} // namespace

Folder::~Folder()
{
    close();
}

Folder::Folder(Folder &&other) noexcept
    : m_handle(other.m_handle)
    , m_id(other.m_id)
{
    other.m_handle = -1;
    other.m_id = FileId();
}

Folder &Folder::operator=(Folder &&other) noexcept
{
    if (this != &other) {
        close();
        m_handle = other.m_handle;
        m_id = other.m_id;
        other.m_handle = -1;
        other.m_id = FileId();
    }
    return *this;
}

void Folder::close()
{
    closeHandle(m_handle);
    m_handle = -1;
    m_id = FileId();
}

Folder Folder::open(const QString &path, int *error)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char(':'))) {
        setError(error, ENOENT);
        return Folder();
    }
    return FolderAccess::adopt(openAt(AT_FDCWD, localName(path).constData(), FolderFlags), error);
}

Folder Folder::openParent(const Place &place, int *error)
{
    if (!place.isValid()) {
        setError(error, EINVAL);
        return Folder();
    }
    Folder folder = open(place.start(), error);
    for (const QString &name : place.folders()) {
        if (!folder.isOpen())
            break;
        if (name == QLatin1String("."))
            continue;
        folder = name == QLatin1String("..") ? folder.parent(error) : folder.child(localName(name), FileId(), error);
    }
    return folder;
}

Kind Folder::kindOf(const QByteArray &name, bool follow, FileId *id) const
{
    struct stat st;
    if (m_handle < 0 || !statAt(m_handle, name.constData(), &st, follow))
        return Kind::Missing;
    if (id)
        *id = idOf(st);
    return kindOfMode(st.st_mode);
}

Kind Folder::stateOf(const QByteArray &name, FileState *state) const
{
    struct stat st;
    if (m_handle < 0 || !statAt(m_handle, name.constData(), &st, false))
        return Kind::Missing;
    *state = Extras::FileLayer::stateOf(st);
    return kindOfMode(st.st_mode);
}

Folder Folder::child(const QByteArray &name, const FileId &expected, int *error) const
{
    if (m_handle < 0) {
        setError(error, EBADF);
        return Folder();
    }
    const int handle = openAt(m_handle, name.constData(), FolderFlags | O_NOFOLLOW);
    if (handle < 0) {
        setError(error, refusalAt(m_handle, name.constData(), errno));
        return Folder();
    }
    Folder folder = FolderAccess::adopt(handle, error);
    // Another folder took the place of the one the caller saw.
    if (folder.isOpen() && expected.valid && folder.id() != expected) {
        setError(error, ESTALE);
        return Folder();
    }
    return folder;
}

Folder Folder::childFollowing(const QByteArray &name, int *error) const
{
    if (m_handle < 0) {
        setError(error, EBADF);
        return Folder();
    }
    return FolderAccess::adopt(openAt(m_handle, name.constData(), FolderFlags), error);
}

Folder Folder::makeChild(const QByteArray &name, int *error, bool *made) const
{
    if (made)
        *made = false;
    if (m_handle < 0) {
        setError(error, EBADF);
        return Folder();
    }
    // Looked for first: an existing folder needs no write access to its parent.
    int failure = 0;
    Folder existing = child(name, FileId(), &failure);
    if (existing.isOpen() || failure != ENOENT) {
        setError(error, failure);
        return existing;
    }
    if (::mkdirat(m_handle, name.constData(), 0777) == 0) {
        if (made)
            *made = true;
    } else if (errno != EEXIST) {
        setError(error, errno);
        return Folder();
    }
    return child(name, FileId(), error);
}

Folder Folder::parent(int *error) const
{
    return childFollowing(QByteArrayLiteral(".."), error);
}

namespace {

// What the folder read says an entry is; Missing when it does not tell.
Kind kindOfType(unsigned char type)
{
    switch (type) {
    case DT_REG:
        return Kind::File;
    case DT_DIR:
        return Kind::Folder;
    case DT_LNK:
        return Kind::Link;
    case DT_FIFO:
        return Kind::Pipe;
    case DT_CHR:
    case DT_BLK:
        return Kind::Device;
    case DT_UNKNOWN:
        return Kind::Missing;
    default:
        return Kind::Other;
    }
}

} // namespace

bool Folder::read(const Visitor &visit) const
{
    if (m_handle < 0 || ::lseek(m_handle, 0, SEEK_SET) < 0)
        return false;
    // The folder's records straight from the kernel, without a stream and
    // the second handle it would need.
    alignas(dirent64) char buffer[32 * 1024];
    for (;;) {
        const ssize_t size = retrying([&] { return ::getdents64(m_handle, buffer, sizeof buffer); });
        if (size == 0)
            return true;
        if (size < 0)
            return false;
        for (ssize_t at = 0; at < size;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            at += entry->d_reclen;
            const char *name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            visit(name, int(std::strlen(name)), kindOfType(entry->d_type));
        }
    }
}

bool Folder::freeSpace(quint64 *bytes) const
{
    struct statvfs st;
    if (m_handle < 0 || ::fstatvfs(m_handle, &st) != 0)
        return false;
    *bytes = quint64(st.f_bavail) * quint64(st.f_frsize);
    return true;
}

bool Folder::entries(QVector<Entry> *entries) const
{
    entries->clear();
    return read([entries](const char *name, int size, Kind kind) { entries->append({QByteArray(name, size), kind}); });
}

bool Folder::remove(const QByteArray &name, bool folder, int *error) const
{
    if (m_handle >= 0 && ::unlinkat(m_handle, name.constData(), folder ? AT_REMOVEDIR : 0) == 0)
        return true;
    setError(error, m_handle >= 0 ? errno : EBADF);
    return false;
}

// ---- Times and attributes ------------------------------------------------

bool setFileTimes(const QString &path, quint32 lastRead, quint32 lastModified, int *error)
{
    struct timespec times[2];
    times[0].tv_sec = time_t(lastRead);
    times[0].tv_nsec = 0;
    times[1].tv_sec = time_t(lastModified);
    times[1].tv_nsec = 0;
    if (::utimensat(AT_FDCWD, path.toLocal8Bit().constData(), times, 0) == 0)
        return true;
    if (error)
        *error = errno;
    return false;
}

bool setHidden(const QString &path, bool hidden)
{
    // Unix has no hidden attribute: an entry is hidden when its name begins
    // with a dot. Renaming would change the path callers hold, so the
    // request succeeds only when the state already is the one asked for.
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return false;
    return info.fileName().startsWith(QLatin1Char('.')) == hidden;
}

bool namesADrive(const QString &name)
{
    // No drive letters here: "C:x" is a name like any other.
    Q_UNUSED(name)
    return false;
}

} // namespace FileLayer
} // namespace Extras
