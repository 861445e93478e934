#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariant>

class QObject;

/*!
    Values that cross the QML boundary, made to arrive the same way on Qt 5
    and Qt 6: byte arrays for ArrayBuffers, script values given to variant
    parameters, and texts given to url properties.
*/
namespace QmlValues {

// `bytes` for QML as an ArrayBuffer. An empty array gets storage of its
// own: Qt 6 makes an array without storage an ArrayBuffer whose byteLength
// throws, where an empty buffer is meant.
QByteArray arrayBufferBytes(const QByteArray &bytes);

// A script value given to a variant parameter as plain data: an array as a
// list, an object as a map, recursively. Qt 5 converts them so; Qt 6 hands
// them over as QJSValue, which QSettings stores without content.
QVariant plainVariant(const QVariant &value);

// `url` as the QML document it was written in means it: a relative URL is
// resolved against the document of `object`, except a path that begins
// with a path variable ("$HOME/x", "~/x"). Qt 5's engine resolves such texts
// itself before the property's setter sees them; Qt 6's hands them over as
// written. Absolute URLs, and objects that no document made, are left as
// they are.
QUrl documentUrl(const QObject *object, const QUrl &url);

// The local (or resource) path that `url`, given to a url property of
// `object`, names: documentUrl() first, then path variables resolved, also
// in a text that Qt 5's engine has already resolved against the document
// ("<document folder>/$HOME/x"). An empty text when the leading variable
// does not resolve: such a URL names nothing.
QString urlPath(const QObject *object, const QUrl &url);

} // namespace QmlValues
