#include "ExifTestValues.h"
#include "MessageCapture.h"
#include "QExifImageHeader.h"
#include "TiffBlockBuilder.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Extras::QExifImageHeader;
using Extras::QExifValue;
using Extras::RationalS32;
using Extras::RationalU32;
using Entry = TiffBlockBuilder::Entry;

Q_DECLARE_METATYPE(Extras::QExifValue)
Q_DECLARE_METATYPE(TiffBlockBuilder::Entry)

namespace {

bool readBlock(QExifImageHeader &header, const QByteArray &block)
{
    QBuffer buffer;
    buffer.setData(block);
    buffer.open(QIODevice::ReadOnly);
    return header.readBlock(&buffer);
}

bool loadJpeg(QExifImageHeader &header, const QByteArray &jpeg)
{
    QBuffer buffer;
    buffer.setData(jpeg);
    buffer.open(QIODevice::ReadOnly);
    return header.loadJpeg(&buffer);
}

QByteArray writeBlock(const QExifImageHeader &header)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const qint64 written = header.writeBlock(&buffer);
    return written == buffer.data().size() ? buffer.data() : QByteArray();
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// A block whose IFD0 holds the given entries.
QByteArray blockWith(const QList<Entry> &entries, QSysInfo::Endian order = QSysInfo::LittleEndian)
{
    TiffBlockBuilder b(order);
    b.addDirectory(entries, true);
    return b.block();
}

QImage halvesImage()
{
    // Left half red, right half blue: turns and mirrors are easy to see.
    QImage image(32, 16, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    return image;
}

QByteArray jpegBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    return bytes;
}

class SequentialBuffer : public QBuffer
{
public:
    bool isSequential() const override { return true; }
};

} // namespace

class tst_ExifHeader : public QObject
{
    Q_OBJECT

private slots:
    // Reading
    void entries_readInEitherByteOrder_data();
    void entries_readInEitherByteOrder();
    void reading_staysInsideTheBlock_data();
    void reading_staysInsideTheBlock();
    void directoryCount_isBoundedByTheBlock();
    void readBlock_takesBlocksLargerThanASegment_data();
    void readBlock_takesBlocksLargerThanASegment();
    void unsupportedType_warnsAndKeepsTheTag();
    void badByteOrderOrMagic_failsAndClears();
    void subDirectories_followOnlySingleLongPointers();
    void duplicateTag_keepsTheLaterValue();
    void exifSegment_isTheFirstApp1_data();
    void exifSegment_isTheFirstApp1();
    void exifSegment_isSoughtOnlyNearTheStart_data();
    void exifSegment_isSoughtOnlyNearTheStart();
    void missingFile_leavesTheTables();
    void folderAsFile_leavesTheTables();
    void exifAfterLargeSegments_isFoundInAFile();
    void loadedValues_outliveLaterLoadsAndTheHeader();
    void thumbnail_needsLongOffsetAndLength();
    void thumbnailImage_followsOrientation_data();
    void thumbnailImage_followsOrientation();

    // Writing
    void writeBlock_byteExactLayout_data();
    void writeBlock_byteExactLayout();
    void writeBlock_thumbnailDirectoryDefaults();
    void writeThenRead_roundTripsEverything_data();
    void writeThenRead_roundTripsEverything();
    void asciiText_isWrittenOneBytePerCharacter();
    void saveJpeg_segmentSituations_data();
    void saveJpeg_segmentSituations();
    void saveJpeg_refusesPayloadsOverOneSegment();
    void saveJpeg_refusesMissingFilesAndSequentialDevices();
};

