#pragma once

#include "ExtrasGlobal.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

namespace Extras {

/*!
    Path variables, path resolution and whole-file helpers.

    A path that begins with "$NAME" or "~" names a path variable ("~" alone
    is "HOME"). Its value is looked up in the application's variable table
    (dynamic properties of the application object), then, when asked to, in
    the user settings group "Quil/MaporaRuntime/pathVariables" and in the
    environment, and last in the built-in defaults of "HOME" and "TEMP".
    Only the application's table is ever written.
*/
class EXTRAS_EXPORT FileUtility
{
public:
    enum PathVariableType {
        NoPathVariable = 0,
        ApplicationPathVariable = 1,
        SettingsPathVariable = 2,
        EnvironmentPathVariable = 3
    };

    // Path variables
    static QString pathVariable(const QString &name, const QString &fallback = QString(),
                                bool searchSettingsAndEnvironment = true);
    static void setPathVariable(const QString &name, const QString &value);
    static QStringList pathVariableNames();
    static QMap<QString, QVariant> pathVariablesMap();
    static PathVariableType pathVariableType(const QString &name, bool searchSettingsAndEnvironment = true);
    static bool pathVariableExists(const QString &name, bool searchSettingsAndEnvironment = true);
    static QString defaultPathVariable(const QString &name);
    static QString defaultHomePath();
    static QString defaultTempPath();
    static QString homePath();
    // Sets the "HOME" variable; returns whether something exists at `path`.
    static bool setHomePath(const QString &path);

    // Path resolution: the leading variable is replaced, nothing else changes.
    static QString resolvedPath(const QString &path, bool searchSettingsAndEnvironment = true);
    static QString resolvedPath(const QUrl &url, bool searchSettingsAndEnvironment = true);
    // The same, and whether the result names a place: `resolved` is false
    // for an empty path and for a leading variable without a name or a
    // value, whose remainder alone ("$UNSET/tmp/x" gives "/tmp/x") names
    // something the caller never meant.
    static QString resolvedPath(const QString &path, bool searchSettingsAndEnvironment, bool *resolved);
    static QString resolvedPath(const QUrl &url, bool searchSettingsAndEnvironment, bool *resolved);
    static QUrl resolvedPathUrl(const QString &path, bool searchSettingsAndEnvironment = true);
    static QString resolvedUri(const QString &uri, bool searchSettingsAndEnvironment = true);
    static QUrl pathUrl(const QString &path);
    static QUrl resourcePathUrl(const QString &path);

    // Whole files. Reads take regular files only (pipes and devices are
    // refused at once, never waited on).
    static QByteArray readFile(const QString &filePath);
    // Replaces the file's content; true only when every byte was written.
    // A plain file of the writer is replaced whole, so a failed write keeps
    // its previous content; hard-linked files, pipes, devices and files of
    // other users are written in place and stay the same file. A link to an
    // existing file is written through in place; a dangling link is refused.
    static bool writeFile(const QString &filePath, const QByteArray &bytes);

    // URLs and the strings QML passes
    static bool isUrl(const QUrl &url);
    static bool isResource(const QUrl &url);
    static bool isLocalFile(const QUrl &url);
    static QString uriToString(const QUrl &url);
    static QStringList urisToStrings(const QList<QVariant> &uris);
    static QUrl stringToUri(const QString &text);
    static QList<QVariant> stringsToUris(const QStringList &texts);

    // File times (whole seconds) and attributes
    static bool setDateTime(const QString &filePath, const QDateTime &lastRead, const QDateTime &lastModified);
    static bool copyDateTime(const QString &fromFilePath, const QString &toFilePath);
    // There is no hidden attribute on Unix: a name beginning with "." is the
    // hidden state, so this only reports whether the state already matches.
    static bool setHidden(const QString &filePath, bool hidden);

    // Folders and names
    static bool mkpath(const QString &path);
    static bool mkpath(const QDir &dir);
    static QString createRandomTempFolder();
    static QString createRandomFilename();
    // Relative paths of every file below `dir`, depth first.
    static QStringList dirEntryList(const QDir &dir);
    // Removes the folder of the file when the file is its only entry.
    static void deleteLocalFile(const QUrl &url);

private:
    static QByteArray pathPropertyName(const QString &name);
    static void dirEntryList(const QDir &dir, const QString &prefix, QStringList &list);
};

} // namespace Extras

// UTF-8 text files, for the folder object's text reading and writing.
QString readUtf8File(const QString &filePath);
bool writeUtf8File(const QString &filePath, const QString &text);
