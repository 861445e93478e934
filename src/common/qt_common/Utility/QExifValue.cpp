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

const QExifValuePrivate::Order hostOrder =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? QExifValuePrivate::LittleEndian : QExifValuePrivate::BigEndian;

// A record of its own for elements given in this machine's order.
template<typename T>
QExifValuePrivate *recordOf(QExifValue::Type type, const T *elements, int count)
{
    return QExifValuePrivate::create(type, quint32(count), elements, sizeof(T) * size_t(count));
}

template<typename T>
QExifValuePrivate *recordOf(QExifValue::Type type, const QVector<T> &elements)
{
    return recordOf(type, elements.constData(), elements.size());
}

// Rationals are stored as numerator and denominator, 32 bits each.
template<typename T>
QExifValuePrivate *rationalRecord(QExifValue::Type type, const QVector<QPair<T, T>> &elements)
{
    QVector<quint32> words;
    words.reserve(2 * elements.size());
    for (const QPair<T, T> &element : elements)
        words << quint32(element.first) << quint32(element.second);
    return QExifValuePrivate::create(type, quint32(elements.size()), words.constData(),
                                     sizeof(quint32) * size_t(words.size()));
}

QExifValuePrivate *textRecord(const QString &text)
{
    // A text ends at its first zero character: that is where every reader of
    // the written value stops.
    const int zero = text.indexOf(QChar(0));
    const int length = zero >= 0 ? zero : text.size();
    return QExifValuePrivate::create(QExifValue::Ascii, quint32(length) + 1, text.constData(),
                                     sizeof(QChar) * size_t(length), true);
}

QExifValuePrivate *bytesRecord(const QByteArray &bytes)
{
    return QExifValuePrivate::create(QExifValue::Undefined, quint32(bytes.size()), bytes.constData(),
                                     size_t(bytes.size()));
}

QVector<quint8> byteElements(const QExifValuePrivate *d)
{
    return QVector<quint8>(d->data, d->data + d->count);
}

// All elements of a value of one type, read by `element`; empty for any other type.
template<typename T, typename Read>
QVector<T> elementsOf(const QExifValuePrivate *d, QExifValue::Type type, Read element)
{
    QVector<T> elements;
    if (d->type != type)
        return elements;
    elements.resize(int(d->count));
    for (quint32 i = 0; i < d->count; ++i)
        elements[int(i)] = element(d, i);
    return elements;
}

template<typename T>
QPair<T, T> rationalAt(const QExifValuePrivate *d, quint32 index)
{
    return QPair<T, T>(T(d->element32(2 * index)), T(d->element32(2 * index + 1)));
}

} // namespace

QExifValuePrivate *QExifValuePrivate::create(quint16 type, quint32 count, const void *elements, size_t bytes,
                                             bool wideText)
{
    // One allocation: the record, then its elements.
    void *memory = ::operator new(sizeof(QExifValuePrivate) + bytes);
    QExifValuePrivate *record = new (memory) QExifValuePrivate;
    uchar *storage = reinterpret_cast<uchar *>(record + 1);
    if (bytes > 0)
        memcpy(storage, elements, bytes);
    record->ref.storeRelaxed(1);
    record->type = type;
    record->order = hostOrder;
    record->wideText = wideText;
    record->count = count;
    record->data = storage;
    return record;
}

void QExifValuePrivate::retain()
{
    if (arena)
        arena->ref.ref();
    else if (this != sharedNullPayload())
        ref.ref();
}

void QExifValuePrivate::release()
{
    if (arena) {
        ExifValueArena::release(arena);
    } else if (this != sharedNullPayload() && !ref.deref()) {
        this->~QExifValuePrivate();
        ::operator delete(this);
    }
}

QString QExifValuePrivate::text() const
{
    const int length = int(count) - 1;
    if (wideText)
        return QString(reinterpret_cast<const QChar *>(data), length);
    return QString::fromLatin1(reinterpret_cast<const char *>(data), length);
}