void tst_ExifHeader::entries_readInEitherByteOrder_data()
{
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QExifValue>("expected");

    for (const bool big : {false, true}) {
        const TiffBlockBuilder b(big ? QSysInfo::BigEndian : QSysInfo::LittleEndian);
        const char *order = big ? "MM" : "II";
        auto row = [&](const char *name, const Entry &entry, const QExifValue &expected) {
            QTest::addRow("%s, %s", order, name) << big << entry << expected;
        };
        row("undefined of 4 bytes inline", b.raw(0x9000, 7, 4, "0220"), QExifValue(QByteArray("0220")));
        row("undefined out of line", b.raw(0x9000, 7, 6, "abcdef"), QExifValue(QByteArray("abcdef")));
        row("one short is the first half of the field", b.shorts(0x0112, {6}), QExifValue(quint16(6)));
        row("two shorts inline", b.shorts(0x0112, {1, 65535}), QExifValue(QVector<quint16>{1, 65535}));
        row("three shorts out of line", b.shorts(0x0112, {1, 2, 3}), QExifValue(QVector<quint16>{1, 2, 3}));
        row("ascii of count 4 inline", b.ascii(0x010F, "abc"), QExifValue(QStringLiteral("abc")));
        row("ascii of count 5 out of line", b.ascii(0x010F, "abcd"), QExifValue(QStringLiteral("abcd")));
        row("ascii of count 0", b.raw(0x010F, 2, 0, QByteArray()), QExifValue(QString()));
        row("ascii as latin-1", b.ascii(0x010F, "caf\xe9!"), QExifValue(QStringLiteral("caf\u00e9!")));
        // The text ends at the first zero byte or with the count; it counts one terminator.
        row("ascii inline without terminator", b.raw(0x010F, 2, 2, "HT"), QExifValue(QStringLiteral("HT")));
        row("ascii of count 4 without terminator", b.raw(0x010F, 2, 4, "abcd"), QExifValue(QStringLiteral("abcd")));
        row("ascii out of line without terminator", b.raw(0x010F, 2, 21, "EASTMAN KODAK COMPANY"),
            QExifValue(QStringLiteral("EASTMAN KODAK COMPANY")));
        row("date without terminator", b.raw(0x0132, 2, 19, "2005:08:13 09:47:23"),
            QExifValue(QDateTime(QDate(2005, 8, 13), QTime(9, 47, 23))));
        row("ascii padded with zeros", b.raw(0x0110, 2, 10, QByteArray("DSC-D700\0\0", 10)),
            QExifValue(QStringLiteral("DSC-D700")));
        row("ascii of zeros only", b.raw(0x010E, 2, 20, QByteArray(20, '\0')), QExifValue(QString()));
        row("ascii with a zero inside", b.raw(0x010F, 2, 8, QByteArray("ab\0cdef\0", 8)),
            QExifValue(QStringLiteral("ab")));
        row("bytes inline", b.raw(0x0001, 1, 3, "\x01\x02\xff"), QExifValue(QVector<quint8>{1, 2, 255}));
        row("bytes out of line", b.raw(0x0001, 1, 5, "\x01\x02\x03\x04\x05"),
            QExifValue(QVector<quint8>{1, 2, 3, 4, 5}));
        row("one long", b.longs(0x0201, {0x01020304}), QExifValue(quint32(0x01020304)));
        row("no long", b.raw(0x0201, 4, 0, QByteArray()), QExifValue(QVector<quint32>()));
        row("two longs", b.longs(0x0201, {1, 0xFFFFFFFF}), QExifValue(QVector<quint32>{1, 0xFFFFFFFF}));
        row("one slong", b.longs(0x9999, {0xFFFFFFFE}, 9), QExifValue(qint32(-2)));
        row("two slongs", b.longs(0x9999, {0xFFFFFFFE, 3}, 9), QExifValue(QVector<qint32>{-2, 3}));
        row("rational", b.rationals(0x829A, {1, 100}), QExifValue(RationalU32(1, 100)));
        row("srational", b.rationals(0x9204, {0xFFFFFFFD, 4}, 10), QExifValue(RationalS32(-3, 4)));
    }
}

void tst_ExifHeader::entries_readInEitherByteOrder()
{
    QFETCH(bool, bigEndian);
    QFETCH(Entry, entry);
    QFETCH(QExifValue, expected);

    const QSysInfo::Endian order = bigEndian ? QSysInfo::BigEndian : QSysInfo::LittleEndian;
    QExifImageHeader header;
    QVERIFY(readBlock(header, blockWith({entry}, order)));
    QCOMPARE(header.blockByteOrder(), order);
    const QExifValue value = header.value(QExifImageHeader::ImageTagNumber(entry.tag));
    QVERIFY2(sameContent(value, expected), qPrintable(describe(value)));
    QCOMPARE(value.toDateTime(), expected.toDateTime());

    // Written again, the value reads back the same.
    QExifImageHeader back;
    QVERIFY(readBlock(back, writeBlock(header)));
    const QExifValue again = back.value(QExifImageHeader::ImageTagNumber(entry.tag));
    QVERIFY2(sameContent(again, expected), qPrintable(describe(again)));
}

void tst_ExifHeader::reading_staysInsideTheBlock_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<int>("expectedCount"); // -1: kept as a null value

    // The block: header, 30 filler bytes at 8..37, IFD0 at 38 with one entry (ends at 52).
    QTest::newRow("undefined ending at the block end") << TiffBlockBuilder::pointing(0x927C, 7, 44, 8) << 44;
    QTest::newRow("undefined one byte past the end") << TiffBlockBuilder::pointing(0x927C, 7, 45, 8) << -1;
    QTest::newRow("ascii of the largest count") << TiffBlockBuilder::pointing(0x010F, 2, 0xFFFFFFFF, 8) << -1;
    QTest::newRow("shorts past the end") << TiffBlockBuilder::pointing(0x0112, 3, 23, 8) << -1;
    QTest::newRow("rationals of a huge count") << TiffBlockBuilder::pointing(0x829A, 5, 0x20000000, 8) << -1;
    QTest::newRow("srationals past the end") << TiffBlockBuilder::pointing(0x9204, 10, 6, 8) << -1;
    QTest::newRow("longs at an offset beyond the block") << TiffBlockBuilder::pointing(0x0201, 4, 2, 0x1000) << -1;
    QTest::newRow("slongs whose end wraps 32 bits") << TiffBlockBuilder::pointing(0x9999, 9, 4, 0xFFFFFFFC) << -1;
    QTest::newRow("bytes whose offset wraps 32 bits") << TiffBlockBuilder::pointing(0x0001, 1, 16, 0xFFFFFFF8) << -1;
    QTest::newRow("rationals of count 0 anywhere") << TiffBlockBuilder::pointing(0x829A, 5, 0, 0xFFFFFFFF) << 0;
}

