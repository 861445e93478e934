#include "QExifImageHeader.h"

#include "DebugUtility.h"
#include "ExifBlockReader.h"
#include "ExifTagTable.h"

#include <QBuffer>
#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QTransform>

#include <cstring>

namespace Extras {

namespace {

// Thumbnail directory (IFD1) tags.
const quint16 thumbCompressionTag = 0x0103;
const quint16 thumbXResolutionTag = 0x011A;
const quint16 thumbYResolutionTag = 0x011B;
const quint16 thumbResolutionUnitTag = 0x0128;
const quint16 thumbOrientationTag = 0x0112;
const quint16 thumbOffsetTag = 0x0201;
const quint16 thumbLengthTag = 0x0202;

// An entry count, seven 12-byte entries and the link to a next directory.
// The link is always 0, but TIFF readers expect it: without it they take the
// first data bytes for a link and see a directory that is not there.
const quint32 thumbnailDirectorySize = 2 + 7 * 12 + 4;

// A segment length counts its own 2 bytes and is 16 bits wide.
const int maximumSegmentPayload = 0xFFFF - 2;

const char exifIdentifier[] = {'E', 'x', 'i', 'f', 0, 0};

bool isSingleLong(const QExifValue &value)
{
    return value.type() == QExifValue::Long && value.count() == 1;
}

// Reads a 16-bit big-endian JPEG marker or length; false at the end of the data.
bool readJpegWord(QIODevice *device, quint16 *word)
{
    uchar bytes[2];
    if (device->read(reinterpret_cast<char *>(bytes), 2) != 2)
        return false;
    *word = quint16((bytes[0] << 8) | bytes[1]);
    return true;
}

QByteArray jpegWord(quint16 word)
{
    const char bytes[2] = {char(word >> 8), char(word & 0xFF)};
    return QByteArray(bytes, 2);
}

QByteArray segment(quint16 marker, const QByteArray &payload)
{
    return jpegWord(marker) + jpegWord(quint16(payload.size() + 2)) + payload;
}

// The payload of a segment whose length field was just read; false when the
// length is impossible or the data ends early.
bool readSegmentPayload(QIODevice *device, quint16 length, QByteArray *payload)
{
    if (length < 2)
        return false;
    *payload = device->read(length - 2);
    return payload->size() == length - 2;
}

} // namespace

class QExifImageHeaderPrivate
{
public:
    QSysInfo::Endian blockOrder = QSysInfo::LittleEndian;
    mutable qint64 cachedSize = -1;
    ExifTagTable<QExifImageHeader::ImageTagNumber> imageTable;
    ExifTagTable<QExifImageHeader::ExtendedTagNumber> extendedTable;
    ExifTagTable<QExifImageHeader::GpsTagNumber> gpsTable;
    QByteArray thumbnailBytes;
    QExifValue thumbXResolution;
    QExifValue thumbYResolution;
    QExifValue thumbResolutionUnit;
    QExifValue thumbOrientation;
};

QExifImageHeader::QExifImageHeader()
    : d(new QExifImageHeaderPrivate)
{
}

QExifImageHeader::QExifImageHeader(const QString &fileName)
    : QExifImageHeader()
{
    loadJpeg(fileName);
}

QExifImageHeader::~QExifImageHeader() = default;

bool QExifImageHeader::loadJpeg(const QString &fileName)
{
    // Unbuffered: the segment scan reads ahead by itself.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    return loadJpeg(&file);
}

bool QExifImageHeader::loadJpeg(QIODevice *device)
{
    clear();
    // One block buffer per thread, reused by every load: the values copy
    // what they keep, so nothing refers to it once parsing is done.
    static thread_local QByteArray block;
    if (!findExifSegment(device, &block))
        return false;
    return parseBlock(block);
}

bool QExifImageHeader::readBlock(QIODevice *device)
{
    clear();
    if (!device)
        return false;
    // The block is parsed from one in-memory copy of what the device holds,
    // up to the limit. It is read in pieces so that a small block on a
    // device of unknown size does not cost an allocation of the limit.
    QByteArray block;
    while (block.size() < MaximumReadBlockSize) {
        const QByteArray piece = device->read(qMin<qint64>(MaximumReadBlockSize - block.size(), 1 << 20));
        if (piece.isEmpty())
            break;
        block += piece;
    }
    return parseBlock(block);
}

namespace {

// Reads the leading segments of a JPEG stream through a small read-ahead
// window: a file whose EXIF segment comes early costs one or two reads.
class ReadAhead
{
public:
    explicit ReadAhead(QIODevice *device)
        : m_device(device)
    {
    }

