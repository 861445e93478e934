#include "JsonUtility.h"

#include "FileUtility.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Extras {

QMap<QString, QVariant> JsonUtility::toVariantMap(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QMap<QString, QVariant>();
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return QMap<QString, QVariant>();
    return document.object().toVariantMap();
}

QMap<QString, QVariant> JsonUtility::toVariantMap(const QString &text)
{
    if (text.isEmpty())
        return QMap<QString, QVariant>();
    return toVariantMap(text.toUtf8());
}

QByteArray JsonUtility::toBytes(const QMap<QString, QVariant> &map)
{
    return QJsonDocument::fromVariant(QVariant(map)).toJson(QJsonDocument::Compact);
}

QString JsonUtility::toString(const QMap<QString, QVariant> &map)
{
    return QString::fromUtf8(toBytes(map));
}

QString JsonUtility::toString(const QJsonValue &value)
{
    // A document holds only objects and arrays: every other value gives an
    // empty document and so an empty text.
    const QJsonDocument document = QJsonDocument::fromVariant(value.toVariant());
    if (document.isNull())
        return QString();
    return QString::fromUtf8(document.toJson(QJsonDocument::Indented));
}

QByteArray JsonUtility::toFormattedBytes(const QMap<QString, QVariant> &map)
{
    return QJsonDocument::fromVariant(QVariant(map)).toJson(QJsonDocument::Indented);
}

QString JsonUtility::toFormattedString(const QMap<QString, QVariant> &map)
{
    return QString::fromUtf8(toFormattedBytes(map));
}

bool JsonUtility::writeFile(const QString &filePath, const QMap<QString, QVariant> &map)
{
    return FileUtility::writeFile(filePath, toFormattedBytes(map));
}

QMap<QString, QVariant> JsonUtility::readFile(const QString &filePath)
{
    return toVariantMap(FileUtility::readFile(filePath));
}

} // namespace Extras
