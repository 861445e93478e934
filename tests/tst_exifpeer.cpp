// The EXIF reader and writer against exiftool, an independent peer: real
// camera files from tests/data/exif, files that exiftool makes, and files
// that saveJpeg writes and exiftool reads back.
#include "ExifTestValues.h"
#include "ExiftoolPeer.h"
#include "QExifImageHeader.h"
#include "TkExifInfo.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

using Extras::QExifImageHeader;
using Extras::QExifValue;
using Extras::RationalU32;

namespace {

QString corpusFolder()
{
    return qEnvironmentVariable("MAPORA_TEST_CORPUS") + QStringLiteral("/exif");
}

// The bytes of a value as they stand in a block of the given byte order.
QByteArray fileBytes(const QExifValue &value, bool bigEndian)
{
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    s.setByteOrder(bigEndian ? QDataStream::BigEndian : QDataStream::LittleEndian);
    switch (value.type()) {
    case QExifValue::Byte:
        for (quint8 v : value.toByteVector())
            s << v;
        break;
    case QExifValue::Ascii:
        return value.toString().toLatin1();
    case QExifValue::Short:
        for (quint16 v : value.toShortVector())
            s << v;
        break;
    case QExifValue::Long:
        for (quint32 v : value.toLongVector())
            s << v;
        break;
    case QExifValue::SignedLong:
        for (qint32 v : value.toSignedLongVector())
            s << v;
        break;
    case QExifValue::Rational:
        for (const RationalU32 &r : value.toRationalVector())
            s << r.first << r.second;
        break;
    case QExifValue::SignedRational:
        for (const Extras::RationalS32 &r : value.toSignedRationalVector())
            s << r.first << r.second;
        break;
    default:
        return value.toByteArray();
    }
    return bytes;
}

// What exiftool's dump says an entry must read as; lists every difference.
template<typename Tag>
QStringList compareTable(const QString &directory, const QExifImageHeader &header, const QList<Tag> &ours,
                         const ExiftoolPeer::Dump &dump, const QList<quint16> &offsetsOnly = {})
{
    static const QMap<QString, int> types{{"int8u", 1}, {"string", 2}, {"int16u", 3}, {"int32u", 4},
                                          {"rational64u", 5}, {"undef", 7}, {"int32s", 9}, {"rational64s", 10}};
    QMap<quint16, ExiftoolPeer::Entry> peer = dump.directories.value(directory);
    if (directory == QLatin1String("ExifIFD"))
        peer.remove(0xA005); // the interoperability directory is not read
    QStringList problems;
    QList<quint16> ourTags;
    for (Tag tag : ours)
        ourTags << quint16(tag);
    if (ourTags != peer.keys()) {
        QStringList a, b;
        for (quint16 t : ourTags)
            a << QString::number(t, 16);
        for (quint16 t : peer.keys())
            b << QString::number(t, 16);
        problems << directory + QStringLiteral(" tags: ours ") + a.join(',') + QStringLiteral(" exiftool ") + b.join(',');
    }
    for (auto it = peer.constBegin(); it != peer.constEnd(); ++it) {
        const QExifValue value = header.value(Tag(it.key()));
        const ExiftoolPeer::Entry &entry = it.value();
        const int type = types.value(entry.format, -1);
        const QString where = QStringLiteral("%1 0x%2 (%3[%4]): ").arg(directory).arg(it.key(), 4, 16, QLatin1Char('0'))
                                  .arg(entry.format).arg(entry.count);
        if (type < 0) {
            if (!value.isNull())
                problems << where + QStringLiteral("expected a null value, got ") + describe(value);
            continue;
        }
        int count = int(entry.count);
        QByteArray raw = entry.raw;
        if (type == QExifValue::Ascii) {
            // exiftool's text: the count bytes up to the first zero byte, or
            // all of them; the value counts it with one terminator.
            raw = raw.left(count);
            const int zero = raw.indexOf('\0');
            if (zero >= 0)
                raw.truncate(zero);
            count = raw.size() + 1;
        }
        if (value.type() != type || value.count() != count)
            problems << where + describe(value);
        else if (!offsetsOnly.contains(it.key()) && fileBytes(value, dump.bigEndian) != raw)
            problems << where + QStringLiteral("bytes ") + fileBytes(value, dump.bigEndian).left(24).toHex()
                    + QStringLiteral(" exiftool ") + raw.left(24).toHex();
    }
    return problems;
}

QStringList compareWithPeer(const QExifImageHeader &header, const ExiftoolPeer::Dump &dump,
                            const QList<quint16> &offsetsOnly = {})
{
    return compareTable("IFD0", header, header.imageTagNumbers(), dump, offsetsOnly)
        + compareTable("ExifIFD", header, header.extendedTagNumbers(), dump)
        + compareTable("GPS", header, header.gpsTagNumbers(), dump);
}

// exiftool's position: the signed composite where it gives one, else the plain GPS value.
double peerDegrees(const QJsonObject &json, const QString &name)
{
    const QJsonValue composite = json.value(QStringLiteral("Composite:") + name);
    const QJsonValue plain = json.value(QStringLiteral("GPS:") + name);
    return composite.isDouble() ? composite.toDouble() : plain.isDouble() ? plain.toDouble() : qQNaN();
}

bool samePosition(double ours, double peer)
{
    return (std::isnan(ours) && std::isnan(peer)) || std::fabs(ours - peer) <= 1e-6;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QImage testImage()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    return image;
}

// Moves the first APP1 segment that is not EXIF in front of the first that is.
QByteArray xmpBeforeExif(const QByteArray &jpeg)
{
    QList<QByteArray> segments;
    int at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at + 1]) != 0xDA) {
        const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
        segments << jpeg.mid(at, length + 2);
        at += length + 2;
    }
    int exif = -1, xmp = -1;
    for (int i = 0; i < segments.size(); ++i) {
        if (segments[i].startsWith("\xFF\xE1"))
            (segments[i].mid(4, 4) == "Exif" ? exif : xmp) = i;
    }
    if (exif < 0 || xmp < exif)
        return QByteArray();
    segments.move(xmp, exif);
    QByteArray result = jpeg.left(2);
    for (const QByteArray &s : segments)
        result += s;
    return result + jpeg.mid(at);
}

} // namespace