    // A 16-bit big-endian word; false when the data ends first.
    bool word(quint16 *word)
    {
        if (!fill(2))
            return false;
        const uchar *p = reinterpret_cast<const uchar *>(m_window + m_pos);
        *word = quint16((p[0] << 8) | p[1]);
        m_pos += 2;
        return true;
    }

    // Whether the next bytes are these; they are consumed either way.
    bool expect(const char *bytes, int size)
    {
        if (!fill(size))
            return false;
        const bool same = memcmp(m_window + m_pos, bytes, size_t(size)) == 0;
        m_pos += size;
        return same;
    }

    bool skip(qint64 count)
    {
        const int available = m_size - m_pos;
        if (count <= available) {
            m_pos += int(count);
            return true;
        }
        const qint64 beyond = count - available;
        m_pos = m_size = 0;
        if (m_device->isSequential())
            return m_device->skip(beyond) == beyond;
        // A segment reaching past the end leaves no room for one behind it.
        const qint64 next = m_device->pos() + beyond;
        return next <= m_device->size() && m_device->seek(next);
    }

    // The next count bytes, or fewer when the data ends early.
    void read(int count, QByteArray *bytes)
    {
        bytes->resize(count);
        const int fromWindow = qMin(count, m_size - m_pos);
        memcpy(bytes->data(), m_window + m_pos, size_t(fromWindow));
        m_pos += fromWindow;
        if (fromWindow < count) {
            const qint64 got = m_device->read(bytes->data() + fromWindow, count - fromWindow);
            bytes->resize(fromWindow + int(qMax<qint64>(got, 0)));
        }
    }

    bool atEnd() const { return m_pos == m_size && m_device->atEnd(); }

private:
    bool fill(int count)
    {
        if (m_size - m_pos >= count)
            return true;
        memmove(m_window, m_window + m_pos, size_t(m_size - m_pos));
        m_size -= m_pos;
        m_pos = 0;
        const qint64 got = m_device->read(m_window + m_size, qint64(sizeof(m_window)) - m_size);
        m_size += int(qMax<qint64>(got, 0));
        return m_size >= count;
    }

