#include "TkFileFolder.h"

#include "CopyJob.h"
#include "FileLayer.h"
#include "FileUtility.h"
#include "FolderListing.h"
#include "JobRelay.h"
#include "JsonUtility.h"
#include "MaporaExtrasLogging.h"
#include "QmlValues.h"
#include "TkFileInfo.h"
#include "TkSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QPointer>
#include <QQmlEngine>

#include <cerrno>

using Extras::FileUtility;
namespace FileLayer = Extras::FileLayer;

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

QStringList nameFilters(const QVariant &nameFilter)
{
    if (nameFilter.canConvert<QStringList>())
        return nameFilter.toStringList();
    return QStringList{nameFilter.toString()};
}

// The path a whole path names, or an empty text when it names no place
// (empty, or its leading variable does not resolve).
QString namedPath(const QString &path)
{
    bool resolved = false;
    const QString result = FileUtility::resolvedPath(path, true, &resolved);
    return resolved ? result : QString();
}

} // namespace

/*!
    The reports of a copy on the folder's own thread, as signals during the
    call. A handler may cancel the copy or destroy the folder, which
    cancels it too.
*/
class TkFileFolder::CopyObserver : public Jobs::Observer
{
public:
    explicit CopyObserver(TkFileFolder *folder)
        : m_folder(folder)
    {
    }

    void progress(const QString &name, const QString &, double percent) override
    {
        if (m_folder)
            emit m_folder->copyProgress(name, percent);
    }
    void error(const QString &, const QString &, int) override {}
    bool canceled() override { return !m_folder || m_folder->m_cancelRequested; }
    void setTotals(qint64 bytes, int entries) override
    {
        m_amounts.totalBytes = bytes;
        m_amounts.totalEntries = entries;
        publish(false);
    }
    void addProcessed(qint64 bytes, int entries) override
    {
        m_amounts.processedBytes += bytes;
        m_amounts.processedEntries += entries;
        publish(false);
    }
    void publish(bool force)
    {
        if (m_folder)
            m_folder->m_relay->setAmounts(m_amounts, force);
    }

private:
    QPointer<TkFileFolder> m_folder;
    Jobs::Amounts m_amounts;
};

TkFileFolder::TkFileFolder(QObject *parent)
    : QObject(parent)
    , m_folder(QDir::temp())
{
    makeRelay();
}

TkFileFolder::TkFileFolder(const QString &path, QObject *parent)
    : TkFileFolder(parent)
{
    const QString resolved = namedPath(path);
    m_named = !resolved.isEmpty();
    m_folder.setPath(resolved);
}

TkFileFolder::TkFileFolder(const QDir &dir, QObject *parent)
    : QObject(parent)
    , m_folder(dir)
{
    makeRelay();
}

void TkFileFolder::makeRelay()
{
    connect(this, &TkFileFolder::pathChanged, this, &TkFileFolder::existsChanged);
    m_relay = new Jobs::JobRelay(this);
    connect(m_relay, &Jobs::JobRelay::progress, this,
            [this](const QString &name, const QString &, double percent) { emit copyProgress(name, percent); });
    connect(m_relay, &Jobs::JobRelay::finished, this, [this](Jobs::Outcome outcome) {
        if (outcome == Jobs::Outcome::Canceled)
            emit copyCanceled();
        else
            emit copyCompleted(outcome == Jobs::Outcome::Completed);
    });
    connect(m_relay, &Jobs::JobRelay::busyChanged, this, &TkFileFolder::busyChanged);
    connect(m_relay, &Jobs::JobRelay::amountsChanged, this, &TkFileFolder::amountsChanged);
}

QString TkFileFolder::path() const
{
    return m_named ? m_folder.absolutePath() : QString();
}