class tst_ExifPeer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void corpusFile_readsAsExiftoolReadsIt_data();
    void corpusFile_readsAsExiftoolReadsIt();
    void madeByExiftool_readsBack_data();
    void madeByExiftool_readsBack();
    void savedHeader_exiftoolComplainsOnlyOfTheLayout_data();
    void savedHeader_exiftoolComplainsOnlyOfTheLayout();

private:
    QTemporaryDir m_dir;
};

void tst_ExifPeer::initTestCase()
{
    QVERIFY2(!ExiftoolPeer::program().isEmpty(), "exiftool (libimage-exiftool-perl) is needed");
    QVERIFY2(QDir(corpusFolder()).exists(), qPrintable(corpusFolder() + " is missing (set MAPORA_TEST_CORPUS)"));
    QVERIFY(m_dir.isValid());
}

void tst_ExifPeer::corpusFile_readsAsExiftoolReadsIt_data()
{
    QTest::addColumn<QString>("path");
    const QFileInfoList files = QDir(corpusFolder()).entryInfoList({"*.jpg", "*.jpeg"}, QDir::Files, QDir::Name);
    QVERIFY2(!files.isEmpty(), qPrintable(corpusFolder() + " holds no JPEG file"));
    for (const QFileInfo &file : files)
        QTest::newRow(qPrintable(file.fileName())) << file.absoluteFilePath();
}

