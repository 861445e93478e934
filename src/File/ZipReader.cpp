#include "ZipReader.h"

#include "TkZipFileInfo.h"

#include <zip.h>

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

ZipReader::Error errorOf(zip_error_t *error)
{
    ZipReader::Error e;
    e.zip = zip_error_code_zip(error);
    e.system = zip_error_code_system(error);
    e.text = QString::fromLocal8Bit(zip_error_strerror(error));
    return e;
}

} // namespace

ZipReader::Stream::Stream(zip_file *file)
    : m_file(file)
{
}

ZipReader::Stream::~Stream()
{
    zip_fclose(m_file);
}

qint64 ZipReader::Stream::read(char *data, qint64 size)
{
    return zip_fread(m_file, data, zip_uint64_t(size));
}

ZipReader::Error ZipReader::Stream::error() const
{
    return errorOf(zip_file_get_error(m_file));
}

std::unique_ptr<ZipReader> ZipReader::open(const QString &path, QString *reason)
{
    std::unique_ptr<ZipReader> reader(new ZipReader);
    reader->m_path = path;
    quint64 size = 0;
    FILE *file = ZipPlatform::openArchive(path, &reader->m_identity, &size, reason);
    if (!file)
        return nullptr;
    const ZipDirectory::Status status = reader->m_directory.read(file, size);
    if (status != ZipDirectory::Status::Ok) {
        *reason = directoryProblem(status);
        std::fclose(file);
        return nullptr;
    }

    // libzip sees the archive from its first byte, past any prefix; the
    // source owns the file from here on.
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_filep_create(file, reader->m_directory.prefix(), 0, &error);
    if (!source) {
        *reason = errorOf(&error).text;
        zip_error_fini(&error);
        std::fclose(file);
        return nullptr;
    }
    reader->m_archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!reader->m_archive) {
        *reason = errorOf(&error).text;
        zip_error_fini(&error);
        zip_source_free(source);
        return nullptr;
    }
    zip_error_fini(&error);

    const int count = int(reader->m_directory.entries().size());
    if (zip_get_num_entries(reader->m_archive, 0) != count) {
        *reason = directoryProblem(ZipDirectory::Status::Inconsistent);
        return nullptr;
    }
    reader->m_names.reserve(count);
    for (int i = 0; i < count; ++i)
        reader->m_names.append(QString::fromUtf8(zip_get_name(reader->m_archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS)));
    return reader;
}

ZipReader::~ZipReader()
{
    if (m_archive)
        zip_discard(m_archive);
}

void ZipReader::listNames() const
{
    if (m_listed)
        return;
    for (const QString &name : m_names) {
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
    if (m_exact.isEmpty() && !m_names.isEmpty()) {
        m_exact.reserve(m_names.size());
        for (int i = m_names.size() - 1; i >= 0; --i)
            m_exact.insert(m_names.at(i), i);
    }
    const int exact = m_exact.value(name, -1);
    if (exact >= 0 || caseSensitive)
        return exact;
    if (m_folded.isEmpty() && !m_names.isEmpty()) {
        m_folded.reserve(m_names.size());
        for (int i = m_names.size() - 1; i >= 0; --i)
            m_folded.insert(m_names.at(i).toCaseFolded(), i);
    }
    return m_folded.value(name.toCaseFolded(), -1);
}

std::unique_ptr<ZipReader::Stream> ZipReader::openEntry(int index, Error *error) const
{
    zip_file_t *file = zip_fopen_index(m_archive, zip_uint64_t(index), 0);
    if (!file) {
        *error = errorOf(zip_get_error(m_archive));
        zip_error_clear(m_archive);
        return nullptr;
    }
    return std::unique_ptr<Stream>(new Stream(file));
}

QDateTime ZipReader::lastModified(int index)
{
    const ZipEntryRecord &record = entry(index).record;
    if (!m_converted.isValid() || record.dosDate != m_convertedDos) {
        m_convertedDos = record.dosDate;
        // Kept in UTC: a local date-time asks the time zone again on every
        // conversion to seconds.
        m_converted = TkZipFileInfo::dateTime(record.date).toUTC();
    }
    return m_converted;
}

char *ZipReader::buffer()
{
    if (m_buffer.isEmpty())
        m_buffer = QByteArray(BufferSize, Qt::Uninitialized);
    return m_buffer.data();
}
