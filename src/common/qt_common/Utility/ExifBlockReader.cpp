#include "ExifBlockReader.h"
#include "QExifValue_p.h"

#include <QtEndian>
#include <QDebug>

#include <cstring>

namespace Extras {

namespace {
const quint32 entrySize = 12;
} // namespace

ExifBlockReader::ExifBlockReader(const QByteArray &block)
    : m_block(block)
    , m_data(reinterpret_cast<const uchar *>(m_block.constData()))
    , m_size(quint32(m_block.size()))
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

QByteArray ExifBlockReader::bytes(quint32 offset, quint32 length) const
{
    if (offset >= m_size)
        return QByteArray();
    return m_block.mid(int(offset), int(qMin<quint64>(length, m_size - offset)));
}

QVector<ExifIfdHeader> ExifBlockReader::readEntries(quint32 offset, quint32 *nextOffset) const
{
    const quint32 count = read16(offset);
    const quint64 first = quint64(offset) + 2;
    // A crafted count must not size anything beyond the entries the block holds.
    const quint64 whole = first < m_size ? (m_size - first) / entrySize : 0;
    const quint32 available = quint32(qMin<quint64>(count, whole));

    QVector<ExifIfdHeader> entries(static_cast<int>(available));
    for (quint32 i = 0; i < available; ++i) {
        const quint32 at = quint32(first + i * entrySize);
        ExifIfdHeader &entry = entries[int(i)];
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
                continue;
            }
            break;
        case QExifValue::Short:
            if (entry.count <= 2) {
                entry.valueField.shorts[0] = read16(field);
                entry.valueField.shorts[1] = read16(field + 2);
                continue;
            }
            break;
        default:
            break;
        }
        entry.valueField.offset = read32(field);
    }
    if (nextOffset) {
        const quint64 link = first + quint64(count) * entrySize;
        *nextOffset = link <= m_size ? read32(quint32(link)) : 0;
    }
    return entries;
}

template<typename T, typename Element>
QVector<T> ExifBlockReader::readVector(quint32 offset, quint32 count,
                                       Element (ExifBlockReader::*read)(quint32) const, int elementSize) const
{
    QVector<T> values(static_cast<int>(count));
    T *out = values.data();
    for (quint32 i = 0; i < count; ++i)
        out[i] = T((this->*read)(offset + i * quint32(elementSize)));
    return values;
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

QExifValue ExifBlockReader::readIfdValue(const ExifIfdHeader &entry) const
{
    const quint32 count = entry.count;
    const quint32 offset = entry.valueField.offset;
    static const quint8 elementBytes[11] = {0, 1, 1, 2, 4, 8, 0, 1, 0, 4, 8};
    // Data out of line must lie wholly inside the block; otherwise the entry
    // keeps its tag with a null value and nothing is sized by its count.
    if (entry.type < 11) {
        const quint64 length = quint64(elementBytes[entry.type]) * count;
        if (length > 4 && !fits(offset, length))
            return QExifValue();
    }

    switch (entry.type) {
    case QExifValue::Byte: {
        const uchar *from = count <= 4 ? reinterpret_cast<const uchar *>(entry.valueField.bytes) : m_data + offset;
        return QExifValue(new QExifByteValuePrivate(QVector<quint8>(from, from + count)));
    }
    case QExifValue::Ascii: {
        const char *from = count <= 4 ? entry.valueField.bytes : reinterpret_cast<const char *>(m_data + offset);
        return QExifValue(new QExifAsciiValuePrivate(QString::fromLatin1(from, count > 0 ? int(count) - 1 : 0)));
    }
    case QExifValue::Short:
        if (count <= 2)
            return QExifValue(new QExifShortValuePrivate(
                QVector<quint16>(entry.valueField.shorts, entry.valueField.shorts + count)));
        return QExifValue(new QExifShortValuePrivate(readVector<quint16>(offset, count, &ExifBlockReader::read16, 2)));
    case QExifValue::Long:
        if (count == 1)
            return QExifValue(new QExifLongValuePrivate(QVector<quint32>(1, offset)));
        return QExifValue(new QExifLongValuePrivate(readVector<quint32>(offset, count, &ExifBlockReader::read32, 4)));
    case QExifValue::Rational: {
        QVector<RationalU32> values(static_cast<int>(count));
        for (quint32 i = 0; i < count; ++i)
            values[int(i)] = RationalU32(read32(offset + 8 * i), read32(offset + 8 * i + 4));
        return QExifValue(new QExifRationalValuePrivate(std::move(values)));
    }
    case QExifValue::Undefined: {
        const char *from = count <= 4 ? entry.valueField.bytes : reinterpret_cast<const char *>(m_data + offset);
        return QExifValue(new QExifUndefinedValuePrivate(QByteArray::fromRawData(from, int(count))));
    }
    case QExifValue::SignedLong:
        if (count == 1)
            return QExifValue(new QExifSignedLongValuePrivate(QVector<qint32>(1, qint32(offset))));
        return QExifValue(
            new QExifSignedLongValuePrivate(readVector<qint32>(offset, count, &ExifBlockReader::read32, 4)));
    case QExifValue::SignedRational: {
        QVector<RationalS32> values(static_cast<int>(count));
        for (quint32 i = 0; i < count; ++i)
            values[int(i)] = RationalS32(qint32(read32(offset + 8 * i)), qint32(read32(offset + 8 * i + 4)));
        return QExifValue(new QExifSignedRationalValuePrivate(std::move(values)));
    }
    default:
        qWarning() << "Invalid Ifd Type" << entry.type;
        return QExifValue();
    }
}

} // namespace Extras
