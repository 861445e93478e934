#pragma once

#include "QExifValue.h"

#include <QSysInfo>

namespace Extras {

class ExifValueArena;

// One 12-byte directory entry as it stands in the file.
struct ExifIfdHeader
{
    quint16 tag = 0;
    quint16 type = 0;
    quint32 count = 0;
    // The value itself when it fits in 4 bytes, else the offset of its data.
    union {
        quint32 offset;
        char bytes[4];
        quint16 shorts[2];
    } valueField = {0};
};

/*!
    Bounded reading of one TIFF block in memory: numbers in the block's byte
    order, directories and entry values. Offsets count from the block's
    first byte. Nothing is read beyond the block: a number past its end
    reads as 0, a directory stops at its last whole entry, and a value whose
    data would reach past the end comes back null. Values are records of the
    arena that point into the block, which the arena holds.
*/
class ExifBlockReader
{
public:
    // Where the entries of a directory lie.
    struct Directory
    {
        quint32 first = 0;
        // The entries that lie wholly inside the block.
        quint32 count = 0;
        // The 32-bit link that follows the declared entries; 0 past the block.
        quint32 next = 0;
        quint32 entryAt(quint32 index) const { return first + 12 * index; }
    };

    ExifBlockReader(const char *block, quint32 size, ExifValueArena *arena);

    // Reads the byte-order mark and the magic number 42.
    bool readHeader();
    QSysInfo::Endian byteOrder() const { return m_order; }
    quint32 firstIfdOffset() const;

    quint16 read16(quint32 offset) const;
    quint32 read32(quint32 offset) const;
    // The bytes that exist in [offset, offset + length), possibly fewer.
    const char *bytes(quint32 offset, quint32 length, int *size) const;

    Directory directory(quint32 offset) const;
    // The entry whose 12 bytes begin at `at`, inside the block.
    ExifIfdHeader entry(quint32 at) const;
    // A null value, with the warning "Invalid Ifd Type", for an unsupported
    // type; `at` is where the entry lies.
    QExifValue readIfdValue(const ExifIfdHeader &entry, quint32 at) const;
    static bool isSupportedType(quint16 type);

private:
    bool fits(quint32 offset, quint64 length) const;
    // Where `length` bytes of out-of-line data begin; null when there are none.
    const uchar *dataAt(quint32 offset, quint64 length) const;

    const uchar *m_data;
    quint32 m_size;
    ExifValueArena *m_arena;
    QSysInfo::Endian m_order = QSysInfo::LittleEndian;
};

} // namespace Extras
