#pragma once

#include "FileLayer.h"
#include "ZipDirectory.h"
#include "ZipEntryStream.h"
#include "ZipNameIndex.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

/*!
    One ZIP archive open for reading: its entries in archive order, lookups
    by name, and streams of the entries' data.

    The central directory is read here (ZipDirectory), with the entries'
    names, DOS time stamps as stored, local header offsets for the overlap
    check, and the start of an archive behind a prefix. The entries' data
    come from ZipEntryStream. A reader is used by one thread at a time.
*/
class ZipReader
{
public:
    // Data are read and written in blocks of this size.
    static constexpr int BufferSize = 256 * 1024;

    // What an open met at the path, to tell whether the same file is met again.
    using FileState = Extras::FileLayer::FileState;

    // Null, with the reason, when the file cannot be opened or is no
    // archive. `state` receives what was found at the path. With `unless`,
    // a file in just that state is not read again: null, `unchanged` set.
    static std::unique_ptr<ZipReader> open(const QString &path, QString *reason, FileState *state = nullptr,
                                           const FileState *unless = nullptr, bool *unchanged = nullptr);
    // Another reader of the same open file and the same directory, read
    // once: for another thread, which then needs no parsing of its own.
    // Null, with the reason, when the file's handle cannot be shared.
    std::unique_ptr<ZipReader> share(QString *reason) const;
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    const QString &path() const { return m_path; }
    int count() const { return int(m_directory->size()); }
    QString name(int index) const { return m_directory->name(size_t(index)); }
    ZipDirectory::Entry entry(int index) const { return m_directory->entry(size_t(index)); }
    // The first entry of that name, or -1. Without case, an exact match
    // still wins over one that differs in case only. The first lookup of
    // each kind indexes all names.
    int indexOf(const QString &name, bool caseSensitive) const;
    // Names of file entries, and of folder entries without their "/".
    const QStringList &fileNames() const;
    const QStringList &folderNames() const;
    // The entry's time stamp (a local time in the archive), in UTC. Entries
    // often share one: the last conversion is kept, as each one reads the
    // time zone again.
    QDateTime lastModified(int index);
    // The archive file, to keep extraction from writing over it.
    Extras::FileLayer::FileId identity() const { return m_identity; }

    // The entry's data, or null with the reason.
    std::unique_ptr<ZipEntryStream> openEntry(int index, ZipError *error) const;
    // Scratch space of BufferSize bytes for the entries' data.
    char *buffer();

private:
    ZipReader() = default;
    void listNames() const;

    QString m_path;
    FILE *m_file = nullptr;
    std::shared_ptr<const ZipDirectory> m_directory;
    Extras::FileLayer::FileId m_identity;
    QByteArray m_buffer;
    quint32 m_convertedDos = 0;
    QDateTime m_converted;
    mutable bool m_listed = false;
    mutable QStringList m_fileNames;
    mutable QStringList m_folderNames;
    mutable ZipNameIndex m_exact{ZipNameIndex::Kind::Exact};
    mutable ZipNameIndex m_folded{ZipNameIndex::Kind::IgnoringCase};
};
