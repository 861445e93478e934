#include "ZipDirectory.h"

#include "ZipPlatform.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <limits>
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
    return ZipPlatform::readAt(file, offset, bytes, 4) && u32(bytes) == signature;
}

// Applies a Zip64 extra field: each value that the fixed record marks as
// too large for 32 (or 16) bits follows in this order.
void applyZip64(const char *extra, int length, ZipDirectory::Entry &entry)
{
    ZipEntryRecord &r = entry.record;
    for (int at = 0; at + 4 <= length;) {
        const quint16 id = u16(extra + at);
        const int size = u16(extra + at + 2);
        const char *data = extra + at + 4;
        at += 4 + size;
        if (at > length)
            return;
        if (id != Zip64ExtraId)
            continue;
        int used = 0;
        auto take64 = [&](quint64 &value) {
            if (used + 8 <= size) {
                value = u64(data + used);
                used += 8;
            }
        };
        if (r.uncompressedSize == 0xffffffffu)
            take64(r.uncompressedSize);
        if (r.compressedSize == 0xffffffffu)
            take64(r.compressedSize);
        if (entry.localHeaderOffset == 0xffffffffu)
            take64(entry.localHeaderOffset);
        if (r.diskNumStart == 0xffffu && used + 4 <= size)
            r.diskNumStart = u32(data + used);
        return;
    }
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

ZipDirectory::Status ZipDirectory::read(FILE *file, quint64 fileSize)
{
    m_prefix = 0;
    m_entries.clear();
    quint64 count = 0;
    quint64 size = 0;
    quint64 offset = 0;
    const Status status = readEnd(file, fileSize, &count, &size, &offset);
    if (status != Status::Ok)
        return status;
    return readEntries(file, count, size, offset);
}

ZipDirectory::Status ZipDirectory::readEnd(FILE *file, quint64 fileSize, quint64 *count, quint64 *size,
                                           quint64 *offset)
{
    if (fileSize < quint64(EndSize))
        return Status::NotAnArchive;
    const qint64 tailSize = qint64(qMin<quint64>(fileSize, EndSearchSize));
    const quint64 tailStart = fileSize - quint64(tailSize);
    QByteArray tail(int(tailSize), Qt::Uninitialized);
    if (!ZipPlatform::readAt(file, tailStart, tail.data(), tailSize))
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
        && ZipPlatform::readAt(file, endPosition - Zip64LocatorSize, locator, Zip64LocatorSize)
        && u32(locator) == Zip64LocatorSignature) {
        // Usually right before the locator; the locator's own offset counts
        // from the start of the archive, which a prefix moves.
        const quint64 before = endPosition - Zip64LocatorSize;
        quint64 candidates[] = {before >= quint64(Zip64EndSize) ? before - Zip64EndSize : ~quint64(0), u64(locator + 8)};
        for (quint64 candidate : candidates) {
            char record[Zip64EndSize];
            if (candidate > before || before - candidate < quint64(Zip64EndSize)
                || !ZipPlatform::readAt(file, candidate, record, Zip64EndSize) || u32(record) != Zip64EndSignature)
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
    if (m_prefix != 0 && *count != 0 && !hasSignature(file, m_prefix + *offset, CentralSignature)
        && hasSignature(file, *offset, CentralSignature))
        m_prefix = 0;
    return Status::Ok;
}

ZipDirectory::Status ZipDirectory::readEntries(FILE *file, quint64 count, quint64 size, quint64 offset)
{
    // Every record takes at least its fixed part: a count that cannot fit
    // is a broken end record, not a reason to reserve memory for it.
    if (count > size / CentralSize)
        return Status::Inconsistent;
    QByteArray directory(int(qMin<quint64>(size, quint64(std::numeric_limits<int>::max()))), Qt::Uninitialized);
    if (quint64(directory.size()) != size)
        return Status::Inconsistent;
    if (!ZipPlatform::readAt(file, m_prefix + offset, directory.data(), qint64(size)))
        return Status::ReadError;

    m_entries.reserve(size_t(count));
    const char *p = directory.constData();
    const char *const end = p + directory.size();
    for (quint64 i = 0; i < count; ++i) {
        if (end - p < CentralSize || u32(p) != CentralSignature)
            return Status::Inconsistent;
        Entry entry;
        ZipEntryRecord &r = entry.record;
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
        entry.localHeaderOffset = u32(p + 42);
        const qint64 variable = qint64(r.sizeFilename) + r.sizeFileExtra + r.sizeFileComment;
        if (end - p - CentralSize < variable)
            return Status::Inconsistent;
        applyZip64(p + CentralSize + r.sizeFilename, r.sizeFileExtra, entry);
        r.date = ZipDate::fromDos(r.dosDate);
        m_entries.push_back(entry);
        p += CentralSize + variable;
    }
    markOverlaps(offset);
    return Status::Ok;
}

void ZipDirectory::markOverlaps(quint64 directoryOffset)
{
    std::vector<size_t> order(m_entries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return m_entries.at(a).localHeaderOffset < m_entries.at(b).localHeaderOffset;
    });
    // Walking the entries by offset, each must start after the furthest end
    // reached so far. The local header's name and extra field are not
    // counted, so the end is a lower bound and a sound archive never trips.
    quint64 reached = 0;
    size_t reachedBy = m_entries.size();
    for (size_t index : order) {
        Entry &entry = m_entries[index];
        const quint64 end = saturatingAdd(saturatingAdd(entry.localHeaderOffset, LocalHeaderSize),
                                          entry.record.compressedSize);
        if (reachedBy < m_entries.size() && entry.localHeaderOffset < reached) {
            entry.overlapping = true;
            m_entries[reachedBy].overlapping = true;
        }
        if (end > directoryOffset)
            entry.overlapping = true;
        if (end > reached) {
            reached = end;
            reachedBy = index;
        }
    }
}
