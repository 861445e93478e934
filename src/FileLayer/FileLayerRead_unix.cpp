#include "FileLayer_unix_p.h"

#include <limits>

// Whole-file reads and the streams of readers on Unix: regular files only,
// never waited on.
namespace Extras {
namespace FileLayer {

namespace {

// Opens without waiting on a pipe or device and keeps the handle only for
// a regular file, whose type is checked on the handle itself. What is
// plainly no regular file is not opened at all: opening a device can do
// something, opening a pipe tells its writer somebody reads.
int openRegular(int folder, const char *name, bool follow, int *error, FileState *state = nullptr)
{
    struct stat seen;
    const bool found = statAt(folder, name, &seen, follow);
    if (found && state)
        *state = stateOf(seen);
    if (found && !S_ISREG(seen.st_mode)) {
        *error = S_ISDIR(seen.st_mode) ? EISDIR : NotRegularFile;
        return -1;
    }
    const int handle = openAt(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | (follow ? 0 : O_NOFOLLOW));
    if (handle < 0) {
        *error = errno;
        return -1;
    }
    struct stat st {};
    const bool known = ::fstat(handle, &st) == 0;
    if (known && state)
        *state = stateOf(st);
    if (!known || !S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? EISDIR : NotRegularFile;
        closeHandle(handle);
        return -1;
    }
    return handle;
}

QByteArray readAll(int handle, bool *ok)
{
    struct stat st;
    QByteArray bytes;
    // The size is a hint: the file may grow or shrink while it is read.
    if (::fstat(handle, &st) == 0 && st.st_size > 0 && st.st_size < qint64(std::numeric_limits<int>::max()))
        bytes.reserve(int(st.st_size) + 1);
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = retrying([&] { return ::read(handle, buffer, sizeof buffer); });
        if (got < 0 || bytes.size() > std::numeric_limits<int>::max() - got) {
            *ok = false;
            return QByteArray();
        }
        if (got == 0)
            break;
        bytes.append(buffer, int(got));
    }
    *ok = true;
    return bytes;
}

} // namespace

QByteArray readFile(const QString &path, bool *ok)
{
    bool read = false;
    QByteArray bytes;
    int error = 0;
    const int handle = path.isEmpty() ? -1 : openRegular(AT_FDCWD, localName(path).constData(), true, &error);
    if (handle >= 0) {
        bytes = readAll(handle, &read);
        closeHandle(handle);
    }
    if (ok)
        *ok = read;
    return bytes;
}

QByteArray readEntry(const Place &place, Kind *found, bool *ok)
{
    const Folder folder = Folder::openParent(place);
    const QByteArray name = localName(place.entry());
    *found = folder.kindOf(name);
    *ok = false;
    int error = 0;
    const int handle = folder.isOpen() ? openRegular(folder.handle(), name.constData(), false, &error) : -1;
    if (handle < 0)
        return QByteArray();
    QByteArray bytes = readAll(handle, ok);
    closeHandle(handle);
    return bytes;
}

InputFile::InputFile(const QString &path)
{
    m_error = ENOENT;
    if (!path.isEmpty())
        m_handle = openRegular(AT_FDCWD, localName(path).constData(), true, &m_error);
    if (m_handle >= 0)
        m_error = 0;
}

InputFile::InputFile(const Folder &folder, const QByteArray &name)
{
    m_error = EBADF;
    if (folder.isOpen())
        m_handle = openRegular(folder.handle(), name.constData(), false, &m_error);
    struct stat st;
    if (m_handle >= 0 && ::fstat(m_handle, &st) == 0) {
        m_state = stateOf(st);
        m_permissions = st.st_mode & 0777;
        m_error = 0;
    } else if (m_handle >= 0) {
        m_error = errno;
        closeHandle(m_handle);
        m_handle = -1;
    }
}

FileState InputFile::currentState() const
{
    struct stat st;
    if (m_handle < 0 || ::fstat(m_handle, &st) != 0)
        return FileState();
    return stateOf(st);
}

InputFile::~InputFile()
{
    closeHandle(m_handle);
}

qint64 InputFile::read(char *data, qint64 size)
{
    if (m_handle < 0)
        return -1;
    return retrying([&] { return ::read(m_handle, data, size_t(size)); });
}

qint64 InputFile::readAt(quint64 offset, char *data, qint64 size) const
{
    if (m_handle < 0)
        return -1;
    qint64 done = 0;
    while (done < size) {
        const ssize_t count = retrying(
            [&] { return ::pread(m_handle, data + done, size_t(size - done), off_t(offset + quint64(done))); });
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += count;
    }
    return done;
}

bool InputFile::skip(qint64 count)
{
    return m_handle >= 0 && ::lseek(m_handle, off_t(count), SEEK_CUR) >= 0;
}

FILE *openStream(const QString &path, FileState *state, QString *reason)
{
    int error = ENOENT;
    *state = FileState();
    const int handle = path.isEmpty() ? -1 : openRegular(AT_FDCWD, localName(path).constData(), true, &error, state);
    if (handle < 0) {
        *reason = errorText(error);
        return nullptr;
    }
    FILE *file = makeBlocking(handle) ? ::fdopen(handle, "rb") : nullptr;
    if (!file) {
        *reason = errorText(errno);
        closeHandle(handle);
        return nullptr;
    }
    return file;
}

FILE *shareStream(FILE *file, QString *reason)
{
    const int handle = retrying([&] { return ::fcntl(::fileno(file), F_DUPFD_CLOEXEC, 0); });
    FILE *shared = handle >= 0 ? ::fdopen(handle, "rb") : nullptr;
    if (!shared) {
        *reason = errorText(errno);
        if (handle >= 0)
            closeHandle(handle);
    }
    return shared;
}

bool readAt(FILE *file, quint64 offset, char *data, qint64 size)
{
    const int handle = ::fileno(file);
    while (size > 0) {
        const ssize_t count = retrying([&] { return ::pread(handle, data, size_t(size), off_t(offset)); });
        if (count <= 0)
            return false;
        data += count;
        size -= count;
        offset += quint64(count);
    }
    return true;
}

} // namespace FileLayer
} // namespace Extras
