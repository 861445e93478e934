#include "ZipEntryStream.h"

#include "FileLayer.h"

#include <QByteArray>
#include <QtEndian>

#include <cerrno>

#include <isa-l/crc.h>

namespace {

constexpr quint32 LocalSignature = 0x04034b50;
constexpr qint64 LocalHeaderSize = 30;
constexpr quint16 EncryptedFlag = 0x0001;
constexpr quint16 Stored = 0;
constexpr quint16 Deflated = 8;

// Stored data: the bytes themselves.
class StoredStream : public ZipEntryStream
{
public:
    StoredStream(FILE *file, quint64 dataStart, const ZipEntryRecord &record)
        : ZipEntryStream(record)
        , m_file(file)
        , m_position(dataStart)
        , m_remaining(record.compressedSize)
    {
    }

protected:
    qint64 decode(char *data, qint64 size) override
    {
        const qint64 count = qint64(qMin<quint64>(quint64(size), m_remaining));
        ZipError error;
        if (count > 0 && !readEntryData(m_file, m_position, data, count, &error))
            return fail(error.status, error.text);
        m_position += quint64(count);
        m_remaining -= quint64(count);
        return count;
    }

private:
    FILE *m_file;
    quint64 m_position;
    quint64 m_remaining;
};

} // namespace

// Reads at `offset`; a failure is an error of the system, or the end of
// the file where the archive promised more.
bool readEntryData(FILE *file, quint64 offset, char *data, qint64 size, ZipError *error)
{
    errno = 0;
    if (Extras::FileLayer::readAt(file, offset, data, size))
        return true;
    if (errno != 0 && errno != EINTR)
        *error = {ZipError::ErrNo, qt_error_string(errno)};
    else
        *error = {ZipError::BadZipFile, QStringLiteral("Premature end of file")};
    return false;
}

ZipEntryStream::ZipEntryStream(const ZipEntryRecord &record)
    : m_expectedCrc(record.crc)
    , m_expectedSize(record.uncompressedSize)
{
}

qint64 ZipEntryStream::fail(int status, const QString &text)
{
    m_error = {status, text};
    return -1;
}

qint64 ZipEntryStream::read(char *data, qint64 size)
{
    if (m_error.status != 0)
        return -1;
    const qint64 count = decode(data, size);
    if (count > 0) {
        m_crc = crc32_gzip_refl(m_crc, reinterpret_cast<const unsigned char *>(data), quint64(count));
        m_delivered += quint64(count);
    } else if (count == 0 && m_delivered == m_expectedSize && m_crc != m_expectedCrc) {
        return fail(ZipError::CrcError, QStringLiteral("CRC error"));
    }
    return count;
}

std::unique_ptr<ZipEntryStream> ZipEntryStream::open(FILE *file, quint64 archiveStart, const ZipEntryRecord &record,
                                                     quint64 localHeaderOffset, ZipError *error)
{
    // No password can be given.
    if (record.flag & EncryptedFlag) {
        *error = {ZipError::ParameterError, QStringLiteral("Encrypted entry")};
        return nullptr;
    }
    char header[LocalHeaderSize];
    const quint64 headerAt = archiveStart + localHeaderOffset;
    if (headerAt < archiveStart || !readEntryData(file, headerAt, header, LocalHeaderSize, error))
        return nullptr;
    if (qFromLittleEndian<quint32>(header) != LocalSignature) {
        *error = {ZipError::BadZipFile, QStringLiteral("No local header where the directory points")};
        return nullptr;
    }
    const quint64 dataStart = headerAt + LocalHeaderSize + qFromLittleEndian<quint16>(header + 26)
        + qFromLittleEndian<quint16>(header + 28);

    switch (record.compressionMethod) {
    case Stored:
        if (record.compressedSize != record.uncompressedSize) {
            *error = {ZipError::BadZipFile, QStringLiteral("Stored entry with two different sizes")};
            return nullptr;
        }
        return std::unique_ptr<ZipEntryStream>(new StoredStream(file, dataStart, record));
    case Deflated:
        return openDeflated(file, dataStart, record, error);
    default:
        return openForeignMethod(file, dataStart, record, error);
    }
}
