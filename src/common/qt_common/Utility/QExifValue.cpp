#include "QExifValue.h"
#include "QExifValue_p.h"

#include <QTextCodec>

#include <cstring>

namespace Extras {

namespace {

const char dateTimeFormat[] = "yyyy:MM:dd HH:mm:ss";

// The 8-byte character-code prefixes, in the order characterCode() tries them.
const char asciiPrefix[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
const char jisPrefix[8] = {'J', 'I', 'S', 0, 0, 0, 0, 0};
const char unicodePrefix[8] = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
const char undefinedPrefix[8] = {0, 0, 0, 0, 0, 0, 0, 0};

// Codecs are looked up at each use: a codec registered later is then found.
QTextCodec *jisCodec()
{
    return QTextCodec::codecForName("JIS X 0208");
}

QTextCodec *unicodeCodec()
{
    return QTextCodec::codecForName("UTF-16");
}

QByteArray prefixed(const char (&prefix)[8], const QByteArray &text)
{
    QByteArray bytes;
    bytes.reserve(8 + text.size());
    bytes.append(prefix, 8);
    bytes.append(text);
    return bytes;
}

template<typename Payload>
const Payload *payloadOf(const QExifValuePrivate *d, QExifValue::Type type)
{
    return d->type == type ? static_cast<const Payload *>(d) : nullptr;
}

} // namespace

QExifValuePrivate::~QExifValuePrivate() = default;

QExifValuePrivate *sharedNullPayload()
{
    // A function-local static is initialised once, thread-safely; the extra
    // reference keeps the payload alive whatever its holders do.
    static QExifValuePrivate *const payload = [] {
        QExifValuePrivate *p = new QExifByteValuePrivate(QVector<quint8>());
        p->ref.ref();
        return p;
    }();
    return payload;
}

QExifValue::QExifValue()
    : d(sharedNullPayload())
{
}

QExifValue::QExifValue(quint8 value)
    : d(new QExifByteValuePrivate(QVector<quint8>(1, value)))
{
}

QExifValue::QExifValue(const QVector<quint8> &values)
    : d(new QExifByteValuePrivate(values))
{
}

QExifValue::QExifValue(const QString &value, CharacterCode code)
    : d(sharedNullPayload())
{
    switch (code) {
    case CodeAscii:
        d = new QExifUndefinedValuePrivate(prefixed(asciiPrefix, value.toUtf8()));
        break;
    case CodeJis:
        if (QTextCodec *codec = jisCodec())
            d = new QExifUndefinedValuePrivate(prefixed(jisPrefix, codec->fromUnicode(value)));
        break;
    case CodeUnicode:
        if (QTextCodec *codec = unicodeCodec())
            d = new QExifUndefinedValuePrivate(prefixed(unicodePrefix, codec->fromUnicode(value)));
        break;
    case CodeUndefined:
        d = new QExifUndefinedValuePrivate(prefixed(undefinedPrefix, value.toLocal8Bit()));
        break;
    case CodeNone:
    default:
        d = new QExifAsciiValuePrivate(value);
        break;
    }
}

QExifValue::QExifValue(quint16 value)
    : d(new QExifShortValuePrivate(QVector<quint16>(1, value)))
{
}

QExifValue::QExifValue(const QVector<quint16> &values)
    : d(new QExifShortValuePrivate(values))
{
}

QExifValue::QExifValue(quint32 value)
    : d(new QExifLongValuePrivate(QVector<quint32>(1, value)))
{
}

QExifValue::QExifValue(const QVector<quint32> &values)
    : d(new QExifLongValuePrivate(values))
{
}

QExifValue::QExifValue(const RationalU32 &value)
    : d(new QExifRationalValuePrivate(QVector<RationalU32>(1, value)))
{
}

QExifValue::QExifValue(const QVector<RationalU32> &values)
    : d(new QExifRationalValuePrivate(values))
{
}

QExifValue::QExifValue(const QByteArray &value)
    : d(new QExifUndefinedValuePrivate(value))
{
}

QExifValue::QExifValue(qint32 value)
    : d(new QExifSignedLongValuePrivate(QVector<qint32>(1, value)))
{
}

QExifValue::QExifValue(const QVector<qint32> &values)
    : d(new QExifSignedLongValuePrivate(values))
{
}

QExifValue::QExifValue(const RationalS32 &value)
    : d(new QExifSignedRationalValuePrivate(QVector<RationalS32>(1, value)))
{
}

QExifValue::QExifValue(const QVector<RationalS32> &values)
    : d(new QExifSignedRationalValuePrivate(values))
{
}

QExifValue::QExifValue(const QDateTime &value)
    : d(new QExifAsciiValuePrivate(value.toString(QLatin1String(dateTimeFormat))))
{
}

QExifValue::QExifValue(const QExifValue &other) = default;

QExifValue &QExifValue::operator=(const QExifValue &other)
{
    // QExplicitlySharedDataPointer leaves a payload that is already shared alone.
    d = other.d;
    return *this;
}

QExifValue::~QExifValue() = default;

bool QExifValue::operator==(const QExifValue &other) const
{
    return d == other.d;
}

bool QExifValue::isNull() const
{
    return d.data() == sharedNullPayload();
}

int QExifValue::type() const
{
    return d->type;
}

int QExifValue::count() const
{
    return int(d->count);
}

QExifValue::CharacterCode QExifValue::characterCode() const
{
    if (d->type != Undefined || d->count <= 8)
        return CodeNone;
    const char *bytes = static_cast<const QExifUndefinedValuePrivate *>(d.data())->value.constData();
    if (memcmp(bytes, asciiPrefix, 8) == 0)
        return CodeAscii;
    if (memcmp(bytes, jisPrefix, 8) == 0)
        return CodeJis;
    if (memcmp(bytes, unicodePrefix, 8) == 0)
        return CodeUnicode;
    if (memcmp(bytes, undefinedPrefix, 8) == 0)
        return CodeUndefined;
    return CodeNone;
}

quint8 QExifValue::toByte() const
{
    if (d->count == 1) {
        if (const auto *p = payloadOf<QExifByteValuePrivate>(d.data(), Byte))
            return p->value.at(0);
    }
    return 0;
}

QVector<quint8> QExifValue::toByteVector() const
{
    if (const auto *p = payloadOf<QExifByteValuePrivate>(d.data(), Byte))
        return p->value;
    return QVector<quint8>();
}

quint16 QExifValue::toShort() const
{
    if (d->count != 1)
        return 0;
    switch (d->type) {
    case Byte:
        return static_cast<const QExifByteValuePrivate *>(d.data())->value.at(0);
    case Short:
        return static_cast<const QExifShortValuePrivate *>(d.data())->value.at(0);
    default:
        return 0;
    }
}

QVector<quint16> QExifValue::toShortVector() const
{
    if (const auto *p = payloadOf<QExifShortValuePrivate>(d.data(), Short))
        return p->value;
    return QVector<quint16>();
}

quint32 QExifValue::toLong() const
{
    if (d->count != 1)
        return 0;
    switch (d->type) {
    case Byte:
        return static_cast<const QExifByteValuePrivate *>(d.data())->value.at(0);
    case Short:
        return static_cast<const QExifShortValuePrivate *>(d.data())->value.at(0);
    case Long:
        return static_cast<const QExifLongValuePrivate *>(d.data())->value.at(0);
    case SignedLong:
        return quint32(static_cast<const QExifSignedLongValuePrivate *>(d.data())->value.at(0));
    default:
        return 0;
    }
}

QVector<quint32> QExifValue::toLongVector() const
{
    if (const auto *p = payloadOf<QExifLongValuePrivate>(d.data(), Long))
        return p->value;
    return QVector<quint32>();
}

qint32 QExifValue::toSignedLong() const
{
    if (d->count != 1)
        return 0;
    switch (d->type) {
    case Byte:
        return static_cast<const QExifByteValuePrivate *>(d.data())->value.at(0);
    case Short:
        return static_cast<const QExifShortValuePrivate *>(d.data())->value.at(0);
    case SignedLong:
        return static_cast<const QExifSignedLongValuePrivate *>(d.data())->value.at(0);
    case Long:
        return qint32(static_cast<const QExifLongValuePrivate *>(d.data())->value.at(0));
    default:
        return 0;
    }
}

QVector<qint32> QExifValue::toSignedLongVector() const
{
    if (const auto *p = payloadOf<QExifSignedLongValuePrivate>(d.data(), SignedLong))
        return p->value;
    return QVector<qint32>();
}

RationalU32 QExifValue::toRational() const
{
    if (d->count == 1) {
        if (const auto *p = payloadOf<QExifRationalValuePrivate>(d.data(), Rational))
            return p->value.at(0);
    }
    return RationalU32();
}

QVector<RationalU32> QExifValue::toRationalVector() const
{
    if (const auto *p = payloadOf<QExifRationalValuePrivate>(d.data(), Rational))
        return p->value;
    return QVector<RationalU32>();
}

RationalS32 QExifValue::toSignedRational() const
{
    if (d->count == 1) {
        if (const auto *p = payloadOf<QExifSignedRationalValuePrivate>(d.data(), SignedRational))
            return p->value.at(0);
    }
    return RationalS32();
}

QVector<RationalS32> QExifValue::toSignedRationalVector() const
{
    if (const auto *p = payloadOf<QExifSignedRationalValuePrivate>(d.data(), SignedRational))
        return p->value;
    return QVector<RationalS32>();
}

QByteArray QExifValue::toByteArray() const
{
    switch (d->type) {
    case Ascii:
        return static_cast<const QExifAsciiValuePrivate *>(d.data())->value.toUtf8();
    case Undefined:
        return static_cast<const QExifUndefinedValuePrivate *>(d.data())->value;
    default:
        return QByteArray();
    }
}

QString QExifValue::toString() const
{
    switch (d->type) {
    case Ascii:
        return static_cast<const QExifAsciiValuePrivate *>(d.data())->value;
    case Undefined: {
        const QByteArray &bytes = static_cast<const QExifUndefinedValuePrivate *>(d.data())->value;
        const QByteArray text = bytes.size() > 8 ? bytes.mid(8) : QByteArray();
        QTextCodec *codec = nullptr;
        switch (characterCode()) {
        case CodeAscii:
            return QString::fromLatin1(text);
        case CodeJis:
            codec = jisCodec();
            break;
        case CodeUnicode:
            codec = unicodeCodec();
            break;
        default:
            break;
        }
        // A code without a codec on this platform falls back to the local encoding.
        return codec ? codec->toUnicode(text) : QString::fromLocal8Bit(text);
    }
    default:
        return QString();
    }
}

QDateTime QExifValue::toDateTime() const
{
    if (d->type == Ascii && d->count == 20)
        return QDateTime::fromString(static_cast<const QExifAsciiValuePrivate *>(d.data())->value,
                                     QLatin1String(dateTimeFormat));
    return QDateTime();
}

} // namespace Extras
