#pragma once

#include "ExtrasGlobal.h"
#include "QExifValue.h"

#include <QImage>
#include <QList>
#include <QScopedPointer>
#include <QString>
#include <QSysInfo>

class QDataStream;
class QIODevice;

namespace Extras {

class ExifBlockReader;
class ExifSource;
class ExifValueArena;
template<typename Tag>
class ExifTagTable;
class QExifImageHeaderPrivate;
class SegmentReader;

/*!
    The EXIF metadata of one JPEG image: the entries of the first image
    directory (IFD0), of the Exif sub-directory and of the GPS sub-directory,
    each a table from tag number to QExifValue, plus an optional JPEG
    thumbnail with its resolution and orientation.

    loadJpeg() finds the EXIF APP1 segment among the leading JPEG segments,
    reads its TIFF block into memory and parses it there: the values read
    point into that block, which lives as long as any of them. Nothing
    outside the block is ever read for it. writeBlock() lays the tables out as a TIFF
    block again and saveJpeg() puts that block back into a JPEG file, in
    place of its EXIF segment or in front of its other segments.
*/
class EXTRAS_EXPORT QExifImageHeader
{
public:
    // Tags of IFD0 (TIFF and EXIF numbers). Any other 16-bit number is kept too.
    enum ImageTagNumber : quint16 {
        ImageWidth = 0x0100,
        ImageLength = 0x0101,
        BitsPerSample = 0x0102,
        Compression = 0x0103,
        PhotometricInterpretation = 0x0106,
        ImageDescription = 0x010E,
        Make = 0x010F,
        Model = 0x0110,
        StripOffsets = 0x0111,
        Orientation = 0x0112,
        SamplesPerPixel = 0x0115,
        RowsPerStrip = 0x0116,
        StripByteCounts = 0x0117,
        XResolution = 0x011A,
        YResolution = 0x011B,
        PlanarConfiguration = 0x011C,
        ResolutionUnit = 0x0128,
        TransferFunction = 0x012D,
        Software = 0x0131,
        DateTime = 0x0132,
        Artist = 0x013B,
        WhitePoint = 0x013E,
        PrimaryChromaticities = 0x013F,
        JpegInterchangeFormat = 0x0201,
        JpegInterchangeFormatLength = 0x0202,
        YCbCrCoefficients = 0x0211,
        YCbCrSubSampling = 0x0212,
        YCbCrPositioning = 0x0213,
        ReferenceBlackWhite = 0x0214,
        Copyright = 0x8298,
        ExifIfdPointer = 0x8769,
        GpsInfoIfdPointer = 0x8825
    };

    // Tags of the Exif sub-directory.
    enum ExtendedTagNumber : quint16 {
        ExposureTime = 0x829A,
        FNumber = 0x829D,
        ExposureProgram = 0x8822,
        SpectralSensitivity = 0x8824,
        IsoSpeedRatings = 0x8827,
        Oecf = 0x8828,
        ExifVersion = 0x9000,
        DateTimeOriginal = 0x9003,
        DateTimeDigitized = 0x9004,
        ComponentsConfiguration = 0x9101,
        CompressedBitsPerPixel = 0x9102,
        ShutterSpeedValue = 0x9201,
        ApertureValue = 0x9202,
        BrightnessValue = 0x9203,
        ExposureBiasValue = 0x9204,
        MaxApertureValue = 0x9205,
        SubjectDistance = 0x9206,
        MeteringMode = 0x9207,
        LightSource = 0x9208,
        Flash = 0x9209,
        FocalLength = 0x920A,
        SubjectArea = 0x9214,
        MakerNote = 0x927C,
        UserComment = 0x9286,
        SubSecTime = 0x9290,
        SubSecTimeOriginal = 0x9291,
        SubSecTimeDigitized = 0x9292,
        FlashPixVersion = 0xA000,
        ColorSpace = 0xA001,
        PixelXDimension = 0xA002,
        PixelYDimension = 0xA003,
        RelatedSoundFile = 0xA004,
        InteroperabilityIfdPointer = 0xA005,
        FlashEnergy = 0xA20B,
        SpatialFrequencyResponse = 0xA20C,
        FocalPlaneXResolution = 0xA20E,
        FocalPlaneYResolution = 0xA20F,
        FocalPlaneResolutionUnit = 0xA210,
        SubjectLocation = 0xA214,
        ExposureIndex = 0xA215,
        SensingMethod = 0xA217,
        FileSource = 0xA300,
        SceneType = 0xA301,
        CfaPattern = 0xA302,
        CustomRendered = 0xA401,
        ExposureMode = 0xA402,
        WhiteBalance = 0xA403,
        DigitalZoomRatio = 0xA404,
        FocalLengthIn35mmFilm = 0xA405,
        SceneCaptureType = 0xA406,
        GainControl = 0xA407,
        Contrast = 0xA408,
        Saturation = 0xA409,
        Sharpness = 0xA40A,
        DeviceSettingDescription = 0xA40B,
        SubjectDistanceRange = 0xA40C,
        ImageUniqueId = 0xA420
    };