void tst_ExifHeader::reading_staysInsideTheBlock()
{
    QFETCH(Entry, entry);
    QFETCH(int, expectedCount);

    TiffBlockBuilder b;
    b.append(QByteArray(30, 'x'));
    b.setFirstIfd(b.addDirectory({entry}));
    QCOMPARE(b.block().size(), 52);
    QExifImageHeader header;
    QVERIFY(readBlock(header, b.block()));
    const auto tag = QExifImageHeader::ImageTagNumber(entry.tag);
    QVERIFY2(header.contains(tag), "the entry is kept");
    if (expectedCount < 0) {
        QVERIFY2(header.value(tag).isNull(), qPrintable(describe(header.value(tag))));
    } else {
        QCOMPARE(header.value(tag).type(), int(entry.type));
        QCOMPARE(header.value(tag).count(), expectedCount);
    }
}

void tst_ExifHeader::directoryCount_isBoundedByTheBlock()
{
    // IFD0 claims 65535 entries; the block holds two whole ones and half of a third.
    TiffBlockBuilder b;
    QByteArray block = blockWith({b.shorts(0x0112, {6}), b.ascii(0x010F, "abc")});
    block[8] = '\xFF';
    block[9] = '\xFF';
    block.append("\x01\x01"); // with the 4-byte link: half an entry
    QCOMPARE(block.size(), 8 + 2 + 12 * 2 + 6);
    QExifImageHeader header;
    QVERIFY(readBlock(header, block));
    QCOMPARE(header.imageTagNumbers(),
             (QList<QExifImageHeader::ImageTagNumber>{QExifImageHeader::Make, QExifImageHeader::Orientation}));
    QCOMPARE(header.value(QExifImageHeader::Orientation).toShort(), quint16(6));

    // Sub-directory pointers past the end give empty tables.
    QVERIFY(readBlock(header, blockWith({b.longs(0x8769, {0xFFFFFFF0}), b.longs(0x8825, {60})})));
    QVERIFY(header.extendedTagNumbers().isEmpty());
    QVERIFY(header.gpsTagNumbers().isEmpty());

    // A segment cut short inside IFD0 still gives the entries before the cut.
    const QByteArray full = blockWith({b.shorts(0x0112, {3}), b.ascii(0x010F, "Canon EOS")});
    QByteArray segment = TiffBlockBuilder::exifSegment(full);
    QVERIFY(loadJpeg(header, TiffBlockBuilder::jpeg({segment.left(segment.size() - 20)}, QByteArray())));
    QCOMPARE(header.value(QExifImageHeader::Orientation).toShort(), quint16(3));
}

void tst_ExifHeader::readBlock_takesBlocksLargerThanASegment_data()
{
    QTest::addColumn<int>("textAt");
    QTest::addColumn<bool>("sequential");
    QTest::addColumn<bool>("read");

    // "Maker" and its zero byte end the block; the limit is the most readBlock() takes.
    const int limit = int(QExifImageHeader::MaximumReadBlockSize);
    QTest::newRow("within a segment's size") << 1000 << false << true;
    QTest::newRow("70 006 bytes") << 70000 << false << true;
    QTest::newRow("70 006 bytes, sequential device") << 70000 << true << true;
    QTest::newRow("ending at the limit") << limit - 6 << false << true;
    QTest::newRow("one byte past the limit") << limit - 5 << false << false;
    QTest::newRow("one byte past the limit, sequential device") << limit - 5 << true << false;
}

void tst_ExifHeader::readBlock_takesBlocksLargerThanASegment()
{
    QFETCH(int, textAt);
    QFETCH(bool, sequential);
    QFETCH(bool, read);

    TiffBlockBuilder b;
    b.addDirectory({TiffBlockBuilder::pointing(0x010F, 2, 6, quint32(textAt))}, true);
    b.append(QByteArray(textAt - b.block().size(), 'x'));
    b.append(QByteArray("Maker", 6));
    SequentialBuffer sequentialBuffer;
    QBuffer plainBuffer;
    QBuffer &buffer = sequential ? sequentialBuffer : plainBuffer;
    buffer.setData(b.block());
    buffer.open(QIODevice::ReadOnly);
    QExifImageHeader header;
    QVERIFY(header.readBlock(&buffer));
    QVERIFY(header.contains(QExifImageHeader::Make));
    QCOMPARE(header.value(QExifImageHeader::Make).toString(), read ? QStringLiteral("Maker") : QString());
    QCOMPARE(header.value(QExifImageHeader::Make).isNull(), !read);
}

void tst_ExifHeader::unsupportedType_warnsAndKeepsTheTag()
{
    TiffBlockBuilder b;
    MessageCapture capture;
    QExifImageHeader header;
    QVERIFY(readBlock(header, blockWith({b.longs(0x011A, {0x3F800000}, 11), b.shorts(0x0112, {1})})));
    QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Invalid Ifd Type 11")));
    QVERIFY(header.contains(QExifImageHeader::XResolution));
    QVERIFY(header.value(QExifImageHeader::XResolution).isNull());
    QCOMPARE(header.value(QExifImageHeader::Orientation).toShort(), quint16(1));
}

void tst_ExifHeader::badByteOrderOrMagic_failsAndClears()
{
    TiffBlockBuilder b;
    const QByteArray good = blockWith({b.shorts(0x0112, {1})});
    QExifImageHeader header;
    for (const QByteArray &bad : {QByteArray("XX").append(good.mid(2)), QByteArray(good).replace(2, 1, "\x2B"),
                                  QByteArray("I"), QByteArray()}) {
        QVERIFY(readBlock(header, good));
        QVERIFY(!readBlock(header, bad));
        QVERIFY2(header.imageTagNumbers().isEmpty(), bad.toHex().constData());
    }
}