void tst_ExifPeer::corpusFile_readsAsExiftoolReadsIt()
{
    QFETCH(QString, path);

    const ExiftoolPeer::Dump dump = ExiftoolPeer::dump(path);
    QExifImageHeader header;
    // Only the first APP1 segment is looked at, as exiftool's dump shows it.
    QCOMPARE(header.loadJpeg(path), dump.exifInFirstApp1);
    if (dump.exifInFirstApp1)
        QCOMPARE(header.blockByteOrder(), dump.bigEndian ? QSysInfo::BigEndian : QSysInfo::LittleEndian);
    QStringList problems = compareWithPeer(header, dump);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));

    const QByteArray thumbnail = ExiftoolPeer::run({"-b", "-IFD1:ThumbnailImage", path});
    QCOMPARE(header.thumbnailData().size(), thumbnail.size());
    QVERIFY(header.thumbnailData() == thumbnail);

    TkExifInfo info;
    info.setFilePath(path);
    QCOMPARE(info.isExifValid(), dump.exifInFirstApp1);
    const auto ints = [](const auto &tags) {
        QList<int> list;
        for (auto tag : tags)
            list << int(tag);
        return list;
    };
    QCOMPARE(info.imageTags(), ints(header.imageTagNumbers()));
    QCOMPARE(info.extendedTags(), ints(header.extendedTagNumbers()));
    QCOMPARE(info.gpsTags(), ints(header.gpsTagNumbers()));
    const QJsonObject json = ExiftoolPeer::json(path, {"-GPS:all", "-Composite:GPSLatitude", "-Composite:GPSLongitude"});
    const double latitude = dump.exifInFirstApp1 ? peerDegrees(json, "GPSLatitude") : qQNaN();
    const double longitude = dump.exifInFirstApp1 ? peerDegrees(json, "GPSLongitude") : qQNaN();
    const double altitude = dump.exifInFirstApp1 ? peerDegrees(json, "GPSAltitude") : qQNaN();
    QVERIFY2(samePosition(info.gpsLatitude(), latitude), qPrintable(QString::number(info.gpsLatitude(), 'g', 12)));
    QVERIFY2(samePosition(info.gpsLongitude(), longitude), qPrintable(QString::number(info.gpsLongitude(), 'g', 12)));
    QVERIFY2(samePosition(info.gpsAltitude(), altitude), qPrintable(QString::number(info.gpsAltitude(), 'g', 12)));

    // The size computed without writing is the size written.
    QBuffer written;
    written.open(QIODevice::WriteOnly);
    const qint64 size = header.blockSize();
    QCOMPARE(header.writeBlock(&written), size);
    QCOMPARE(written.data().size(), int(size));

    // Saved into a copy, the header reads back the same, for us and for exiftool.
    const QString copy = m_dir.filePath(QFileInfo(path).fileName());
    const QByteArray original = readAll(path);
    QVERIFY(writeAll(copy, original));
    QCOMPARE(header.saveJpeg(copy), dump.exifInFirstApp1);
    if (!dump.exifInFirstApp1) {
        QVERIFY(readAll(copy) == original);
        return;
    }
    QExifImageHeader back(copy);
    problems = compareWithPeer(back, ExiftoolPeer::dump(copy), {0x8769, 0x8825});
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    QVERIFY(back.thumbnailData() == header.thumbnailData());
    for (QExifImageHeader::ImageTagNumber tag : header.imageTagNumbers()) {
        if (tag != QExifImageHeader::ExifIfdPointer && tag != QExifImageHeader::GpsInfoIfdPointer)
            QVERIFY2(sameContent(back.value(tag), header.value(tag)), qPrintable(QString::number(tag, 16)));
    }
}

void tst_ExifPeer::madeByExiftool_readsBack_data()
{
    QTest::addColumn<QString>("byteOrder");
    QTest::addColumn<QString>("latitudeRef");
    QTest::addColumn<QString>("longitudeRef");
    QTest::addColumn<bool>("withThumbnail");

    QTest::newRow("II, north east, thumbnail") << "II" << "N" << "E" << true;
    QTest::newRow("MM, south west, thumbnail") << "MM" << "S" << "W" << true;
    QTest::newRow("II, south east") << "II" << "S" << "E" << false;
    QTest::newRow("MM, north west") << "MM" << "N" << "W" << false;
}