    QIODevice *m_device;
    // Holds the start of image, a JFIF segment and the head of the EXIF segment.
    char m_window[1024];
    int m_size = 0;
    int m_pos = 0;
};

} // namespace

bool QExifImageHeader::findExifSegment(QIODevice *device, QByteArray *block)
{
    if (!device)
        return false;
    ReadAhead in(device);
    if (!in.expect("\xFF\xD8", 2))
        return false;
    // Steps from segment to segment by their lengths; only the first APP1 counts.
    quint16 marker = 0;
    while (in.word(&marker)) {
        quint16 length = 0;
        if (marker == 0xFFE1) {
            if (!in.word(&length) || !in.expect("Exif", 4) || !in.skip(2) || length < 8)
                return false;
            in.read(length - 8, block);
            return !block->isEmpty();
        }
        if (in.atEnd() || !in.word(&length) || length < 2 || !in.skip(length - 2))
            return false;
    }
    return false;
}

template<typename Tag>
void QExifImageHeader::readTable(const ExifBlockReader &reader, const QVector<ExifIfdHeader> &entries,
                                 ExifTagTable<Tag> *table)
{
    table->reserve(entries.size());
    // A tag that occurs twice keeps its later value.
    for (const ExifIfdHeader &entry : entries)
        table->insert(Tag(entry.tag), reader.readIfdValue(entry));
}

template<typename Tag>
void QExifImageHeader::readSubTable(const ExifBlockReader &reader, const QExifValue &pointer, ExifTagTable<Tag> *table)
{
    if (isSingleLong(pointer))
        readTable(reader, reader.readEntries(pointer.toLong()), table);
}

bool QExifImageHeader::parseBlock(const QByteArray &block)
{
    clear();
    ExifBlockReader reader(block);
    if (!reader.readHeader())
        return false;
    d->blockOrder = reader.byteOrder();

    quint32 nextOffset = 0;
    readTable(reader, reader.readEntries(reader.firstIfdOffset(), &nextOffset), &d->imageTable);
    readSubTable(reader, d->imageTable.value(ExifIfdPointer), &d->extendedTable);
    readSubTable(reader, d->imageTable.value(GpsInfoIfdPointer), &d->gpsTable);
    // The interoperability directory is not read, so its pointer means nothing here.
    d->extendedTable.remove(InteroperabilityIfdPointer);

    if (nextOffset != 0) {
        // Only six entries of the thumbnail directory matter; the last of a tag counts.
        const ExifIfdHeader *wanted[6] = {};
        const quint16 wantedTags[6] = {thumbOffsetTag, thumbLengthTag, thumbXResolutionTag,
                                       thumbYResolutionTag, thumbResolutionUnitTag, thumbOrientationTag};
        const QVector<ExifIfdHeader> entries = reader.readEntries(nextOffset);
        for (const ExifIfdHeader &entry : entries) {
            const bool supported = ExifBlockReader::isSupportedType(entry.type);
            if (!supported)
                qWarning() << "Invalid Ifd Type" << entry.type;
            for (int i = 0; i < 6; ++i) {
                if (entry.tag == wantedTags[i])
                    wanted[i] = supported ? &entry : nullptr;
            }
        }
        auto valueOf = [&](int i) { return wanted[i] ? reader.readIfdValue(*wanted[i]) : QExifValue(); };
        const QExifValue offset = valueOf(0);
        const QExifValue length = valueOf(1);
        if (isSingleLong(offset) && isSingleLong(length)) {
            d->thumbnailBytes = reader.bytes(offset.toLong(), length.toLong());
            d->thumbXResolution = valueOf(2);
            d->thumbYResolution = valueOf(3);
            d->thumbResolutionUnit = valueOf(4);
            d->thumbOrientation = valueOf(5);
        }
    }
    return true;
}

void QExifImageHeader::clear()
{
    d->imageTable.clear();
    d->extendedTable.clear();
    d->gpsTable.clear();
    d->thumbnailBytes.clear();
    d->cachedSize = -1;
}

QSysInfo::Endian QExifImageHeader::blockByteOrder() const
{
    return d->blockOrder;
}

void QExifImageHeader::setBlockByteOrder(QSysInfo::Endian order)
{
    d->blockOrder = order;
}

QList<QExifImageHeader::ImageTagNumber> QExifImageHeader::imageTagNumbers() const
{
    return d->imageTable.keys();
}

QList<QExifImageHeader::ExtendedTagNumber> QExifImageHeader::extendedTagNumbers() const
{
    return d->extendedTable.keys();
}

QList<QExifImageHeader::GpsTagNumber> QExifImageHeader::gpsTagNumbers() const
{
    return d->gpsTable.keys();
}

bool QExifImageHeader::contains(ImageTagNumber tag) const
{
    return d->imageTable.contains(tag);
}

bool QExifImageHeader::contains(ExtendedTagNumber tag) const
{
    return d->extendedTable.contains(tag);
}

bool QExifImageHeader::contains(GpsTagNumber tag) const
{
    return d->gpsTable.contains(tag);
}

QExifValue QExifImageHeader::value(ImageTagNumber tag) const
{
    return d->imageTable.value(tag);
}

QExifValue QExifImageHeader::value(ExtendedTagNumber tag) const
{
    return d->extendedTable.value(tag);
}

QExifValue QExifImageHeader::value(GpsTagNumber tag) const
{
    return d->gpsTable.value(tag);
}

void QExifImageHeader::setValue(ImageTagNumber tag, const QExifValue &value)
{
    d->imageTable.insert(tag, value);
    d->cachedSize = -1;
}

void QExifImageHeader::setValue(ExtendedTagNumber tag, const QExifValue &value)
{
    d->extendedTable.insert(tag, value);
    d->cachedSize = -1;
}

void QExifImageHeader::setValue(GpsTagNumber tag, const QExifValue &value)
{
    d->gpsTable.insert(tag, value);
    d->cachedSize = -1;
}

void QExifImageHeader::remove(ImageTagNumber tag)
{
    d->imageTable.remove(tag);
    d->cachedSize = -1;
}

void QExifImageHeader::remove(ExtendedTagNumber tag)
{
    d->extendedTable.remove(tag);
    d->cachedSize = -1;
}

void QExifImageHeader::remove(GpsTagNumber tag)
{
    d->gpsTable.remove(tag);
    d->cachedSize = -1;
}

QByteArray QExifImageHeader::thumbnailData() const
{
    return d->thumbnailBytes;
}

QImage QExifImageHeader::thumbnailImage() const
{
    const QImage image = QImage::fromData(d->thumbnailBytes, "JPG");
    if (d->thumbOrientation.isNull())
        return image;

    QTransform transform;
    switch (d->thumbOrientation.toShort()) {
    case 2:
        transform.rotate(180, Qt::YAxis);
        break;
    case 3:
        transform.rotate(180, Qt::ZAxis);
        break;
    case 4:
        transform.rotate(180, Qt::XAxis);
        break;
    case 5:
        transform.rotate(180, Qt::YAxis);
        transform.rotate(90, Qt::ZAxis);
        break;
    case 6:
        transform.rotate(90, Qt::ZAxis);
        break;
    case 7:
        transform.rotate(180, Qt::XAxis);
        transform.rotate(90, Qt::ZAxis);
        break;
    case 8:
        transform.rotate(270, Qt::ZAxis);
        break;
    default:
        // 1 is upright; anything outside 1-8 is not an orientation.
        return image;
    }
    return image.transformed(transform, Qt::FastTransformation);
}

void QExifImageHeader::setThumbnailImage(const QImage &image)
{
    d->cachedSize = -1;
    if (image.isNull()) {
        d->thumbnailBytes.clear();
        return;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "JPG")) {
        d->thumbnailBytes = bytes;
        // The pixels are stored as they are, so no turn applies to them.
        d->thumbOrientation = QExifValue();
    }
}