void tst_ExifHeader::subDirectories_followOnlySingleLongPointers()
{
    TiffBlockBuilder b(QSysInfo::BigEndian);
    const quint32 exif = b.addDirectory({b.rationals(0x829A, {1, 60}), b.longs(0xA005, {8})});
    const quint32 gps = b.addDirectory({b.ascii(1, "N")});
    b.setFirstIfd(b.addDirectory({b.longs(0x8769, {exif}), b.longs(0x8825, {gps})}, true));
    QExifImageHeader header;
    QVERIFY(readBlock(header, b.block()));
    QVERIFY(header.contains(QExifImageHeader::ExifIfdPointer));
    QVERIFY(header.contains(QExifImageHeader::GpsInfoIfdPointer));
    QCOMPARE(header.extendedTagNumbers(), QList<QExifImageHeader::ExtendedTagNumber>{QExifImageHeader::ExposureTime});
    QCOMPARE(header.value(QExifImageHeader::GpsLatitudeRef).toString(), QStringLiteral("N"));

    // A GPS pointer of another type is not followed.
    TiffBlockBuilder s;
    const quint32 gps2 = s.addDirectory({s.ascii(1, "N")});
    s.setFirstIfd(s.addDirectory({s.shorts(0x8825, {quint16(gps2)})}, true));
    QVERIFY(readBlock(header, s.block()));
    QVERIFY(header.contains(QExifImageHeader::GpsInfoIfdPointer));
    QVERIFY(header.gpsTagNumbers().isEmpty());
}

void tst_ExifHeader::duplicateTag_keepsTheLaterValue()
{
    TiffBlockBuilder b;
    QExifImageHeader header;
    QVERIFY(readBlock(header, blockWith({b.shorts(0x0112, {1}), b.shorts(0x0112, {8})})));
    QCOMPARE(header.imageTagNumbers().size(), 1);
    QCOMPARE(header.value(QExifImageHeader::Orientation).toShort(), quint16(8));
}