void tst_ExifPeer::madeByExiftool_readsBack()
{
    QFETCH(QString, byteOrder);
    QFETCH(QString, latitudeRef);
    QFETCH(QString, longitudeRef);
    QFETCH(bool, withThumbnail);

    const QString path = m_dir.filePath(QStringLiteral("made-%1%2%3.jpg").arg(byteOrder, latitudeRef, longitudeRef));
    const QString thumbPath = m_dir.filePath(QStringLiteral("thumb.jpg"));
    QVERIFY(testImage().save(path, "JPG"));
    QVERIFY(testImage().scaled(16, 12).save(thumbPath, "JPG"));
    QStringList arguments{"-q", "-overwrite_original", "-ExifByteOrder=" + byteOrder, "-Make=Maker", "-Model=Model 7",
                          "-ExposureTime=1/250", "-ISO=400", "-GPSLatitude=52.5", "-GPSLatitudeRef=" + latitudeRef,
                          "-GPSLongitude=13.41", "-GPSLongitudeRef=" + longitudeRef, "-GPSAltitude=500",
                          "-GPSAltitudeRef=1", "-XMP-dc:Title=Title"};
    if (withThumbnail)
        arguments << "-ThumbnailImage<=" + thumbPath;
    int exitCode = -1;
    ExiftoolPeer::run(arguments << path, &exitCode);
    QCOMPARE(exitCode, 0);
    const QByteArray bytes = readAll(path);
    QCOMPARE(bytes.mid(2, 2), QByteArray("\xFF\xE0", 2)); // JFIF comes before EXIF

    QExifImageHeader header;
    QVERIFY(header.loadJpeg(path));
    QCOMPARE(header.blockByteOrder(), byteOrder == "MM" ? QSysInfo::BigEndian : QSysInfo::LittleEndian);
    QCOMPARE(header.value(QExifImageHeader::Make).toString(), QStringLiteral("Maker"));
    QCOMPARE(header.value(QExifImageHeader::Model).toString(), QStringLiteral("Model 7"));
    QCOMPARE(header.value(QExifImageHeader::IsoSpeedRatings).toShort(), quint16(400));
    QCOMPARE(header.value(QExifImageHeader::ExposureTime).toRational(), RationalU32(1, 250));
    QCOMPARE(header.value(QExifImageHeader::GpsLatitudeRef).toString(), latitudeRef);
    QCOMPARE(header.thumbnailData(), withThumbnail ? readAll(thumbPath) : QByteArray());
    QStringList problems = compareWithPeer(header, ExiftoolPeer::dump(path));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));

    TkExifInfo info;
    info.setFilePath(path);
    QVERIFY(info.isExifValid());
    QVERIFY(std::fabs(info.gpsLatitude() - (latitudeRef == "S" ? -52.5 : 52.5)) < 1e-6);
    QVERIFY(std::fabs(info.gpsLongitude() - (longitudeRef == "W" ? -13.41 : 13.41)) < 1e-6);
    QVERIFY2(std::fabs(info.gpsAltitude() - 500) < 1e-6, "below sea level is not applied");

    // With the XMP segment moved in front of EXIF, only exiftool still finds EXIF.
    const QString xmpFirst = m_dir.filePath(QStringLiteral("xmp-first.jpg"));
    QVERIFY(writeAll(xmpFirst, xmpBeforeExif(bytes)));
    QVERIFY(!header.loadJpeg(xmpFirst));
    QVERIFY(header.imageTagNumbers().isEmpty());
    QCOMPARE(ExiftoolPeer::json(xmpFirst, {"-IFD0:Make"}).value("IFD0:Make").toString(), QStringLiteral("Maker"));
}

void tst_ExifPeer::savedHeader_exiftoolComplainsOnlyOfTheLayout_data()
{
    QTest::addColumn<bool>("withThumbnail");
    QTest::newRow("without thumbnail") << false;
    QTest::newRow("with thumbnail") << true;
}