void TkFileFolder::setPath(const QString &path)
{
    const QString resolved = namedPath(path);
    if (resolved.isEmpty()) {
        // Neither the root nor the working folder: no folder at all.
        if (!m_named)
            return;
        m_named = false;
        m_folder.setPath(QString());
        emit pathChanged();
        return;
    }
    if (m_named && resolved == this->path())
        return;
    m_named = true;
    m_folder.setPath(resolved);
    emit pathChanged();
}

QUrl TkFileFolder::url() const
{
    return m_named ? FileUtility::pathUrl(path()) : QUrl();
}

void TkFileFolder::setUrl(const QUrl &url)
{
    setPath(QmlValues::urlPath(this, url));
}

bool TkFileFolder::exists() const
{
    return m_named && m_folder.exists();
}

QString TkFileFolder::folderName() const
{
    return m_named ? m_folder.dirName() : QString();
}

void TkFileFolder::setAsynchronous(bool asynchronous)
{
    if (asynchronous == m_asynchronous)
        return;
    m_asynchronous = asynchronous;
    emit asynchronousChanged();
}

bool TkFileFolder::busy() const
{
    return m_relay->isBusy();
}

qint64 TkFileFolder::processedBytes() const
{
    return m_relay->amounts().processedBytes;
}

qint64 TkFileFolder::totalBytes() const
{
    return m_relay->amounts().totalBytes;
}

int TkFileFolder::processedEntries() const
{
    return m_relay->amounts().processedEntries;
}

int TkFileFolder::totalEntries() const
{
    return m_relay->amounts().totalEntries;
}

bool TkFileFolder::cdUp()
{
    if (!m_named || !m_folder.cdUp())
        return false;
    emit pathChanged();
    return true;
}

bool TkFileFolder::cd(const QString &path)
{
    if (!m_named || !m_folder.cd(path))
        return false;
    emit pathChanged();
    return true;
}

QStringList TkFileFolder::fileNames(const QVariant &nameFilter, bool subFolders) const
{
    if (!m_named)
        return QStringList();
    return Extras::FolderListing::names(m_folder, nameFilters(nameFilter), subFolders, true);
}

QStringList TkFileFolder::folderNames(const QVariant &nameFilter, bool subFolders) const
{
    if (!m_named)
        return QStringList();
    return Extras::FolderListing::names(m_folder, nameFilters(nameFilter), subFolders, false);
}

bool TkFileFolder::makeFolder()
{
    if (!m_named) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No path";
        return false;
    }
    if (m_folder.exists())
        return true;
    if (!FileLayer::makeFolders(path()).isOpen()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Error creating:" << QDir(QFileInfo(path()).path())
                                 << folderName();
        return false;
    }
    emit existsChanged();
    return true;
}

bool TkFileFolder::removeFolder()
{
    if (!m_named) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No path";
        return false;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << m_folder.path();
    // A link standing for the folder goes itself; what it points to stays.
    const FileLayer::Removal removal = FileLayer::removeFolder(FileLayer::Place::whole(path()), true);
    return removal == FileLayer::Removal::Removed || removal == FileLayer::Removal::Missing;
}

bool TkFileFolder::removeFolder(const QString &folderName, bool recursive)
{
    if (!m_named)
        return false;
    const QString name = normalizedName(folderName);
    const FileLayer::Place place = FileLayer::Place::below(path(), name);
    // Nor may any name that leads to this folder or one above it.
    const QVector<FileLayer::FileId> above = FileLayer::folderAndAncestors(path());
    FileLayer::Removal removal = FileLayer::Removal::Refused;
    if (place.isValid()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << folderName << recursive << m_folder.absoluteFilePath(name);
        removal = FileLayer::removeFolder(place, recursive,
                                          [&above](const FileLayer::FileId &id) { return above.contains(id); });
    }
    if (removal == FileLayer::Removal::Refused)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Not a subfolder to remove:" << folderName;
    return removal == FileLayer::Removal::Removed || removal == FileLayer::Removal::Missing;
}

