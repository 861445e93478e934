#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include <memory>

/*!
    An INI file of a folder as a settings store sees it. QSettings reads and
    writes its file by path, following links and waiting on pipes; so it
    works on a private copy in a folder of this process instead, and every
    access to the real file goes through the file layer: read only when it
    is a regular file (never a link, never waited on), written only as a
    regular file, replaced whole where nobody can tell, never through a
    link. A file that is anything else is refused: its values are not
    stored there.

    Stores on the same file share one copy, so that what one synchronizes
    the others read, as stores on one QSettings file do.
*/
class SettingsFile
{
public:
    // The file `name` of `folder` (relative names below it).
    static std::shared_ptr<SettingsFile> open(const QDir &folder, const QString &name);
    ~SettingsFile();
    SettingsFile(const SettingsFile &) = delete;
    SettingsFile &operator=(const SettingsFile &) = delete;

    // The file as the store shows it: `name` joined to the folder's path.
    const QString &path() const { return m_path; }
    // The private copy the store works on.
    const QString &copyPath() const { return m_copyPath; }

    // Brings the copy up to date when the file changed; false, with a
    // warning, when the file is refused.
    bool refresh();
    // Writes the copy to the file when it differs from what was read last;
    // false, with a warning, when that is refused or fails.
    bool publish();

private:
    SettingsFile(const QString &folder, const QString &name, const QString &path, const QString &copyPath);

    QString m_folder;
    QString m_name;
    QString m_path;
    QString m_copyPath;
    // The file's content as read or written last, which the copy holds
    // unless the store changed it since.
    QByteArray m_known;
    bool m_refused = false;
};
