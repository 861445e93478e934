#include "FileUtility.h"

#include "DebugUtility.h"
#include "FileLayer.h"
#include "FolderListing.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QUuid>

namespace Extras {

namespace {
const char PathPropertyPrefix[] = "Quil/MaporaRuntime/pathVariables.";
const char PathSettingsGroup[] = "Quil/MaporaRuntime/pathVariables";

QVariant applicationProperty(const QByteArray &name)
{
    QCoreApplication *app = QCoreApplication::instance();
    return app ? app->property(name.constData()) : QVariant();
}

// Settings value of a path variable as stored, not trimmed.
QString settingsPathValue(const QString &name)
{
    QSettings settings;
    settings.beginGroup(QLatin1String(PathSettingsGroup));
    const QString value = settings.value(name).toString();
    settings.endGroup();
    return value;
}

QString environmentPathValue(const QString &name)
{
    return QString::fromUtf8(qgetenv(name.toUtf8().constData()));
}

quint32 toFileTime(const QDateTime &dateTime)
{
    const quint32 invalid = 4294967295u;
    if (!dateTime.isValid())
        return invalid;
    const qint64 seconds = dateTime.toSecsSinceEpoch();
    if (seconds < 0 || seconds > qint64(invalid))
        return invalid;
    return quint32(seconds);
}

} // namespace

QByteArray FileUtility::pathPropertyName(const QString &name)
{
    return (QLatin1String(PathPropertyPrefix) + name).toUtf8();
}

QString FileUtility::pathVariable(const QString &name, const QString &fallback, bool searchSettingsAndEnvironment)
{
    if (name.isEmpty()) {
        qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "Empty name";
        return fallback;
    }

    QString value;
    const QVariant property = applicationProperty(pathPropertyName(name));
    if (property.isValid() && !property.isNull())
        value = property.toString();

    if (value.isEmpty() && searchSettingsAndEnvironment)
        value = settingsPathValue(name).trimmed();

    if (value.isEmpty() && searchSettingsAndEnvironment)
        value = environmentPathValue(name);

    if (value.isEmpty()) {
        value = defaultPathVariable(name);
        if (!value.isEmpty()) {
            // Stored so that later lookups find it in the application's table.
            qCDebug(CATEGORY_UTILITY) << Q_FUNC_INFO << "Setting default" << name << "=" << value;
            setPathVariable(name, value);
        }
    }
    return value;
}

void FileUtility::setPathVariable(const QString &name, const QString &value)
{
    if (name.isEmpty()) {
        qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "Empty name, value=" << value;
        return;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    // An invalid variant removes the dynamic property.
    app->setProperty(pathPropertyName(name).constData(), value.isEmpty() ? QVariant() : QVariant(value));
}

QStringList FileUtility::pathVariableNames()
{
    QStringList names;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return names;
    const QString prefix = QLatin1String(PathPropertyPrefix);
    const QList<QByteArray> properties = app->dynamicPropertyNames();
    for (const QByteArray &property : properties) {
        const QString text = QString::fromUtf8(property);
        if (text.startsWith(prefix))
            names.append(text.mid(prefix.size()));
    }
    return names;
}

QMap<QString, QVariant> FileUtility::pathVariablesMap()
{
    QMap<QString, QVariant> map;
    const QStringList names = pathVariableNames();
    for (const QString &name : names)
        map.insert(name, pathVariable(name, QString(), true));
    return map;
}

FileUtility::PathVariableType FileUtility::pathVariableType(const QString &name, bool searchSettingsAndEnvironment)
{
    const QVariant property = applicationProperty(pathPropertyName(name));
    if (property.isValid() && !property.isNull())
        return ApplicationPathVariable;
    if (searchSettingsAndEnvironment) {
        if (!settingsPathValue(name).isEmpty())
            return SettingsPathVariable;
        if (!environmentPathValue(name).isEmpty())
            return EnvironmentPathVariable;
    }
    return NoPathVariable;
}

bool FileUtility::pathVariableExists(const QString &name, bool searchSettingsAndEnvironment)
{
    return pathVariableType(name, searchSettingsAndEnvironment) != NoPathVariable;
}

QString FileUtility::defaultPathVariable(const QString &name)
{
    if (name == QLatin1String("HOME"))
        return defaultHomePath();
    if (name == QLatin1String("TEMP"))
        return defaultTempPath();
    return QString();
}

QString FileUtility::defaultHomePath()
{
    return QDir::homePath();
}

QString FileUtility::defaultTempPath()
{
    return QDir::tempPath();
}

QString FileUtility::homePath()
{
    return pathVariable(QStringLiteral("HOME"), QString(), true);
}

bool FileUtility::setHomePath(const QString &path)
{
    setPathVariable(QStringLiteral("HOME"), path);
    return QFileInfo::exists(path);
}

QString FileUtility::resolvedPath(const QString &path, bool searchSettingsAndEnvironment)
{
    return resolvedPath(path, searchSettingsAndEnvironment, nullptr);
}

QString FileUtility::resolvedPath(const QString &path, bool searchSettingsAndEnvironment, bool *resolved)
{
    const bool tilde = path.startsWith(QLatin1Char('~'));
    if (!tilde && !path.startsWith(QLatin1Char('$'))) {
        if (resolved)
            *resolved = !path.isEmpty();
        return path;
    }

    int separator = path.indexOf(QLatin1Char('/'));
    if (separator < 0)
        separator = path.indexOf(QLatin1Char('\\'));

    QString name;
    int replaced = 0;
    if (separator < 0) {
        name = path.mid(1);
        if (name.isEmpty() && tilde)
            name = QStringLiteral("HOME");
        replaced = path.size();
    } else if (separator >= 2) {
        name = path.mid(1, separator - 1);
        replaced = separator;
    } else {
        if (tilde)
            name = QStringLiteral("HOME");
        replaced = 1;
    }

    QString replacement;
    if (name.isEmpty()) {
        qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "Path variable name not specified";
    } else {
        // The lookup comes first: it stores the defaults of HOME and TEMP,
        // which therefore never count as missing.
        replacement = pathVariable(name, QString(), searchSettingsAndEnvironment);
        if (!pathVariableExists(name, searchSettingsAndEnvironment))
            qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "Nonexistent Path variable" << name;
    }
    const QString result = replacement + path.mid(replaced);
    if (resolved)
        *resolved = !replacement.isEmpty() && !result.isEmpty();
    return result;
}

QString FileUtility::resolvedPath(const QUrl &url, bool searchSettingsAndEnvironment)
{
    return resolvedPath(url, searchSettingsAndEnvironment, nullptr);
}

QString FileUtility::resolvedPath(const QUrl &url, bool searchSettingsAndEnvironment, bool *resolved)
{
    if (url.scheme() == QLatin1String("qrc")) {
        const QString path = QLatin1Char(':') + url.path(QUrl::FullyDecoded);
        if (resolved)
            *resolved = path.size() > 1;
        return path;
    }
    if (url.isLocalFile())
        return resolvedPath(url.toLocalFile(), searchSettingsAndEnvironment, resolved);
    const QString path = url.path(QUrl::FullyDecoded);
    if (path.isEmpty()) {
        if (resolved)
            *resolved = false;
        return QString();
    }
    return resolvedPath(path, searchSettingsAndEnvironment, resolved);
}

QUrl FileUtility::resolvedPathUrl(const QString &path, bool searchSettingsAndEnvironment)
{
    return pathUrl(resolvedPath(path, searchSettingsAndEnvironment));
}

QString FileUtility::resolvedUri(const QString &uri, bool searchSettingsAndEnvironment)
{
    return resolvedPath(stringToUri(uri), searchSettingsAndEnvironment);
}

QUrl FileUtility::pathUrl(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.isNativePath() ? QUrl::fromLocalFile(path) : resourcePathUrl(path);
    if (path.startsWith(QLatin1String(":/")))
        return resourcePathUrl(path);
    return QUrl::fromLocalFile(path);
}

QUrl FileUtility::resourcePathUrl(const QString &path)
{
    return QUrl(QStringLiteral("qrc:///") + path.mid(2), QUrl::TolerantMode);
}

QByteArray FileUtility::readFile(const QString &filePath)
{
    // Resource paths belong to Qt's file engine.
    if (filePath.startsWith(QLatin1Char(':'))) {
        QFile file(filePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return FileLayer::readFile(filePath);
}

bool FileUtility::writeFile(const QString &filePath, const QByteArray &bytes)
{
    return FileLayer::writeFile(FileLayer::Place::whole(filePath), bytes, FileLayer::OutputFile::Rules::WholeFile);
}

bool FileUtility::isUrl(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool FileUtility::isResource(const QUrl &url)
{
    return url.scheme() == QLatin1String("qrc");
}

bool FileUtility::isLocalFile(const QUrl &url)
{
    if (url.isLocalFile())
        return true;
    const QString path = url.path(QUrl::FullyDecoded);
    return path.startsWith(QLatin1Char('$')) || path.startsWith(QLatin1Char('~'));
}

QString FileUtility::uriToString(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
}

QStringList FileUtility::urisToStrings(const QList<QVariant> &uris)
{
    QStringList texts;
    texts.reserve(uris.size());
    for (const QVariant &uri : uris)
        texts.append(uriToString(uri.toUrl()));
    return texts;
}

QUrl FileUtility::stringToUri(const QString &text)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (url.scheme().contains(QLatin1String("http")) || text.startsWith(QLatin1String(":/"))
        || text.startsWith(QLatin1String("qrc")))
        return url;
    return QUrl::fromLocalFile(text);
}

QList<QVariant> FileUtility::stringsToUris(const QStringList &texts)
{
    QList<QVariant> uris;
    uris.reserve(texts.size());
    for (const QString &text : texts)
        uris.append(QVariant(stringToUri(text)));
    return uris;
}

bool FileUtility::setDateTime(const QString &filePath, const QDateTime &lastRead, const QDateTime &lastModified)
{
    int error = 0;
    if (!FileLayer::setFileTimes(filePath, toFileTime(lastRead), toFileTime(lastModified), &error)) {
        qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "error" << error;
        return false;
    }
    return true;
}

bool FileUtility::copyDateTime(const QString &fromFilePath, const QString &toFilePath)
{
    const QFileInfo from(fromFilePath);
    if (!from.exists()) {
        qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "fromFilePath not found:" << fromFilePath;
        return false;
    }
    if (!QFileInfo::exists(toFilePath)) {
        qCWarning(CATEGORY_UTILITY) << Q_FUNC_INFO << "toFilePath not found:" << toFilePath;
        return false;
    }
    return setDateTime(toFilePath, from.lastRead(), from.lastModified());
}

bool FileUtility::setHidden(const QString &filePath, bool hidden)
{
    return FileLayer::setHidden(filePath, hidden);
}

bool FileUtility::mkpath(const QString &path)
{
    return mkpath(QDir(path));
}

bool FileUtility::mkpath(const QDir &dir)
{
    if (dir.exists())
        return true;
    return FileLayer::makeFolders(dir.absolutePath()).isOpen();
}

QString FileUtility::createRandomTempFolder()
{
    const QString name = createRandomFilename();
    QDir::temp().mkdir(name);
    return QDir::tempPath() + QLatin1Char('/') + name;
}

QString FileUtility::createRandomFilename()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QStringList FileUtility::dirEntryList(const QDir &dir)
{
    QStringList list;
    dirEntryList(dir, QString(), list);
    return list;
}

void FileUtility::dirEntryList(const QDir &dir, const QString &prefix, QStringList &list)
{
    list += FolderListing::filesBelow(dir, prefix);
}

void FileUtility::deleteLocalFile(const QUrl &url)
{
    // Hidden entries count as siblings too: a folder is only removed when
    // the file is really the last thing in it.
    FileLayer::removeFolderOfOnlyEntry(url.toLocalFile());
}

} // namespace Extras

QString readUtf8File(const QString &filePath)
{
    const QByteArray bytes = Extras::FileUtility::readFile(filePath);
    if (bytes.isEmpty())
        return QString();
    return QString::fromUtf8(bytes);
}

bool writeUtf8File(const QString &filePath, const QString &text)
{
    return Extras::FileUtility::writeFile(filePath, text.toUtf8());
}
