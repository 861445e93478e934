#pragma once

// Payloads of QExifValue: one record per value, shared by its copies and
// never changed after construction. Not part of the native interface.

#include "QExifValue.h"

#include <QSharedData>

#include <utility>

namespace Extras {

class QExifValuePrivate : public QSharedData
{
public:
    QExifValuePrivate(quint16 type, quint32 count)
        : type(type)
        , count(count)
    {
    }
    virtual ~QExifValuePrivate();

    const quint16 type;
    const quint32 count;
};

class QExifByteValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifByteValuePrivate(QVector<quint8> value)
        : QExifValuePrivate(QExifValue::Byte, quint32(value.size()))
        , value(std::move(value))
    {
    }
    const QVector<quint8> value;
};

class QExifAsciiValuePrivate : public QExifValuePrivate
{
public:
    // The file form ends in a zero byte, which the count includes.
    explicit QExifAsciiValuePrivate(QString value)
        : QExifValuePrivate(QExifValue::Ascii, quint32(value.size()) + 1)
        , value(std::move(value))
    {
    }
    const QString value;
};

class QExifShortValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifShortValuePrivate(QVector<quint16> value)
        : QExifValuePrivate(QExifValue::Short, quint32(value.size()))
        , value(std::move(value))
    {
    }
    const QVector<quint16> value;
};

class QExifLongValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifLongValuePrivate(QVector<quint32> value)
        : QExifValuePrivate(QExifValue::Long, quint32(value.size()))
        , value(std::move(value))
    {
    }
    const QVector<quint32> value;
};

class QExifRationalValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifRationalValuePrivate(QVector<RationalU32> value)
        : QExifValuePrivate(QExifValue::Rational, quint32(value.size()))
        , value(std::move(value))
    {
    }
    const QVector<RationalU32> value;
};

class QExifUndefinedValuePrivate : public QExifValuePrivate
{
public:
    // Holds its own copy of the bytes, never a view of a caller's buffer.
    explicit QExifUndefinedValuePrivate(const QByteArray &value)
        : QExifValuePrivate(QExifValue::Undefined, quint32(value.size()))
        , value(value.constData(), value.size())
    {
    }
    const QByteArray value;
};

class QExifSignedLongValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifSignedLongValuePrivate(QVector<qint32> value)
        : QExifValuePrivate(QExifValue::SignedLong, quint32(value.size()))
        , value(std::move(value))
    {
    }
    const QVector<qint32> value;
};

class QExifSignedRationalValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifSignedRationalValuePrivate(QVector<RationalS32> value)
        : QExifValuePrivate(QExifValue::SignedRational, quint32(value.size()))
        , value(std::move(value))
    {
    }
    const QVector<RationalS32> value;
};

// The payload of every null value: an empty BYTE payload created on first
// use, holding one reference of its own so that it is never deleted.
QExifValuePrivate *sharedNullPayload();

} // namespace Extras
