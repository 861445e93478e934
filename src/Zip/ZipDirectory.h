#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <string>
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
    // The local date-time of the fields; invalid when they are out of range.
    QDateTime toLocalDateTime() const;
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

    // The read, write and execute bits of an entry made on Unix, or -1
    // when the record holds none.
    int unixPermissions() const;
};

/*!
    Reads the end records and the central directory of a ZIP file: where the
    archive starts in the file (after a self-extracting stub, for instance),
    and every entry's record with its local header offset and name. Zip64
    end records and extra fields are applied, so sizes and offsets past
    4 GiB and more than 65 535 entries are read as they are.

    The directory is read front to back in large pieces, one record at a
    time, up to the first record that is not a central header: memory
    follows the records that are there, never the sizes and counts the end
    record claims (they only size a bounded reservation of address space).
    Writers without Zip64 records keep only the low 16 bits
    of the entry count, so a count that falls short of the records by a
    multiple of 65 536 is accepted. Of the extra fields only the two that
    are used are looked at: Zip64 sizes and offsets, and the Info-ZIP
    Unicode path.

    Archives of a million entries are common enough: each entry is kept in
    a compact record, and all names as UTF-8 in one block, decoded to text
    only when asked for.

    It also marks entries whose data overlap another entry or the central
    directory: one local header named by many central records, or an entry
    whose data run into the next one, is how small archives are made to
    inflate to enormous sizes.
*/
class ZipDirectory
{
public:
    // One entry, whole.
    struct Entry {
        ZipEntryRecord record;
        quint64 localHeaderOffset = 0; // from the start of the archive, not of the file
        bool overlapping = false;
        // False for a name flagged UTF-8 whose bytes are not: that entry
        // cannot be extracted, the others can.
        bool nameValid = true;
        QString name;                  // decoded as ZipNames says, "/" as separator
    };

    // An entry's name as UTF-8 bytes, valid while the directory lives.
    struct NameBytes {
        const char *data;
        size_t size;
        bool ascii;
    };

    enum class Status { Ok, NotAnArchive, Inconsistent, MultiDisk, ReadError };

    // Reads the directory of the `fileSize` bytes of `file`.
    Status read(FILE *file, quint64 fileSize);

    // Bytes in front of the archive proper.
    quint64 prefix() const { return m_prefix; }
    size_t size() const { return m_records.size(); }

    Entry entry(size_t index) const;
    ZipEntryRecord record(size_t index) const;
    quint64 localHeaderOffset(size_t index) const { return m_records[index].localHeaderOffset; }
    QString name(size_t index) const;
    NameBytes nameBytes(size_t index) const
    {
        const Stored &s = m_records[index];
        return {m_names.data() + s.nameAt, s.nameSize, s.ascii != 0};
    }

private:
    // What is kept of a central record: 72 bytes.
    struct Stored {
        quint64 localHeaderOffset = 0;
        quint64 compressedSize = 0;
        quint64 uncompressedSize = 0;
        quint64 nameAt = 0;        // in m_names
        quint32 nameSize = 0;
        quint32 crc = 0;
        quint32 dosDate = 0;
        quint32 externalFa = 0;
        quint32 diskNumStart = 0;
        quint16 version = 0;
        quint16 versionNeeded = 0;
        quint16 flag = 0;
        quint16 compressionMethod = 0;
        quint16 sizeFilename = 0;
        quint16 sizeFileExtra = 0;
        quint16 sizeFileComment = 0;
        quint16 internalFa = 0;
        quint8 overlapping = 0;
        quint8 nameValid = 1;
        quint8 ascii = 1;
    };

    Status readEnd(FILE *file, quint64 fileSize, quint64 *count, quint64 *size, quint64 *offset);
    Status readEntries(FILE *file, quint64 count, quint64 size, quint64 offset);
    // The fixed part at `p` is followed by the name, extra field and comment.
    void readRecord(const char *p);
    void readName(const char *storedName, const char *unicodePath, int unicodeSize, Stored &stored);
    void markOverlaps(quint64 directoryOffset);

    quint64 m_prefix = 0;
    std::vector<Stored> m_records;
    std::string m_names;
};