char *ExifValueArena::reserve(qint64 size, qint64 keep)
{
    if (size > m_capacity) {
        // Grows at least by half, so that a block read piece by piece is not copied again for every piece.
        const qint64 capacity = qMax(size, m_capacity + m_capacity / 2);
        std::unique_ptr<char[]> larger(new char[size_t(capacity)]);
        if (keep > 0)
            memcpy(larger.get(), m_buffer.get(), size_t(keep));
        m_buffer = std::move(larger);
        m_capacity = capacity;
    }
    return m_buffer.get();
}

void ExifValueArena::begin()
{
    m_used = 0;
    m_loading = true;
    ref.fetchAndAddRelaxed(loadBias);
}

void ExifValueArena::end()
{
    // The arena was idle when the load began and no other thread has seen
    // its records since, so the references of all of them are added at once.
    ref.fetchAndAddRelease(int(m_used) - loadBias);
    m_loading = false;
}

QExifValuePrivate *ExifValueArena::make(quint16 type, quint32 count, QExifValuePrivate::Order order,
                                        const uchar *data)
{
    const size_t chunk = m_used / chunkSize;
    if (chunk == m_chunks.size())
        m_chunks.emplace_back(new QExifValuePrivate[chunkSize]);
    QExifValuePrivate *record = &m_chunks[chunk][m_used % chunkSize];
    ++m_used;
    record->type = type;
    record->order = order;
    record->wideText = false;
    record->count = count;
    record->arena = this;
    record->data = data;
    if (!m_loading)
        ref.ref();
    return record;
}

