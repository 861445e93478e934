#include "ReadFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Extras {

ReadFile::ReadFile(const QString &path)
    : m_handle(open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
{
}

ReadFile::~ReadFile()
{
    if (m_handle >= 0)
        close(m_handle);
}

bool ReadFile::isOpen() const
{
    return m_handle >= 0;
}

qint64 ReadFile::read(char *data, qint64 size)
{
    if (m_handle < 0)
        return -1;
    for (;;) {
        const ssize_t got = ::read(m_handle, data, size_t(size));
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        // A folder opens here, but only reading tells it apart without
        // another call; it counts as a file that could not be opened.
        if (errno == EISDIR) {
            close(m_handle);
            m_handle = -1;
        }
        return -1;
    }
}

bool ReadFile::skip(qint64 count)
{
    return m_handle >= 0 && lseek(m_handle, off_t(count), SEEK_CUR) >= 0;
}

} // namespace Extras
