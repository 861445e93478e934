#include "TkExifInfo.h"

#include "FileUtility.h"
#include "MaporaExtrasLogging.h"
#include "QmlValues.h"

#include <QPointer>

#include <cmath>
#include <limits>

using Extras::QExifImageHeader;
using Extras::QExifValue;

namespace {

const double notAvailable = std::numeric_limits<double>::quiet_NaN();

template<typename Tag>
QList<int> tagList(const QList<Tag> &tags)
{
    QList<int> numbers;
    numbers.reserve(tags.size());
    for (Tag tag : tags)
        numbers.append(int(tag));
    return numbers;
}

template<typename Rational>
double ratio(const Rational &r)
{
    // Numerator and denominator become doubles first: 1/0 is infinite, 0/0 NaN.
    return double(r.first) / double(r.second);
}

// Degrees, minutes and seconds as three RATIONAL elements; NaN for anything else.
double degreesFromRationals(const QExifValue &value)
{
    const QVector<Extras::RationalU32> parts = value.toRationalVector();
    if (parts.size() < 3)
        return notAvailable;
    return ratio(parts.at(0)) + ratio(parts.at(1)) / 60.0 + ratio(parts.at(2)) / 3600.0;
}

double valueToDouble(const QExifValue &value)
{
    if (value.count() != 1)
        return notAvailable;
    switch (value.type()) {
    case QExifValue::Byte:
    case QExifValue::Short:
    case QExifValue::Long:
        return double(value.toLong());
    case QExifValue::SignedLong:
        return double(value.toSignedLong());
    case QExifValue::Rational:
        return ratio(value.toRational());
    case QExifValue::SignedRational:
        return ratio(value.toSignedRational());
    default:
        return notAvailable;
    }
}

// The tag's converted value from the table of its type; EXIF tag numbers are
// 16 bits, so a number outside 0..65535 names no tag (rather than the one
// that shares its low bits).
template<typename Tag>
QVariant tableValue(const QExifImageHeader &header, int number)
{
    if (number < 0 || number > 0xFFFF)
        return QVariant();
    const auto tag = Tag(number);
    return header.contains(tag) ? TkExifInfo::valueToVariant(header.value(tag)) : QVariant();
}

} // namespace

TkExifInfo::TkExifInfo(QObject *parent)
    : TkFileInfo(parent)
{
}

TkExifInfo::TkExifInfo(const QString &path, QObject *parent)
    : TkFileInfo(path, parent)
{
    loadExif(filePath());
}

void TkExifInfo::setFilePath(const QString &path)
{
    // The path is used as given: no path-variable resolution here.
    if (path == filePath())
        return;
    m_file.setFile(path);
    loadExif(filePath());
    // A handler of the first signal may destroy the object.
    const QPointer<TkExifInfo> alive(this);
    emit filePathChanged();
    if (alive)
        emit exifChanged();
}

void TkExifInfo::setUrl(const QUrl &url)
{
    // A QML user who binds url expects the tags of that file, as with filePath.
    const QUrl meant = QmlValues::documentUrl(this, url);
    if (meant == this->url())
        return;
    // Loaded first, so that filePathChanged() handlers read the new tags.
    loadExif(QmlValues::urlPath(this, meant));
    // Moves the file and the folder handed out, emits filePathChanged() and
    // permissionsChanged().
    const QPointer<TkExifInfo> alive(this);
    TkFileInfo::setUrl(meant);
    if (alive)
        emit exifChanged();
}

void TkExifInfo::loadExif(const QString &path)
{
    m_exifHeader.clear();
    // A path where nothing exists cannot be opened: no separate look first.
    m_exifValid = m_exifHeader.loadJpeg(path);
}

bool TkExifInfo::isExifValid() const
{
    return m_exifValid;
}

QList<int> TkExifInfo::imageTags() const
{
    return tagList(m_exifHeader.imageTagNumbers());
}

QList<int> TkExifInfo::extendedTags() const
{
    return tagList(m_exifHeader.extendedTagNumbers());
}

QList<int> TkExifInfo::gpsTags() const
{
    return tagList(m_exifHeader.gpsTagNumbers());
}

double TkExifInfo::gpsDegrees(QExifImageHeader::GpsTagNumber valueTag, QExifImageHeader::GpsTagNumber referenceTag,
                              QChar negativeReference) const
{
    if (!m_exifValid || !m_exifHeader.contains(valueTag))
        return notAvailable;
    const double degrees = degreesFromRationals(m_exifHeader.value(valueTag));
    if (m_exifHeader.contains(referenceTag)) {
        const QString reference = m_exifHeader.value(referenceTag).toString();
        if (reference.startsWith(negativeReference, Qt::CaseSensitive))
            return -degrees;
    }
    return degrees;
}

