#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

struct zip;

/*!
    A ZIP archive being created at a path, on libzip. Entries are added from
    files; libzip reads and deflates their data when the archive is finished,
    writing it beside the path and renaming it into place, so that a failure
    leaves the file at the path as it was.

    Sizes and offsets that need Zip64 get it; non-ASCII names carry the UTF-8
    flag; every entry records the Unix permissions of its source ("made by"
    Unix) and its modification time as a DOS time stamp, which covers
    1980-01-01 to 2107-12-31: times outside are clamped to those limits.
*/
class ZipWriter
{
public:
    // Null, with the reason, when the archive cannot be created.
    static std::unique_ptr<ZipWriter> create(const QString &path, QString *reason);
    ~ZipWriter();
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    // Adds the file at `sourcePath` as entry `name`. False, with libzip's
    // error code and its text, when the entry cannot be made.
    bool add(const QString &sourcePath, const QString &name, const QString &comment, int *code, QString *reason);
    // Writes the archive and closes it; an archive without entries is the
    // 22 bytes of an empty end record.
    bool finish(QString *reason);

    // The DOS date (high 16 bits) and time (low 16 bits) for a local time.
    static quint32 dosDateTime(const QDateTime &local);

private:
    ZipWriter() = default;

    zip *m_archive = nullptr;
    QString m_path;
};
