#include "TkFileFolder.h"

#include "CopyPlatform.h"
#include "FilePlatform.h"
#include "FileUtility.h"
#include "FolderListing.h"
#include "JsonUtility.h"
#include "MaporaExtrasLogging.h"
#include "QmlValues.h"
#include "TkFileInfo.h"
#include "TkSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QQmlContext>
#include <QQmlEngine>

#include <algorithm>

using Extras::FileUtility;
namespace FilePlatform = Extras::FilePlatform;

namespace {

// A name names exactly that entry: it is joined to the folder as text, so
// "%41.txt", "100%.txt" and "a\\b" are names like any other. Only an
// absolute file: URL is turned into its local path. Path variables are not
// resolved.
QString normalizedName(const QString &name)
{
    if (name.startsWith(QLatin1String("file:/"), Qt::CaseInsensitive)) {
        const QUrl url(name, QUrl::TolerantMode);
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return name;
}

// Whether something stands at `path`, a symbolic link counting as itself:
// a dangling link exists, and writing through it would create its target.
bool entryExists(const QString &path)
{
    return FilePlatform::entryType(path, false) != FilePlatform::EntryType::Missing;
}

QStringList nameFilters(const QVariant &nameFilter)
{
    if (nameFilter.canConvert<QStringList>())
        return nameFilter.toStringList();
    return QStringList{nameFilter.toString()};
}

// The canonical form of a path that need not exist yet, as the kernel
// resolves it: the deepest part that exists is resolved by the kernel (so
// in "link/../x" the ".." applies to the link's target), the rest will be
// made of new folders and is cleaned as text. Nothing is cleaned before
// that: cleaning "link/../x" to "x" first names another place.
QString canonicalDestination(const QString &path)
{
    QString probe = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    QString rest;
    while (!QFileInfo::exists(probe)) {
        const int slash = probe.lastIndexOf(QLatin1Char('/'));
        rest.prepend(probe.mid(slash));
        probe = slash > 0 ? probe.left(slash) : QStringLiteral("/");
    }
    return QDir::cleanPath(QFileInfo(probe).canonicalFilePath() + QLatin1Char('/') + rest);
}

bool isSameOrInside(const QString &path, const QString &folder)
{
    if (path == folder)
        return true;
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

// An entry of a folder being copied: its name as text and as the file
// system holds it, and whether it is a regular file that can be copied
// through the open folders.
struct CopiedEntry
{
    QString name;
    QByteArray localName;
    bool isFile;
};

// Folder copies list each folder in its default order: by name, ignoring case.
void sortLikeQDir(QVector<CopiedEntry> &entries)
{
    std::sort(entries.begin(), entries.end(), [](const CopiedEntry &a, const CopiedEntry &b) {
        const int ignoringCase = a.name.compare(b.name, Qt::CaseInsensitive);
        return ignoringCase != 0 ? ignoringCase < 0 : a.name < b.name;
    });
}

// The path of the entry `name` of the folder at `folder`, as QDir::filePath
// joins them, except that a name beginning with ':' stays a name (QDir takes
// it for a resource path).
QString childPath(const QString &folder, const QString &name)
{
    QString path = folder;
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.endsWith(QLatin1Char('/')) ? path + name : path + QLatin1Char('/') + name;
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
    setPath(QmlValues::urlPath(this, url));
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
    QString name = normalizedName(folderName);
    // "link/" would name the folder the link points to, not the link.
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    const QString targetPath = m_folder.absoluteFilePath(name);
    const QString last = name.section(QLatin1Char('/'), -1);
    const bool link = FilePlatform::entryType(targetPath, false) == FilePlatform::EntryType::SymbolicLink;
    const QString canonical = link ? QString() : QFileInfo(targetPath).canonicalFilePath();
    // An empty name, "." or ".." (also at the end of a longer name) and any
    // name the kernel resolves to this folder or one above it would remove
    // more than a subfolder.
    if (name.isEmpty() || last == QLatin1String(".") || last == QLatin1String("..")
        || (!canonical.isEmpty() && isSameOrInside(QFileInfo(path()).canonicalFilePath(), canonical))) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Not a subfolder to remove:" << folderName;
        return false;
    }
    QDir target(targetPath);
    if (!target.exists())
        return true;
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << folderName << recursive << target.path();
    // A link to a folder goes itself; what it points to stays.
    if (link)
        return QFile::remove(targetPath);
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
    const QString newName = normalizedName(newFileName);
    // Checked here because QFile::rename follows a dangling link, finds
    // nothing and, when the kernel refuses to replace the link, falls back
    // to a copy that writes through it.
    const QString newPath = m_folder.absoluteFilePath(newName);
    if (entryExists(newPath)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Target file already exists:" << newPath;
        return false;
    }
    return m_folder.rename(normalizedName(oldFileName), newName);
}

bool TkFileFolder::copyFile(const QString &fileName, const QString &filePath)
{
    const QString source = m_folder.absoluteFilePath(normalizedName(fileName));
    QString target = normalizedName(filePath);

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
        // The copy is made where the kernel resolves the target, and refused
        // when that lies inside the source: it would be listed while it is
        // filled and nest copies of itself until a step fails.
        const QString destination = canonicalDestination(target);
        if (isSameOrInside(destination, sourceInfo.canonicalFilePath())) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Target is inside the source folder:" << source << "->"
                                      << target;
            return false;
        }
        m_copyTarget = destination;
        const bool ok = copyFolder(source, destination);
        m_copyTarget.clear();
        return ok;
    }
    return copyEntry(source, target);
}

