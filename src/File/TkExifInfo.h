#pragma once

#include "QExifImageHeader.h"
#include "TkFileInfo.h"

#include <QList>
#include <QVariant>
#include "QmlRegistration.h"

/*!
    The QML type ExifInfo: a FileInfo that also reads the EXIF block of the
    JPEG file it points at. It offers the tag numbers of the image, Exif and
    GPS tables, single tag values converted to QML values, and the GPS
    position in decimal degrees. It never writes EXIF data.

    A new filePath is used as given (no path variables) and reloads the
    EXIF data, then emits filePathChanged() and exifChanged(). A new url
    does what it does on FileInfo (path variables resolved, the folder
    handed out follows, permissionsChanged()) and reloads the EXIF data as
    well: filePathChanged(), permissionsChanged(), then exifChanged().
*/
class TkExifInfo : public TkFileInfo
{
    Q_OBJECT
    QML_NAMED_ELEMENT(ExifInfo)
    QML_ADDED_IN_VERSION(1, 1)
    Q_PROPERTY(bool isExifValid READ isExifValid NOTIFY exifChanged)
    Q_PROPERTY(QList<int> imageTags READ imageTags NOTIFY exifChanged)
    Q_PROPERTY(QList<int> extendedTags READ extendedTags NOTIFY exifChanged)
    Q_PROPERTY(QList<int> gpsTags READ gpsTags NOTIFY exifChanged)
    Q_PROPERTY(double gpsLongitude READ gpsLongitude NOTIFY exifChanged)
    Q_PROPERTY(double gpsLatitude READ gpsLatitude NOTIFY exifChanged)
    Q_PROPERTY(double gpsAltitude READ gpsAltitude NOTIFY exifChanged)

public:
    explicit TkExifInfo(QObject *parent = nullptr);
    TkExifInfo(const QString &path, QObject *parent);

    void setFilePath(const QString &path) override;
    void setUrl(const QUrl &url) override;

    bool isExifValid() const;
    QList<int> imageTags() const;
    QList<int> extendedTags() const;
    QList<int> gpsTags() const;
    // Decimal degrees, west negative; NaN when not available.
    double gpsLongitude() const;
    // Decimal degrees, south negative; NaN when not available.
    double gpsLatitude() const;
    // As stored: the below-sea-level reference is not applied. NaN when not available.
    double gpsAltitude() const;

    // The tag's value converted for QML; undefined when the tag is absent
    // or the number lies outside 0..65535.
    Q_INVOKABLE QVariant imageValue(int imageTag) const;
    Q_INVOKABLE QVariant extendedValue(int extendedTag) const;
    Q_INVOKABLE QVariant gpsValue(int gpsTag) const;

    // Writes every table to the debug log.
    void log() const;

    // A value as QML sees it: a list for count > 1, else a single number,
    // text or byte array.
    static QVariant valueToVariant(const Extras::QExifValue &value);
    static QVariantList valueToVariantList(const Extras::QExifValue &value);

signals:
    void exifChanged();

private:
    // Reads the EXIF block of the file at path into the header.
    void loadExif(const QString &path);
    double gpsDegrees(Extras::QExifImageHeader::GpsTagNumber valueTag,
                      Extras::QExifImageHeader::GpsTagNumber referenceTag, QChar negativeReference) const;

    Extras::QExifImageHeader m_exifHeader;
    bool m_exifValid = false;
};
