#include "FilePlatform.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace Extras {
namespace FilePlatform {

bool setFileTimes(const QByteArray &localPath, quint32 lastRead, quint32 lastModified, int *error)
{
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(lastRead);
    times[0].tv_nsec = 0;
    times[1].tv_sec = static_cast<time_t>(lastModified);
    times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, localPath.constData(), times, 0) == 0)
        return true;
    if (error)
        *error = errno;
    return false;
}

bool setHidden(const QString &filePath, bool hidden)
{
    // Unix has no hidden attribute: an entry is hidden when its name begins
    // with a dot. Renaming would change the path callers hold, so the
    // request succeeds only when the state already is the one asked for.
    const QFileInfo info(filePath);
    if (!info.exists() && !info.isSymLink())
        return false;
    return info.fileName().startsWith(QLatin1Char('.')) == hidden;
}

} // namespace FilePlatform
} // namespace Extras
