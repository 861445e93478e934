#pragma once

#include <QByteArray>
#include <QList>
#include <QSysInfo>
#include <QVector>
#include <QtEndian>

// Lays out raw TIFF blocks and JPEG streams byte by byte, independently of
// the writer under test, so that reading tests can craft any entry.
class TiffBlockBuilder
{
public:
    struct Entry
    {
        quint16 tag;
        quint16 type;
        quint32 count;
        QByteArray data;   // in file order; more than 4 bytes go after the directory
        bool hasField = false;
        quint32 field = 0; // written as the 4-byte field instead of data when hasField
    };

    explicit TiffBlockBuilder(QSysInfo::Endian order = QSysInfo::LittleEndian)
        : m_order(order)
    {
        m_block = QByteArray(order == QSysInfo::BigEndian ? "MM" : "II") + u16(42) + u32(8);
    }

    QByteArray u16(quint16 v) const
    {
        uchar b[2];
        m_order == QSysInfo::BigEndian ? qToBigEndian(v, b) : qToLittleEndian(v, b);
        return QByteArray(reinterpret_cast<char *>(b), 2);
    }
    QByteArray u32(quint32 v) const
    {
        uchar b[4];
        m_order == QSysInfo::BigEndian ? qToBigEndian(v, b) : qToLittleEndian(v, b);
        return QByteArray(reinterpret_cast<char *>(b), 4);
    }

    Entry ascii(quint16 tag, const QByteArray &text) const { return {tag, 2, quint32(text.size() + 1), text + '\0'}; }
    Entry shorts(quint16 tag, const QVector<quint16> &values) const
    {
        QByteArray data;
        for (quint16 v : values)
            data += u16(v);
        return {tag, 3, quint32(values.size()), data};
    }
    Entry longs(quint16 tag, const QVector<quint32> &values, quint16 type = 4) const
    {
        QByteArray data;
        for (quint32 v : values)
            data += u32(v);
        return {tag, type, quint32(values.size()), data};
    }
    Entry rationals(quint16 tag, const QVector<quint32> &parts, quint16 type = 5) const
    {
        Entry entry = longs(tag, parts, type);
        entry.count /= 2;
        return entry;
    }
    static Entry raw(quint16 tag, quint16 type, quint32 count, const QByteArray &data) { return {tag, type, count, data}; }
    static Entry pointing(quint16 tag, quint16 type, quint32 count, quint32 field)
    {
        return {tag, type, count, QByteArray(), true, field};
    }

    // Appends bytes to the block and returns their offset.
    quint32 append(const QByteArray &bytes)
    {
        const quint32 offset = quint32(m_block.size());
        m_block += bytes;
        return offset;
    }

    // Appends a directory followed by its out-of-line data; returns its offset.
    quint32 addDirectory(const QList<Entry> &entries, bool withLink = false, quint32 next = 0)
    {
        const quint32 start = quint32(m_block.size());
        quint32 dataOffset = start + 2 + 12 * quint32(entries.size()) + (withLink ? 4 : 0);
        QByteArray directory = u16(quint16(entries.size()));
        QByteArray data;
        for (const Entry &e : entries) {
            directory += u16(e.tag) + u16(e.type) + u32(e.count);
            if (e.hasField) {
                directory += u32(e.field);
            } else if (e.data.size() <= 4) {
                directory += e.data + QByteArray(4 - e.data.size(), '\0');
            } else {
                directory += u32(dataOffset + quint32(data.size()));
                data += e.data;
            }
        }
        if (withLink)
            directory += u32(next);
        m_block += directory + data;
        return start;
    }

    void setFirstIfd(quint32 offset) { m_block.replace(4, 4, u32(offset)); }
    QByteArray block() const { return m_block; }

    // A JPEG stream: start of image, the given segments, then a tail.
    static QByteArray jpeg(const QList<QByteArray> &segments, const QByteArray &tail = QByteArray("\xFF\xD9", 2))
    {
        QByteArray bytes("\xFF\xD8", 2);
        for (const QByteArray &s : segments)
            bytes += s;
        return bytes + tail;
    }
    static QByteArray segment(quint8 marker, const QByteArray &payload)
    {
        const int length = payload.size() + 2;
        return QByteArray("\xFF", 1) + char(marker) + char(length >> 8) + char(length & 0xFF) + payload;
    }
    static QByteArray exifSegment(const QByteArray &block) { return segment(0xE1, QByteArray("Exif\0\0", 6) + block); }

private:
    QSysInfo::Endian m_order;
    QByteArray m_block;
};