// Writing

ExifTagTable<QExifImageHeader::ImageTagNumber> QExifImageHeader::writtenImageTable() const
{
    // The writer makes its own pointer entries with the new offsets; pointer
    // tags kept from a file that was read would repeat them with stale ones.
    ExifTagTable<ImageTagNumber> table = d->imageTable;
    table.remove(ExifIfdPointer);
    table.remove(GpsInfoIfdPointer);
    return table;
}

quint32 QExifImageHeader::outOfLineSize(const QExifValue &value)
{
    const quint32 count = quint32(value.count());
    switch (value.type()) {
    case QExifValue::Byte:
    case QExifValue::Ascii:
    case QExifValue::Undefined:
        return count > 4 ? count : 0;
    case QExifValue::Short:
        return count > 2 ? 2 * count : 0;
    case QExifValue::Long:
    case QExifValue::SignedLong:
        return count > 1 ? 4 * count : 0;
    case QExifValue::Rational:
    case QExifValue::SignedRational:
        return 8 * count;
    default:
        return 0;
    }
}

quint32 QExifImageHeader::entrySize(const QExifValue &value)
{
    return 12 + outOfLineSize(value);
}

template<typename Tag>
quint32 QExifImageHeader::tableSize(const ExifTagTable<Tag> &table)
{
    quint32 size = 2;
    for (const auto &item : table)
        size += entrySize(item.value);
    return size;
}

