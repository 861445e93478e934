#include "ZipStreamWriter.h"

#include "JobObserver.h"

#include <cerrno>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr int BlockSize = 256 * 1024;
constexpr int ProgressStep = 4096;
constexpr quint32 Max32 = 0xffffffffu;
constexpr quint16 Zip64Version = 45;
constexpr quint16 DeflateVersion = 20;
constexpr quint16 UnixHost = 3;
constexpr quint16 Utf8Flag = 0x0800;
constexpr quint16 Deflated = 8;
// Sources at least this large get Zip64 sizes in their local header: a
// deflated stream can come out a little larger than its input, and the
// header is written before that is known.
constexpr quint64 LocalZip64From = 0xff000000u;

// Little-endian fields, appended.
class Fields
{
public:
    Fields &u16(quint32 value)
    {
        m_bytes.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
        return *this;
    }
    Fields &u32(quint32 value) { return u16(value & 0xffff).u16(value >> 16); }
    Fields &u64(quint64 value) { return u32(quint32(value & Max32)).u32(quint32(value >> 32)); }
    Fields &bytes(const QByteArray &bytes)
    {
        m_bytes.append(bytes);
        return *this;
    }
    const QByteArray &data() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

bool isAscii(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

quint32 clamp32(quint64 value)
{
    return value >= Max32 ? Max32 : quint32(value);
}

// Reads up to `size` bytes, going on after interruptions.
qint64 readSome(int handle, char *data, qint64 size)
{
    for (;;) {
        const ssize_t got = ::read(handle, data, size_t(size));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

// zlib's raw deflate at the level zlib calls its default.
class Deflater
{
public:
    Deflater() { m_ok = deflateInit2(&m_stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater()
    {
        if (m_ok)
            deflateEnd(&m_stream);
    }
    bool isValid() const { return m_ok; }
    // Deflates `size` bytes (all remaining input when `last`), handing each
    // full output block to `emit`.
    template<typename Emit>
    bool run(const char *data, qint64 size, bool last, QByteArray &out, Emit emit)
    {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_stream.avail_in = uInt(size);
        for (;;) {
            m_stream.next_out = reinterpret_cast<Bytef *>(out.data());
            m_stream.avail_out = uInt(out.size());
            const int status = deflate(&m_stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR)
                return false;
            const qint64 produced = out.size() - qint64(m_stream.avail_out);
            if (produced > 0 && !emit(out.constData(), produced))
                return false;
            if (last ? status == Z_STREAM_END : m_stream.avail_in == 0 && m_stream.avail_out != 0)
                return true;
        }
    }

private:
    z_stream m_stream{};
    bool m_ok = false;
};

} // namespace

ZipStreamWriter::ZipStreamWriter(int archiveHandle)
    : m_handle(archiveHandle)
{
}

quint32 ZipStreamWriter::dosDateTime(const QDateTime &local)
{
    static const QDateTime first(QDate(1980, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    static const QDateTime last(QDate(2107, 12, 31), QTime(23, 59, 58), Qt::LocalTime);
    const QDateTime t = !local.isValid() || local < first ? first : local > last ? last : local.toLocalTime();
    const QDate d = t.date();
    const QTime h = t.time();
    const quint32 date = quint32(d.year() - 1980) << 9 | quint32(d.month()) << 5 | quint32(d.day());
    const quint32 time = quint32(h.hour()) << 11 | quint32(h.minute()) << 5 | quint32(h.second() / 2);
    return date << 16 | time;
}

ZipStreamWriter::Status ZipStreamWriter::add(const QString &name, const QString &comment, const Source &source,
                                             Jobs::Observer *observer)
{
    Entry entry;
    entry.name = name.toUtf8();
    entry.comment = comment.toUtf8().left(0xffff);
    entry.utf8 = !isAscii(entry.name) || !isAscii(entry.comment);
    entry.dosTime = dosDateTime(source.lastModified);
    entry.size = source.size;
    entry.offset = m_offset;
    entry.mode = source.mode;
    const bool zip64 = source.size >= LocalZip64From;

    Fields header;
    header.u32(0x04034b50).u16(zip64 ? Zip64Version : DeflateVersion).u16(entry.utf8 ? Utf8Flag : 0).u16(Deflated);
    header.u32(entry.dosTime).u32(0).u32(zip64 ? Max32 : 0).u32(zip64 ? Max32 : 0);
    header.u16(quint32(entry.name.size())).u16(zip64 ? 20 : 0).bytes(entry.name);
    if (zip64)
        header.u16(0x0001).u16(16).u64(0).u64(0);
    if (!write(header.data().constData(), header.data().size())) {
        cutBackTo(entry.offset);
        return Status::WriteFailed;
    }

    quint64 compressed = 0;
    const Status status = copyData(name, source, &entry, &compressed, observer);
    entry.compressedSize = compressed;
    if (status == Status::Added && !completeLocalHeader(entry, zip64)) {
        cutBackTo(entry.offset);
        return Status::WriteFailed;
    }
    if (status != Status::Added) {
        cutBackTo(entry.offset);
        return status;
    }
    m_entries.push_back(entry);
    if (observer)
        observer->progress(name, QString(), 100.0);
    return Status::Added;
}

ZipStreamWriter::Status ZipStreamWriter::copyData(const QString &name, const Source &source, Entry *entry,
                                                  quint64 *compressed, Jobs::Observer *observer)
{
    Deflater deflater;
    if (!deflater.isValid())
        return Status::WriteFailed;
    QByteArray in(BlockSize, Qt::Uninitialized);
    QByteArray out(BlockSize, Qt::Uninitialized);
    bool writeFailed = false;
    auto emitOut = [&](const char *data, qint64 size) {
        *compressed += quint64(size);
        writeFailed = !write(data, size);
        return !writeFailed;
    };

    const double total = double(source.size);
    quint64 done = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (;;) {
        if (observer && observer->canceled())
            return Status::Canceled;
        // One byte more than is left tells a source that grew.
        const qint64 wanted = qint64(qMin<quint64>(source.size - done + 1, quint64(BlockSize)));
        const qint64 got = readSome(source.handle, in.data(), wanted);
        if (got < 0)
            return Status::ReadFailed;
        if (quint64(got) > source.size - done)
            return Status::SourceChanged;
        const bool last = got == 0;
        if (last && done != source.size)
            return Status::SourceChanged;
        if (observer) {
            const quint64 end = done + quint64(got);
            for (quint64 at = (done + ProgressStep - 1) / ProgressStep * ProgressStep; at < end; at += ProgressStep)
                observer->progress(name, QString(), double(at) / total * 100.0);
        }
        crc = crc32_z(crc, reinterpret_cast<const Bytef *>(in.constData()), size_t(got));
        if (!deflater.run(in.constData(), got, last, out, emitOut))
            return writeFailed ? Status::WriteFailed : Status::ReadFailed;
        done += quint64(got);
        if (last)
            break;
    }
    entry->crc = quint32(crc);
    return Status::Added;
}

bool ZipStreamWriter::completeLocalHeader(const Entry &entry, bool zip64)
{
    Fields fields;
    fields.u32(entry.crc);
    if (!zip64)
        return writeAt(entry.offset + 14, fields.u32(quint32(entry.compressedSize)).u32(quint32(entry.size)).data());
    Fields sizes;
    sizes.u64(entry.size).u64(entry.compressedSize);
    return writeAt(entry.offset + 14, fields.data())
        && writeAt(entry.offset + 30 + quint64(entry.name.size()) + 4, sizes.data());
}

bool ZipStreamWriter::finish()
{
    const quint64 directoryOffset = m_offset;
    for (const Entry &entry : m_entries) {
        Fields extra;
        if (entry.size >= Max32)
            extra.u64(entry.size);
        if (entry.compressedSize >= Max32)
            extra.u64(entry.compressedSize);
        if (entry.offset >= Max32)
            extra.u64(entry.offset);
        const bool zip64 = !extra.data().isEmpty() || entry.size >= LocalZip64From;
        const quint16 version = zip64 ? Zip64Version : DeflateVersion;
        Fields record;
        record.u32(0x02014b50).u16(UnixHost << 8 | version).u16(version).u16(entry.utf8 ? Utf8Flag : 0);
        record.u16(Deflated).u32(entry.dosTime).u32(entry.crc);
        record.u32(clamp32(entry.compressedSize)).u32(clamp32(entry.size));
        record.u16(quint32(entry.name.size())).u16(extra.data().isEmpty() ? 0 : quint32(extra.data().size()) + 4);
        record.u16(quint32(entry.comment.size())).u16(0).u16(0).u32(entry.mode << 16).u32(clamp32(entry.offset));
        record.bytes(entry.name);
        if (!extra.data().isEmpty())
            record.u16(0x0001).u16(quint32(extra.data().size())).bytes(extra.data());
        record.bytes(entry.comment);
        if (!write(record.data().constData(), record.data().size()))
            return false;
    }
    const quint64 directorySize = m_offset - directoryOffset;
    const quint64 count = m_entries.size();
    Fields end;
    if (count >= 0xffff || directorySize >= Max32 || directoryOffset >= Max32) {
        const quint64 recordOffset = m_offset;
        end.u32(0x06064b50).u64(44).u16(UnixHost << 8 | Zip64Version).u16(Zip64Version).u32(0).u32(0);
        end.u64(count).u64(count).u64(directorySize).u64(directoryOffset);
        end.u32(0x07064b50).u32(0).u64(recordOffset).u32(1);
    }
    end.u32(0x06054b50).u16(0).u16(0).u16(qMin<quint64>(count, 0xffff)).u16(qMin<quint64>(count, 0xffff));
    end.u32(clamp32(directorySize)).u32(clamp32(directoryOffset)).u16(0);
    return write(end.data().constData(), end.data().size());
}

bool ZipStreamWriter::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_handle, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_error = written < 0 ? errno : ENOSPC;
            return false;
        }
        data += written;
        size -= written;
        m_offset += quint64(written);
    }
    return true;
}

bool ZipStreamWriter::writeAt(quint64 offset, const QByteArray &bytes)
{
    const ssize_t written = ::pwrite(m_handle, bytes.constData(), size_t(bytes.size()), off_t(offset));
    if (written == bytes.size())
        return true;
    m_error = written < 0 ? errno : ENOSPC;
    return false;
}

void ZipStreamWriter::cutBackTo(quint64 offset)
{
    if (::ftruncate(m_handle, off_t(offset)) == 0 && ::lseek(m_handle, off_t(offset), SEEK_SET) >= 0)
        m_offset = offset;
}
