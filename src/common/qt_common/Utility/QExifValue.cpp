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

// All elements of a value of one type; empty for any other type.
template <typename Payload>
decltype(Payload::value) elementsOf(const QExifValuePrivate *d, QExifValue::Type type)
{
    if (const auto *p = payloadOf<Payload>(d, type))
        return p->value;
    return decltype(Payload::value)();
}

// The one element of a single-element value of one type; zero otherwise.
template <typename Payload>
typename decltype(Payload::value)::value_type singleOf(const QExifValuePrivate *d, QExifValue::Type type)
{
    if (d->count == 1) {
        if (const auto *p = payloadOf<Payload>(d, type))
            return p->value.at(0);
    }
    return typename decltype(Payload::value)::value_type();
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

QExifValue::QExifValue(QExifValuePrivate *payload)
    : d(payload)
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

QExifValue::QExifValue(QExifValue &&other) noexcept
    : d(std::move(other.d))
{
}

QExifValue &QExifValue::operator=(QExifValue &&other) noexcept
{
    d.swap(other.d);
    return *this;
}

QExifValue::~QExifValue() = default;

const QExifValuePrivate *QExifValue::payload() const
{
    // Only a moved-from value has no payload of its own.
    return d ? d.data() : sharedNullPayload();
}

bool QExifValue::operator==(const QExifValue &other) const
{
    return d == other.d;
}

bool QExifValue::isNull() const
{
    return payload() == sharedNullPayload();
}

int QExifValue::type() const
{
    return payload()->type;
}

int QExifValue::count() const
{
    return int(payload()->count);
}

QExifValue::CharacterCode QExifValue::characterCode() const
{
    const QExifValuePrivate *const pd = payload();
    if (pd->type != Undefined || pd->count <= 8)
        return CodeNone;
    const char *bytes = static_cast<const QExifUndefinedValuePrivate *>(pd)->value.constData();
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
    return singleOf<QExifByteValuePrivate>(payload(), Byte);
}

QVector<quint8> QExifValue::toByteVector() const
{
    return elementsOf<QExifByteValuePrivate>(payload(), Byte);
}

quint16 QExifValue::toShort() const
{
    const QExifValuePrivate *const pd = payload();
    if (pd->count != 1)
        return 0;
    switch (pd->type) {
    case Byte:
        return static_cast<const QExifByteValuePrivate *>(pd)->value.at(0);
    case Short:
        return static_cast<const QExifShortValuePrivate *>(pd)->value.at(0);
    default:
        return 0;
    }
}

QVector<quint16> QExifValue::toShortVector() const
{
    return elementsOf<QExifShortValuePrivate>(payload(), Short);
}

quint32 QExifValue::toLong() const
{
    const QExifValuePrivate *const pd = payload();
    if (pd->count != 1)
        return 0;
    switch (pd->type) {
    case Byte:
        return static_cast<const QExifByteValuePrivate *>(pd)->value.at(0);
    case Short:
        return static_cast<const QExifShortValuePrivate *>(pd)->value.at(0);
    case Long:
        return static_cast<const QExifLongValuePrivate *>(pd)->value.at(0);
    case SignedLong:
        return quint32(static_cast<const QExifSignedLongValuePrivate *>(pd)->value.at(0));
    default:
        return 0;
    }
}

QVector<quint32> QExifValue::toLongVector() const
{
    return elementsOf<QExifLongValuePrivate>(payload(), Long);
}

qint32 QExifValue::toSignedLong() const
{
    // The element toLong() answers for, read as signed: BYTE and SHORT values
    // fit either way, a LONG bit pattern is reinterpreted.
    return qint32(toLong());
}

QVector<qint32> QExifValue::toSignedLongVector() const
{
    return elementsOf<QExifSignedLongValuePrivate>(payload(), SignedLong);
}

RationalU32 QExifValue::toRational() const
{
    return singleOf<QExifRationalValuePrivate>(payload(), Rational);
}

QVector<RationalU32> QExifValue::toRationalVector() const
{
    return elementsOf<QExifRationalValuePrivate>(payload(), Rational);
}

RationalS32 QExifValue::toSignedRational() const
{
    return singleOf<QExifSignedRationalValuePrivate>(payload(), SignedRational);
}

QVector<RationalS32> QExifValue::toSignedRationalVector() const
{
    return elementsOf<QExifSignedRationalValuePrivate>(payload(), SignedRational);
}

QByteArray QExifValue::toByteArray() const
{
    const QExifValuePrivate *const pd = payload();
    switch (pd->type) {
    case Ascii:
        return static_cast<const QExifAsciiValuePrivate *>(pd)->value.toUtf8();
    case Undefined:
        return static_cast<const QExifUndefinedValuePrivate *>(pd)->value;
    default:
        return QByteArray();
    }
}

QString QExifValue::toString() const
{
    const QExifValuePrivate *const pd = payload();
    switch (pd->type) {
    case Ascii:
        return static_cast<const QExifAsciiValuePrivate *>(pd)->value;
    case Undefined: {
        const QByteArray &bytes = static_cast<const QExifUndefinedValuePrivate *>(pd)->value;
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
    const QExifValuePrivate *const pd = payload();
    if (pd->type == Ascii && pd->count == 20)
        return QDateTime::fromString(static_cast<const QExifAsciiValuePrivate *>(pd)->value,
                                     QLatin1String(dateTimeFormat));
    return QDateTime();
}

} // namespace Extras
