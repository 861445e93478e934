#include "QExifImageHeader.h"

#include "DebugUtility.h"
#include "ExifBlockReader.h"
#include "ExifTagTable.h"
#include "QExifValue_p.h"
#include "FileLayer.h"

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
    ~QExifImageHeaderPrivate();

    // An arena that no value refers to any more, emptied, its load begun.
    ExifValueArena *idleArena();
    // The thumbnail, whether read or set; valid while the header is unchanged.
    QByteArray thumbnail() const
    {
        return thumbnailView ? QByteArray::fromRawData(thumbnailView, thumbnailViewSize) : thumbnailBytes;
    }

    QSysInfo::Endian blockOrder = QSysInfo::LittleEndian;
    mutable qint64 cachedSize = -1;
    ExifTagTable<QExifImageHeader::ImageTagNumber> imageTable;
    ExifTagTable<QExifImageHeader::ExtendedTagNumber> extendedTable;
    ExifTagTable<QExifImageHeader::GpsTagNumber> gpsTable;
    // A thumbnail set in code.
    QByteArray thumbnailBytes;
    // A thumbnail read from a file: its bytes in the block of the last load.
    const char *thumbnailView = nullptr;
    int thumbnailViewSize = 0;
    QExifValue thumbXResolution;
    QExifValue thumbYResolution;
    QExifValue thumbResolutionUnit;
    QExifValue thumbOrientation;
    // Two arenas, so that the thumbnail values kept from one load (they
    // outlive a failed load) never stop the next load from reusing the other.
    ExifValueArena *arenas[2] = {nullptr, nullptr};
};

QExifImageHeaderPrivate::~QExifImageHeaderPrivate()
{
    // The values still refer to the arenas; the tables go before them.
    imageTable.clear();
    extendedTable.clear();
    gpsTable.clear();
    thumbXResolution = thumbYResolution = thumbResolutionUnit = thumbOrientation = QExifValue();
    for (ExifValueArena *arena : arenas)
        ExifValueArena::release(arena);
}

ExifValueArena *QExifImageHeaderPrivate::idleArena()
{
    ExifValueArena *chosen = nullptr;
    for (ExifValueArena *&arena : arenas) {
        if (!arena)
            arena = new ExifValueArena;
        if (arena->isIdle()) {
            chosen = arena;
            break;
        }
    }
    if (!chosen) {
        // Values handed out still hold both: the second is left to them.
        ExifValueArena::release(arenas[1]);
        chosen = arenas[1] = new ExifValueArena;
    }
    chosen->begin();
    return chosen;
}

namespace {

// Ends the load of an arena however the load ends.
class ArenaLoad
{
public:
    explicit ArenaLoad(ExifValueArena *arena)
        : m_arena(arena)
    {
    }
    ~ArenaLoad() { m_arena->end(); }
    ExifValueArena *arena() const { return m_arena; }

private:
    Q_DISABLE_COPY(ArenaLoad)
    ExifValueArena *m_arena;
};

} // namespace

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

// Where the leading bytes of a JPEG stream come from.
class ExifSource
{
public:
    virtual ~ExifSource() = default;
    // Bytes read, 0 at the end, -1 on failure.
    virtual qint64 read(char *data, qint64 size) = 0;
    virtual bool skip(qint64 count) = 0;
    // False once the source turned out to be nothing that opens as a file.
    virtual bool isOpen() const { return true; }
};

namespace {

class IODeviceSource : public ExifSource
{
public:
    explicit IODeviceSource(QIODevice *device)
        : m_device(device)
    {
    }
    qint64 read(char *data, qint64 size) override { return m_device->read(data, size); }
    bool skip(qint64 count) override
    {
        if (m_device->isSequential())
            return m_device->skip(count) == count;
        // A segment reaching past the end leaves no room for one behind it.
        const qint64 next = m_device->pos() + count;
        return next <= m_device->size() && m_device->seek(next);
    }

private:
    QIODevice *m_device;
};

class ReadFileSource : public ExifSource
{
public:
    explicit ReadFileSource(FileLayer::InputFile *file)
        : m_file(file)
    {
    }
    qint64 read(char *data, qint64 size) override { return m_file->read(data, size); }
    bool skip(qint64 count) override { return m_file->skip(count); }
    bool isOpen() const override { return m_file->isOpen(); }

private:
    FileLayer::InputFile *m_file;
};

// The first read takes this much: the start of image, a JFIF segment and
// the whole EXIF segment of most camera files. A larger segment costs one
// read more, of exactly its remaining bytes: reading 64 KiB whatever the
// segment's size costs more on a small one than the second read does.
const int headSize = 4096;

} // namespace

