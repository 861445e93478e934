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
    const std::shared_ptr<ZipDirectory> directory = std::make_shared<ZipDirectory>();
    const ZipDirectory::Status status = directory->read(reader->m_file, found.size);
    if (status != ZipDirectory::Status::Ok) {
        *reason = directoryProblem(status);
        return nullptr;
    }
    reader->m_directory = directory;
    return reader;
}

std::unique_ptr<ZipReader> ZipReader::share(QString *reason) const
{
    std::unique_ptr<ZipReader> reader(new ZipReader);
    reader->m_file = Extras::FileLayer::shareStream(m_file, reason);
    if (!reader->m_file)
        return nullptr;
    reader->m_path = m_path;
    reader->m_identity = m_identity;
    reader->m_directory = m_directory;
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
    for (size_t index = 0; index < m_directory->size(); ++index) {
        const ZipDirectory::NameBytes bytes = m_directory->nameBytes(index);
        const bool folder = bytes.size > 0 && bytes.data[bytes.size - 1] == '/';
        const int size = int(bytes.size) - (folder ? 1 : 0);
        const QString name = bytes.ascii ? QString::fromLatin1(bytes.data, size) : QString::fromUtf8(bytes.data, size);
        (folder ? m_folderNames : m_fileNames).append(name);
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
    if (!m_exact.isBuilt())
        m_exact.build(*m_directory);
    const long long exact = m_exact.find(*m_directory, name);
    if (exact >= 0 || caseSensitive)
        return int(exact);
    if (!m_folded.isBuilt())
        m_folded.build(*m_directory);
    return int(m_folded.find(*m_directory, name));
}

std::unique_ptr<ZipEntryStream> ZipReader::openEntry(int index, ZipError *error) const
{
    return ZipEntryStream::open(m_file, m_directory->prefix(), m_directory->record(size_t(index)),
                                m_directory->localHeaderOffset(size_t(index)), error);
}

QDateTime ZipReader::lastModified(int index)
{
    const ZipEntryRecord record = m_directory->record(size_t(index));
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
