#include "TkFileInfo.h"

#include "FileUtility.h"
#include "MaporaExtrasLogging.h"
#include "QmlValues.h"
#include "TkFileFolder.h"

#include <QFile>
#include <QPointer>

using Extras::FileUtility;

TkFileInfo::TkFileInfo(QObject *parent)
    : QObject(parent)
{
}

TkFileInfo::TkFileInfo(const QString &path, QObject *parent)
    : QObject(parent)
    , m_file(path.contains(QLatin1String("file:"))
                 ? FileUtility::resolvedPath(QUrl(path, QUrl::TolerantMode), true)
                 : FileUtility::resolvedPath(path, true))
{
}

QString TkFileInfo::filePath() const
{
    return m_file.filePath();
}

void TkFileInfo::setFilePath(const QString &path)
{
    const QString resolved = FileUtility::resolvedPath(path, true);
    if (resolved == filePath())
        return;
    applyFilePath(resolved);
}

QUrl TkFileInfo::url() const
{
    return FileUtility::pathUrl(filePath());
}

void TkFileInfo::setUrl(const QUrl &url)
{
    const QUrl meant = QmlValues::documentUrl(this, url);
    if (meant == this->url())
        return;
    applyFilePath(QmlValues::urlPath(this, meant));
}

void TkFileInfo::applyFilePath(const QString &path)
{
    m_file.setFile(path);
    // A folder handed out earlier follows the file.
    if (m_folder)
        m_folder->setPath(m_file.absolutePath());
    // A handler of the first signal may destroy the object.
    const QPointer<TkFileInfo> alive(this);
    emit filePathChanged();
    if (alive)
        emit permissionsChanged();
}

bool TkFileInfo::exists() const
{
    return m_file.exists();
}

QString TkFileInfo::size() const
{
    return QString::number(m_file.size(), 10);
}

QString TkFileInfo::path() const
{
    return m_file.path();
}

QString TkFileInfo::fileName() const
{
    return m_file.fileName();
}

QString TkFileInfo::baseName() const
{
    return m_file.baseName();
}

QString TkFileInfo::suffix() const
{
    return m_file.suffix();
}

QDateTime TkFileInfo::created() const
{
    // The birth time where the file system records one, else the time of
    // the last status change, as QFileInfo::created() did.
    const QDateTime birth = m_file.birthTime();
    return birth.isValid() ? birth : m_file.metadataChangeTime();
}

QDateTime TkFileInfo::lastModified() const
{
    return m_file.lastModified();
}

bool TkFileInfo::isFile() const
{
    return m_file.isFile();
}

bool TkFileInfo::isFolder() const
{
    return m_file.isDir();
}

bool TkFileInfo::isReadable() const
{
    return m_file.isReadable();
}

bool TkFileInfo::isWritable() const
{
    return m_file.isWritable();
}

bool TkFileInfo::isNativePath() const
{
    return m_file.isNativePath();
}

bool TkFileInfo::isSymLink() const
{
    return m_file.isSymLink();
}

QString TkFileInfo::symLinkTarget() const
{
    return m_file.symLinkTarget();
}

TkFileFolder *TkFileInfo::folder()
{
    if (!m_folder)
        m_folder = new TkFileFolder(m_file.absolutePath(), this);
    return m_folder;
}

TkFileInfo::Permissions TkFileInfo::permissions() const
{
    return Permissions(int(QFile(filePath()).permissions()));
}

void TkFileInfo::refresh()
{
    m_file.refresh();
    emit filePathChanged();
}

bool TkFileInfo::setPermissions(Permissions permission)
{
    if (QFile::setPermissions(filePath(), QFileDevice::Permissions(int(permission)))) {
        emit permissionsChanged();
        return true;
    }
    qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to set permissions to" << permission << "on" << filePath();
    return false;
}

#include "moc_TkFileInfo.cpp"