// Reads the leading segments of a JPEG stream into the arena's buffer, so
// that the EXIF block found there is parsed where it lies.
class SegmentReader
{
public:
    SegmentReader(ExifSource *source, ExifValueArena *arena, const char *head, qint64 headBytes)
        : m_source(source)
        , m_arena(arena)
        , m_buffer(arena->reserve(headSize, 0))
        , m_size(qMax<qint64>(headBytes, 0))
    {
        memcpy(m_buffer, head, size_t(m_size));
    }

    // Bytes consumed from the start of the stream.
    qint64 position() const { return m_consumed + m_pos; }

    bool byte(uchar *byte)
    {
        if (!fill(1))
            return false;
        *byte = uchar(m_buffer[m_pos]);
        m_pos += 1;
        return true;
    }

    // A 16-bit big-endian word; false when the data ends first.
    bool word(quint16 *word)
    {
        if (!fill(2))
            return false;
        const uchar *p = reinterpret_cast<const uchar *>(m_buffer + m_pos);
        *word = quint16((p[0] << 8) | p[1]);
        m_pos += 2;
        return true;
    }

    // Whether the next bytes are these; they are consumed either way.
    bool expect(const char *bytes, int size)
    {
        if (!fill(size))
            return false;
        const bool same = memcmp(m_buffer + m_pos, bytes, size_t(size)) == 0;
        m_pos += size;
        return same;
    }

    bool skip(qint64 count)
    {
        if (count <= m_size - m_pos) {
            m_pos += count;
            return true;
        }
        const qint64 beyond = count - (m_size - m_pos);
        m_consumed += m_size + beyond;
        m_pos = m_size = 0;
        return m_source->skip(beyond);
    }

    // The next `count` bytes, or fewer when the data ends early, in the
    // buffer; the position moves past them.
    const char *take(qint64 count, qint64 *taken)
    {
        fill(count);
        *taken = qMin(count, m_size - m_pos);
        const char *at = m_buffer + m_pos;
        m_pos += *taken;
        return at;
    }

private:
    // At least `count` bytes from the position on, unless the data ends.
    bool fill(qint64 count)
    {
        if (m_size - m_pos >= count)
            return true;
        if (m_pos > 0) {
            memmove(m_buffer, m_buffer + m_pos, size_t(m_size - m_pos));
            m_consumed += m_pos;
            m_size -= m_pos;
            m_pos = 0;
        }
        const qint64 wanted = qMax<qint64>(count, headSize);
        m_buffer = m_arena->reserve(wanted, m_size);
        while (m_size < count) {
            const qint64 got = m_source->read(m_buffer + m_size, wanted - m_size);
            if (got <= 0)
                break;
            m_size += got;
        }
        return m_size >= count;
    }

    ExifSource *m_source;
    ExifValueArena *m_arena;
    char *m_buffer;
    qint64 m_size;
    qint64 m_pos = 0;
    // Bytes of the stream before the buffer's first byte.
    qint64 m_consumed = 0;
};

bool QExifImageHeader::loadJpeg(const QString &fileName)
{
    // Resource paths belong to Qt's file engine; files are read through the
    // system, without an engine and its status calls per file.
    if (fileName.startsWith(QLatin1Char(':'))) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        return loadJpeg(&file);
    }
    FileLayer::InputFile file(fileName);
    if (!file.isOpen())
        return false;
    ReadFileSource source(&file);
    return load(&source);
}

