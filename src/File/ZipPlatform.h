#pragma once

#include <QString>

#include <cstdio>

// File-system services under the ZIP classes: opening an archive file,
// reading it at an offset, telling whether two paths name the same file, and
// writing an extracted entry so that a failure leaves nothing behind. Each
// platform has one implementation file, chosen by the build.
namespace ZipPlatform {

// Which file a path names: on Unix the device and inode. The time of the
// last change of its content is no part of the identity.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 modifiedNs = 0;
    bool valid = false;

    bool operator==(const FileIdentity &other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};

// Opens an existing regular file for reading. Gives null and a reason for
// anything else (a folder, a pipe, a device, a missing or unreadable file);
// `identity` and `size` tell what was found whenever something was.
FILE *openArchive(const QString &path, FileIdentity *identity, quint64 *size, QString *reason);

// Reads exactly `size` bytes at `offset` without moving the stream's position.
bool readAt(FILE *file, quint64 offset, char *data, qint64 size);

// The entry at `path` itself: a symbolic link is not followed.
FileIdentity identityOf(const QString &path);

// Whether this platform reads the entry name as one on a drive ("C:x",
// "c:/x"): only where drive letters exist.
bool namesADrive(const QString &entryName);

// Whether a folder exists at `path` (following links), creating it when not;
// its parent must exist.
bool makeFolder(const QString &path);

/*!
    The output of one extracted entry. A regular file at the target is
    replaced only once the new content is complete: the bytes go to a
    temporary file beside the target, which commit() renames over it. Until
    then, and whenever commit() is not reached, the previous file stays as it
    was and the temporary file is removed. Where nothing exists yet, the file
    is made under its own name and removed again unless commit() is reached.
    A pipe or a device at the target is what the caller named and is written
    in place; a symbolic link is replaced by the file, never followed.
*/
class ReplacingFile
{
public:
    explicit ReplacingFile(const QString &targetPath);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Looks at what the path names now; false when that cannot be told.
    bool inspect();
    // What inspect() found at the path: invalid when nothing was there.
    FileIdentity existing() const { return m_existing; }
    // The read, write and execute bits a new file gets, under the umask;
    // 0666 unless set. A replaced file keeps those it had.
    void setPermissions(unsigned permissions) { m_permissions = permissions & 0777; }
    // Opens the file the bytes go to (inspecting first if not done yet).
    bool open();
    // Writes all of `data` or fails.
    bool write(const char *data, qint64 size);
    // Where the bytes are written until commit(): the temporary file, or the
    // target itself when it is new or written in place.
    QString writtenPath() const { return m_writtenPath; }
    bool writesInPlace() const { return m_inPlace; }
    // Gives the file this access and modification time (seconds since
    // 1970-01-01 UTC) before it is put in place.
    bool setTimes(qint64 secondsSinceEpoch);
    // Closes the file and puts it in place.
    bool commit();
    // What the last failed call met, as the system describes it.
    QString errorString() const { return m_errorString; }

private:
    void fail(int error);
    void discard();

    QString m_targetPath;
    QString m_writtenPath;
    int m_fd = -1;
    bool m_inspected = false;
    bool m_exists = false;
    unsigned m_mode = 0;
    unsigned m_permissions = 0666;
    unsigned m_owner = 0;
    unsigned m_group = 0;
    FileIdentity m_existing;
    bool m_inPlace = false;
    bool m_created = false;
    bool m_committed = false;
    QString m_errorString;
};

} // namespace ZipPlatform
