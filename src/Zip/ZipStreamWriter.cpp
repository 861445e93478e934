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

} // namespace

ZipStreamWriter::ZipStreamWriter(Extras::FileLayer::OutputFile &archive, ZipDeflatePool &pool)
    : m_archive(archive)
    , m_pool(pool)
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
    const std::shared_ptr<ZipDeflatePool::Entry> data = m_pool.take(name, source.state, source.file);
    const Status status = writePieces(name, *data, entry, observer);
    // Done with, written or not; its pieces still running are awaited.
    m_pool.drop(*data);
    return status;
}

// The pieces were read ahead, at their offsets; what a reader of the source
// in blocks would have met is replayed from them block by block: the
// progress, the cancel points and where a source that changed shows it.
ZipStreamWriter::Status ZipStreamWriter::writePieces(const QString &name, ZipDeflatePool::Entry &data, Entry *entry,
                                                     Jobs::Observer *observer)
{
    const quint64 size = entry->size;
    const int count = int(data.pieces.size());
    quint32 crc = 0;
    for (int index = 0; index < count; ++index) {
        const ZipDeflatePool::Piece &piece = m_pool.wait(data, index);
        const bool lastPiece = index + 1 == count;
        const quint64 pieceEnd = piece.offset + quint64(piece.wanted);
        // What the source had up to the end of this piece.
        const quint64 available = piece.got < 0 ? piece.offset : piece.offset + quint64(piece.got);
        for (bool last = false; !last && (lastPiece || m_lastRead < pieceEnd);) {
            if (observer && observer->canceled())
                return Status::Canceled;
            if (piece.got < 0)
                return Status::ReadFailed;
            // One byte more than is left tells a source that grew.
            const quint64 wanted = qMin<quint64>(size - m_lastRead + 1, quint64(BlockSize));
            const quint64 got = qMin(wanted, available - m_lastRead);
            if (got > size - m_lastRead)
                return Status::SourceChanged;
            last = got == 0;
            if (last && m_lastRead != size)
                return Status::SourceChanged;
            if (observer) {
                ZipProgress::reportSteps(*observer, name, QString(), m_lastRead, m_lastRead + got, size);
                observer->addProcessed(qint64(got), 0);
            }
            m_lastRead += got;
        }
        if (piece.failed)
            return Status::ReadFailed;
        const quint64 bytes = lastPiece ? size - piece.offset : quint64(piece.wanted);
        crc = index == 0 ? piece.crc : quint32(crc32_combine(crc, piece.crc, z_off_t(bytes)));
        if (!write(piece.deflated.data(), qint64(piece.deflated.size())))
            return Status::WriteFailed;
        entry->compressedSize += piece.deflated.size();
        m_pool.release(data, index);
        if (m_readAhead)
            m_readAhead();
    }
    entry->crc = crc;
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