bool TkFileFolder::copyEntry(const QString &source, const QString &target)
{
    if (entryExists(target)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Target file already exists:" << target;
        return false;
    }
    bool ok = false;
    switch (FilePlatform::entryType(source, false)) {
    case FilePlatform::EntryType::SymbolicLink:
        // Followed, unless it leads nowhere: then the link is all there is.
        ok = QFileInfo::exists(source) ? copyEntry(QFileInfo(source).canonicalFilePath(), target)
                                       : FilePlatform::copySymbolicLink(source, target);
        return ok;
    case FilePlatform::EntryType::Pipe:
        // Reading a pipe would wait for a writer: it is made anew instead.
        ok = FilePlatform::copyPipe(source, target);
        break;
    case FilePlatform::EntryType::File:
        ok = QFile::copy(source, target);
        break;
    default:
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Not a regular file, not copied:" << source;
        return false;
    }
    if (!ok)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "File copy failed: " << source << "to" << target;
    return ok;
}

bool TkFileFolder::copyFolder(const QString &sourcePath, const QString &targetPath)
{
    const QFileInfo info(sourcePath);
    if (!info.isDir()) {
        const FilePlatform::EntryType type = FilePlatform::entryType(sourcePath, true);
        if (type == FilePlatform::EntryType::Device || type == FilePlatform::EntryType::Other) {
            qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Not a regular file, not copied:" << sourcePath;
            return true;
        }
        // A dangling link has no file for copyFile to check: it is copied as a link.
        const bool ok = type == FilePlatform::EntryType::Missing ? copyEntry(sourcePath, targetPath)
                                                                 : copyFile(sourcePath, targetPath);
        if (!ok)
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "copyFile failed:" << sourcePath << "->" << targetPath;
        return ok;
    }

    // Linked folders are copied as real folders, except a link back to a
    // folder being copied above or to a folder that holds the copy: those
    // would nest copies until a step fails, so they are left out.
    const QString canonical = info.canonicalFilePath();
    if (m_foldersBeingCopied.contains(canonical) || isSameOrInside(m_copyTarget, canonical)) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Folder links back into the copy:" << sourcePath << "->"
                                 << targetPath;
        return true;
    }

    // The regular files are copied relative to the two folders held open,
    // without their paths being resolved and looked at again; anything else,
    // and any file that this cannot copy, goes through copyFolder by path.
    CopyPlatform::OpenFolder source;
    QVector<CopyPlatform::FolderEntry> found;
    if (!source.open(sourcePath) || !source.entries(&found)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "File is not readable:" << sourcePath;
        return false;
    }
    QVector<CopiedEntry> entries;
    entries.reserve(found.size());
    for (const CopyPlatform::FolderEntry &entry : qAsConst(found)) {
        // A file whose name does not come back byte for byte from its text
        // is left to the copy by path, which finds nothing under that text
        // and says so.
        const QString name = QFile::decodeName(entry.name);
        entries.append({name, entry.name, entry.isFile && QFile::encodeName(name) == entry.name});
    }
    sortLikeQDir(entries);

    QDir target(targetPath);
    if (!target.exists() && !target.mkpath(target.absolutePath())) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "mkpath failed:" << target.path() << "("
                                  << QFileInfo(targetPath).fileName() << ")";
        return false;
    }

    CopyPlatform::OpenFolder copy;
    m_foldersBeingCopied.append(canonical);
    bool ok = true;
    for (const CopiedEntry &entry : qAsConst(entries)) {
        if (entry.isFile) {
            if (!source.isOpen())
                source.open(sourcePath);
            if (!copy.isOpen())
                copy.open(targetPath);
            if (source.copyFileTo(entry.localName, copy))
                continue;
        } else {
            // A deep tree must not hold two open folders per level.
            source.close();
            copy.close();
        }
        ok = copyFolder(childPath(sourcePath, entry.name), childPath(targetPath, entry.name));
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
        return QmlValues::arrayBufferBytes(bytes.toBase64());
    if (encode.compare(QLatin1String("hex"), Qt::CaseInsensitive) == 0)
        return QmlValues::arrayBufferBytes(bytes.toHex());
    return QmlValues::arrayBufferBytes(bytes);
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
