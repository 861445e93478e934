#pragma once

#include <QDir>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include "QmlRegistration.h"

class CopyJob;
class TkFileInfo;
class TkSettings;

namespace Jobs {
class JobRelay;
}

/*!
    The QML type FileFolder: a handle on one folder, through which QML moves
    between folders, lists and creates them, builds paths and URLs for the
    files inside, and reads, writes, copies, renames and removes files.

    Paths assigned to `path` or `url` may begin with a path variable; names
    given to the methods are joined to the folder as text, never resolved
    nor percent-decoded. An empty path, or one whose variable does not
    resolve, names no folder: every operation on it fails.

    The work is done by the file layer: below the folder, nothing that is
    written, made, renamed or removed is reached through a symbolic link.

    A copy that starts is one run: copyProgress() with the percent of the
    whole copy by bytes (0 first, 100 once everything was copied), then
    exactly one copyCompleted(success) or copyCanceled(). With
    `asynchronous` set, copyFile() checks its arguments here, returns at
    once and copies on a worker; a canceled or failed background copy takes
    back what it made. Without it the run happens during the call, and only
    a cancel takes back what was made. The amounts give a bar of the whole.
*/
class TkFileFolder : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(FileFolder)
    QML_ADDED_IN_VERSION(1, 1)
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged)
    Q_PROPERTY(QUrl url READ url WRITE setUrl NOTIFY pathChanged)
    Q_PROPERTY(bool exists READ exists NOTIFY existsChanged)
    Q_PROPERTY(QString folderName READ folderName NOTIFY pathChanged)
    Q_PROPERTY(bool asynchronous READ asynchronous WRITE setAsynchronous NOTIFY asynchronousChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(qint64 processedBytes READ processedBytes NOTIFY amountsChanged)
    Q_PROPERTY(qint64 totalBytes READ totalBytes NOTIFY amountsChanged)
    Q_PROPERTY(int processedEntries READ processedEntries NOTIFY amountsChanged)
    Q_PROPERTY(int totalEntries READ totalEntries NOTIFY amountsChanged)

public:
    explicit TkFileFolder(QObject *parent = nullptr);
    TkFileFolder(const QString &path, QObject *parent);
    TkFileFolder(const QDir &dir, QObject *parent);

    QString path() const;
    void setPath(const QString &path);
    QUrl url() const;
    void setUrl(const QUrl &url);
    bool exists() const;
    QString folderName() const;
    bool asynchronous() const { return m_asynchronous; }
    void setAsynchronous(bool asynchronous);
    // True while a copy runs in the background.
    bool busy() const;
    // The run's amounts: measured before copying, notified at most every
    // 16 ms and once at the end.
    qint64 processedBytes() const;
    qint64 totalBytes() const;
    int processedEntries() const;
    int totalEntries() const;

    // Navigation, listing, folders and paths
    Q_INVOKABLE bool cdUp();
    Q_INVOKABLE bool cd(const QString &path);
    Q_INVOKABLE QStringList fileNames(const QVariant &nameFilter = QStringLiteral("*"), bool subFolders = false) const;
    Q_INVOKABLE QStringList folderNames(const QVariant &nameFilter = QStringLiteral("*"), bool subFolders = false) const;
    Q_INVOKABLE bool makeFolder();
    Q_INVOKABLE bool removeFolder();
    Q_INVOKABLE bool removeFolder(const QString &folderName, bool recursive = false);
    Q_INVOKABLE bool makePath(const QString &path) const;
    Q_INVOKABLE bool removePath(const QString &path) const;
    Q_INVOKABLE QString filePath(const QString &fileName) const;
    Q_INVOKABLE QString relativeFilePath(const QString &fileName) const;
    Q_INVOKABLE QUrl fileUrl(const QString &fileName) const;
    Q_INVOKABLE bool fileExists(const QString &fileName) const;
    Q_INVOKABLE TkFileInfo *fileInfo(const QString &fileName) const;
    Q_INVOKABLE TkFileFolder *folder(const QString &folderName) const;

    // File operations and content
    Q_INVOKABLE bool removeFile(const QString &fileName);
    Q_INVOKABLE bool renameFile(const QString &oldFileName, const QString &newFileName);
    Q_INVOKABLE bool copyFile(const QString &fileName, const QString &filePath);
    // Stops the running copy within one block; it ends with copyCanceled().
    Q_INVOKABLE void cancel();
    Q_INVOKABLE QVariant readFile(const QString &fileName, const QVariantMap &options = QVariantMap()) const;
    Q_INVOKABLE bool writeFile(const QString &fileName, const QVariant &content,
                               const QVariantMap &options = QVariantMap());
    Q_INVOKABLE QVariantMap readJsonFile(const QString &fileName) const;
    Q_INVOKABLE bool writeJsonFile(const QString &fileName, const QVariantMap &json);
    Q_INVOKABLE QString readTextFile(const QString &fileName) const;
    Q_INVOKABLE bool writeTextFile(const QString &fileName, const QString &text);
    Q_INVOKABLE TkSettings *settingsFile(const QString &fileName = QString()) const;

signals:
    void pathChanged();
    void existsChanged();
    void asynchronousChanged();
    void busyChanged();
    void amountsChanged();
    // `fileName` is the source entry being copied; `percent` that of the whole.
    void copyProgress(const QString &fileName, double percent);
    void copyCompleted(bool success);
    void copyCanceled();

private:
    class CopyObserver;

    void makeRelay();
    bool write(const QString &fileName, const QByteArray &bytes);
    bool copyHere(CopyJob &job);

    QDir m_folder;
    // False while the path names no folder.
    bool m_named = true;
    bool m_asynchronous = false;
    Jobs::JobRelay *m_relay = nullptr;
    // A copy on this thread is running, and asked to stop.
    bool m_copying = false;
    bool m_cancelRequested = false;
};
