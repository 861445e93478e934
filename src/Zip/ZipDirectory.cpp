#include "ZipDirectory.h"

#include "ZipNames.h"
#include "FileLayer.h"

#include <QByteArray>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <numeric>

namespace {

constexpr quint32 EndSignature = 0x06054b50;
constexpr quint32 Zip64EndSignature = 0x06064b50;
constexpr quint32 Zip64LocatorSignature = 0x07064b50;
constexpr quint32 CentralSignature = 0x02014b50;
constexpr qint64 EndSize = 22;
constexpr qint64 Zip64EndSize = 56;
constexpr qint64 Zip64LocatorSize = 20;
constexpr qint64 CentralSize = 46;
constexpr qint64 LocalHeaderSize = 30;
constexpr quint16 Zip64ExtraId = 0x0001;
constexpr quint16 UnicodePathExtraId = 0x7075;
constexpr quint16 Utf8NameFlag = 0x0800;
// Records reserved ahead at most (300 MB of address space).
constexpr quint64 MaxReserved = 1 << 22;
// The end record is followed by a comment of at most 65 535 bytes.
constexpr qint64 EndSearchSize = EndSize + 0xffff;

quint16 u16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 u32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

quint64 u64(const char *p)
{
    return qFromLittleEndian<quint64>(p);
}

quint64 saturatingAdd(quint64 a, quint64 b)
{
    return a > ~quint64(0) - b ? ~quint64(0) : a + b;
}

bool hasSignature(FILE *file, quint64 offset, quint32 signature)
{
    char bytes[4];
    return Extras::FileLayer::readAt(file, offset, bytes, 4) && u32(bytes) == signature;
}

// The values a Zip64 extra field may replace, and where they go.
struct Zip64Values {
    quint64 *uncompressedSize;
    quint64 *compressedSize;
    quint64 *localHeaderOffset;
    quint32 *diskNumStart;
};

// Applies a Zip64 extra field: each value that the fixed record marks as
// too large for 32 (or 16) bits follows in this order.
void applyZip64(const char *data, int size, const Zip64Values &v)
{
    int used = 0;
    auto take64 = [&](quint64 *value) {
        if (used + 8 <= size) {
            *value = u64(data + used);
            used += 8;
        }
    };
    if (*v.uncompressedSize == 0xffffffffu)
        take64(v.uncompressedSize);
    if (*v.compressedSize == 0xffffffffu)
        take64(v.compressedSize);
    if (*v.localHeaderOffset == 0xffffffffu)
        take64(v.localHeaderOffset);
    if (*v.diskNumStart == 0xffffu && used + 4 <= size)
        *v.diskNumStart = u32(data + used);
}

// The name bytes of an Info-ZIP Unicode path field (version 1, the CRC-32
// of the name field it stands for, the name in UTF-8) in `*name`, and
// their count; -1 when it does not apply to `storedName`.
int unicodePath(const char *data, int size, const char *storedName, int storedSize, const char **name)
{
    if (size < 5 || data[0] != 1)
        return -1;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(storedName), uInt(storedSize)));
    if (u32(data + 1) != crc)
        return -1;
    *name = data + 5;
    return ZipNames::unicodePathSize(data + 5, size - 5);
}

// Walks the sub-fields of an extra field for the two that are used; gives
// the Unicode path's count of bytes, or -1. Work is bounded by the
// field's 64 KiB; nothing is kept.
int readExtra(const char *extra, int length, const char *storedName, int storedSize, const Zip64Values &zip64,
              const char **unicodeName)
{
    bool zip64Seen = false;
    int unicodeSize = -1;
    for (int at = 0; at + 4 <= length;) {
        const quint16 id = u16(extra + at);
        const int size = u16(extra + at + 2);
        const char *data = extra + at + 4;
        at += 4 + size;
        if (at > length)
            break;
        if (id == Zip64ExtraId && !zip64Seen) {
            applyZip64(data, size, zip64);
            zip64Seen = true;
        } else if (id == UnicodePathExtraId && unicodeSize < 0) {
            unicodeSize = unicodePath(data, size, storedName, storedSize, unicodeName);
        }
    }
    return unicodeSize;
}

