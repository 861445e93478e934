#pragma once

#include "FileLayer.h"
#include "ZipDeflatePool.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

namespace Jobs {
class Observer;
}

/*!
    Writes a ZIP archive, entry by entry, into an archive file of the file
    layer (empty when given, not owned). Each entry's data are read from a
    source file of the layer and deflated by a ZipDeflatePool, on the
    pool's threads and possibly before the entry's turn; the writer takes
    them in order and checks them as one reader of the source would; the local
    header is completed in place afterwards, so readers that stream the
    archive see every size in it. An entry that fails leaves nothing: the
    archive is cut back to where the entry began, and the entries before and
    after it are unaffected.

    A source must still be the file that was named: the state it was named
    in when it is opened, exactly that many bytes, and the same state once
    read. Anything else fails its entry with SourceChanged.

    Sizes and offsets that need Zip64 get it; non-ASCII names carry the UTF-8
    flag; every entry records the Unix mode of its source ("made by" Unix)
    and its modification time as a DOS time stamp, which covers 1980-01-01
    to 2107-12-31: times outside are clamped to those limits.
*/
class ZipStreamWriter
{
public:
    // An open source and what it was when it was named.
    struct Source
    {
        Extras::FileLayer::InputFile *file = nullptr;
        Extras::FileLayer::FileState state;
        // Read, write and execute bits.
        quint32 permissions = 0644;
    };

    enum class Status {
        Added,
        // The source is no longer the file that was named, or gave fewer
        // or more bytes than its size.
        SourceChanged,
        ReadFailed,
        // A name or comment longer than a ZIP header can hold.
        NameTooLong,
        // The archive file could not be written: nothing more can be added.
        WriteFailed,
        Canceled
    };

    ZipStreamWriter(Extras::FileLayer::OutputFile &archive, ZipDeflatePool &pool);
    // Called between the pieces of an entry, to queue more for the pool.
    void setReadAhead(std::function<void()> readAhead) { m_readAhead = std::move(readAhead); }

    // Adds `source` as the entry `name`. The observer, when given, gets
    // the entry's progress (as its name, no output) once per 4096 bytes and
    // the bytes read; it is asked before each block whether to stop.
    Status add(const QString &name, const QString &comment, const Source &source, Jobs::Observer *observer);
    // Writes the central directory and the end records; false when a write
    // failed now or before.
    bool finish();

    int entryCount() const { return int(m_entries.size()); }
    // Bytes the last add() read from its source.
    quint64 lastRead() const { return m_lastRead; }

    // The DOS date (high 16 bits) and time (low 16 bits) for a local time.
    static quint32 dosDateTime(const QDateTime &local);

private:
    struct Entry
    {
        QByteArray name;
        QByteArray comment;
        quint32 dosTime = 0;
        quint32 crc = 0;
        quint64 compressedSize = 0;
        quint64 size = 0;
        quint64 offset = 0;
        quint32 mode = 0;
        bool utf8 = false;
    };

    Status copyData(const QString &name, const Source &source, Entry *entry, Jobs::Observer *observer);
    Status writePieces(const QString &name, ZipDeflatePool::Entry &data, Entry *entry, Jobs::Observer *observer);
    bool completeLocalHeader(const Entry &entry, bool zip64);
    bool write(const char *data, qint64 size);
    // Drops an entry that failed; false (and the archive unusable) when
    // the file cannot be cut back.
    bool cutBackTo(quint64 offset);

    Extras::FileLayer::OutputFile &m_archive;
    ZipDeflatePool &m_pool;
    std::function<void()> m_readAhead;
    quint64 m_offset = 0;
    quint64 m_lastRead = 0;
    bool m_broken = false;
    std::vector<Entry> m_entries;
};
