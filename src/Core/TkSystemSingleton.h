#pragma once

#include "TkSystem.h"

#include "QmlRegistration.h"

class QJSEngine;
class QQmlEngine;

/*!
    The QML singleton System: one TkSystem for every engine of the process.
    The object belongs to no engine (C++ ownership); it is deleted when the
    last engine that was handed it is destroyed, and the next engine that
    asks gets a new one.

    TkSystem itself can be built without arguments, and a QML engine builds
    such a singleton once per engine; the declaration is therefore on this
    separate type, whose create() hands out the shared object.
*/
struct TkSystemSingleton
{
    Q_GADGET
    QML_FOREIGN(TkSystem)
    QML_NAMED_ELEMENT(System)
    QML_SINGLETON
    QML_ADDED_IN_VERSION(1, 1)

public:
    static TkSystem *create(QQmlEngine *engine, QJSEngine *scriptEngine);
};
