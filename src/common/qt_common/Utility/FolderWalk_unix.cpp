#include "FolderWalk.h"

#include <QFile>
#include <QTextCodec>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Extras {
namespace FolderWalk {

namespace {

// Entry names are bytes; QDir shows only those that the local encoding
// decodes without loss, and so does this.
class NameDecoder
{
public:
    NameDecoder()
        : m_codec(QTextCodec::codecForLocale())
        , m_mib(m_codec ? m_codec->mibEnum() : latin1)
    {
    }

    bool decode(const char *bytes, int size, QString *name) const
    {
        if (isAscii(bytes, size) && (m_mib == utf8 || m_mib == ascii || m_mib == latin1)) {
            *name = QString::fromLatin1(bytes, size);
            return true;
        }
        if (m_mib == latin1 || !m_codec) {
            *name = QString::fromLatin1(bytes, size);
            return true;
        }
        if (m_mib == ascii)
            return false;
        // The name stands after a folder path, so a leading byte-order mark
        // is a character of the name, not a header.
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        *name = m_codec->toUnicode(bytes, size, &state);
        return state.invalidChars == 0 && state.remainingChars == 0;
    }

private:
    // MIBenum numbers of the encodings that need no codec.
    static const int ascii = 3;
    static const int latin1 = 4;
    static const int utf8 = 106;

    static bool isAscii(const char *bytes, int size)
    {
        for (int i = 0; i < size; ++i) {
            if (uchar(bytes[i]) >= 0x80)
                return false;
        }
        return true;
    }

    QTextCodec *m_codec;
    int m_mib;
};

enum class Kind { Skip, File, Folder };

// The kind a listing gives an entry; the file system is asked only when the
// directory read does not tell, or the entry is a symbolic link.
Kind kindOf(int folder, const char *name, unsigned char type, bool withFiles)
{
    switch (type) {
    case DT_DIR:
        return Kind::Folder;
    case DT_REG:
        return withFiles ? Kind::File : Kind::Skip;
    case DT_LNK:
    case DT_UNKNOWN:
        break;
    default:
        // Fifos, sockets and devices are system entries.
        return Kind::Skip;
    }
    struct stat status;
    if (type == DT_UNKNOWN) {
        if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return Kind::Skip;
        if (S_ISDIR(status.st_mode))
            return Kind::Folder;
        if (S_ISREG(status.st_mode))
            return withFiles ? Kind::File : Kind::Skip;
        if (!S_ISLNK(status.st_mode))
            return Kind::Skip;
    }
    // A link counts as what it points at; a link to nothing is a system entry.
    if (fstatat(folder, name, &status, 0) != 0)
        return Kind::Skip;
    if (S_ISDIR(status.st_mode))
        return Kind::Folder;
    return withFiles ? Kind::File : Kind::Skip;
}

} // namespace

bool readFolder(const QString &path, bool withFiles, const std::function<bool(const QString &)> &accept,
                QVector<Entry> *entries, FolderId *id)
{
    entries->clear();
    DIR *stream = opendir(QFile::encodeName(path).constData());
    if (!stream)
        return false;
    const int folder = dirfd(stream);
    struct stat status;
    if (id && fstat(folder, &status) == 0) {
        id->device = quint64(status.st_dev);
        id->node = quint64(status.st_ino);
    }
    const NameDecoder decoder;
    QString name;
    while (const dirent *entry = readdir(stream)) {
        const char *bytes = entry->d_name;
        // Dot, dot-dot and every other name that begins with a dot: hidden.
        if (bytes[0] == '.')
            continue;
        if (!withFiles && entry->d_type == DT_REG)
            continue;
        if (!decoder.decode(bytes, int(strlen(bytes)), &name))
            continue;
        if (accept && !accept(name))
            continue;
        const Kind kind = kindOf(folder, bytes, entry->d_type, withFiles);
        if (kind != Kind::Skip)
            entries->append(Entry{name, kind == Kind::Folder});
    }
    closedir(stream);
    return true;
}

} // namespace FolderWalk
} // namespace Extras
