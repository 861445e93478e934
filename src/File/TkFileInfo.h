#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QObject>
#include <QUrl>
#include "QmlRegistration.h"

class TkFileFolder;

/*!
    The QML type FileInfo: names, size, dates, kind and permissions of one
    path, and the folder that holds it. Information is read once and cached
    until refresh() or a new path; permissions are read afresh every time.

    setFilePath() and setUrl() are virtual so that a derived class (ExifInfo)
    sees QML assignments of either property.
*/
class TkFileInfo : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(FileInfo)
    QML_ADDED_IN_VERSION(1, 1)
    Q_PROPERTY(QString filePath READ filePath WRITE setFilePath NOTIFY filePathChanged)
    Q_PROPERTY(QUrl url READ url WRITE setUrl NOTIFY filePathChanged)
    Q_PROPERTY(bool exists READ exists NOTIFY filePathChanged)
    Q_PROPERTY(QString size READ size NOTIFY filePathChanged)
    Q_PROPERTY(QString path READ path NOTIFY filePathChanged)
    Q_PROPERTY(QString fileName READ fileName NOTIFY filePathChanged)
    Q_PROPERTY(QString baseName READ baseName NOTIFY filePathChanged)
    Q_PROPERTY(QString suffix READ suffix NOTIFY filePathChanged)
    Q_PROPERTY(QDateTime created READ created NOTIFY filePathChanged)
    Q_PROPERTY(QDateTime lastModified READ lastModified NOTIFY filePathChanged)
    Q_PROPERTY(bool isFile READ isFile NOTIFY filePathChanged)
    Q_PROPERTY(bool isFolder READ isFolder NOTIFY filePathChanged)
    Q_PROPERTY(bool isReadable READ isReadable NOTIFY filePathChanged)
    Q_PROPERTY(bool isWritable READ isWritable NOTIFY filePathChanged)
    Q_PROPERTY(bool isNativePath READ isNativePath NOTIFY filePathChanged)
    Q_PROPERTY(bool isSymLink READ isSymLink NOTIFY filePathChanged)
    Q_PROPERTY(QString symLinkTarget READ symLinkTarget NOTIFY filePathChanged)
    Q_PROPERTY(TkFileFolder *folder READ folder NOTIFY filePathChanged)
    Q_PROPERTY(Permissions permissions READ permissions WRITE setPermissions NOTIFY permissionsChanged)

public:
    // The values of QFileDevice::Permission, bit for bit.
    enum Permission {
        ReadOwner = 0x4000,
        WriteOwner = 0x2000,
        ExeOwner = 0x1000,
        ReadUser = 0x0400,
        WriteUser = 0x0200,
        ExeUser = 0x0100,
        ReadGroup = 0x0040,
        WriteGroup = 0x0020,
        ExeGroup = 0x0010,
        ReadOther = 0x0004,
        WriteOther = 0x0002,
        ExeOther = 0x0001
    };
    Q_ENUM(Permission)
    Q_DECLARE_FLAGS(Permissions, Permission)
    Q_FLAG(Permissions)

    explicit TkFileInfo(QObject *parent = nullptr);
    TkFileInfo(const QString &path, QObject *parent);

    QString filePath() const;
    virtual void setFilePath(const QString &path);
    QUrl url() const;
    virtual void setUrl(const QUrl &url);

    bool exists() const;
    QString size() const;
    QString path() const;
    QString fileName() const;
    QString baseName() const;
    QString suffix() const;
    QDateTime created() const;
    QDateTime lastModified() const;
    bool isFile() const;
    bool isFolder() const;
    bool isReadable() const;
    bool isWritable() const;
    bool isNativePath() const;
    bool isSymLink() const;
    QString symLinkTarget() const;
    TkFileFolder *folder();
    Permissions permissions() const;

    Q_INVOKABLE void refresh();
    Q_INVOKABLE bool setPermissions(Permissions permission);

signals:
    void filePathChanged();
    void permissionsChanged();

protected:
    QFileInfo m_file;

private:
    void applyFilePath(const QString &path);

    TkFileFolder *m_folder = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TkFileInfo::Permissions)