void tst_ExifPeer::savedHeader_exiftoolComplainsOnlyOfTheLayout()
{
    QFETCH(bool, withThumbnail);
    using H = QExifImageHeader;
    const QString path = m_dir.filePath(QStringLiteral("saved.jpg"));
    QVERIFY(testImage().save(path, "JPG"));
    QExifImageHeader header;
    header.setValue(H::Make, QExifValue(QStringLiteral("Maker")));
    header.setValue(H::Model, QExifValue(QStringLiteral("Model 7")));
    header.setValue(H::Orientation, QExifValue(quint16(1)));
    header.setValue(H::XResolution, QExifValue(RationalU32(72, 1)));
    header.setValue(H::YResolution, QExifValue(RationalU32(72, 1)));
    header.setValue(H::ResolutionUnit, QExifValue(quint16(2)));
    header.setValue(H::DateTime, QExifValue(QDateTime(QDate(2024, 2, 29), QTime(12, 0))));
    header.setValue(H::YCbCrPositioning, QExifValue(quint16(1)));
    header.setValue(H::ExposureTime, QExifValue(RationalU32(1, 250)));
    header.setValue(H::ExifVersion, QExifValue(QByteArray("0232")));
    header.setValue(H::DateTimeOriginal, QExifValue(QDateTime(QDate(2024, 2, 29), QTime(12, 0))));
    header.setValue(H::ComponentsConfiguration, QExifValue(QByteArray("\x01\x02\x03\x00", 4)));
    header.setValue(H::UserComment, QExifValue(QStringLiteral("A comment"), QExifValue::CodeAscii));
    header.setValue(H::FlashPixVersion, QExifValue(QByteArray("0100")));
    header.setValue(H::ColorSpace, QExifValue(quint16(1)));
    header.setValue(H::PixelXDimension, QExifValue(quint16(64)));
    header.setValue(H::PixelYDimension, QExifValue(quint16(48)));
    header.setValue(H::GpsVersionId, QExifValue(QVector<quint8>{2, 3, 0, 0}));
    header.setValue(H::GpsLatitudeRef, QExifValue(QStringLiteral("S")));
    header.setValue(H::GpsLatitude, QExifValue(QVector<RationalU32>{{52, 1}, {30, 1}, {0, 1}}));
    header.setValue(H::GpsLongitudeRef, QExifValue(QStringLiteral("W")));
    header.setValue(H::GpsLongitude, QExifValue(QVector<RationalU32>{{13, 1}, {24, 1}, {36, 1}}));
    if (withThumbnail)
        header.setThumbnailImage(testImage().scaled(16, 12));
    QVERIFY(header.saveJpeg(path));

    // Everything written reads back the same for exiftool.
    QExifImageHeader back(path);
    const QStringList problems = compareWithPeer(back, ExiftoolPeer::dump(path));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    const QJsonObject json = ExiftoolPeer::json(path, {"-Composite:GPSLatitude", "-Composite:GPSLongitude"});
    QVERIFY(std::fabs(json.value("Composite:GPSLatitude").toDouble() + 52.5) < 1e-6);
    QVERIFY(std::fabs(json.value("Composite:GPSLongitude").toDouble() + 13.41) < 1e-6);
    QVERIFY(ExiftoolPeer::run({"-b", "-ThumbnailImage", path}) == header.thumbnailData());

    // Reading the file, exiftool has nothing to say.
    QCOMPARE(ExiftoolPeer::complaints(path, false), QStringList());
    // The layout has no link after the Exif and GPS directories and no
    // padding, and lists the thumbnail orientation (0 by default) last but
    // two. exiftool's validation notes exactly that and nothing else: no
    // missing tag, bad count, bad format or bad offset of a written entry.
    QStringList layout{"overlaps IFD", "[minor] Odd offset for"};
    if (withThumbnail)
        layout << "Entries in IFD1 are out of order" << "Tag ID 0x0112 Orientation out of sequence in IFD1"
               << "[minor] Unknown value for IFD1:Orientation";
    QStringList unexpected;
    for (const QString &complaint : ExiftoolPeer::complaints(path, true)) {
        if (std::none_of(layout.cbegin(), layout.cend(), [&](const QString &l) { return complaint.contains(l); }))
            unexpected << complaint;
    }
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join('\n')));
}

QTEST_MAIN(tst_ExifPeer)
#include "tst_exifpeer.moc"