    // Tags of the GPS sub-directory.
    enum GpsTagNumber : quint16 {
        GpsVersionId = 0x0000,
        GpsLatitudeRef = 0x0001,
        GpsLatitude = 0x0002,
        GpsLongitudeRef = 0x0003,
        GpsLongitude = 0x0004,
        GpsAltitudeRef = 0x0005,
        GpsAltitude = 0x0006,
        GpsTimeStamp = 0x0007,
        GpsSatellites = 0x0008,
        GpsStatus = 0x0009,
        GpsMeasureMode = 0x000A,
        GpsDop = 0x000B,
        GpsSpeedRef = 0x000C,
        GpsSpeed = 0x000D,
        GpsTrackRef = 0x000E,
        GpsTrack = 0x000F,
        GpsImageDirectionRef = 0x0010,
        GpsImageDirection = 0x0011,
        GpsMapDatum = 0x0012,
        GpsDestLatitudeRef = 0x0013,
        GpsDestLatitude = 0x0014,
        GpsDestLongitudeRef = 0x0015,
        GpsDestLongitude = 0x0016,
        GpsDestBearingRef = 0x0017,
        GpsDestBearing = 0x0018,
        GpsDestDistanceRef = 0x0019,
        GpsDestDistance = 0x001A,
        GpsProcessingMethod = 0x001B,
        GpsAreaInformation = 0x001C,
        GpsDateStamp = 0x001D,
        GpsDifferential = 0x001E
    };

    // The largest TIFF block one APP1 segment can carry: a 16-bit segment
    // length, less its own 2 bytes and the 6 bytes "Exif", 0, 0.
    static const int MaximumBlockSize = 65527;
    // The most readBlock() takes from its device. A TIFF block's 32-bit
    // offsets reach 4 GiB, but the block is parsed from one copy in memory:
    // the limit keeps a large device from costing that much, and is still
    // far above the size of the EXIF data of a camera file.
    static constexpr qint64 MaximumReadBlockSize = 16 * 1024 * 1024;
    // How far into a JPEG stream the EXIF segment may begin: cameras put it
    // first or after JFIF; 1 MiB still admits 15 full-size segments before it
    // and caps what a crafted chain of segments costs.
    static constexpr qint64 MaximumExifSegmentStart = 1024 * 1024;

    QExifImageHeader();
    explicit QExifImageHeader(const QString &fileName);
    ~QExifImageHeader();

    // False, with the tables untouched, when the file cannot be opened.
    bool loadJpeg(const QString &fileName);
    bool loadJpeg(QIODevice *device);
    // Parses a TIFF block starting at the device's position; what lies more
    // than MaximumReadBlockSize bytes after it reads as missing.
    bool readBlock(QIODevice *device);

    // Replaces the file's EXIF segment, or inserts one; false, with the file
    // unchanged, when the stream is not a JPEG this can rewrite in place or
    // the block does not fit one segment.
    bool saveJpeg(const QString &fileName) const;
    bool saveJpeg(QIODevice *device) const;
    // Writes the block at the device's position; returns the bytes written.
    qint64 writeBlock(QIODevice *device) const;
    // What writeBlock() would return, computed without writing.
    qint64 blockSize() const;

    // Empties the tables and the thumbnail; byte order and thumbnail values stay.
    void clear();

    QSysInfo::Endian blockByteOrder() const;
    void setBlockByteOrder(QSysInfo::Endian order);

    QList<ImageTagNumber> imageTagNumbers() const;
    QList<ExtendedTagNumber> extendedTagNumbers() const;
    QList<GpsTagNumber> gpsTagNumbers() const;

    bool contains(ImageTagNumber tag) const;
    bool contains(ExtendedTagNumber tag) const;
    bool contains(GpsTagNumber tag) const;

    // The tag's value, or a null value when absent.
    QExifValue value(ImageTagNumber tag) const;
    QExifValue value(ExtendedTagNumber tag) const;
    QExifValue value(GpsTagNumber tag) const;

    void setValue(ImageTagNumber tag, const QExifValue &value);
    void setValue(ExtendedTagNumber tag, const QExifValue &value);
    void setValue(GpsTagNumber tag, const QExifValue &value);

    void remove(ImageTagNumber tag);
    void remove(ExtendedTagNumber tag);
    void remove(GpsTagNumber tag);

    // The thumbnail decoded and turned upright by its orientation value.
    QImage thumbnailImage() const;
    // Stores the image as a JPEG thumbnail; a null image removes it.
    void setThumbnailImage(const QImage &image);
    QByteArray thumbnailData() const;

private:
    Q_DISABLE_COPY(QExifImageHeader)

    bool load(ExifSource *source);
    // The TIFF block of the first APP1 segment, if that is EXIF.
    static bool findExifSegment(SegmentReader *in, const char **block, qint64 *size);
    bool parseBlock(ExifValueArena *arena, const char *block, quint32 size);
    // Reads the directory at offset into the table; returns its link to the next.
    template<typename Tag>
    static quint32 readTable(const ExifBlockReader &reader, quint32 offset, ExifTagTable<Tag> *table);
    template<typename Tag>
    static void readSubTable(const ExifBlockReader &reader, const QExifValue &pointer, ExifTagTable<Tag> *table);

    ExifTagTable<ImageTagNumber> writtenImageTable() const;
    static quint32 writeExifHeader(QDataStream &stream, quint16 tag, const QExifValue &value, quint32 offset);
    static void writeExifValue(QDataStream &stream, const QExifValue &value);
    static quint32 outOfLineSize(const QExifValue &value);
    static quint32 entrySize(const QExifValue &value);
    template<typename Tag>
    static quint32 tableSize(const ExifTagTable<Tag> &table);
    template<typename Tag>
    static quint32 writeTableEntries(QDataStream &stream, const ExifTagTable<Tag> &table, quint32 offset);
    template<typename Tag>
    static void writeTableData(QDataStream &stream, const ExifTagTable<Tag> &table);

    QScopedPointer<QExifImageHeaderPrivate> d;
};

} // namespace Extras