bool QExifImageHeader::loadJpeg(QIODevice *device)
{
    if (!device) {
        clear();
        return false;
    }
    IODeviceSource source(device);
    return load(&source);
}

bool QExifImageHeader::load(ExifSource *source)
{
    // The head is read before anything is cleared: a folder is found only
    // by reading, and a file that cannot be opened leaves the tables alone.
    char head[headSize];
    const qint64 got = source->read(head, headSize);
    if (got < 0 && !source->isOpen())
        return false;
    clear();
    const ArenaLoad loading(d->idleArena());
    ExifValueArena *arena = loading.arena();
    SegmentReader in(source, arena, head, got);
    const char *block = nullptr;
    qint64 size = 0;
    if (!findExifSegment(&in, &block, &size))
        return false;
    return parseBlock(arena, block, quint32(size));
}

bool QExifImageHeader::readBlock(QIODevice *device)
{
    clear();
    if (!device)
        return false;
    // The block is parsed from one in-memory copy of what the device holds,
    // up to the limit, read in pieces so that a small block on a device of
    // unknown size does not cost an allocation of the limit.
    const ArenaLoad loading(d->idleArena());
    ExifValueArena *arena = loading.arena();
    const qint64 piece = device->isSequential() ? qint64(1) << 20
                                                : qBound<qint64>(1, device->bytesAvailable(), qint64(1) << 20);
    qint64 size = 0;
    char *buffer = arena->reserve(piece, 0);
    while (size < MaximumReadBlockSize) {
        const qint64 wanted = qMin(piece, MaximumReadBlockSize - size);
        buffer = arena->reserve(size + wanted, size);
        const qint64 got = device->read(buffer + size, wanted);
        if (got <= 0)
            break;
        size += got;
    }
    return parseBlock(arena, buffer, quint32(size));
}

namespace {

const uchar startOfScan = 0xDA;
const uchar endOfImage = 0xD9;
const uchar app1 = 0xE1;

// The code of the marker that begins at the reader's position: 0xFF, any
// number of 0xFF fill bytes, then the code. False for a byte that begins no
// marker, for the stuffed 0xFF 0x00 of image data and at the end of the data.
bool readMarker(SegmentReader *in, uchar *code)
{
    uchar byte = 0;
    if (!in->byte(&byte) || byte != 0xFF)
        return false;
    do {
        if (!in->byte(&byte))
            return false;
    } while (byte == 0xFF && in->position() <= QExifImageHeader::MaximumExifSegmentStart);
    *code = byte;
    return byte != 0x00 && byte != 0xFF;
}

} // namespace

bool QExifImageHeader::findExifSegment(SegmentReader *in, const char **block, qint64 *size)
{
    if (!in->expect("\xFF\xD8", 2))
        return false;
    // Steps from segment to segment by their lengths; only the first APP1
    // counts, and only the segments in front of the image data can hold it.
    uchar code = 0;
    while (in->position() <= MaximumExifSegmentStart && readMarker(in, &code)) {
        if (code == startOfScan || code == endOfImage)
            return false;
        quint16 length = 0;
        if (code == app1) {
            if (!in->word(&length) || !in->expect("Exif", 4) || !in->skip(2) || length < 8)
                return false;
            *block = in->take(length - 8, size);
            return *size > 0;
        }
        if (!in->word(&length) || length < 2 || !in->skip(length - 2))
            return false;
    }
    return false;
}

template<typename Tag>
quint32 QExifImageHeader::readTable(const ExifBlockReader &reader, quint32 offset, ExifTagTable<Tag> *table)
{
    const ExifBlockReader::Directory directory = reader.directory(offset);
    table->reserve(int(directory.count));
    // A tag that occurs twice keeps its later value.
    for (quint32 i = 0; i < directory.count; ++i) {
        const quint32 at = directory.entryAt(i);
        const ExifIfdHeader entry = reader.entry(at);
        table->insert(Tag(entry.tag), reader.readIfdValue(entry, at));
    }
    return directory.next;
}

template<typename Tag>
void QExifImageHeader::readSubTable(const ExifBlockReader &reader, const QExifValue &pointer, ExifTagTable<Tag> *table)
{
    if (isSingleLong(pointer))
        readTable(reader, pointer.toLong(), table);
}