namespace {

// ASCII is written one byte per character so that the bytes agree with the
// count; characters outside Latin-1 become '?'.
QByteArray asciiBytes(const QExifValue &value)
{
    return value.toString().toLatin1();
}

void writeZeros(QDataStream &stream, int count)
{
    static const char zeros[4] = {0, 0, 0, 0};
    if (count > 0)
        stream.writeRawData(zeros, count);
}

} // namespace

quint32 QExifImageHeader::writeExifHeader(QDataStream &stream, quint16 tag, const QExifValue &value, quint32 offset)
{
    stream << tag << quint16(value.type()) << quint32(value.count());
    const quint32 outOfLine = outOfLineSize(value);
    if (outOfLine > 0) {
        stream << offset;
        return offset + outOfLine;
    }
    switch (value.type()) {
    case QExifValue::Byte: {
        const QVector<quint8> bytes = value.toByteVector();
        stream.writeRawData(reinterpret_cast<const char *>(bytes.constData()), bytes.size());
        writeZeros(stream, 4 - bytes.size());
        break;
    }
    case QExifValue::Ascii: {
        const QByteArray text = asciiBytes(value);
        stream.writeRawData(text.constData(), text.size());
        writeZeros(stream, 4 - text.size());
        break;
    }
    case QExifValue::Short: {
        const QVector<quint16> shorts = value.toShortVector();
        for (quint16 s : shorts)
            stream << s;
        for (int i = shorts.size(); i < 2; ++i)
            stream << quint16(0);
        break;
    }
    case QExifValue::Long:
        stream << (value.count() == 1 ? value.toLong() : quint32(0));
        break;
    case QExifValue::SignedLong:
        stream << (value.count() == 1 ? value.toSignedLong() : qint32(0));
        break;
    case QExifValue::Rational:
    case QExifValue::SignedRational:
        stream << quint32(0);
        break;
    case QExifValue::Undefined: {
        const QByteArray bytes = value.toByteArray();
        stream.writeRawData(bytes.constData(), bytes.size());
        writeZeros(stream, 4 - bytes.size());
        break;
    }
    default:
        qWarning() << "Invalid Ifd Type" << value.type();
        stream << quint32(0);
        break;
    }
    return offset;
}

void QExifImageHeader::writeExifValue(QDataStream &stream, const QExifValue &value)
{
    if (outOfLineSize(value) == 0)
        return;
    switch (value.type()) {
    case QExifValue::Byte: {
        const QVector<quint8> bytes = value.toByteVector();
        stream.writeRawData(reinterpret_cast<const char *>(bytes.constData()), bytes.size());
        break;
    }
    case QExifValue::Ascii: {
        const QByteArray text = asciiBytes(value);
        stream.writeRawData(text.constData(), text.size());
        stream << quint8(0);
        break;
    }
    case QExifValue::Short:
        for (quint16 s : value.toShortVector())
            stream << s;
        break;
    case QExifValue::Long:
        for (quint32 l : value.toLongVector())
            stream << l;
        break;
    case QExifValue::SignedLong:
        for (qint32 l : value.toSignedLongVector())
            stream << l;
        break;
    case QExifValue::Rational:
        for (const RationalU32 &r : value.toRationalVector())
            stream << r.first << r.second;
        break;
    case QExifValue::SignedRational:
        for (const RationalS32 &r : value.toSignedRationalVector())
            stream << r.first << r.second;
        break;
    case QExifValue::Undefined: {
        const QByteArray bytes = value.toByteArray();
        stream.writeRawData(bytes.constData(), bytes.size());
        break;
    }
    default:
        qWarning() << "Invalid Ifd Type" << value.type();
        break;
    }
}

template<typename Tag>
quint32 QExifImageHeader::writeTableEntries(QDataStream &stream, const ExifTagTable<Tag> &table, quint32 offset)
{
    offset += 12 * quint32(table.size());
    for (const auto &item : table)
        offset = writeExifHeader(stream, quint16(item.tag), item.value, offset);
    return offset;
}

