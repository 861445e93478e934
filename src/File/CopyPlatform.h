#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// File-system services under folder copies: a folder held open while its
// entries are copied, its entries as one read of the folder gives them, and
// the copy of a regular file from one open folder into another. Each
// platform has one implementation file, chosen by the build.
namespace CopyPlatform {

// One entry of a folder. `isFile` is true when the entry itself (not what
// a link points to) is a regular file.
struct FolderEntry {
    QByteArray name;
    bool isFile = false;
};

/*!
    A folder opened once, so that its entries are listed, opened and created
    relative to it instead of through their whole path each time.
*/
class OpenFolder
{
public:
    OpenFolder() = default;
    ~OpenFolder();
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;

    // Opens the folder at `path`, following links; false when no folder
    // can be opened there.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_handle >= 0; }

    // All entries but "." and "..", in no particular order; false when the
    // folder cannot be read in full.
    bool entries(QVector<FolderEntry> *entries) const;

    // Copies the regular file `name` of this folder to a new file `name` in
    // `target` as QFile::copy copies a file: all its bytes, its permission
    // bits without the set-id and sticky bits, the owner's bits widened to
    // what the user (by real ids) may do with the source, and the current
    // time. False when the source is not a regular file the user may read,
    // when anything exists at the target name, or when a step fails; then
    // nothing is left at the target name.
    bool copyFileTo(const QByteArray &name, const OpenFolder &target) const;

private:
    int m_handle = -1;
};

} // namespace CopyPlatform
