// Deflated entries. ISA-L inflates them, two to three times as fast as
// zlib. zlib stays the reference for streams ISA-L does not finish: when
// ISA-L reports an error or stops short of the end, zlib reads the stream
// again from its start, passes over the bytes already delivered and
// decides, so that a broken stream ends with zlib's status and text
// exactly as it always did, and a stream only ISA-L refuses still reads.

#include "ZipEntryStream.h"

#include <QByteArray>

#include <limits>
#include <memory>

#include <isa-l/igzip_lib.h>
#include <zlib.h>

namespace {

// The entry's compressed bytes, read front to back in blocks.
class CompressedInput
{
public:
    CompressedInput(FILE *file, quint64 dataStart, quint64 size)
        : m_file(file)
        , m_start(dataStart)
        , m_size(size)
    {
        rewind();
    }
    void rewind()
    {
        m_position = m_start;
        m_remaining = m_size;
    }
    bool atEnd() const { return m_remaining == 0; }
    // The next block, at most BlockSize bytes; false with the reason when
    // the file cannot be read.
    bool next(const char **data, quint32 *size, ZipError *error)
    {
        if (m_block.isEmpty())
            m_block.resize(BlockSize);
        const qint64 count = qint64(qMin<quint64>(quint64(BlockSize), m_remaining));
        if (!readEntryData(m_file, m_position, m_block.data(), count, error))
            return false;
        m_position += quint64(count);
        m_remaining -= quint64(count);
        *data = m_block.constData();
        *size = quint32(count);
        return true;
    }

private:
    static constexpr int BlockSize = 256 * 1024;
    FILE *m_file;
    const quint64 m_start;
    const quint64 m_size;
    quint64 m_position = 0;
    quint64 m_remaining = 0;
    QByteArray m_block;
};

class InflateStream : public ZipEntryStream
{
public:
    InflateStream(FILE *file, quint64 dataStart, const ZipEntryRecord &record)
        : ZipEntryStream(record)
        , m_input(file, dataStart, record.compressedSize)
    {
    }
    ~InflateStream() override
    {
        if (m_zlibActive)
            inflateEnd(&m_zlib);
    }
    bool initialize(ZipError *error)
    {
        m_isal.reset(new (std::nothrow) inflate_state);
        if (!m_isal) {
            *error = {ZipError::InternalError, QStringLiteral("Malloc failure")};
            return false;
        }
        isal_inflate_init(m_isal.get());
        // Raw deflate, full window; the CRC is checked by the caller.
        m_isal->crc_flag = ISAL_DEFLATE;
        m_isal->hist_bits = 0;
        return true;
    }

protected:
    qint64 decode(char *data, qint64 size) override
    {
        size = qMin<qint64>(size, std::numeric_limits<int>::max());
        if (!m_zlibActive) {
            const qint64 count = inflateIsal(data, size);
            if (count != GiveUp) {
                m_delivered += quint64(qMax<qint64>(count, 0));
                return count;
            }
            if (!startZlib(data, size))
                return -1;
        }
        return inflateZlib(data, size);
    }

private:
    static constexpr qint64 GiveUp = -2;

    // Up to `size` bytes, 0 at the end, -1 after a read error, GiveUp when
    // ISA-L finds an error or the input ends before the stream does.
    qint64 inflateIsal(char *data, qint64 size)
    {
        inflate_state &s = *m_isal;
        s.next_out = reinterpret_cast<uint8_t *>(data);
        s.avail_out = quint32(size);
        while (s.avail_out > 0 && s.block_state != ISAL_BLOCK_FINISH) {
            if (s.avail_in == 0 && !m_input.atEnd()) {
                const char *block = nullptr;
                ZipError error;
                if (!m_input.next(&block, &s.avail_in, &error))
                    return fail(error.status, error.text);
                s.next_in = reinterpret_cast<uint8_t *>(const_cast<char *>(block));
            }
            const quint32 outBefore = s.avail_out;
            const quint32 inBefore = s.avail_in;
            if (isal_inflate(&s) != ISAL_DECOMP_OK)
                return GiveUp;
            // No step forward with all the input given: the stream is cut.
            if (s.block_state != ISAL_BLOCK_FINISH && s.avail_out == outBefore && s.avail_in == inBefore)
                return GiveUp;
        }
        return size - qint64(s.avail_out);
    }

    // zlib from the start of the stream, past the bytes ISA-L delivered;
    // `data` serves as scratch space. False after an error.
    bool startZlib(char *data, qint64 size)
    {
        m_isal.reset();
        m_input.rewind();
        if (inflateInit2(&m_zlib, -MAX_WBITS) != Z_OK) {
            fail(ZipError::InternalError, QStringLiteral("Malloc failure"));
            return false;
        }
        m_zlibActive = true;
        for (quint64 skipped = 0; skipped < m_delivered;) {
            const qint64 count = inflateZlib(data, qint64(qMin<quint64>(quint64(size), m_delivered - skipped)));
            if (count < 0)
                return false;
            if (count == 0)
                break;
            skipped += quint64(count);
        }
        return true;
    }

    qint64 inflateZlib(char *data, qint64 size)
    {
        if (m_zlibEnded)
            return 0;
        m_zlib.next_out = reinterpret_cast<Bytef *>(data);
        m_zlib.avail_out = uInt(size);
        while (m_zlib.avail_out > 0) {
            if (m_zlib.avail_in == 0 && !m_input.atEnd()) {
                const char *block = nullptr;
                quint32 count = 0;
                ZipError error;
                if (!m_input.next(&block, &count, &error))
                    return fail(error.status, error.text);
                m_zlib.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block));
                m_zlib.avail_in = uInt(count);
            }
            const int status = inflate(&m_zlib, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                m_zlibEnded = true;
                break;
            }
            if (status == Z_OK)
                continue;
            if (status == Z_BUF_ERROR && m_zlib.avail_in == 0 && m_input.atEnd())
                return fail(ZipError::BadZipFile, QStringLiteral("Compressed data end before the deflate stream"));
            if (status == Z_MEM_ERROR)
                return fail(ZipError::InternalError, QStringLiteral("Malloc failure"));
            return fail(Z_DATA_ERROR, QString::fromLatin1(m_zlib.msg ? m_zlib.msg : "invalid deflate data"));
        }
        return size - qint64(m_zlib.avail_out);
    }

    CompressedInput m_input;
    std::unique_ptr<inflate_state> m_isal;
    quint64 m_delivered = 0;
    z_stream m_zlib = {};
    bool m_zlibActive = false;
    bool m_zlibEnded = false;
};

} // namespace

std::unique_ptr<ZipEntryStream> openDeflated(FILE *file, quint64 dataStart, const ZipEntryRecord &record,
                                             ZipError *error)
{
    std::unique_ptr<InflateStream> stream(new InflateStream(file, dataStart, record));
    if (!stream->initialize(error))
        return nullptr;
    return stream;
}
