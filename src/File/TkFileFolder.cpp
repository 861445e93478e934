#include "TkFileFolder.h"

#include "FileUtility.h"
#include "FolderListing.h"
#include "JsonUtility.h"
#include "MaporaExtrasLogging.h"
#include "TkFileInfo.h"
#include "TkSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QQmlEngine>

using Extras::FileUtility;

namespace {

// A file: URL becomes its local path; resource paths and the empty name
// stay as they are. Path variables are not resolved.
QString normalizedName(const QString &name)
{
    if (QFileInfo(name).isNativePath())
        return FileUtility::uriToString(QUrl(name, QUrl::TolerantMode));
    return name;
}

QStringList nameFilters(const QVariant &nameFilter)
{
    if (nameFilter.canConvert<QStringList>())
        return nameFilter.toStringList();
    return QStringList{nameFilter.toString()};
}

// The canonical form of a path that need not exist yet: its deepest existing
// ancestor resolved, followed by the rest of the path.
QString canonicalDestination(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString probe = absolute;
    while (!QFileInfo::exists(probe)) {
        const QString parent = QFileInfo(probe).path();
        if (parent == probe)
            return absolute;
        probe = parent;
    }
    return QDir::cleanPath(QFileInfo(probe).canonicalFilePath() + absolute.mid(probe.size()));
}

bool isSameOrInside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

TkFileFolder::TkFileFolder(QObject *parent)
    : QObject(parent)
    , m_folder(QDir::temp())
{
    connect(this, &TkFileFolder::pathChanged, this, &TkFileFolder::existsChanged);
}

TkFileFolder::TkFileFolder(const QString &path, QObject *parent)
    : QObject(parent)
    , m_folder(FileUtility::resolvedPath(path, true))
{
    connect(this, &TkFileFolder::pathChanged, this, &TkFileFolder::existsChanged);
}

TkFileFolder::TkFileFolder(const QDir &dir, QObject *parent)
    : QObject(parent)
    , m_folder(dir)
{
    connect(this, &TkFileFolder::pathChanged, this, &TkFileFolder::existsChanged);
}

QString TkFileFolder::path() const
{
    return m_folder.absolutePath();
}

void TkFileFolder::setPath(const QString &path)
{
    const QString resolved = FileUtility::resolvedPath(path, true);
    if (resolved == this->path())
        return;
    m_folder.setPath(resolved);
    emit pathChanged();
}

QUrl TkFileFolder::url() const
{
    return FileUtility::pathUrl(path());
}

void TkFileFolder::setUrl(const QUrl &url)
{
    setPath(FileUtility::resolvedPath(url, true));
}

bool TkFileFolder::exists() const
{
    return m_folder.exists();
}

QString TkFileFolder::folderName() const
{
    return m_folder.dirName();
}

bool TkFileFolder::cdUp()
{
    if (!m_folder.cdUp())
        return false;
    emit pathChanged();
    return true;
}

bool TkFileFolder::cd(const QString &path)
{
    if (!m_folder.cd(path))
        return false;
    emit pathChanged();
    return true;
}

QStringList TkFileFolder::fileNames(const QVariant &nameFilter, bool subFolders) const
{
    return Extras::FolderListing::names(m_folder, nameFilters(nameFilter), subFolders, true);
}

QStringList TkFileFolder::folderNames(const QVariant &nameFilter, bool subFolders) const
{
    return Extras::FolderListing::names(m_folder, nameFilters(nameFilter), subFolders, false);
}

bool TkFileFolder::makeFolder()
{
    if (path().isEmpty()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No path";
        return false;
    }
    if (m_folder.exists())
        return true;
    const QDir parent(QFileInfo(path()).path());
    if (!parent.mkpath(folderName())) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Error creating:" << parent << folderName();
        return false;
    }
    emit existsChanged();
    return true;
}

bool TkFileFolder::removeFolder()
{
    if (path().isEmpty()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No path";
        return false;
    }
    if (!m_folder.exists())
        return true;
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << m_folder.path();
    QDir folder(m_folder);
    return folder.removeRecursively();
}

bool TkFileFolder::removeFolder(const QString &folderName, bool recursive)
{
    const QString name = normalizedName(folderName);
    QDir target(m_folder.absoluteFilePath(name));
    if (!target.exists())
        return true;
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << folderName << recursive << target.path();
    if (recursive)
        return target.removeRecursively();
    return target.rmdir(target.path());
}

bool TkFileFolder::makePath(const QString &path) const
{
    const bool ok = m_folder.mkpath(path);
    if (!ok)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Error creating:" << path;
    return ok;
}

bool TkFileFolder::removePath(const QString &path) const
{
    const bool ok = m_folder.rmpath(path);
    if (!ok)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Error removing:" << path;
    return ok;
}

QString TkFileFolder::filePath(const QString &fileName) const
{
    return m_folder.absoluteFilePath(fileName);
}

QString TkFileFolder::relativeFilePath(const QString &fileName) const
{
    return m_folder.relativeFilePath(fileName);
}

QUrl TkFileFolder::fileUrl(const QString &fileName) const
{
    const QFileInfo info(m_folder.absoluteFilePath(fileName));
    if (info.isNativePath())
        return QUrl::fromLocalFile(info.filePath());
    return QUrl(QStringLiteral("qrc") + info.filePath());
}

bool TkFileFolder::fileExists(const QString &fileName) const
{
    return m_folder.exists(normalizedName(fileName));
}

