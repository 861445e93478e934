#include "TkSystemSingleton.h"

#include <QPointer>
#include <QQmlEngine>
#include <QSet>

namespace {
// The System object shared by every engine, and the engines it was handed to.
QPointer<TkSystem> systemGuard;
QSet<QObject *> systemEngines;

void releaseSystemFor(QObject *engine)
{
    systemEngines.remove(engine);
    // Every engine keeps the singleton in its own table: deleting it while
    // another engine still holds it would leave that engine a dangling
    // pointer, so the object lives until the last engine is gone.
    if (systemEngines.isEmpty())
        delete systemGuard.data();
}
} // namespace

TkSystem *TkSystemSingleton::create(QQmlEngine *engine, QJSEngine *scriptEngine)
{
    Q_UNUSED(scriptEngine)
    if (!systemGuard) {
        systemGuard = new TkSystem(nullptr);
        // No engine may delete the shared object by itself.
        QQmlEngine::setObjectOwnership(systemGuard, QQmlEngine::CppOwnership);
    }
    if (engine && !systemEngines.contains(engine)) {
        systemEngines.insert(engine);
        QObject::connect(engine, &QObject::destroyed, [](QObject *gone) { releaseSystemFor(gone); });
    }
    return systemGuard;
}
