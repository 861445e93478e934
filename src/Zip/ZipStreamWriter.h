#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace Jobs {
class Observer;
}

/*!
    Writes a ZIP archive, entry by entry, into a file open for writing
    (empty, seekable, not owned). Each entry's data are read from an open
    file, deflated and checked as they go; the local header is completed in
    place afterwards, so readers that stream the archive see every size in
    it. An entry that fails leaves nothing: the archive is cut back to where
    the entry began, and the entries before and after it are unaffected.

    Sizes and offsets that need Zip64 get it; non-ASCII names carry the UTF-8
    flag; every entry records the Unix mode of its source ("made by" Unix)
    and its modification time as a DOS time stamp, which covers 1980-01-01
    to 2107-12-31: times outside are clamped to those limits.
*/
class ZipStreamWriter
{
public:
    // What the caller knows of a source: its size and mode when it was
    // opened, and its modification time.
    struct Source
    {
        int handle = -1;
        quint64 size = 0;
        quint32 mode = 0100644;
        QDateTime lastModified;
    };

    enum class Status {
        Added,
        // The source gave fewer or more bytes than its size, or could not be read.
        SourceChanged,
        ReadFailed,
        WriteFailed,
        Canceled
    };

    explicit ZipStreamWriter(int archiveHandle);

    // Adds `source` as the entry `name`. Progress goes to `observer` (as
    // the entry's name, no output) once per 4096 bytes, and it is asked
    // before each block whether to stop.
    Status add(const QString &name, const QString &comment, const Source &source, Jobs::Observer *observer);
    // Writes the central directory and the end records; false when a write failed.
    bool finish();

    int entryCount() const { return int(m_entries.size()); }
    // The last failure of the system, for messages.
    int lastError() const { return m_error; }

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

    Status copyData(const QString &name, const Source &source, Entry *entry, quint64 *compressed,
                    Jobs::Observer *observer);
    bool completeLocalHeader(const Entry &entry, bool zip64);
    bool write(const char *data, qint64 size);
    bool writeAt(quint64 offset, const QByteArray &bytes);
    void cutBackTo(quint64 offset);

    int m_handle;
    quint64 m_offset = 0;
    int m_error = 0;
    std::vector<Entry> m_entries;
};
