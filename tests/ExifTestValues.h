#pragma once

#include "QExifValue.h"

#include <QString>

// Values compare equal only when they share a payload; tests compare what
// they hold instead.
inline bool sameContent(const Extras::QExifValue &a, const Extras::QExifValue &b)
{
    return a.type() == b.type() && a.count() == b.count() && a.toByteVector() == b.toByteVector()
        && a.toString() == b.toString() && a.toShortVector() == b.toShortVector()
        && a.toLongVector() == b.toLongVector() && a.toSignedLongVector() == b.toSignedLongVector()
        && a.toRationalVector() == b.toRationalVector()
        && a.toSignedRationalVector() == b.toSignedRationalVector() && a.toByteArray() == b.toByteArray();
}

inline QString describe(const Extras::QExifValue &v)
{
    return QStringLiteral("type %1 count %2 bytes %3 text \"%4\"")
        .arg(v.type())
        .arg(v.count())
        .arg(QString::fromLatin1(v.toByteArray().left(16).toHex()))
        .arg(v.toString().left(32));
}
