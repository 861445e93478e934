#pragma once

#include "ExtrasGlobal.h"

#include <QByteArray>
#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

namespace Extras {

// EXIF rationals: numerator first, then denominator. A default pair is 0/0.
typedef QPair<quint32, quint32> RationalU32;
typedef QPair<qint32, qint32> RationalS32;

class QExifValuePrivate;

/*!
    The value of one EXIF directory entry: a typed, counted array of
    elements, or a text. Values are immutable and cheap to copy: copies share
    one reference-counted payload, and two values are equal only when they
    share it. A default value is the null value (type BYTE, count 0).

    Accessors answer only for the types they name and return an empty result
    (0, 0/0, an empty vector, a null string, an invalid date-time) otherwise;
    no accessor converts between integer and rational types.
*/
class EXTRAS_EXPORT QExifValue
{
public:
    // Field type codes of the EXIF/TIFF standard that a value can carry.
    enum Type {
        Byte = 1,
        Ascii = 2,
        Short = 3,
        Long = 4,
        Rational = 5,
        Undefined = 7,
        SignedLong = 9,
        SignedRational = 10
    };

    // The 8-byte character-code prefixes of text stored as UNDEFINED data.
    enum CharacterCode {
        CodeNone = 0,
        CodeAscii = 1,
        CodeJis = 2,
        CodeUnicode = 3,
        CodeUndefined = 4
    };

    QExifValue();
    explicit QExifValue(quint8 value);
    explicit QExifValue(const QVector<quint8> &values);
    // CodeNone builds an ASCII value of the text up to its first zero
    // character; the other codes build UNDEFINED data with the code's prefix
    // (null when the code's text codec is missing).
    explicit QExifValue(const QString &value, CharacterCode code = CodeNone);
    explicit QExifValue(quint16 value);
    explicit QExifValue(const QVector<quint16> &values);
    explicit QExifValue(quint32 value);
    explicit QExifValue(const QVector<quint32> &values);
    explicit QExifValue(const RationalU32 &value);
    explicit QExifValue(const QVector<RationalU32> &values);
    explicit QExifValue(const QByteArray &value);
    explicit QExifValue(qint32 value);
    explicit QExifValue(const QVector<qint32> &values);
    explicit QExifValue(const RationalS32 &value);
    explicit QExifValue(const QVector<RationalS32> &values);
    // ASCII in the EXIF date-time form "yyyy:MM:dd HH:mm:ss".
    explicit QExifValue(const QDateTime &value);
    QExifValue(const QExifValue &other);
    QExifValue &operator=(const QExifValue &other);
    // A moved-from value reads as the null value.
    QExifValue(QExifValue &&other) noexcept;
    QExifValue &operator=(QExifValue &&other) noexcept;
    ~QExifValue();

    // True when both values share one payload.
    bool operator==(const QExifValue &other) const;
    bool operator!=(const QExifValue &other) const { return !operator==(other); }

    bool isNull() const;
    int type() const;
    // Elements; for ASCII the characters plus the terminating zero.
    int count() const;
    CharacterCode characterCode() const;

    quint8 toByte() const;
    QVector<quint8> toByteVector() const;
    quint16 toShort() const;
    QVector<quint16> toShortVector() const;
    // LONG, or the bit pattern of an SLONG read as unsigned.
    quint32 toLong() const;
    QVector<quint32> toLongVector() const;
    // SLONG, or the bit pattern of a LONG read as signed.
    qint32 toSignedLong() const;
    QVector<qint32> toSignedLongVector() const;
    RationalU32 toRational() const;
    QVector<RationalU32> toRationalVector() const;
    RationalS32 toSignedRational() const;
    QVector<RationalS32> toSignedRationalVector() const;
    // ASCII as UTF-8 without the terminating zero; UNDEFINED whole, prefix included.
    QByteArray toByteArray() const;
    QString toString() const;
    QDateTime toDateTime() const;

private:
    // The reader builds records that point into the block it reads.
    friend class ExifBlockReader;
    // Takes over the record's reference.
    explicit QExifValue(QExifValuePrivate *payload);

    const QExifValuePrivate *payload() const;

    // Null only in a moved-from value.
    QExifValuePrivate *d;
};

} // namespace Extras