// A region of the file read front to back in pieces: at most one piece, or
// one record where that is larger, is held at a time.
class Window
{
public:
    Window(FILE *file, quint64 start, quint64 size)
        : m_file(file)
        , m_next(start)
        , m_end(start + size)
    {
    }
    // Makes `count` bytes from the cursor on available; false when the
    // region ends before them or the file cannot be read.
    bool need(qint64 count)
    {
        if (m_filled - m_at >= count)
            return true;
        if (quint64(count - (m_filled - m_at)) > m_end - m_next)
            return false;
        m_buffer.remove(0, m_at);
        m_filled -= m_at;
        m_at = 0;
        const qint64 wanted = qMin<quint64>(qMax<qint64>(count, PieceSize) - m_filled, m_end - m_next);
        m_buffer.resize(int(m_filled + wanted));
        if (!Extras::FileLayer::readAt(m_file, m_next, m_buffer.data() + m_filled, wanted)) {
            m_failed = true;
            return false;
        }
        m_filled += wanted;
        m_next += quint64(wanted);
        return true;
    }
    const char *data() const { return m_buffer.constData() + m_at; }
    void skip(qint64 count) { m_at += count; }
    bool failed() const { return m_failed; }

private:
    // Large reads: a directory of a million entries is about 70 MB.
    static constexpr qint64 PieceSize = 1024 * 1024;
    FILE *m_file;
    quint64 m_next;
    const quint64 m_end;
    QByteArray m_buffer;
    qint64 m_at = 0;
    qint64 m_filled = 0;
    bool m_failed = false;
};

// Whether `found` records agree with the end record's `count`: equal, or
// more by a multiple of 65 536 (a 16-bit count that wrapped).
bool countAgrees(quint64 found, quint64 count)
{
    return found == count || (found > count && (found - count) % 0x10000 == 0);
}

} // namespace

ZipDate ZipDate::fromDos(quint32 dosDateTime)
{
    const quint32 date = dosDateTime >> 16;
    const quint32 time = dosDateTime & 0xffff;
    ZipDate d;
    d.day = int(date & 0x1f);
    d.month = int((date >> 5) & 0x0f) - 1;
    d.year = int((date >> 9) & 0x7f) + 1980;
    d.hour = int(time >> 11);
    d.minute = int((time >> 5) & 0x3f);
    d.second = int(time & 0x1f) * 2;
    return d;
}

QDateTime ZipDate::toLocalDateTime() const
{
    // The fields come straight from the archive: a month of 0 in the DOS
    // date gives -1 here. QDate and QTime reject what is out of range.
    return QDateTime(QDate(year, month + 1, day), QTime(hour, minute, second, 0), Qt::LocalTime);
}

int ZipEntryRecord::unixPermissions() const
{
    // Unix and macOS keep the file's mode in the high 16 bits. Set-id and
    // sticky bits are never taken, nor the mode of a link or a folder.
    const int host = version >> 8;
    const quint32 mode = externalFa >> 16;
    const quint32 type = mode & 0170000;
    if ((host != 3 && host != 19) || (type != 0 && type != 0100000) || (mode & 0777) == 0)
        return -1;
    return int(mode & 0777);
}

ZipDirectory::Status ZipDirectory::read(FILE *file, quint64 fileSize)
{
    m_prefix = 0;
    m_records.clear();
    m_names.clear();
    quint64 count = 0;
    quint64 size = 0;
    quint64 offset = 0;
    const Status status = readEnd(file, fileSize, &count, &size, &offset);
    if (status != Status::Ok)
        return status;
    return readEntries(file, count, size, offset);
}

ZipEntryRecord ZipDirectory::record(size_t index) const
{
    const Stored &s = m_records[index];
    ZipEntryRecord r;
    r.version = s.version;
    r.versionNeeded = s.versionNeeded;
    r.flag = s.flag;
    r.compressionMethod = s.compressionMethod;
    r.dosDate = s.dosDate;
    r.crc = s.crc;
    r.compressedSize = s.compressedSize;
    r.uncompressedSize = s.uncompressedSize;
    r.sizeFilename = s.sizeFilename;
    r.sizeFileExtra = s.sizeFileExtra;
    r.sizeFileComment = s.sizeFileComment;
    r.diskNumStart = s.diskNumStart;
    r.internalFa = s.internalFa;
    r.externalFa = s.externalFa;
    r.date = ZipDate::fromDos(s.dosDate);
    return r;
}

