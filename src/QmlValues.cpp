#include "QmlValues.h"

#include "FileUtility.h"

#include <QJSValue>
#include <QQmlContext>
#include <QQmlEngine>

namespace {

bool startsWithPathVariable(const QString &path)
{
    return path.startsWith(QLatin1Char('$')) || path.startsWith(QLatin1Char('~'));
}

// A text with a path variable that the engine resolved against the folder
// of the document it stands in ("$HOME/data" arriving as
// "<that folder>/$HOME/data"). Returns the text as it was written when the
// URL is such a one, else an empty text.
QString variablePathResolvedByQml(const QObject *object, const QUrl &url)
{
    for (const QQmlContext *context = qmlContext(object); context; context = context->parentContext()) {
        const QUrl folder = context->baseUrl().resolved(QUrl(QStringLiteral(".")));
        if (folder.isEmpty() || folder.scheme() != url.scheme() || folder.authority() != url.authority())
            continue;
        const QString folderPath = folder.path(QUrl::FullyDecoded);
        const QString path = url.path(QUrl::FullyDecoded);
        if (!folderPath.endsWith(QLatin1Char('/')) || !path.startsWith(folderPath))
            continue;
        const QString written = path.mid(folderPath.size());
        if (startsWithPathVariable(written))
            return written;
    }
    return QString();
}

} // namespace

namespace QmlValues {

QByteArray arrayBufferBytes(const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        return bytes;
    QByteArray empty;
    empty.reserve(1);
    return empty;
}

QVariant plainVariant(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QJSValue>())
        return value.value<QJSValue>().toVariant();
    return value;
}

QUrl documentUrl(const QObject *object, const QUrl &url)
{
    if (!url.isRelative() || url.isEmpty() || startsWithPathVariable(url.path(QUrl::FullyDecoded)))
        return url;
    QQmlContext *context = qmlContext(object);
    return context ? context->resolvedUrl(url) : url;
}

QString urlPath(const QObject *object, const QUrl &url)
{
    const QUrl meant = documentUrl(object, url);
    const QString written = variablePathResolvedByQml(object, meant);
    bool resolved = false;
    const QString path = written.isEmpty() ? Extras::FileUtility::resolvedPath(meant, true, &resolved)
                                           : Extras::FileUtility::resolvedPath(written, true, &resolved);
    return resolved ? path : QString();
}

} // namespace QmlValues