void tst_ExifHeader::exifSegment_isTheFirstApp1_data()
{
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<bool>("found");

    TiffBlockBuilder b;
    const QByteArray exif = TiffBlockBuilder::exifSegment(blockWith({b.ascii(0x010F, "Maker")}));
    const QByteArray jfif = TiffBlockBuilder::segment(0xE0, QByteArray("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
    const QByteArray xmp = TiffBlockBuilder::segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>");
    const QByteArray icc = TiffBlockBuilder::segment(0xE2, QByteArray(300, 'i'));
    const QByteArray dqt = TiffBlockBuilder::segment(0xDB, QByteArray(65, 'q'));
    using J = TiffBlockBuilder;
    QTest::newRow("exif first") << J::jpeg({exif, dqt}) << true;
    QTest::newRow("jfif, then exif") << J::jpeg({jfif, exif}) << true;
    QTest::newRow("jfif and icc, then exif") << J::jpeg({jfif, icc, exif}) << true;
    QTest::newRow("xmp, then exif") << J::jpeg({xmp, exif}) << false;
    QTest::newRow("no app1") << J::jpeg({jfif, dqt}) << false;
    QTest::newRow("not a jpeg") << QByteArray("\x89PNG\r\n\x1a\n") + exif << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("segment length below 2") << J::jpeg({QByteArray("\xFF\xE0\x00\x01", 4), exif}) << false;
    QTest::newRow("app1 shorter than its identifier") << J::jpeg({QByteArray("\xFF\xE1\x00\x04Exif\0\0", 10)})
                                                      << false;
    QTest::newRow("segment length past the end") << J::jpeg({QByteArray("\xFF\xE0\xFF\xFF", 4)}, QByteArray())
                                                 << false;
    // Only the segments in front of the image data are looked at.
    const QByteArray sos = J::segment(0xDA, QByteArray("\x01\x01\x00\x00\x3F\x00", 6));
    QTest::newRow("start of scan before exif") << J::jpeg({jfif, dqt, sos, exif}) << false;
    QTest::newRow("a byte that begins no marker") << J::jpeg({jfif, QByteArray("\x00\xE0\x00\x02", 4), exif})
                                                  << false;
    QTest::newRow("fill bytes before a marker") << J::jpeg({jfif, QByteArray(3, '\xFF') + exif}) << true;
}

void tst_ExifHeader::exifSegment_isTheFirstApp1()
{
    QFETCH(QByteArray, jpeg);
    QFETCH(bool, found);
    QExifImageHeader header;
    QCOMPARE(loadJpeg(header, jpeg), found);
    QCOMPARE(header.value(QExifImageHeader::Make).toString(), found ? QStringLiteral("Maker") : QString());
}

namespace {

// A JPEG stream of full-size APP2 segments followed by an EXIF segment,
// made up as it is read: gigabytes of segments without the memory. It
// remembers how far into the stream anything was read.
class ChainedSegmentsDevice : public QIODevice
{
public:
    static const qint64 segmentSize = 2 + 0xFFFF;

    ChainedSegmentsDevice(qint64 segments, const QByteArray &exif)
        : m_exifAt(2 + segments * segmentSize)
        , m_exif(exif)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return m_exifAt + m_exif.size(); }
    qint64 reached() const { return m_reached; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 at = pos();
        const qint64 count = qBound<qint64>(0, size() - at, maxSize);
        for (qint64 i = 0; i < count; ++i)
            data[i] = byteAt(at + i);
        m_reached = qMax(m_reached, at + count);
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    char byteAt(qint64 at) const
    {
        if (at < 2)
            return at == 0 ? '\xFF' : '\xD8';
        if (at >= m_exifAt)
            return m_exif.at(int(at - m_exifAt));
        switch ((at - 2) % segmentSize) {
        case 0:
            return '\xFF';
        case 1:
            return '\xE2';
        case 2:
        case 3:
            return '\xFF'; // the largest length
        default:
            return 0;
        }
    }

    qint64 m_exifAt;
    QByteArray m_exif;
    qint64 m_reached = 0;
};

} // namespace

void tst_ExifHeader::exifSegment_isSoughtOnlyNearTheStart_data()
{
    QTest::addColumn<qint64>("segments");
    QTest::addColumn<bool>("found");

    // Each segment takes 65 537 bytes; the bound admits 15 of them.
    QTest::newRow("15 full segments before exif") << qint64(15) << true;
    QTest::newRow("16 full segments before exif") << qint64(16) << false;
    QTest::newRow("10 GiB of segments before exif") << qint64(163838) << false;
}

void tst_ExifHeader::exifSegment_isSoughtOnlyNearTheStart()
{
    QFETCH(qint64, segments);
    QFETCH(bool, found);

    TiffBlockBuilder b;
    ChainedSegmentsDevice device(segments, TiffBlockBuilder::exifSegment(blockWith({b.ascii(0x010F, "Maker")})));
    QExifImageHeader header;
    QCOMPARE(header.loadJpeg(&device), found);
    QCOMPARE(header.contains(QExifImageHeader::Make), found);
    // The scan stops near the bound instead of stepping through every segment.
    QVERIFY2(device.reached() < 2 * QExifImageHeader::MaximumExifSegmentStart,
             qPrintable(QString::number(device.reached())));
}

void tst_ExifHeader::missingFile_leavesTheTables()
{
    TiffBlockBuilder b;
    QExifImageHeader header;
    QVERIFY(readBlock(header, blockWith({b.shorts(0x0112, {1})})));
    QVERIFY(!header.loadJpeg(QStringLiteral("/nonexistent/photo.jpg")));
    QVERIFY(header.contains(QExifImageHeader::Orientation));
}

void tst_ExifHeader::folderAsFile_leavesTheTables()
{
    TiffBlockBuilder b;
    QExifImageHeader header;
    QVERIFY(readBlock(header, blockWith({b.shorts(0x0112, {1})})));
    QTemporaryDir folder;
    QVERIFY(!header.loadJpeg(folder.path()));
    QVERIFY(header.contains(QExifImageHeader::Orientation));
}

namespace {

// A JPEG file whose IFD0 holds Make as out-of-line text, after `before`.
QString writeJpegFile(const QTemporaryDir &dir, const QString &name, const QByteArray &make,
                      const QList<QByteArray> &before = {}, int padding = 0)
{
    TiffBlockBuilder b;
    b.addDirectory({TiffBlockBuilder::raw(0x010F, 2, quint32(make.size() + 1), make + '\0')}, true);
    b.append(QByteArray(padding, 'p'));
    QList<QByteArray> segments = before;
    segments.append(TiffBlockBuilder::exifSegment(b.block()));
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(TiffBlockBuilder::jpeg(segments)) < 0)
        return QString();
    return file.fileName();
}

} // namespace

void tst_ExifHeader::exifAfterLargeSegments_isFoundInAFile()
{
    // Segments that reach past the first read, and a block that does too.
    QTemporaryDir dir;
    const QList<QByteArray> before = {TiffBlockBuilder::segment(0xE0, QByteArray("JFIF\0", 5) + QByteArray(9, '\1')),
                                      TiffBlockBuilder::segment(0xE2, QByteArray(10000, 'i')),
                                      TiffBlockBuilder::segment(0xED, QByteArray(30000, 'q'))};
    const QString path = writeJpegFile(dir, QStringLiteral("late.jpg"), "Late maker", before, 20000);
    QExifImageHeader header;
    QVERIFY(header.loadJpeg(path));
    QCOMPARE(header.value(QExifImageHeader::Make).toString(), QStringLiteral("Late maker"));
}

void tst_ExifHeader::loadedValues_outliveLaterLoadsAndTheHeader()
{
    // A header reuses the memory of earlier loads once no value refers to
    // it; values handed out must keep theirs, whatever is loaded after.
    QTemporaryDir dir;
    const QString alpha = writeJpegFile(dir, QStringLiteral("a.jpg"), "Alpha camera");
    const QString bravo = writeJpegFile(dir, QStringLiteral("b.jpg"), "Bravo camera", {}, 6000);
    auto header = std::make_unique<QExifImageHeader>();
    QVERIFY(header->loadJpeg(alpha));
    const QExifValue first = header->value(QExifImageHeader::Make);
    QVERIFY(header->loadJpeg(bravo));
    const QExifValue second = header->value(QExifImageHeader::Make);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(header->loadJpeg(i % 2 ? alpha : bravo));
        QVERIFY(!header->loadJpeg(dir.filePath(QStringLiteral("missing.jpg"))));
    }
    header.reset();
    QCOMPARE(first.toString(), QStringLiteral("Alpha camera"));
    QCOMPARE(second.toString(), QStringLiteral("Bravo camera"));
    QCOMPARE(second.toByteArray(), QByteArray("Bravo camera"));
}

