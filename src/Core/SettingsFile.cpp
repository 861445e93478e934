#include "SettingsFile.h"

#include "FileLayer.h"
#include "MaporaExtrasLogging.h"

#include <QHash>
#include <QMutex>
#include <QTemporaryDir>

#include <atomic>
#include <iterator>

namespace FileLayer = Extras::FileLayer;

namespace {

// The folder of this process that holds the private copies: made on first
// use, readable by the user alone, removed with everything in it at exit.
class CopyFolder
{
public:
    static CopyFolder &instance()
    {
        static CopyFolder folder;
        return folder;
    }

    ~CopyFolder()
    {
        if (!m_path.isEmpty())
            FileLayer::removeFolder(FileLayer::Place::whole(m_path), true);
    }

    // A new name in the folder; empty when the folder could not be made.
    QString newCopyPath()
    {
        const QMutexLocker lock(&m_mutex);
        if (m_path.isEmpty() && !m_failed) {
            QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/maporaextras-settings-XXXXXX"));
            folder.setAutoRemove(false);
            m_failed = !folder.isValid();
            m_path = folder.isValid() ? folder.path() : QString();
            if (m_failed)
                qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No folder for settings copies:" << folder.errorString();
        }
        return m_path.isEmpty() ? QString() : m_path + QStringLiteral("/%1.ini").arg(++m_count);
    }

private:
    CopyFolder() = default;
    QMutex m_mutex;
    QString m_path;
    bool m_failed = false;
    int m_count = 0;
};

// The stores of this process on each file, by its absolute path.
QMutex registryMutex;
QHash<QString, std::weak_ptr<SettingsFile>> registry;

// QSettings reads its file again only when its size or time changed: every
// new copy gets a time of its own, which no two copies share.
std::atomic<quint32> copyTime{1000000000u};

} // namespace

std::shared_ptr<SettingsFile> SettingsFile::open(const QDir &folder, const QString &name)
{
    const QString key = QDir::cleanPath(folder.absoluteFilePath(name));
    const QMutexLocker lock(&registryMutex);
    std::shared_ptr<SettingsFile> file = registry.value(key).lock();
    if (!file) {
        for (auto it = registry.begin(); it != registry.end();)
            it = it.value().expired() ? registry.erase(it) : std::next(it);
        file.reset(new SettingsFile(folder.absolutePath(), name, folder.filePath(name),
                                    CopyFolder::instance().newCopyPath()));
        registry.insert(key, file);
    }
    return file;
}

SettingsFile::SettingsFile(const QString &folder, const QString &name, const QString &path, const QString &copyPath)
    : m_folder(folder)
    , m_name(name)
    , m_path(path)
    , m_copyPath(copyPath)
{
}

SettingsFile::~SettingsFile()
{
    if (!m_copyPath.isEmpty())
        FileLayer::removeEntry(FileLayer::Place::whole(m_copyPath));
}

bool SettingsFile::refresh()
{
    FileLayer::Kind found = FileLayer::Kind::Missing;
    bool read = false;
    const QByteArray bytes = FileLayer::readEntry(FileLayer::Place::below(m_folder, m_name), &found, &read);
    if (found != FileLayer::Kind::Missing && !read) {
        // A link, a pipe, a device or a file that cannot be read: nothing
        // is taken from it, nothing will be stored in it.
        if (!m_refused)
            qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Not a regular file, values not stored there:" << m_path;
        m_refused = true;
        return false;
    }
    m_refused = false;
    if (bytes == m_known)
        return true;
    const quint32 time = ++copyTime;
    if (!FileLayer::writeFile(FileLayer::Place::whole(m_copyPath), bytes, FileLayer::OutputFile::Rules::Extraction)
        || !FileLayer::setFileTimes(m_copyPath, time, time, nullptr))
        return false;
    m_known = bytes;
    return true;
}

bool SettingsFile::publish()
{
    bool read = false;
    const QByteArray bytes = FileLayer::readFile(m_copyPath, &read);
    if (!read || bytes == m_known)
        return true;
    if (m_refused) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Not a regular file, values not stored there:" << m_path;
        return false;
    }
    QString reason;
    if (!FileLayer::writeFile(FileLayer::Place::below(m_folder, m_name), bytes, FileLayer::OutputFile::Rules::Settings,
                              &reason)) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Values not stored:" << m_path << reason;
        return false;
    }
    m_known = bytes;
    return true;
}
