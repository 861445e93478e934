#pragma once

#include "QExifValue.h"

#include <QByteArray>
#include <QSysInfo>
#include <QVector>

namespace Extras {

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
    Bounded reading of one in-memory TIFF block: numbers in the block's byte
    order, directory entry lists and entry values. Offsets count from the
    block's first byte. Nothing is read or allocated beyond the block: a
    number past its end reads as 0, an entry list stops at the last whole
    entry, and a value whose data would reach past the end comes back null.
*/
class ExifBlockReader
{
public:
    explicit ExifBlockReader(const QByteArray &block);

    // Reads the byte-order mark and the magic number 42.
    bool readHeader();
    QSysInfo::Endian byteOrder() const { return m_order; }
    quint32 firstIfdOffset() const;

    quint16 read16(quint32 offset) const;
    quint32 read32(quint32 offset) const;
    // The bytes that exist in [offset, offset + length), possibly fewer.
    QByteArray bytes(quint32 offset, quint32 length) const;

    // The entries of the directory at offset; nextOffset receives the
    // 32-bit link that follows them (0 when it lies past the block).
    QVector<ExifIfdHeader> readEntries(quint32 offset, quint32 *nextOffset = nullptr) const;
    // A null value, with the warning "Invalid Ifd Type", for an unsupported type.
    QExifValue readIfdValue(const ExifIfdHeader &entry) const;
    static bool isSupportedType(quint16 type);

private:
    bool fits(quint32 offset, quint64 length) const;
    template<typename T, typename Element>
    QVector<T> readVector(quint32 offset, quint32 count, Element (ExifBlockReader::*read)(quint32) const,
                          int elementSize) const;

    QByteArray m_block;
    const uchar *m_data = nullptr;
    quint32 m_size = 0;
    QSysInfo::Endian m_order = QSysInfo::LittleEndian;
};

} // namespace Extras