QString ZipDirectory::name(size_t index) const
{
    const NameBytes bytes = nameBytes(index);
    return bytes.ascii ? QString::fromLatin1(bytes.data, int(bytes.size)) : QString::fromUtf8(bytes.data, int(bytes.size));
}

ZipDirectory::Entry ZipDirectory::entry(size_t index) const
{
    const Stored &s = m_records[index];
    Entry e;
    e.record = record(index);
    e.localHeaderOffset = s.localHeaderOffset;
    e.overlapping = s.overlapping != 0;
    e.nameValid = s.nameValid != 0;
    e.name = name(index);
    return e;
}

ZipDirectory::Status ZipDirectory::readEnd(FILE *file, quint64 fileSize, quint64 *count, quint64 *size,
                                           quint64 *offset)
{
    if (fileSize < quint64(EndSize))
        return Status::NotAnArchive;
    const qint64 tailSize = qint64(qMin<quint64>(fileSize, EndSearchSize));
    const quint64 tailStart = fileSize - quint64(tailSize);
    QByteArray tail(int(tailSize), Qt::Uninitialized);
    if (!Extras::FileLayer::readAt(file, tailStart, tail.data(), tailSize))
        return Status::ReadError;

    // The last signature whose comment fits in the file.
    qint64 at = tailSize - EndSize;
    for (; at >= 0; --at) {
        const char *p = tail.constData() + at;
        if (u32(p) == EndSignature && quint64(at) + EndSize + u16(p + 20) <= quint64(tailSize))
            break;
    }
    if (at < 0)
        return Status::NotAnArchive;
    const char *end = tail.constData() + at;
    const quint64 endPosition = tailStart + quint64(at);
    quint32 disk = u16(end + 4);
    quint32 directoryDisk = u16(end + 6);
    quint64 entriesOnDisk = u16(end + 8);
    *count = u16(end + 10);
    *size = u32(end + 12);
    *offset = u32(end + 16);

    // The directory ends where the Zip64 end record starts, if there is one.
    quint64 directoryEnd = endPosition;
    char locator[Zip64LocatorSize];
    if (endPosition >= quint64(Zip64LocatorSize)
        && Extras::FileLayer::readAt(file, endPosition - Zip64LocatorSize, locator, Zip64LocatorSize)
        && u32(locator) == Zip64LocatorSignature) {
        // Usually right before the locator; the locator's own offset counts
        // from the start of the archive, which a prefix moves.
        const quint64 before = endPosition - Zip64LocatorSize;
        quint64 candidates[] = {before >= quint64(Zip64EndSize) ? before - Zip64EndSize : ~quint64(0), u64(locator + 8)};
        for (quint64 candidate : candidates) {
            char record[Zip64EndSize];
            if (candidate > before || before - candidate < quint64(Zip64EndSize)
                || !Extras::FileLayer::readAt(file, candidate, record, Zip64EndSize) || u32(record) != Zip64EndSignature)
                continue;
            disk = u32(record + 16);
            directoryDisk = u32(record + 20);
            entriesOnDisk = u64(record + 24);
            *count = u64(record + 32);
            *size = u64(record + 40);
            *offset = u64(record + 48);
            directoryEnd = candidate;
            break;
        }
    }
    if (disk != 0 || directoryDisk != 0 || entriesOnDisk != *count)
        return Status::MultiDisk;
    if (*size > directoryEnd || *offset > directoryEnd - *size)
        return Status::Inconsistent;

    // Bytes in front of the archive shift every offset by the same amount:
    // the directory was written to end where the end records begin. An
    // archive whose offsets were already adjusted to a prefix has none.
    m_prefix = directoryEnd - *size - *offset;
    if (m_prefix != 0 && *size != 0 && !hasSignature(file, m_prefix + *offset, CentralSignature)
        && hasSignature(file, *offset, CentralSignature))
        m_prefix = 0;
    return Status::Ok;
}

