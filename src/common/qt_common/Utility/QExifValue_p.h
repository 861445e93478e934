#pragma once

// The records behind QExifValue handles. Not part of the native interface.

#include "QExifValue.h"

#include <QAtomicInt>
#include <QtEndian>

#include <memory>
#include <vector>

namespace Extras {

class ExifValueArena;

/*!
    One value: its type, its count and where its elements lie, never changed
    after construction. A value read from a file points into the TIFF block
    that its arena holds, in the block's byte order, and lives as long as the
    arena; a value built in code owns its elements, which follow the record
    in the same allocation, in this machine's byte order.
*/
class QExifValuePrivate
{
public:
    enum Order : quint8 { LittleEndian, BigEndian };

    // A record with its own elements and one reference. ASCII text is
    // given as UTF-16 (`wideText`); other elements in this machine's order.
    static QExifValuePrivate *create(quint16 type, quint32 count, const void *elements, size_t bytes,
                                     bool wideText = false);

    void retain();
    void release();

    quint16 element16(quint32 index) const
    {
        const uchar *at = data + 2 * index;
        return order == LittleEndian ? qFromLittleEndian<quint16>(at) : qFromBigEndian<quint16>(at);
    }
    quint32 element32(quint32 index) const
    {
        const uchar *at = data + 4 * index;
        return order == LittleEndian ? qFromLittleEndian<quint32>(at) : qFromBigEndian<quint32>(at);
    }
    // ASCII: the characters without the terminating zero.
    QString text() const;

    // References of a record with its own elements; unused in an arena.
    QAtomicInt ref;
    quint16 type = QExifValue::Byte;
    Order order = LittleEndian;
    // ASCII held as UTF-16 code units rather than as Latin-1 bytes.
    bool wideText = false;
    // Elements; for ASCII the characters plus the terminating zero.
    quint32 count = 0;
    // The arena that holds the record, or null for a record of its own.
    ExifValueArena *arena = nullptr;
    const uchar *data = nullptr;
};

/*!
    The memory of one load of an EXIF header: the TIFF block and a record
    for every value read from it, in chunks that are kept for the next load.
    Handles on its records count as references to the arena, so it lives as
    long as any value read from its block; the header that fills it holds
    one reference more and reuses it once that is the only one left.
*/
class ExifValueArena
{
public:
    // The header's reference.
    QAtomicInt ref{1};

    static void release(ExifValueArena *arena)
    {
        if (arena && !arena->ref.deref())
            delete arena;
    }

    // Whether no handle refers to a record any more.
    bool isIdle() const { return ref.loadAcquire() == 1; }
    // Forgets every record and begins a load; only while the arena is idle.
    void begin();
    // Ends a load: from now on every record made counts as a reference.
    void end();

    // The block buffer with room for `size` bytes, its first `keep` bytes
    // kept. Only before the first record of a load points into it.
    char *reserve(qint64 size, qint64 keep);
    const char *buffer() const { return m_buffer.get(); }

    // A new record; the handle that receives it holds its reference.
    QExifValuePrivate *make(quint16 type, quint32 count, QExifValuePrivate::Order order, const uchar *data);

private:
    static const int chunkSize = 64;
    // Held for the records of a load until it ends, more than one load can
    // make, so that each record need not count itself atomically.
    static const int loadBias = 1 << 30;

    std::unique_ptr<char[]> m_buffer;
    qint64 m_capacity = 0;
    std::vector<std::unique_ptr<QExifValuePrivate[]>> m_chunks;
    size_t m_used = 0;
    bool m_loading = false;
};

// The record of every null value: an empty BYTE value, never counted.
QExifValuePrivate *sharedNullPayload();

} // namespace Extras