TkFileInfo *TkFileFolder::fileInfo(const QString &fileName) const
{
    auto *info = new TkFileInfo(m_folder.absoluteFilePath(fileName), nullptr);
    QQmlEngine::setObjectOwnership(info, QQmlEngine::JavaScriptOwnership);
    return info;
}

TkFileFolder *TkFileFolder::folder(const QString &folderName) const
{
    auto *folder = new TkFileFolder(m_folder.absoluteFilePath(folderName), nullptr);
    QQmlEngine::setObjectOwnership(folder, QQmlEngine::JavaScriptOwnership);
    return folder;
}

bool TkFileFolder::removeFile(const QString &fileName)
{
    return m_folder.remove(normalizedName(fileName));
}

bool TkFileFolder::renameFile(const QString &oldFileName, const QString &newFileName)
{
    return m_folder.rename(normalizedName(oldFileName), normalizedName(newFileName));
}

bool TkFileFolder::copyFile(const QString &fileName, const QString &filePath)
{
    const QString source = m_folder.absoluteFilePath(normalizedName(fileName));
    QString target = FileUtility::uriToString(QUrl(filePath));

    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "File doesn't exist:" << source;
        return false;
    }
    if (!sourceInfo.isReadable()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "File is not readable:" << source;
        return false;
    }

    target = FileUtility::resolvedPath(target, true);

    if (sourceInfo.isDir()) {
        // A target inside the source would be listed while it is filled and
        // the copy would nest copies of itself until a step fails.
        if (isSameOrInside(canonicalDestination(target), sourceInfo.canonicalFilePath())) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Target is inside the source folder:" << source << "->"
                                      << target;
            return false;
        }
        return copyFolder(source, target);
    }

    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Target file already exists:" << target;
        return false;
    }

    const bool ok = QFile::copy(source, target);
    if (!ok)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "File copy failed: " << source << "to" << target;
    return ok;
}

bool TkFileFolder::copyFolder(const QString &sourcePath, const QString &targetPath)
{
    if (!QFileInfo(sourcePath).isDir()) {
        const bool ok = copyFile(sourcePath, targetPath);
        if (!ok)
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "copyFile failed:" << sourcePath << "->" << targetPath;
        return ok;
    }

    // Linked folders are copied as real folders; a link back to a folder
    // being copied above would nest copies until a step fails.
    const QString canonical = QFileInfo(sourcePath).canonicalFilePath();
    if (m_foldersBeingCopied.contains(canonical)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Folder links back into the copy:" << sourcePath << "->"
                                  << targetPath;
        return false;
    }

    QDir target(targetPath);
    if (!target.exists() && !target.mkpath(target.absolutePath())) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "mkpath failed:" << target.path() << "("
                                  << QFileInfo(targetPath).fileName() << ")";
        return false;
    }

    const QDir source(sourcePath);
    const QStringList entries = source.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden
                                                 | QDir::System);
    m_foldersBeingCopied.append(canonical);
    bool ok = true;
    for (const QString &entry : entries) {
        ok = copyFolder(source.filePath(entry), target.filePath(entry));
        if (!ok)
            break;
    }
    m_foldersBeingCopied.removeLast();
    return ok;
}

QVariant TkFileFolder::readFile(const QString &fileName, const QVariantMap &options) const
{
    const QByteArray bytes = FileUtility::readFile(m_folder.absoluteFilePath(fileName));
    const QString encode = options.value(QStringLiteral("encode")).toString();
    if (encode.compare(QLatin1String("base64"), Qt::CaseInsensitive) == 0)
        return bytes.toBase64();
    if (encode.compare(QLatin1String("hex"), Qt::CaseInsensitive) == 0)
        return bytes.toHex();
    return bytes;
}

bool TkFileFolder::writeFile(const QString &fileName, const QVariant &content, const QVariantMap &options)
{
    const QString decode = options.value(QStringLiteral("decode")).toString();
    QByteArray bytes;
    if (decode.compare(QLatin1String("base64"), Qt::CaseInsensitive) == 0)
        bytes = QByteArray::fromBase64(content.toString().toLatin1());
    else if (decode.compare(QLatin1String("hex"), Qt::CaseInsensitive) == 0)
        bytes = QByteArray::fromHex(content.toString().toLatin1());
    else
        bytes = content.toByteArray();
    return FileUtility::writeFile(m_folder.absoluteFilePath(fileName), bytes);
}

QVariantMap TkFileFolder::readJsonFile(const QString &fileName) const
{
    return Extras::JsonUtility::readFile(m_folder.absoluteFilePath(fileName));
}

bool TkFileFolder::writeJsonFile(const QString &fileName, const QVariantMap &json)
{
    return Extras::JsonUtility::writeFile(m_folder.absoluteFilePath(fileName), json);
}

QString TkFileFolder::readTextFile(const QString &fileName) const
{
    return readUtf8File(m_folder.absoluteFilePath(fileName));
}

bool TkFileFolder::writeTextFile(const QString &fileName, const QString &text)
{
    return writeUtf8File(m_folder.absoluteFilePath(fileName), text);
}

TkSettings *TkFileFolder::settingsFile(const QString &fileName) const
{
    const QString name = fileName.isEmpty() ? QStringLiteral("settings.ini") : fileName;
    auto *settings = new TkSettings(m_folder.filePath(name), QSettings::IniFormat, nullptr);
    QQmlEngine::setObjectOwnership(settings, QQmlEngine::JavaScriptOwnership);
    return settings;
}

#include "moc_TkFileFolder.cpp"