template<typename Tag>
void QExifImageHeader::writeTableData(QDataStream &stream, const ExifTagTable<Tag> &table)
{
    for (const auto &item : table)
        writeExifValue(stream, item.value);
}

namespace {

struct ThumbnailValues
{
    QExifValue xResolution;
    QExifValue yResolution;
    QExifValue resolutionUnit;
    QExifValue orientation;
};

// Values missing from the thumbnail directory get the usual defaults; the
// orientation defaults to 0, not 1.
ThumbnailValues thumbnailValues(const QExifValue &x, const QExifValue &y, const QExifValue &unit,
                                const QExifValue &orientation)
{
    return {x.isNull() ? QExifValue(RationalU32(72, 1)) : x, y.isNull() ? QExifValue(RationalU32(72, 1)) : y,
            unit.isNull() ? QExifValue(quint16(2)) : unit, orientation.isNull() ? QExifValue(quint16(0)) : orientation};
}

} // namespace

qint64 QExifImageHeader::writeBlock(QIODevice *device) const
{
    QDataStream stream(device);
    stream.setByteOrder(d->blockOrder == QSysInfo::BigEndian ? QDataStream::BigEndian : QDataStream::LittleEndian);
    if (d->blockOrder == QSysInfo::BigEndian)
        stream.writeRawData("MM", 2);
    else
        stream.writeRawData("II", 2);
    stream << quint16(42) << quint32(8);

    const ExifTagTable<ImageTagNumber> imageTable = writtenImageTable();
    const bool hasGps = !d->gpsTable.isEmpty();
    // IFD0 holds the table's entries, the Exif pointer and, with GPS data, the GPS pointer.
    quint16 entries = quint16(imageTable.size() + 1);
    quint32 offset = 8 + 2 + 12 + 4;
    if (hasGps) {
        ++entries;
        offset += 12;
    }
    stream << entries;

    offset = writeTableEntries(stream, imageTable, offset);
    const quint32 exifStart = offset;
    writeExifHeader(stream, ExifIfdPointer, QExifValue(exifStart), 0);
    offset = exifStart + tableSize(d->extendedTable);
    quint32 gpsStart = 0;
    if (hasGps) {
        gpsStart = offset;
        writeExifHeader(stream, GpsInfoIfdPointer, QExifValue(gpsStart), 0);
        offset = gpsStart + tableSize(d->gpsTable);
    }
    const bool hasThumbnail = !d->thumbnailBytes.isEmpty();
    stream << quint32(hasThumbnail ? offset : 0);
    writeTableData(stream, imageTable);

    stream << quint16(d->extendedTable.size());
    writeTableEntries(stream, d->extendedTable, exifStart + 2);
    writeTableData(stream, d->extendedTable);

    if (hasGps) {
        stream << quint16(d->gpsTable.size());
        writeTableEntries(stream, d->gpsTable, gpsStart + 2);
        writeTableData(stream, d->gpsTable);
    }

    if (hasThumbnail) {
        const ThumbnailValues values = thumbnailValues(d->thumbXResolution, d->thumbYResolution,
                                                       d->thumbResolutionUnit, d->thumbOrientation);
        offset += thumbnailDirectorySize;
        stream << quint16(7);
        writeExifHeader(stream, thumbCompressionTag, QExifValue(quint16(6)), 0);
        offset = writeExifHeader(stream, thumbXResolutionTag, values.xResolution, offset);
        offset = writeExifHeader(stream, thumbYResolutionTag, values.yResolution, offset);
        offset = writeExifHeader(stream, thumbResolutionUnitTag, values.resolutionUnit, offset);
        offset = writeExifHeader(stream, thumbOrientationTag, values.orientation, offset);
        writeExifHeader(stream, thumbOffsetTag, QExifValue(offset), 0);
        writeExifHeader(stream, thumbLengthTag, QExifValue(quint32(d->thumbnailBytes.size())), 0);
        stream << quint32(0);
        writeExifValue(stream, values.xResolution);
        writeExifValue(stream, values.yResolution);
        writeExifValue(stream, values.resolutionUnit);
        writeExifValue(stream, values.orientation);
        stream.writeRawData(d->thumbnailBytes.constData(), d->thumbnailBytes.size());
        offset += quint32(d->thumbnailBytes.size());
    }

    d->cachedSize = offset;
    return offset;
}