void tst_ExifHeader::thumbnail_needsLongOffsetAndLength()
{
    const QByteArray thumb = jpegBytes(halvesImage());
    for (const bool asLongs : {true, false}) {
        TiffBlockBuilder b;
        const quint32 at = b.append(thumb);
        const Entry offset = asLongs ? b.longs(0x0201, {at}) : b.shorts(0x0201, {quint16(at)});
        const Entry length = asLongs ? b.longs(0x0202, {quint32(thumb.size())}) : b.shorts(0x0202, {quint16(thumb.size())});
        const quint32 ifd1 = b.addDirectory({b.shorts(0x0103, {6}), offset, length});
        b.setFirstIfd(b.addDirectory({b.shorts(0x0112, {1})}, true, ifd1));
        QExifImageHeader header;
        QVERIFY(readBlock(header, b.block()));
        QCOMPARE(header.thumbnailData(), asLongs ? thumb : QByteArray());
        QCOMPARE(header.thumbnailImage().isNull(), !asLongs);
        QCOMPARE(header.imageTagNumbers().size(), 1);
    }
}

void tst_ExifHeader::thumbnailImage_followsOrientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("redPoint");

    QTest::newRow("0 is no orientation") << 0 << QSize(32, 16) << QPoint(2, 8);
    QTest::newRow("1 upright") << 1 << QSize(32, 16) << QPoint(2, 8);
    QTest::newRow("2 mirrored") << 2 << QSize(32, 16) << QPoint(29, 8);
    QTest::newRow("3 half turn") << 3 << QSize(32, 16) << QPoint(29, 8);
    QTest::newRow("6 quarter turn") << 6 << QSize(16, 32) << QPoint(8, 2);
    QTest::newRow("8 three quarters") << 8 << QSize(16, 32) << QPoint(8, 29);
    QTest::newRow("9 is no orientation") << 9 << QSize(32, 16) << QPoint(2, 8);
}

void tst_ExifHeader::thumbnailImage_followsOrientation()
{
    QFETCH(int, orientation);
    QFETCH(QSize, size);
    QFETCH(QPoint, redPoint);

    const QByteArray thumb = jpegBytes(halvesImage());
    TiffBlockBuilder b;
    const quint32 at = b.append(thumb);
    const quint32 ifd1 = b.addDirectory(
        {b.longs(0x0201, {at}), b.longs(0x0202, {quint32(thumb.size())}), b.shorts(0x0112, {quint16(orientation)})});
    b.setFirstIfd(b.addDirectory({}, true, ifd1));
    QExifImageHeader header;
    QVERIFY(readBlock(header, b.block()));
    const QImage image = header.thumbnailImage();
    QCOMPARE(image.size(), size);
    const QColor probe = image.pixelColor(redPoint);
    QVERIFY2(probe.red() > 200 && probe.blue() < 60, qPrintable(probe.name()));
}

void tst_ExifHeader::writeBlock_byteExactLayout_data()
{
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<bool>("makeInIfd0");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("make, II") << false << true
                              << hex("49492a0008000000 0200 0f01020004000000 61626300 "
                                     "6987040001000000 26000000 00000000 0000");
    QTest::newRow("make, MM") << true << true
                              << hex("4d4d002a00000008 0002 010f000200000004 61626300 "
                                     "8769000400000001 00000026 00000000 0000");
    QTest::newRow("exposure time, II") << false << false
                                       << hex("49492a0008000000 0100 6987040001000000 1a000000 00000000 "
                                              "0100 9a82050001000000 28000000 01000000 64000000");
    QTest::newRow("exposure time, MM") << true << false
                                       << hex("4d4d002a00000008 0001 8769000400000001 0000001a 00000000 "
                                              "0001 829a000500000001 00000028 00000001 00000064");
}

void tst_ExifHeader::writeBlock_byteExactLayout()
{
    QFETCH(bool, bigEndian);
    QFETCH(bool, makeInIfd0);
    QFETCH(QByteArray, expected);

    QExifImageHeader header;
    header.setBlockByteOrder(bigEndian ? QSysInfo::BigEndian : QSysInfo::LittleEndian);
    if (makeInIfd0)
        header.setValue(QExifImageHeader::Make, QExifValue(QStringLiteral("abc")));
    else
        header.setValue(QExifImageHeader::ExposureTime, QExifValue(RationalU32(1, 100)));
    QCOMPARE(header.blockSize(), qint64(expected.size()));
    QCOMPARE(writeBlock(header).toHex(), expected.toHex());
}

void tst_ExifHeader::writeBlock_thumbnailDirectoryDefaults()
{
    QExifImageHeader header;
    header.setThumbnailImage(halvesImage());
    const QByteArray thumb = header.thumbnailData();
    QVERIFY(thumb.startsWith("\xFF\xD8"));
    const QByteArray block = writeBlock(header);
    // IFD0 (Exif pointer, link to 28), the empty Exif directory, IFD1 at 28
    // with its seven entries and a zero link, then its data.
    const QByteArray expected = hex("49492a0008000000 0100 6987040001000000 1a000000 1c000000 0000 0700"
                                    "0301 0300 01000000 0600 0000" "1a01 0500 01000000 76000000"
                                    "1b01 0500 01000000 7e000000" "2801 0300 01000000 0200 0000"
                                    "1201 0300 01000000 0000 0000" "0102 0400 01000000 86000000"
                                    "0202 0400 01000000")
        + TiffBlockBuilder().u32(quint32(thumb.size())) + hex("00000000")
        + hex("48000000 01000000 48000000 01000000") + thumb;
    QCOMPARE(block.toHex(), expected.toHex());
    QCOMPARE(header.blockSize(), qint64(block.size()));
    header.setThumbnailImage(QImage());
    QCOMPARE(header.blockSize(), qint64(28));
}

