#pragma once

#include "ExtrasGlobal.h"

#include <QByteArray>
#include <QJsonValue>
#include <QMap>
#include <QString>
#include <QVariant>

namespace Extras {

/*!
    Conversions between variant maps (JSON objects as they cross the QML
    boundary) and JSON text, compact or indented, and whole JSON files.
    Anything that is not a JSON object converts to an empty map.
*/
class EXTRAS_EXPORT JsonUtility
{
public:
    static QMap<QString, QVariant> toVariantMap(const QByteArray &bytes);
    static QMap<QString, QVariant> toVariantMap(const QString &text);
    static QByteArray toBytes(const QMap<QString, QVariant> &map);
    static QString toString(const QMap<QString, QVariant> &map);
    // Indented text of an object or array value; empty for any other value.
    static QString toString(const QJsonValue &value);
    static QByteArray toFormattedBytes(const QMap<QString, QVariant> &map);
    static QString toFormattedString(const QMap<QString, QVariant> &map);
    static bool writeFile(const QString &filePath, const QMap<QString, QVariant> &map);
    static QMap<QString, QVariant> readFile(const QString &filePath);
};

} // namespace Extras
