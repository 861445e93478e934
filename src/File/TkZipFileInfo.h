#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QObject>
#include <QString>
#include "QmlRegistration.h"

#include "ZipDirectory.h"

/*!
    The QML type ZipFileInfo: a read-only snapshot of one archive entry,
    made by ZipArchive.fileInfo(). It keeps the name as the caller asked for
    it and a copy of the entry's record, and never refers back to the
    archive, so it stays valid after the archive is closed or destroyed.

    The name is held in a QFileInfo for its text operations only; nothing
    here touches the disk.
*/
class TkZipFileInfo : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(ZipFileInfo)
    QML_UNCREATABLE("The Quil Mapora Extras type ZipFileInfo is not creatable")
    QML_ADDED_IN_VERSION(1, 1)
    Q_PROPERTY(QString filePath READ filePath NOTIFY filePathChanged)
    Q_PROPERTY(QString size READ size NOTIFY filePathChanged)
    Q_PROPERTY(QString compressedSize READ compressedSize NOTIFY filePathChanged)
    Q_PROPERTY(QString path READ path NOTIFY filePathChanged)
    Q_PROPERTY(QString fileName READ fileName NOTIFY filePathChanged)
    Q_PROPERTY(QString suffix READ suffix NOTIFY filePathChanged)
    Q_PROPERTY(QDateTime lastModified READ lastModified NOTIFY filePathChanged)
    // The engine has no conversion for unsigned long and would hand scripts
    // a wrapped variant (crc + 1 concatenates text): QML gets the CRC-32 as
    // a 32-bit number, native code keeps the ulong accessor.
    Q_PROPERTY(uint crc READ crc NOTIFY filePathChanged)

public:
    explicit TkZipFileInfo(QObject *parent = nullptr);
    TkZipFileInfo(const QString &filePath, const ZipEntryRecord &info, QObject *parent = nullptr);
    ~TkZipFileInfo() override;

    QString filePath() const;
    // Uncompressed and compressed sizes in bytes, as decimal text.
    QString size() const;
    QString compressedSize() const;
    QString path() const;
    QString fileName() const;
    QString suffix() const;
    // Local date-time of the entry's record; invalid when the record holds
    // no real date.
    QDateTime lastModified() const;
    ulong crc() const;

signals:
    void filePathChanged();

private:
    QFileInfo m_file;
    ZipEntryRecord m_info;
};