void tst_ExifHeader::writeThenRead_roundTripsEverything_data()
{
    QTest::addColumn<bool>("bigEndian");
    QTest::newRow("II") << false;
    QTest::newRow("MM") << true;
}

void tst_ExifHeader::writeThenRead_roundTripsEverything()
{
    QFETCH(bool, bigEndian);
    using H = QExifImageHeader;
    QExifImageHeader header;
    header.setBlockByteOrder(bigEndian ? QSysInfo::BigEndian : QSysInfo::LittleEndian);
    header.setValue(H::Make, QExifValue(QStringLiteral("A maker of cameras")));
    header.setValue(H::Model, QExifValue(QStringLiteral("X1")));
    header.setValue(H::Orientation, QExifValue(quint16(6)));
    header.setValue(H::XResolution, QExifValue(RationalU32(300, 1)));
    header.setValue(H::DateTime, QExifValue(QDateTime(QDate(2021, 5, 6), QTime(7, 8, 9))));
    header.setValue(H::ImageTagNumber(0xC000), QExifValue(QVector<quint32>{1, 2, 3}));
    header.setValue(H::ImageTagNumber(0xC001), QExifValue(QVector<quint8>{1, 2, 3, 4, 5, 6}));
    header.setValue(H::ExifVersion, QExifValue(QByteArray("0230")));
    header.setValue(H::UserComment, QExifValue(QStringLiteral("hello"), QExifValue::CodeAscii));
    header.setValue(H::ExposureBiasValue, QExifValue(RationalS32(-2, 3)));
    header.setValue(H::IsoSpeedRatings, QExifValue(QVector<quint16>{100, 200, 400}));
    header.setValue(H::ExtendedTagNumber(0xC002), QExifValue(QVector<qint32>{-5, 5}));
    header.setValue(H::ExtendedTagNumber(0xC003), QExifValue(qint32(-7)));
    header.setValue(H::GpsVersionId, QExifValue(QVector<quint8>{2, 3, 0, 0}));
    header.setValue(H::GpsLatitudeRef, QExifValue(QStringLiteral("S")));
    header.setValue(H::GpsLatitude, QExifValue(QVector<RationalU32>{{52, 1}, {30, 1}, {1234, 100}}));
    header.setValue(H::GpsAltitude, QExifValue(RationalU32(5000, 10)));
    header.setThumbnailImage(halvesImage());

    const QByteArray block = writeBlock(header);
    QCOMPARE(header.blockSize(), qint64(block.size()));
    QExifImageHeader back;
    QVERIFY(readBlock(back, block));
    QCOMPARE(back.blockByteOrder(), header.blockByteOrder());
    QCOMPARE(back.thumbnailData(), header.thumbnailData());
    QCOMPARE(back.imageTagNumbers().size(), header.imageTagNumbers().size() + 2);
    for (H::ImageTagNumber tag : header.imageTagNumbers())
        QVERIFY2(sameContent(back.value(tag), header.value(tag)), qPrintable(describe(back.value(tag))));
    QCOMPARE(back.extendedTagNumbers(), header.extendedTagNumbers());
    for (H::ExtendedTagNumber tag : header.extendedTagNumbers())
        QVERIFY2(sameContent(back.value(tag), header.value(tag)), qPrintable(describe(back.value(tag))));
    QCOMPARE(back.gpsTagNumbers(), header.gpsTagNumbers());
    for (H::GpsTagNumber tag : header.gpsTagNumbers())
        QVERIFY2(sameContent(back.value(tag), header.value(tag)), qPrintable(describe(back.value(tag))));

    // Pointer tags read from a block are not written twice.
    QCOMPARE(writeBlock(back).size(), block.size());
    QExifImageHeader again;
    QVERIFY(readBlock(again, writeBlock(back)));
    QCOMPARE(again.value(H::GpsLatitude).toRationalVector(), header.value(H::GpsLatitude).toRationalVector());
}

void tst_ExifHeader::asciiText_isWrittenOneBytePerCharacter()
{
    QExifImageHeader header;
    header.setValue(QExifImageHeader::Artist, QExifValue(QStringLiteral("Caf\u00e9 \u20ac")));
    header.setValue(QExifImageHeader::Copyright, QExifValue(QStringLiteral("\u00a9 after it")));
    const QByteArray block = writeBlock(header);
    QCOMPARE(header.blockSize(), qint64(block.size()));
    QVERIFY(block.contains(QByteArray("Caf\xe9 ?\0", 7)));
    QExifImageHeader back;
    QVERIFY(readBlock(back, block));
    QCOMPARE(back.value(QExifImageHeader::Artist).toString(), QStringLiteral("Caf\u00e9 ?"));
    QCOMPARE(back.value(QExifImageHeader::Copyright).toString(), QStringLiteral("\u00a9 after it"));
}