qint64 QExifImageHeader::blockSize() const
{
    if (d->cachedSize == -1) {
        qint64 size = qint64(tableSize(writtenImageTable())) + tableSize(d->extendedTable) + 24;
        if (!d->gpsTable.isEmpty())
            size += tableSize(d->gpsTable) + 12;
        if (!d->thumbnailBytes.isEmpty()) {
            const ThumbnailValues values = thumbnailValues(d->thumbXResolution, d->thumbYResolution,
                                                           d->thumbResolutionUnit, d->thumbOrientation);
            size += thumbnailDirectorySize + outOfLineSize(values.xResolution) + outOfLineSize(values.yResolution)
                + outOfLineSize(values.resolutionUnit) + outOfLineSize(values.orientation)
                + d->thumbnailBytes.size();
        }
        d->cachedSize = size;
    }
    return d->cachedSize;
}

bool QExifImageHeader::saveJpeg(const QString &fileName) const
{
    // ExistingOnly: saving never creates a file that was not a JPEG before.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return false;
    return saveJpeg(&file);
}

bool QExifImageHeader::saveJpeg(QIODevice *device) const
{
    if (!device || device->isSequential())
        return false;

    QByteArray block;
    {
        QBuffer buffer(&block);
        if (!buffer.open(QIODevice::WriteOnly))
            return false;
        writeBlock(&buffer);
    }
    QByteArray exif = QByteArray(exifIdentifier, sizeof(exifIdentifier)) + block;
    // A longer payload would need a length that 16 bits cannot hold.
    if (exif.size() > maximumSegmentPayload) {
        qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "EXIF block too large for one segment:" << exif.size();
        return false;
    }

    const qint64 start = device->pos();
    if (device->read(2) != QByteArray("\xFF\xD8", 2))
        return false;
    quint16 marker = 0;
    quint16 length = 0;
    if (!readJpegWord(device, &marker) || !readJpegWord(device, &length))
        return false;

    // A replaced payload is padded to the old length, so the bytes behind it
    // keep their places and the file never shrinks.
    auto replaceExif = [&](quint16 oldLength) {
        QByteArray old;
        if (!readSegmentPayload(device, oldLength, &old) || !old.startsWith("Exif"))
            return false;
        if (old.size() > exif.size())
            exif.append(QByteArray(old.size() - exif.size(), '\0'));
        return true;
    };

    QByteArray head = jpegWord(0xFFD8);
    if (marker == 0xFFE0) {
        QByteArray jfif;
        if (!readSegmentPayload(device, length, &jfif) || !jfif.startsWith("JFIF"))
            return false;
        head += segment(0xFFE0, jfif);
        quint16 nextMarker = 0;
        quint16 nextLength = 0;
        if (!readJpegWord(device, &nextMarker) || !readJpegWord(device, &nextLength))
            return false;
        if (nextMarker == 0xFFE1) {
            if (!replaceExif(nextLength))
                return false;
            head += segment(0xFFE1, exif);
        } else {
            head += segment(0xFFE1, exif) + jpegWord(nextMarker) + jpegWord(nextLength);
        }
    } else if (marker == 0xFFE1) {
        if (!replaceExif(length))
            return false;
        head += segment(0xFFE1, exif);
    } else {
        head += segment(0xFFE1, exif) + jpegWord(marker) + jpegWord(length);
    }

    const QByteArray rest = device->readAll();
    if (!device->seek(start))
        return false;
    return device->write(head) == head.size() && device->write(rest) == rest.size();
}

} // namespace Extras