bool QExifImageHeader::parseBlock(ExifValueArena *arena, const char *block, quint32 size)
{
    ExifBlockReader reader(block, size, arena);
    if (!reader.readHeader())
        return false;
    d->blockOrder = reader.byteOrder();

    const quint32 nextOffset = readTable(reader, reader.firstIfdOffset(), &d->imageTable);
    readSubTable(reader, d->imageTable.value(ExifIfdPointer), &d->extendedTable);
    readSubTable(reader, d->imageTable.value(GpsInfoIfdPointer), &d->gpsTable);
    // The interoperability directory is not read, so its pointer means nothing here.
    d->extendedTable.remove(InteroperabilityIfdPointer);

    if (nextOffset != 0) {
        // Only six entries of the thumbnail directory matter; the last of a tag counts.
        const quint16 wantedTags[6] = {thumbOffsetTag, thumbLengthTag, thumbXResolutionTag,
                                       thumbYResolutionTag, thumbResolutionUnitTag, thumbOrientationTag};
        ExifIfdHeader wanted[6];
        quint32 wantedAt[6] = {};
        bool found[6] = {};
        const ExifBlockReader::Directory directory = reader.directory(nextOffset);
        for (quint32 e = 0; e < directory.count; ++e) {
            const quint32 at = directory.entryAt(e);
            const ExifIfdHeader entry = reader.entry(at);
            const bool supported = ExifBlockReader::isSupportedType(entry.type);
            if (!supported)
                qWarning() << "Invalid Ifd Type" << entry.type;
            for (int i = 0; i < 6; ++i) {
                if (entry.tag == wantedTags[i]) {
                    found[i] = supported;
                    wanted[i] = entry;
                    wantedAt[i] = at;
                }
            }
        }
        auto valueOf = [&](int i) { return found[i] ? reader.readIfdValue(wanted[i], wantedAt[i]) : QExifValue(); };
        const QExifValue offset = valueOf(0);
        const QExifValue length = valueOf(1);
        if (isSingleLong(offset) && isSingleLong(length)) {
            d->thumbnailView = reader.bytes(offset.toLong(), length.toLong(), &d->thumbnailViewSize);
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
    d->thumbnailView = nullptr;
    d->thumbnailViewSize = 0;
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
    // A copy: the bytes of a thumbnail read from a file belong to the header.
    return d->thumbnailView ? QByteArray(d->thumbnailView, d->thumbnailViewSize) : d->thumbnailBytes;
}

QImage QExifImageHeader::thumbnailImage() const
{
    const QImage image = QImage::fromData(d->thumbnail(), "JPG");
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
        d->thumbnailView = nullptr;
        d->thumbnailViewSize = 0;
        return;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "JPG")) {
        d->thumbnailBytes = bytes;
        d->thumbnailView = nullptr;
        d->thumbnailViewSize = 0;
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
    const QByteArray thumbnail = d->thumbnail();
    const bool hasThumbnail = !thumbnail.isEmpty();
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
        writeExifHeader(stream, thumbLengthTag, QExifValue(quint32(thumbnail.size())), 0);
        stream << quint32(0);
        writeExifValue(stream, values.xResolution);
        writeExifValue(stream, values.yResolution);
        writeExifValue(stream, values.resolutionUnit);
        writeExifValue(stream, values.orientation);
        stream.writeRawData(thumbnail.constData(), thumbnail.size());
        offset += quint32(thumbnail.size());
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
        const QByteArray thumbnail = d->thumbnail();
        if (!thumbnail.isEmpty()) {
            const ThumbnailValues values = thumbnailValues(d->thumbXResolution, d->thumbYResolution,
                                                           d->thumbResolutionUnit, d->thumbOrientation);
            size += thumbnailDirectorySize + outOfLineSize(values.xResolution) + outOfLineSize(values.yResolution)
                + outOfLineSize(values.resolutionUnit) + outOfLineSize(values.orientation)
                + thumbnail.size();
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
