#pragma once

#include <QtGlobal>

#include <cstdio>
#include <vector>

// The date and time fields of an entry's DOS time stamp, month 0 to 11. The
// fields are taken from the archive as they are and may be out of range.
struct ZipDate {
    int second = 0;
    int minute = 0;
    int hour = 0;
    int day = 0;
    int month = 0;
    int year = 0;

    static ZipDate fromDos(quint32 dosDateTime);
};

// One entry's record in the central directory, 64-bit sizes applied.
struct ZipEntryRecord {
    quint16 version = 0;           // version made by (high byte: host system)
    quint16 versionNeeded = 0;
    quint16 flag = 0;              // general purpose bits: 0 encrypted, 3 data descriptor, 11 UTF-8 name
    quint16 compressionMethod = 0;
    quint32 dosDate = 0;           // DOS date in the high, DOS time in the low 16 bits
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint16 sizeFilename = 0;
    quint16 sizeFileExtra = 0;
    quint16 sizeFileComment = 0;
    quint32 diskNumStart = 0;
    quint16 internalFa = 0;
    quint32 externalFa = 0;
    ZipDate date;                  // dosDate as fields
};

/*!
    Reads the end records and the central directory of a ZIP file: where the
    archive starts in the file (after a self-extracting stub, for instance),
    and every entry's record with its local header offset. Zip64 end records
    and extra fields are applied, so sizes and offsets past 4 GiB and more
    than 65 535 entries are read as they are.

    It also marks entries whose data overlap another entry or the central
    directory: one local header named by many central records, or an entry
    whose data run into the next one, is how small archives are made to
    inflate to enormous sizes.
*/
class ZipDirectory
{
public:
    struct Entry {
        ZipEntryRecord record;
        quint64 localHeaderOffset = 0; // from the start of the archive, not of the file
        bool overlapping = false;
    };

    enum class Status { Ok, NotAnArchive, Inconsistent, MultiDisk, ReadError };

    // Reads the directory of the `fileSize` bytes of `file`.
    Status read(FILE *file, quint64 fileSize);

    // Bytes in front of the archive proper.
    quint64 prefix() const { return m_prefix; }
    const std::vector<Entry> &entries() const { return m_entries; }

private:
    Status readEnd(FILE *file, quint64 fileSize, quint64 *count, quint64 *size, quint64 *offset);
    Status readEntries(FILE *file, quint64 count, quint64 size, quint64 offset);
    void markOverlaps(quint64 directoryOffset);

    quint64 m_prefix = 0;
    std::vector<Entry> m_entries;
};