void tst_ExifHeader::saveJpeg_segmentSituations_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after"); // empty: refused and unchanged

    QExifImageHeader header;
    header.setValue(QExifImageHeader::Make, QExifValue(QStringLiteral("New maker")));
    const QByteArray exif = QByteArray("Exif\0\0", 6) + writeBlock(header);
    using J = TiffBlockBuilder;
    const QByteArray newApp1 = J::segment(0xE1, exif);
    const QByteArray jfif = J::segment(0xE0, QByteArray("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
    const QByteArray dqt = J::segment(0xDB, QByteArray(65, 'q'));
    const QByteArray tail = QByteArray("\xFF\xDA\x00\x02image data\xFF\xD9");
    const QByteArray longOld = J::segment(0xE1, QByteArray("Exif\0\0", 6) + QByteArray(200, 'o'));
    const QByteArray padded = J::segment(0xE1, exif + QByteArray(206 - exif.size(), '\0'));
    const QByteArray shortOld = J::segment(0xE1, QByteArray("Exif\0\0II", 8));

    QTest::newRow("exif first, longer old payload") << J::jpeg({longOld, dqt}, tail) << J::jpeg({padded, dqt}, tail);
    QTest::newRow("exif first, shorter old payload") << J::jpeg({shortOld, dqt}, tail)
                                                     << J::jpeg({newApp1, dqt}, tail);
    QTest::newRow("jfif, then dqt") << J::jpeg({jfif, dqt}, tail) << J::jpeg({jfif, newApp1, dqt}, tail);
    QTest::newRow("jfif, then exif") << J::jpeg({jfif, longOld, dqt}, tail) << J::jpeg({jfif, padded, dqt}, tail);
    QTest::newRow("dqt first") << J::jpeg({dqt}, tail) << J::jpeg({newApp1, dqt}, tail);
    QTest::newRow("app0 that is not jfif") << J::jpeg({J::segment(0xE0, "JFXX\0"), dqt}, tail) << QByteArray();
    QTest::newRow("xmp first") << J::jpeg({J::segment(0xE1, "http://ns.adobe.com/xap/1.0/\0"), dqt}, tail)
                               << QByteArray();
    QTest::newRow("jfif, then xmp") << J::jpeg({jfif, J::segment(0xE1, "http://ns.adobe.com/"), dqt}, tail)
                                    << QByteArray();
    QTest::newRow("not a jpeg") << QByteArray("\x89PNG\r\n\x1a\n") + dqt << QByteArray();
    QTest::newRow("jfif cut short") << J::jpeg({jfif.left(10)}, QByteArray()) << QByteArray();
    QTest::newRow("only the start marker") << QByteArray("\xFF\xD8", 2) << QByteArray();
}

void tst_ExifHeader::saveJpeg_segmentSituations()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    QExifImageHeader header;
    header.setValue(QExifImageHeader::Make, QExifValue(QStringLiteral("New maker")));
    QByteArray bytes = before;
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    QCOMPARE(header.saveJpeg(&buffer), !after.isEmpty());
    buffer.close();
    QCOMPARE(bytes.toHex(), (after.isEmpty() ? before : after).toHex());
    if (!after.isEmpty()) {
        QExifImageHeader back;
        QVERIFY(loadJpeg(back, bytes));
        QCOMPARE(back.value(QExifImageHeader::Make).toString(), QStringLiteral("New maker"));
    }
}

void tst_ExifHeader::saveJpeg_refusesPayloadsOverOneSegment()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    // A 40-byte block plus the maker note: the payload is 46 + n bytes, at most 65 533.
    for (const int makerNote : {65487, 65488}) {
        const QByteArray original = jpegBytes(halvesImage());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(original);
        file.close();

        QExifImageHeader header;
        header.setValue(QExifImageHeader::MakerNote, QExifValue(QByteArray(makerNote, 'm')));
        QCOMPARE(header.blockSize(), qint64(40 + makerNote));
        MessageCapture capture;
        const bool fits = makerNote == 65487;
        QCOMPARE(header.saveJpeg(path), fits);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        file.close();
        if (!fits) {
            QVERIFY(saved == original);
            QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("EXIF block too large for one segment")));
            continue;
        }
        QCOMPARE(saved.mid(2, 4), QByteArray("\xFF\xE0\x00\x10", 4));
        QCOMPARE(saved.mid(20, 4), QByteArray("\xFF\xE1\xFF\xFF", 4));
        QExifImageHeader back(path);
        QCOMPARE(back.value(QExifImageHeader::MakerNote).count(), makerNote);
        QVERIFY(!QImage::fromData(saved, "JPG").isNull());
    }
}

void tst_ExifHeader::saveJpeg_refusesMissingFilesAndSequentialDevices()
{
    QTemporaryDir dir;
    QExifImageHeader header;
    const QString missing = dir.filePath(QStringLiteral("missing.jpg"));
    QVERIFY(!header.saveJpeg(missing));
    QVERIFY2(!QFile::exists(missing), "saving creates no file");

    SequentialBuffer sequential;
    sequential.setData(TiffBlockBuilder::jpeg({}));
    QVERIFY(sequential.open(QIODevice::ReadWrite));
    QVERIFY(!header.saveJpeg(&sequential));
    QCOMPARE(sequential.data(), TiffBlockBuilder::jpeg({}));
}

QTEST_MAIN(tst_ExifHeader)
#include "tst_exifheader.moc"
