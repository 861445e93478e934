#include "ZipReader.h"

namespace {

QString directoryProblem(ZipDirectory::Status status)
{
    switch (status) {
    case ZipDirectory::Status::Ok:
        break;
    case ZipDirectory::Status::NotAnArchive:
        return QStringLiteral("Not a zip archive");
    case ZipDirectory::Status::Inconsistent:
        return QStringLiteral("Zip archive inconsistent");
    case ZipDirectory::Status::MultiDisk:
        return QStringLiteral("Multi-disk zip archives not supported");
    case ZipDirectory::Status::ReadError:
        return QStringLiteral("Read error");
    }
    return QString();
}

} // namespace

std::unique_ptr<ZipReader> ZipReader::open(const QString &path, QString *reason, FileState *state,
                                           const FileState *unless, bool *unchanged)
{
    std::unique_ptr<ZipReader> reader(new ZipReader);
    reader->m_path = path;
    FileState found;
    reader->m_file = Extras::FileLayer::openStream(path, &found, reason);
    if (state)
        *state = found;
    if (unless && *unless == found) {
        *unchanged = true;
        return nullptr;
    }
    if (!reader->m_file)
        return nullptr;
    reader->m_identity = found.id;
    const ZipDirectory::Status status = reader->m_directory.read(reader->m_file, found.size);
    if (status != ZipDirectory::Status::Ok) {
        *reason = directoryProblem(status);
        return nullptr;
    }
    return reader;
}

ZipReader::~ZipReader()
{
    if (m_file)
        std::fclose(m_file);
}

void ZipReader::listNames() const
{
    if (m_listed)
        return;
    for (const ZipDirectory::Entry &entry : m_directory.entries()) {
        const QString &name = entry.name;
        if (name.endsWith(QLatin1Char('/')))
            m_folderNames.append(name.left(name.size() - 1));
        else
            m_fileNames.append(name);
    }
    m_listed = true;
}

const QStringList &ZipReader::fileNames() const
{
    listNames();
    return m_fileNames;
}

const QStringList &ZipReader::folderNames() const
{
    listNames();
    return m_folderNames;
}

int ZipReader::indexOf(const QString &name, bool caseSensitive) const
{
    // Both indexes keep the first entry of a name, as archive order would.
    if (m_exact.isEmpty() && count() > 0) {
        m_exact.reserve(count());
        for (int i = count() - 1; i >= 0; --i)
            m_exact.insert(this->name(i), i);
    }
    const int exact = m_exact.value(name, -1);
    if (exact >= 0 || caseSensitive)
        return exact;
    if (m_folded.isEmpty() && count() > 0) {
        m_folded.reserve(count());
        for (int i = count() - 1; i >= 0; --i)
            m_folded.insert(this->name(i).toCaseFolded(), i);
    }
    return m_folded.value(name.toCaseFolded(), -1);
}

std::unique_ptr<ZipEntryStream> ZipReader::openEntry(int index, ZipError *error) const
{
    return ZipEntryStream::open(m_file, m_directory.prefix(), entry(index), error);
}

QDateTime ZipReader::lastModified(int index)
{
    const ZipEntryRecord &record = entry(index).record;
    if (!m_converted.isValid() || record.dosDate != m_convertedDos) {
        m_convertedDos = record.dosDate;
        // Kept in UTC: a local date-time asks the time zone again on every
        // conversion to seconds.
        m_converted = record.date.toLocalDateTime().toUTC();
    }
    return m_converted;
}

char *ZipReader::buffer()
{
    if (m_buffer.isEmpty())
        m_buffer = QByteArray(BufferSize, Qt::Uninitialized);
    return m_buffer.data();
}
