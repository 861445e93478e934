#pragma once

#include "ZipDirectory.h"
#include "ZipPlatform.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

struct zip;
struct zip_file;

/*!
    One ZIP archive open for reading: its entries in archive order, lookups
    by name, and streams of the entries' data.

    libzip reads the data (inflating, checking CRCs); the central directory
    is also read here (ZipDirectory), which gives what libzip does not: the
    DOS time stamps as stored, local header offsets for the overlap check,
    and the start of an archive behind a prefix, which libzip is then given
    as a window of the file.

    Entry names come from libzip: UTF-8 when flagged or when the bytes are
    valid UTF-8, code page 437 otherwise (and the Info-ZIP Unicode path field
    where present). A reader is used by one thread at a time.
*/
class ZipReader
{
public:
    // What libzip reported: its error code and, for the codes that carry
    // one, the system's error number or zlib's status.
    struct Error {
        int zip = 0;
        int system = 0;
        QString text;
    };

    // The uncompressed data of one entry, CRC checked at its end.
    class Stream
    {
    public:
        ~Stream();
        Stream(const Stream &) = delete;
        Stream &operator=(const Stream &) = delete;
        // Up to `size` bytes; 0 at the end; -1 on failure, described by error().
        qint64 read(char *data, qint64 size);
        Error error() const;

    private:
        friend class ZipReader;
        explicit Stream(zip_file *file);
        zip_file *m_file;
    };

    // Data are read and written in blocks of this size.
    static constexpr int BufferSize = 256 * 1024;

    // Null, with the reason, when the file cannot be opened or is no archive.
    static std::unique_ptr<ZipReader> open(const QString &path, QString *reason);
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    const QString &path() const { return m_path; }
    int count() const { return m_names.size(); }
    const QString &name(int index) const { return m_names.at(index); }
    const ZipDirectory::Entry &entry(int index) const { return m_directory.entries().at(index); }
    // The first entry of that name, or -1. Without case, an exact match
    // still wins over one that differs in case only.
    int indexOf(const QString &name, bool caseSensitive) const;
    // Names of file entries, and of folder entries without their "/".
    const QStringList &fileNames() const;
    const QStringList &folderNames() const;
    // The entry's time stamp (a local time in the archive), in UTC. Entries
    // often share one: the last conversion is kept, as each one reads the
    // time zone again.
    QDateTime lastModified(int index);
    // The archive file, to keep extraction from writing over it.
    ZipPlatform::FileIdentity identity() const { return m_identity; }

    std::unique_ptr<Stream> openEntry(int index, Error *error) const;
    // Scratch space of BufferSize bytes for the entries' data.
    char *buffer();

private:
    ZipReader() = default;
    void listNames() const;

    QString m_path;
    zip *m_archive = nullptr;
    ZipDirectory m_directory;
    ZipPlatform::FileIdentity m_identity;
    QVector<QString> m_names;
    QByteArray m_buffer;
    quint32 m_convertedDos = 0;
    QDateTime m_converted;
    mutable bool m_listed = false;
    mutable QStringList m_fileNames;
    mutable QStringList m_folderNames;
    mutable QHash<QString, int> m_exact;
    mutable QHash<QString, int> m_folded;
};
