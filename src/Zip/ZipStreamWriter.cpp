#include "ZipStreamWriter.h"

#include "JobObserver.h"
#include "ZipProgress.h"

#include <zlib.h>

namespace {

constexpr int BlockSize = 256 * 1024;
constexpr quint32 Max32 = 0xffffffffu;
constexpr int MaxField = 0xffff;
constexpr quint32 RegularFile = 0100000;
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

// The UTF-8 bytes of a comment, cut at a character to what a header holds.
QByteArray commentBytes(const QString &comment)
{
    QString text = comment;
    QByteArray bytes = text.toUtf8();
    while (bytes.size() > MaxField) {
        text.chop(qMax(1, (bytes.size() - MaxField) / 4));
        bytes = text.toUtf8();
    }
    return bytes;
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
    // full output block to `deliver`.
    template<typename Emit>
    bool run(const char *data, qint64 size, bool last, QByteArray &out, Emit deliver)
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
            if (produced > 0 && !deliver(out.constData(), produced))
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

ZipStreamWriter::ZipStreamWriter(Extras::FileLayer::OutputFile &archive)
    : m_archive(archive)
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
    m_lastRead = 0;
    if (m_broken)
        return Status::WriteFailed;
    Entry entry;
    entry.name = name.toUtf8();
    if (entry.name.size() > MaxField)
        return Status::NameTooLong;
    // The source opened must be the file named, as it was then.
    if (source.file->state() != source.state)
        return Status::SourceChanged;
    entry.comment = commentBytes(comment);
    entry.utf8 = !isAscii(entry.name) || !isAscii(entry.comment);
    entry.dosTime = dosDateTime(QDateTime::fromMSecsSinceEpoch(source.state.modifiedNs / 1000000));
    entry.size = source.state.size;
    entry.offset = m_offset;
    entry.mode = RegularFile | (source.permissions & 0777);
    const bool zip64 = entry.size >= LocalZip64From;

    Fields header;
    header.u32(0x04034b50).u16(zip64 ? Zip64Version : DeflateVersion).u16(entry.utf8 ? Utf8Flag : 0).u16(Deflated);
    header.u32(entry.dosTime).u32(0).u32(zip64 ? Max32 : 0).u32(zip64 ? Max32 : 0);
    header.u16(quint32(entry.name.size())).u16(zip64 ? 20 : 0).bytes(entry.name);
    if (zip64)
        header.u16(0x0001).u16(16).u64(0).u64(0);
    Status status = write(header.data().constData(), header.data().size())
        ? copyData(name, source, &entry, observer)
        : Status::WriteFailed;
    // Read whole, but changed meanwhile: its bytes may mix two versions.
    if (status == Status::Added && source.file->currentState() != source.state)
        status = Status::SourceChanged;
    if (status == Status::Added && !completeLocalHeader(entry, zip64))
        status = Status::WriteFailed;
    if (status != Status::Added) {
        if (status == Status::WriteFailed || !cutBackTo(entry.offset)) {
            m_broken = true;
            return Status::WriteFailed;
        }
        return status;
    }
    m_entries.push_back(entry);
    if (observer)
        observer->progress(name, QString(), 100.0);
    return Status::Added;
}

ZipStreamWriter::Status ZipStreamWriter::copyData(const QString &name, const Source &source, Entry *entry,
                                                  Jobs::Observer *observer)
{
    Deflater deflater;
    if (!deflater.isValid())
        return Status::WriteFailed;
    // The blocks are kept for the next entry: most entries are small.
    if (m_in.isEmpty()) {
        m_in.resize(BlockSize);
        m_out.resize(BlockSize);
    }
    QByteArray &in = m_in;
    QByteArray &out = m_out;
    auto emitOut = [&](const char *data, qint64 size) {
        entry->compressedSize += quint64(size);
        return write(data, size);
    };

    const quint64 size = entry->size;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (;;) {
        if (observer && observer->canceled())
            return Status::Canceled;
        // One byte more than is left tells a source that grew.
        const qint64 wanted = qint64(qMin<quint64>(size - m_lastRead + 1, quint64(BlockSize)));
        const qint64 got = source.file->read(in.data(), wanted);
        if (got < 0)
            return Status::ReadFailed;
        if (quint64(got) > size - m_lastRead)
            return Status::SourceChanged;
        const bool last = got == 0;
        if (last && m_lastRead != size)
            return Status::SourceChanged;
        if (observer) {
            ZipProgress::reportSteps(*observer, name, QString(), m_lastRead, m_lastRead + quint64(got), size);
            observer->addProcessed(got, 0);
        }
        crc = crc32_z(crc, reinterpret_cast<const Bytef *>(in.constData()), size_t(got));
        if (!deflater.run(in.constData(), got, last, out, emitOut))
            return Status::WriteFailed;
        m_lastRead += quint64(got);
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
        fields.u32(quint32(entry.compressedSize)).u32(quint32(entry.size));
    if (!m_archive.writeAt(entry.offset + 14, fields.data().constData(), fields.data().size()))
        return false;
    if (!zip64)
        return true;
    Fields sizes;
    sizes.u64(entry.size).u64(entry.compressedSize);
    return m_archive.writeAt(entry.offset + 30 + quint64(entry.name.size()) + 4, sizes.data().constData(),
                             sizes.data().size());
}

bool ZipStreamWriter::finish()
{
    if (m_broken)
        return false;
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
    if (!m_archive.write(data, size))
        return false;
    m_offset += quint64(size);
    return true;
}

bool ZipStreamWriter::cutBackTo(quint64 offset)
{
    if (!m_archive.truncate(offset))
        return false;
    m_offset = offset;
    return true;
}