bool TkFileFolder::makePath(const QString &path) const
{
    bool ok = false;
    if (m_named && QDir::isAbsolutePath(path)) {
        ok = FileLayer::makeFolders(path).isOpen();
    } else if (m_named) {
        // Made below this folder: none of the folders on the way may be a link.
        const FileLayer::Folder folder = FileLayer::makeFolders(this->path());
        ok = folder.isOpen() && FileLayer::makeFolders(folder, path.split(QLatin1Char('/'))).isOpen();
    }
    if (!ok)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Error creating:" << path;
    return ok;
}

bool TkFileFolder::removePath(const QString &path) const
{
    const bool ok = m_named && FileLayer::removeEmptyFolders(QDir::cleanPath(m_folder.absoluteFilePath(path)));
    if (!ok)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Error removing:" << path;
    return ok;
}

QString TkFileFolder::filePath(const QString &fileName) const
{
    return m_named ? m_folder.absoluteFilePath(fileName) : QString();
}

QString TkFileFolder::relativeFilePath(const QString &fileName) const
{
    return m_named ? m_folder.relativeFilePath(fileName) : QString();
}

QUrl TkFileFolder::fileUrl(const QString &fileName) const
{
    if (!m_named)
        return QUrl();
    const QFileInfo info(m_folder.absoluteFilePath(fileName));
    if (info.isNativePath())
        return QUrl::fromLocalFile(info.filePath());
    return QUrl(QStringLiteral("qrc") + info.filePath());
}

bool TkFileFolder::fileExists(const QString &fileName) const
{
    return m_named && m_folder.exists(normalizedName(fileName));
}

TkFileInfo *TkFileFolder::fileInfo(const QString &fileName) const
{
    auto *info = new TkFileInfo(filePath(fileName), nullptr);
    QQmlEngine::setObjectOwnership(info, QQmlEngine::JavaScriptOwnership);
    return info;
}

TkFileFolder *TkFileFolder::folder(const QString &folderName) const
{
    auto *folder = new TkFileFolder(filePath(folderName), nullptr);
    QQmlEngine::setObjectOwnership(folder, QQmlEngine::JavaScriptOwnership);
    return folder;
}

bool TkFileFolder::removeFile(const QString &fileName)
{
    return m_named && FileLayer::removeEntry(FileLayer::Place::below(path(), normalizedName(fileName)));
}

bool TkFileFolder::renameFile(const QString &oldFileName, const QString &newFileName)
{
    if (!m_named)
        return false;
    const QString newName = normalizedName(newFileName);
    int error = 0;
    if (FileLayer::rename(FileLayer::Place::below(path(), normalizedName(oldFileName)),
                          FileLayer::Place::below(path(), newName), &error))
        return true;
    if (error == EEXIST)
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Target file already exists:" << m_folder.absoluteFilePath(newName);
    return false;
}

bool TkFileFolder::copyFile(const QString &fileName, const QString &filePath)
{
    const QString source = this->filePath(normalizedName(fileName));
    // One copy at a time: a second one, from a signal handler of the first
    // or while one runs in the background, is refused.
    if (m_copying || m_relay->isBusy()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Copy already running:" << source;
        return false;
    }
    const QFileInfo sourceInfo(source);
    if (source.isEmpty() || !sourceInfo.exists()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "File doesn't exist:" << source;
        return false;
    }
    if (!sourceInfo.isReadable()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "File is not readable:" << source;
        return false;
    }
    // An empty target would be the working folder, an unresolved variable
    // the rest of the path on its own: neither is what was asked for.
    const QString target = namedPath(normalizedName(filePath));
    if (target.isEmpty()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "No target path:" << filePath;
        return false;
    }
    // The messages come from the worker too: logging is thread-safe.
    const FileLayer::CopyReport messages = CopyJob::messages(Q_FUNC_INFO);
    FileLayer::Copy copy = sourceInfo.isDir()
        ? FileLayer::Copy::tree(source, target, messages)
        : FileLayer::Copy::entry(source, FileLayer::Place::whole(target), messages);
    if (!copy.isValid())
        return false;
    if (m_asynchronous) {
        const auto job = std::make_shared<CopyJob>(std::move(copy), source, CopyJob::OnFailure::TakeBack);
        return m_relay->start([job](Jobs::Observer &observer) { return job->run(observer); });
    }
    // What a failed copy made here stays, as it always did. Only a handler
    // of its progress or amounts can follow or cancel a copy here.
    const bool followed = isSignalConnected(QMetaMethod::fromSignal(&TkFileFolder::copyProgress))
        || isSignalConnected(QMetaMethod::fromSignal(&TkFileFolder::amountsChanged));
    CopyJob job(std::move(copy), source, CopyJob::OnFailure::Keep,
                followed ? CopyJob::Followed::Yes : CopyJob::Followed::No);
    return copyHere(job);
}