double TkExifInfo::gpsLongitude() const
{
    return gpsDegrees(QExifImageHeader::GpsLongitude, QExifImageHeader::GpsLongitudeRef, QLatin1Char('W'));
}

double TkExifInfo::gpsLatitude() const
{
    return gpsDegrees(QExifImageHeader::GpsLatitude, QExifImageHeader::GpsLatitudeRef, QLatin1Char('S'));
}

double TkExifInfo::gpsAltitude() const
{
    if (!m_exifValid || !m_exifHeader.contains(QExifImageHeader::GpsAltitude))
        return notAvailable;
    return valueToDouble(m_exifHeader.value(QExifImageHeader::GpsAltitude));
}

QVariant TkExifInfo::imageValue(int imageTag) const
{
    return tableValue<QExifImageHeader::ImageTagNumber>(m_exifHeader, imageTag);
}

QVariant TkExifInfo::extendedValue(int extendedTag) const
{
    return tableValue<QExifImageHeader::ExtendedTagNumber>(m_exifHeader, extendedTag);
}

QVariant TkExifInfo::gpsValue(int gpsTag) const
{
    return tableValue<QExifImageHeader::GpsTagNumber>(m_exifHeader, gpsTag);
}

QVariant TkExifInfo::valueToVariant(const QExifValue &value)
{
    if (value.count() > 1)
        return valueToVariantList(value);
    switch (value.type()) {
    case QExifValue::Byte:
        return int(value.toByte());
    case QExifValue::Ascii:
        return value.toString();
    case QExifValue::Short:
        return int(value.toShort());
    case QExifValue::Long:
        return uint(value.toLong());
    case QExifValue::Rational:
        return ratio(value.toRational());
    case QExifValue::Undefined:
        return QmlValues::arrayBufferBytes(value.toByteArray());
    case QExifValue::SignedLong:
        return int(value.toSignedLong());
    case QExifValue::SignedRational:
        return ratio(value.toSignedRational());
    default:
        return QVariant();
    }
}

QVariantList TkExifInfo::valueToVariantList(const QExifValue &value)
{
    if (value.count() == 1)
        return QVariantList{valueToVariant(value)};
    QVariantList list;
    switch (value.type()) {
    case QExifValue::Byte:
        for (quint8 element : value.toByteVector())
            list.append(int(element));
        break;
    case QExifValue::Short:
        for (quint16 element : value.toShortVector())
            list.append(int(element));
        break;
    case QExifValue::Long:
        for (quint32 element : value.toLongVector())
            list.append(uint(element));
        break;
    case QExifValue::SignedLong:
        for (qint32 element : value.toSignedLongVector())
            list.append(int(element));
        break;
    case QExifValue::Rational:
        for (const Extras::RationalU32 &element : value.toRationalVector())
            list.append(ratio(element));
        break;
    case QExifValue::SignedRational:
        for (const Extras::RationalS32 &element : value.toSignedRationalVector())
            list.append(ratio(element));
        break;
    case QExifValue::Ascii:
        list.append(value.toString());
        break;
    case QExifValue::Undefined:
        list.append(QmlValues::arrayBufferBytes(value.toByteArray()));
        break;
    default:
        break;
    }
    return list;
}

void TkExifInfo::log() const
{
    if (!m_exifValid) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "No Exif info";
        return;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "Image tags";
    for (QExifImageHeader::ImageTagNumber tag : m_exifHeader.imageTagNumbers()) {
        const QExifValue value = m_exifHeader.value(tag);
        qCDebug(CATEGORY_FILE) << "imageTag" << int(tag) << "type" << value.type() << "count" << value.count() << "="
                               << valueToVariant(value);
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "Extended tags";
    for (QExifImageHeader::ExtendedTagNumber tag : m_exifHeader.extendedTagNumbers()) {
        const QExifValue value = m_exifHeader.value(tag);
        qCDebug(CATEGORY_FILE) << "extendedTag" << int(tag) << "type" << value.type() << "count" << value.count()
                               << "=" << valueToVariant(value);
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "GPS tags";
    for (QExifImageHeader::GpsTagNumber tag : m_exifHeader.gpsTagNumbers()) {
        const QExifValue value = m_exifHeader.value(tag);
        qCDebug(CATEGORY_FILE) << "gpsTag" << int(tag) << "type" << value.type() << "count" << value.count() << "="
                               << valueToVariant(value);
    }
}

#include "moc_TkExifInfo.cpp"