QExifValuePrivate *sharedNullPayload()
{
    // Never counted, so never deleted.
    static QExifValuePrivate payload;
    return &payload;
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
    : d(recordOf(Byte, &value, 1))
{
}

QExifValue::QExifValue(const QVector<quint8> &values)
    : d(recordOf(Byte, values))
{
}

QExifValue::QExifValue(const QString &value, CharacterCode code)
    : d(sharedNullPayload())
{
    switch (code) {
    case CodeAscii:
        d = bytesRecord(prefixed(asciiPrefix, value.toUtf8()));
        break;
    case CodeJis:
        if (QTextCodec *codec = jisCodec())
            d = bytesRecord(prefixed(jisPrefix, codec->fromUnicode(value)));
        break;
    case CodeUnicode:
        if (QTextCodec *codec = unicodeCodec())
            d = bytesRecord(prefixed(unicodePrefix, codec->fromUnicode(value)));
        break;
    case CodeUndefined:
        d = bytesRecord(prefixed(undefinedPrefix, value.toLocal8Bit()));
        break;
    case CodeNone:
    default:
        d = textRecord(value);
        break;
    }
}

QExifValue::QExifValue(quint16 value)
    : d(recordOf(Short, &value, 1))
{
}

QExifValue::QExifValue(const QVector<quint16> &values)
    : d(recordOf(Short, values))
{
}

QExifValue::QExifValue(quint32 value)
    : d(recordOf(Long, &value, 1))
{
}

QExifValue::QExifValue(const QVector<quint32> &values)
    : d(recordOf(Long, values))
{
}

QExifValue::QExifValue(const RationalU32 &value)
    : d(rationalRecord(Rational, QVector<RationalU32>(1, value)))
{
}

QExifValue::QExifValue(const QVector<RationalU32> &values)
    : d(rationalRecord(Rational, values))
{
}

QExifValue::QExifValue(const QByteArray &value)
    : d(bytesRecord(value))
{
}

QExifValue::QExifValue(qint32 value)
    : d(recordOf(SignedLong, &value, 1))
{
}

QExifValue::QExifValue(const QVector<qint32> &values)
    : d(recordOf(SignedLong, values))
{
}

QExifValue::QExifValue(const RationalS32 &value)
    : d(rationalRecord(SignedRational, QVector<RationalS32>(1, value)))
{
}

QExifValue::QExifValue(const QVector<RationalS32> &values)
    : d(rationalRecord(SignedRational, values))
{
}

QExifValue::QExifValue(const QDateTime &value)
    : d(textRecord(value.toString(QLatin1String(dateTimeFormat))))
{
}

QExifValue::QExifValue(const QExifValue &other)
    : d(other.d)
{
    if (d)
        d->retain();
}

QExifValue &QExifValue::operator=(const QExifValue &other)
{
    if (other.d)
        other.d->retain();
    if (d)
        d->release();
    d = other.d;
    return *this;
}

QExifValue::QExifValue(QExifValue &&other) noexcept
    : d(other.d)
{
    other.d = nullptr;
}

QExifValue &QExifValue::operator=(QExifValue &&other) noexcept
{
    std::swap(d, other.d);
    return *this;
}

QExifValue::~QExifValue()
{
    if (d)
        d->release();
}

const QExifValuePrivate *QExifValue::payload() const
{
    // Only a moved-from value has no payload of its own.
    return d ? d : sharedNullPayload();
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
    const uchar *bytes = pd->data;
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
    const QExifValuePrivate *const pd = payload();
    return pd->type == Byte && pd->count == 1 ? pd->data[0] : 0;
}

QVector<quint8> QExifValue::toByteVector() const
{
    const QExifValuePrivate *const pd = payload();
    return pd->type == Byte ? byteElements(pd) : QVector<quint8>();
}

quint16 QExifValue::toShort() const
{
    const QExifValuePrivate *const pd = payload();
    if (pd->count != 1)
        return 0;
    switch (pd->type) {
    case Byte:
        return pd->data[0];
    case Short:
        return pd->element16(0);
    default:
        return 0;
    }
}

QVector<quint16> QExifValue::toShortVector() const
{
    return elementsOf<quint16>(payload(), Short,
                               [](const QExifValuePrivate *d, quint32 i) { return d->element16(i); });
}

quint32 QExifValue::toLong() const
{
    const QExifValuePrivate *const pd = payload();
    if (pd->count != 1)
        return 0;
    switch (pd->type) {
    case Byte:
        return pd->data[0];
    case Short:
        return pd->element16(0);
    case Long:
    case SignedLong:
        return pd->element32(0);
    default:
        return 0;
    }
}

QVector<quint32> QExifValue::toLongVector() const
{
    return elementsOf<quint32>(payload(), Long, [](const QExifValuePrivate *d, quint32 i) { return d->element32(i); });
}

qint32 QExifValue::toSignedLong() const
{
    // The element toLong() answers for, read as signed: BYTE and SHORT values
    // fit either way, a LONG bit pattern is reinterpreted.
    return qint32(toLong());
}

QVector<qint32> QExifValue::toSignedLongVector() const
{
    return elementsOf<qint32>(payload(), SignedLong,
                              [](const QExifValuePrivate *d, quint32 i) { return qint32(d->element32(i)); });
}

RationalU32 QExifValue::toRational() const
{
    const QExifValuePrivate *const pd = payload();
    return pd->type == Rational && pd->count == 1 ? rationalAt<quint32>(pd, 0) : RationalU32();
}

QVector<RationalU32> QExifValue::toRationalVector() const
{
    return elementsOf<RationalU32>(payload(), Rational, rationalAt<quint32>);
}

RationalS32 QExifValue::toSignedRational() const
{
    const QExifValuePrivate *const pd = payload();
    return pd->type == SignedRational && pd->count == 1 ? rationalAt<qint32>(pd, 0) : RationalS32();
}

QVector<RationalS32> QExifValue::toSignedRationalVector() const
{
    return elementsOf<RationalS32>(payload(), SignedRational, rationalAt<qint32>);
}

QByteArray QExifValue::toByteArray() const
{
    const QExifValuePrivate *const pd = payload();
    switch (pd->type) {
    case Ascii:
        return pd->text().toUtf8();
    case Undefined:
        return QByteArray(reinterpret_cast<const char *>(pd->data), int(pd->count));
    default:
        return QByteArray();
    }
}

QString QExifValue::toString() const
{
    const QExifValuePrivate *const pd = payload();
    switch (pd->type) {
    case Ascii:
        return pd->text();
    case Undefined: {
        const QByteArray text = pd->count > 8
            ? QByteArray::fromRawData(reinterpret_cast<const char *>(pd->data) + 8, int(pd->count) - 8)
            : QByteArray();
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
        return QDateTime::fromString(pd->text(), QLatin1String(dateTimeFormat));
    return QDateTime();
}

} // namespace Extras