bool TkFileFolder::copyHere(CopyJob &job)
{
    m_copying = true;
    m_cancelRequested = false;
    const QPointer<TkFileFolder> alive(this);
    CopyObserver observer(this);
    observer.publish(true);
    const Jobs::Outcome outcome = alive ? job.run(observer) : Jobs::Outcome::Canceled;
    if (alive) {
        m_copying = false;
        observer.publish(true);
    }
    if (alive && outcome == Jobs::Outcome::Canceled)
        emit copyCanceled();
    else if (alive)
        emit copyCompleted(outcome == Jobs::Outcome::Completed);
    return outcome == Jobs::Outcome::Completed;
}

void TkFileFolder::cancel()
{
    if (m_relay->isBusy())
        m_relay->cancel();
    else if (m_copying)
        m_cancelRequested = true;
}

QVariant TkFileFolder::readFile(const QString &fileName, const QVariantMap &options) const
{
    const QByteArray bytes = FileUtility::readFile(filePath(fileName));
    const QString encode = options.value(QStringLiteral("encode")).toString();
    if (encode.compare(QLatin1String("base64"), Qt::CaseInsensitive) == 0)
        return QmlValues::arrayBufferBytes(bytes.toBase64());
    if (encode.compare(QLatin1String("hex"), Qt::CaseInsensitive) == 0)
        return QmlValues::arrayBufferBytes(bytes.toHex());
    return QmlValues::arrayBufferBytes(bytes);
}

bool TkFileFolder::write(const QString &fileName, const QByteArray &bytes)
{
    // Below the folder no link is followed on the way; one at the name
    // itself is written through when it leads to a file, and refused when
    // it leads nowhere.
    return m_named
        && FileLayer::writeFile(FileLayer::Place::below(path(), fileName), bytes,
                                FileLayer::OutputFile::Rules::WholeFile);
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
    return write(fileName, bytes);
}

QVariantMap TkFileFolder::readJsonFile(const QString &fileName) const
{
    return Extras::JsonUtility::toVariantMap(FileUtility::readFile(filePath(fileName)));
}

bool TkFileFolder::writeJsonFile(const QString &fileName, const QVariantMap &json)
{
    return write(fileName, Extras::JsonUtility::toFormattedBytes(json));
}

QString TkFileFolder::readTextFile(const QString &fileName) const
{
    return readUtf8File(filePath(fileName));
}

bool TkFileFolder::writeTextFile(const QString &fileName, const QString &text)
{
    return write(fileName, text.toUtf8());
}

TkSettings *TkFileFolder::settingsFile(const QString &fileName) const
{
    if (!m_named)
        return nullptr;
    const QString name = fileName.isEmpty() ? QStringLiteral("settings.ini") : fileName;
    auto *settings = new TkSettings(m_folder, name, nullptr);
    QQmlEngine::setObjectOwnership(settings, QQmlEngine::JavaScriptOwnership);
    return settings;
}

#include "moc_TkFileFolder.cpp"
