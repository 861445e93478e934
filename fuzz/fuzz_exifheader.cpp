// Fuzz target of the EXIF header reader: every input is loaded as a JPEG
// stream from an in-memory device and parsed as a bare TIFF block. Whatever
// was read must lay out again with blockSize() equal to the bytes
// writeBlock() writes, and read back with the same tags and texts.
#include "QExifImageHeader.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using Extras::QExifImageHeader;

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_exifheader: %s\n", what);
        std::abort();
    }
}

template<typename Tag>
QList<int> numbers(const QList<Tag> &tags)
{
    QList<int> result;
    for (Tag tag : tags)
        result << int(tag);
    return result;
}

// Texts must read back as they were read: the count written is the one the
// bytes written need.
template<typename Tag>
bool sameTexts(const QExifImageHeader &a, const QExifImageHeader &b, const QList<Tag> &tags)
{
    for (Tag tag : tags) {
        const Extras::QExifValue value = a.value(tag);
        if (value.type() == Extras::QExifValue::Ascii && quint16(tag) != QExifImageHeader::ExifIfdPointer
            && quint16(tag) != QExifImageHeader::GpsInfoIfdPointer && b.value(tag).toString() != value.toString())
            return false;
    }
    return true;
}

void checkWriteAndReadBack(const QExifImageHeader &header)
{
    QByteArray block;
    QBuffer out(&block);
    out.open(QIODevice::WriteOnly);
    const qint64 size = header.blockSize();
    require(header.writeBlock(&out) == size && block.size() == size, "blockSize() differs from writeBlock()");
    if (size > QExifImageHeader::MaximumReadBlockSize)
        return; // larger than readBlock() takes; reading stops at that size
    QBuffer in(&block);
    in.open(QIODevice::ReadOnly);
    QExifImageHeader back;
    require(back.readBlock(&in), "a written block does not read back");
    require(numbers(back.extendedTagNumbers()) == numbers(header.extendedTagNumbers()), "Exif tags differ");
    require(numbers(back.gpsTagNumbers()) == numbers(header.gpsTagNumbers()), "GPS tags differ");
    QList<int> expected = numbers(header.imageTagNumbers());
    expected.removeAll(QExifImageHeader::ExifIfdPointer);
    expected.removeAll(QExifImageHeader::GpsInfoIfdPointer);
    expected << QExifImageHeader::ExifIfdPointer;
    if (!header.gpsTagNumbers().isEmpty())
        expected << QExifImageHeader::GpsInfoIfdPointer;
    std::sort(expected.begin(), expected.end());
    require(numbers(back.imageTagNumbers()) == expected, "image tags differ");
    require(back.thumbnailData() == header.thumbnailData(), "thumbnail differs");
    require(sameTexts(header, back, header.imageTagNumbers()) && sameTexts(header, back, header.extendedTagNumbers())
                && sameTexts(header, back, header.gpsTagNumbers()),
            "a text differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool installed = (qInstallMessageHandler(quiet), true);
    Q_UNUSED(installed);
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));

    QBuffer jpeg;
    jpeg.setData(bytes);
    jpeg.open(QIODevice::ReadOnly);
    QExifImageHeader header;
    if (header.loadJpeg(&jpeg))
        checkWriteAndReadBack(header);

    QBuffer block;
    block.setData(bytes);
    block.open(QIODevice::ReadOnly);
    if (header.readBlock(&block))
        checkWriteAndReadBack(header);
    return 0;
}
