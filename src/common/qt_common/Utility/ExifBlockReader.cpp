#include "ExifBlockReader.h"
#include "QExifValue_p.h"

#include <QDebug>
#include <QtEndian>

#include <cstring>

namespace Extras {

namespace {
const quint32 entrySize = 12;
} // namespace

ExifBlockReader::ExifBlockReader(const char *block, quint32 size, ExifValueArena *arena)
    : m_data(reinterpret_cast<const uchar *>(block))
    , m_size(size)
    , m_arena(arena)
{
}

bool ExifBlockReader::readHeader()
{
    if (m_size < 2)
        return false;
    if (m_data[0] == 'I' && m_data[1] == 'I')
        m_order = QSysInfo::LittleEndian;
    else if (m_data[0] == 'M' && m_data[1] == 'M')
        m_order = QSysInfo::BigEndian;
    else
        return false;
    return read16(2) == 42;
}

quint32 ExifBlockReader::firstIfdOffset() const
{
    return read32(4);
}

bool ExifBlockReader::fits(quint32 offset, quint64 length) const
{
    return length == 0 || (offset <= m_size && length <= quint64(m_size - offset));
}

const uchar *ExifBlockReader::dataAt(quint32 offset, quint64 length) const
{
    return length > 0 ? m_data + offset : nullptr;
}

quint16 ExifBlockReader::read16(quint32 offset) const
{
    if (!fits(offset, 2))
        return 0;
    return m_order == QSysInfo::LittleEndian ? qFromLittleEndian<quint16>(m_data + offset)
                                             : qFromBigEndian<quint16>(m_data + offset);
}

quint32 ExifBlockReader::read32(quint32 offset) const
{
    if (!fits(offset, 4))
        return 0;
    return m_order == QSysInfo::LittleEndian ? qFromLittleEndian<quint32>(m_data + offset)
                                             : qFromBigEndian<quint32>(m_data + offset);
}

const char *ExifBlockReader::bytes(quint32 offset, quint32 length, int *size) const
{
    *size = offset < m_size ? int(qMin<quint64>(length, m_size - offset)) : 0;
    return *size > 0 ? reinterpret_cast<const char *>(m_data + offset) : nullptr;
}

ExifBlockReader::Directory ExifBlockReader::directory(quint32 offset) const
{
    Directory directory;
    const quint32 declared = read16(offset);
    const quint64 first = quint64(offset) + 2;
    // A crafted count must not reach beyond the entries the block holds.
    const quint64 whole = first < m_size ? (m_size - first) / entrySize : 0;
    directory.first = quint32(qMin<quint64>(first, m_size));
    directory.count = quint32(qMin<quint64>(declared, whole));
    const quint64 link = first + quint64(declared) * entrySize;
    directory.next = link <= m_size ? read32(quint32(link)) : 0;
    return directory;
}

ExifIfdHeader ExifBlockReader::entry(quint32 at) const
{
    ExifIfdHeader entry;
    entry.tag = read16(at);
    entry.type = read16(at + 2);
    entry.count = read32(at + 4);
    const quint32 field = at + 8;
    switch (entry.type) {
    case QExifValue::Byte:
    case QExifValue::Ascii:
    case QExifValue::Undefined:
        if (entry.count <= 4) {
            memcpy(entry.valueField.bytes, m_data + field, 4);
            return entry;
        }
        break;
    case QExifValue::Short:
        if (entry.count <= 2) {
            entry.valueField.shorts[0] = read16(field);
            entry.valueField.shorts[1] = read16(field + 2);
            return entry;
        }
        break;
    default:
        break;
    }
    entry.valueField.offset = read32(field);
    return entry;
}

bool ExifBlockReader::isSupportedType(quint16 type)
{
    switch (type) {
    case QExifValue::Byte:
    case QExifValue::Ascii:
    case QExifValue::Short:
    case QExifValue::Long:
    case QExifValue::Rational:
    case QExifValue::Undefined:
    case QExifValue::SignedLong:
    case QExifValue::SignedRational:
        return true;
    default:
        return false;
    }
}

QExifValue ExifBlockReader::readIfdValue(const ExifIfdHeader &entry, quint32 at) const
{
    const quint32 count = entry.count;
    const quint32 offset = entry.valueField.offset;
    static const quint8 elementBytes[11] = {0, 1, 1, 2, 4, 8, 0, 1, 0, 4, 8};
    quint64 length = 0;
    // Data out of line must lie wholly inside the block; otherwise the entry
    // keeps its tag with a null value and nothing is sized by its count.
    if (entry.type < 11) {
        length = quint64(elementBytes[entry.type]) * count;
        if (length > 4 && !fits(offset, length))
            return QExifValue();
    }
    // A value that fits in 4 bytes stands in the entry itself, left-aligned.
    const uchar *const field = m_data + at + 8;
    const QExifValuePrivate::Order order =
        m_order == QSysInfo::LittleEndian ? QExifValuePrivate::LittleEndian : QExifValuePrivate::BigEndian;
    const uchar *data = nullptr;
    switch (entry.type) {
    case QExifValue::Byte:
    case QExifValue::Undefined:
    case QExifValue::Short:
    case QExifValue::Long:
    case QExifValue::SignedLong:
        data = length <= 4 ? field : dataAt(offset, length);
        break;
    case QExifValue::Ascii: {
        // The text is the count bytes up to the first zero byte, or all of
        // them: writers pad with several zeros or leave the terminator out.
        // The value counts the text and one terminator, as it is written.
        data = count <= 4 ? field : dataAt(offset, length);
        const void *zero = data ? memchr(data, 0, count) : nullptr;
        const quint32 text = zero ? quint32(static_cast<const uchar *>(zero) - data) : count;
        return QExifValue(m_arena->make(QExifValue::Ascii, text + 1, order, data));
    }
    case QExifValue::Rational:
    case QExifValue::SignedRational:
        data = dataAt(offset, length);
        break;
    default:
        qWarning() << "Invalid Ifd Type" << entry.type;
        return QExifValue();
    }
    return QExifValue(m_arena->make(entry.type, count, order, data));
}

} // namespace Extras
