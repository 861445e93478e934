#include "QExifImageHeader.h"

#include "DebugUtility.h"
#include "ExifBlockReader.h"

#include <QBuffer>
#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QTransform>

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

// An entry count, seven 12-byte entries.
const quint32 thumbnailDirectorySize = 2 + 7 * 12;

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

// The payload of a segment whose length field was just read; empty when the
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
    QMap<QExifImageHeader::ImageTagNumber, QExifValue> imageTable;
    QMap<QExifImageHeader::ExtendedTagNumber, QExifValue> extendedTable;
    QMap<QExifImageHeader::GpsTagNumber, QExifValue> gpsTable;
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
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return loadJpeg(&file);
}

bool QExifImageHeader::loadJpeg(QIODevice *device)
{
    clear();
    const QByteArray block = findExifSegment(device);
    if (block.isEmpty())
        return false;
    return parseBlock(block);
}

bool QExifImageHeader::readBlock(QIODevice *device)
{
    clear();
    if (!device)
        return false;
    // The block is parsed from one in-memory copy of at most what a segment holds.
    return parseBlock(device->read(MaximumBlockSize));
}

QByteArray QExifImageHeader::findExifSegment(QIODevice *device)
{
    if (!device || device->read(2) != QByteArray("\xFF\xD8", 2))
        return QByteArray();
    // Steps from segment to segment by their lengths; only the first APP1 counts.
    quint16 marker = 0;
    while (readJpegWord(device, &marker)) {
        quint16 length = 0;
        if (marker == 0xFFE1) {
            if (!readJpegWord(device, &length) || device->read(4) != "Exif" || device->read(2).size() != 2
                || length < 8)
                return QByteArray();
            return device->read(length - 8);
        }
        if (device->atEnd() || !readJpegWord(device, &length) || length < 2)
            return QByteArray();
        if (device->isSequential()) {
            if (device->skip(length - 2) != length - 2)
                return QByteArray();
        } else {
            // A segment reaching past the end leaves no room for an EXIF segment behind it.
            const qint64 next = device->pos() + length - 2;
            if (next > device->size() || !device->seek(next))
                return QByteArray();
        }
    }
    return QByteArray();
}

template<typename Tag>
void QExifImageHeader::readTable(const ExifBlockReader &reader, const QVector<ExifIfdHeader> &entries,
                                 QMap<Tag, QExifValue> *table)
{
    // A tag that occurs twice keeps its later value.
    for (const ExifIfdHeader &entry : entries)
        table->insert(Tag(entry.tag), reader.readIfdValue(entry));
}

template<typename Tag>
QMap<Tag, QExifValue> QExifImageHeader::readSubTable(const ExifBlockReader &reader, const QExifValue &pointer)
{
    QMap<Tag, QExifValue> table;
    if (isSingleLong(pointer))
        readTable(reader, reader.readEntries(pointer.toLong()), &table);
    return table;
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
    d->extendedTable = readSubTable<ExtendedTagNumber>(reader, d->imageTable.value(ExifIfdPointer));
    d->gpsTable = readSubTable<GpsTagNumber>(reader, d->imageTable.value(GpsInfoIfdPointer));
    // The interoperability directory is not read, so its pointer means nothing here.
    d->extendedTable.remove(InteroperabilityIfdPointer);

    if (nextOffset != 0) {
        QMap<quint16, QExifValue> thumbTable;
        readTable(reader, reader.readEntries(nextOffset), &thumbTable);
        const QExifValue offset = thumbTable.value(thumbOffsetTag);
        const QExifValue length = thumbTable.value(thumbLengthTag);
        if (isSingleLong(offset) && isSingleLong(length)) {
            d->thumbnailBytes = reader.bytes(offset.toLong(), length.toLong());
            d->thumbXResolution = thumbTable.value(thumbXResolutionTag);
            d->thumbYResolution = thumbTable.value(thumbYResolutionTag);
            d->thumbResolutionUnit = thumbTable.value(thumbResolutionUnitTag);
            d->thumbOrientation = thumbTable.value(thumbOrientationTag);
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

QMap<QExifImageHeader::ImageTagNumber, QExifValue> QExifImageHeader::writtenImageTable() const
{
    // The writer makes its own pointer entries with the new offsets; pointer
    // tags kept from a file that was read would repeat them with stale ones.
    QMap<ImageTagNumber, QExifValue> table = d->imageTable;
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
quint32 QExifImageHeader::tableSize(const QMap<Tag, QExifValue> &table)
{
    quint32 size = 2;
    for (const QExifValue &value : table)
        size += entrySize(value);
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
quint32 QExifImageHeader::writeTableEntries(QDataStream &stream, const QMap<Tag, QExifValue> &table, quint32 offset)
{
    offset += 12 * quint32(table.size());
    for (auto it = table.constBegin(); it != table.constEnd(); ++it)
        offset = writeExifHeader(stream, quint16(it.key()), it.value(), offset);
    return offset;
}

template<typename Tag>
void QExifImageHeader::writeTableData(QDataStream &stream, const QMap<Tag, QExifValue> &table)
{
    for (const QExifValue &value : table)
        writeExifValue(stream, value);
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

    const QMap<ImageTagNumber, QExifValue> imageTable = writtenImageTable();
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