ZipDirectory::Status ZipDirectory::readEntries(FILE *file, quint64 count, quint64 size, quint64 offset)
{
    // Room for the records the end record announces, as far as the
    // directory's size allows and up to a bound: only address space, the
    // pages are touched as records arrive.
    m_records.reserve(size_t(qMin<quint64>(qMin<quint64>(count, size / CentralSize), MaxReserved)));
    Window window(file, m_prefix + offset, size);
    while (window.need(4) && u32(window.data()) == CentralSignature) {
        if (!window.need(CentralSize))
            break;
        const char *p = window.data();
        const qint64 variable = qint64(u16(p + 28)) + u16(p + 30) + u16(p + 32);
        if (!window.need(CentralSize + variable))
            break;
        readRecord(window.data());
        window.skip(CentralSize + variable);
    }
    if (window.failed())
        return Status::ReadError;
    if (!countAgrees(m_records.size(), count)) {
        m_records.clear();
        m_names.clear();
        return Status::Inconsistent;
    }
    markOverlaps(offset);
    return Status::Ok;
}

void ZipDirectory::readRecord(const char *p)
{
    m_records.emplace_back();
    Stored &r = m_records.back();
    r.version = u16(p + 4);
    r.versionNeeded = u16(p + 6);
    r.flag = u16(p + 8);
    r.compressionMethod = u16(p + 10);
    r.dosDate = quint32(u16(p + 14)) << 16 | u16(p + 12);
    r.crc = u32(p + 16);
    r.compressedSize = u32(p + 20);
    r.uncompressedSize = u32(p + 24);
    r.sizeFilename = u16(p + 28);
    r.sizeFileExtra = u16(p + 30);
    r.sizeFileComment = u16(p + 32);
    r.diskNumStart = u16(p + 34);
    r.internalFa = u16(p + 36);
    r.externalFa = u32(p + 38);
    r.localHeaderOffset = u32(p + 42);

    const char *storedName = p + CentralSize;
    const char *unicodeName = nullptr;
    const int unicodeSize = readExtra(storedName + r.sizeFilename, r.sizeFileExtra, storedName, r.sizeFilename,
                                      {&r.uncompressedSize, &r.compressedSize, &r.localHeaderOffset, &r.diskNumStart},
                                      &unicodeName);
    readName(storedName, unicodeName, unicodeSize, r);
}

void ZipDirectory::readName(const char *storedName, const char *unicodePath, int unicodeSize, Stored &stored)
{
    stored.nameAt = m_names.size();
    if (unicodeSize >= 0) {
        ZipNames::appendUtf8(unicodePath, unicodeSize, m_names);
        stored.nameValid = 1;
    } else {
        stored.nameValid = ZipNames::appendName(storedName, stored.sizeFilename, stored.flag & Utf8NameFlag, m_names);
    }
    stored.nameSize = quint32(m_names.size() - stored.nameAt);
    char *const name = &m_names[stored.nameAt];
    // A backslash byte never occurs inside a multi-byte UTF-8 sequence.
    if (ZipNames::usesBackslash(stored.version >> 8))
        std::replace(name, name + stored.nameSize, '\\', '/');
    stored.ascii = ZipNames::isAscii(name, stored.nameSize);
}

void ZipDirectory::markOverlaps(quint64 directoryOffset)
{
    // Writers put the central records in the order of the data, so the
    // walk by offset is usually the directory's own order; otherwise it
    // goes through the entry numbers sorted by offset.
    const size_t n = m_records.size();
    std::vector<quint32> order;
    const bool ordered = std::is_sorted(m_records.begin(), m_records.end(), [](const Stored &a, const Stored &b) {
        return a.localHeaderOffset < b.localHeaderOffset;
    });
    if (!ordered) {
        order.resize(n);
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(), [this](quint32 a, quint32 b) {
            return m_records[a].localHeaderOffset < m_records[b].localHeaderOffset;
        });
    }
    // Walking the entries by offset, each must start after the furthest end
    // reached so far. The local header's name and extra field are not
    // counted, so the end is a lower bound and a sound archive never trips.
    quint64 reached = 0;
    size_t reachedBy = n;
    for (size_t k = 0; k < n; ++k) {
        const size_t index = ordered ? k : order[k];
        Stored &entry = m_records[index];
        const quint64 end = saturatingAdd(saturatingAdd(entry.localHeaderOffset, LocalHeaderSize),
                                          entry.compressedSize);
        if (reachedBy < n && entry.localHeaderOffset < reached) {
            entry.overlapping = 1;
            m_records[reachedBy].overlapping = 1;
        }
        if (end > directoryOffset)
            entry.overlapping = 1;
        if (end > reached) {
            reached = end;
            reachedBy = index;
        }
    }
}
