#include "ZipEntryStream.h"

#include "FileLayer.h"

#include <QByteArray>
#include <QtEndian>

#include <cerrno>
#include <limits>

#include <zlib.h>

namespace {

constexpr quint32 LocalSignature = 0x04034b50;
constexpr qint64 LocalHeaderSize = 30;
constexpr quint16 EncryptedFlag = 0x0001;
constexpr quint16 Stored = 0;
constexpr quint16 Deflated = 8;

// Reads at `offset`; a failure is an error of the system, or the end of
// the file where the archive promised more.
bool readData(FILE *file, quint64 offset, char *data, qint64 size, ZipError *error)
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
        if (count > 0 && !readData(m_file, m_position, data, count, &error))
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

// Deflated data, inflated by zlib from the compressed size's bytes.
class InflateStream : public ZipEntryStream
{
public:
    InflateStream(FILE *file, quint64 dataStart, const ZipEntryRecord &record)
        : ZipEntryStream(record)
        , m_file(file)
        , m_position(dataStart)
        , m_remaining(record.compressedSize)
    {
    }
    ~InflateStream() override
    {
        if (m_initialized)
            inflateEnd(&m_zlib);
    }
    bool initialize(ZipError *error)
    {
        m_initialized = inflateInit2(&m_zlib, -MAX_WBITS) == Z_OK;
        if (!m_initialized)
            *error = {ZipError::InternalError, QStringLiteral("Malloc failure")};
        return m_initialized;
    }

protected:
    qint64 decode(char *data, qint64 size) override
    {
        if (m_ended)
            return 0;
        m_zlib.next_out = reinterpret_cast<Bytef *>(data);
        m_zlib.avail_out = uInt(qMin<qint64>(size, std::numeric_limits<int>::max()));
        while (m_zlib.avail_out > 0) {
            if (m_zlib.avail_in == 0 && m_remaining > 0 && !refill())
                return -1;
            const int status = inflate(&m_zlib, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                m_ended = true;
                break;
            }
            if (status == Z_OK)
                continue;
            if (status == Z_BUF_ERROR && m_zlib.avail_in == 0 && m_remaining == 0)
                return fail(ZipError::BadZipFile, QStringLiteral("Compressed data end before the deflate stream"));
            if (status == Z_MEM_ERROR)
                return fail(ZipError::InternalError, QStringLiteral("Malloc failure"));
            return fail(Z_DATA_ERROR, QString::fromLatin1(m_zlib.msg ? m_zlib.msg : "invalid deflate data"));
        }
        return size - qint64(m_zlib.avail_out);
    }

private:
    static constexpr qint64 InputSize = 64 * 1024;

    bool refill()
    {
        if (m_input.isEmpty())
            m_input.resize(int(InputSize));
        const qint64 count = qint64(qMin<quint64>(quint64(InputSize), m_remaining));
        ZipError error;
        if (!readData(m_file, m_position, m_input.data(), count, &error)) {
            fail(error.status, error.text);
            return false;
        }
        m_position += quint64(count);
        m_remaining -= quint64(count);
        m_zlib.next_in = reinterpret_cast<Bytef *>(m_input.data());
        m_zlib.avail_in = uInt(count);
        return true;
    }

    FILE *m_file;
    quint64 m_position;
    quint64 m_remaining;
    z_stream m_zlib = {};
    bool m_initialized = false;
    bool m_ended = false;
    QByteArray m_input;
};

} // namespace

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
        m_crc = quint32(crc32_z(m_crc, reinterpret_cast<const Bytef *>(data), z_size_t(count)));
        m_delivered += quint64(count);
    } else if (count == 0 && m_delivered == m_expectedSize && m_crc != m_expectedCrc) {
        return fail(ZipError::CrcError, QStringLiteral("CRC error"));
    }
    return count;
}

std::unique_ptr<ZipEntryStream> ZipEntryStream::open(FILE *file, quint64 archiveStart,
                                                     const ZipDirectory::Entry &entry, ZipError *error)
{
    const ZipEntryRecord &record = entry.record;
    // No password can be given.
    if (record.flag & EncryptedFlag) {
        *error = {ZipError::ParameterError, QStringLiteral("Encrypted entry")};
        return nullptr;
    }
    char header[LocalHeaderSize];
    const quint64 headerAt = archiveStart + entry.localHeaderOffset;
    if (headerAt < archiveStart || !readData(file, headerAt, header, LocalHeaderSize, error))
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
    case Deflated: {
        std::unique_ptr<InflateStream> stream(new InflateStream(file, dataStart, record));
        if (!stream->initialize(error))
            return nullptr;
        return stream;
    }
    default:
        return openForeignMethod(file, dataStart, record, error);
    }
}
