#include "DebugUtility.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaProperty>
#include <QSettings>
#include <QStandardPaths>

namespace Extras {

namespace {
const char RuntimeFamily[] = "Quil.MaporaRuntime";
const char ExtrasFamily[] = "Quil.MaporaExtras";
const char RuntimeProperty[] = "Quil.MaporaRuntime.loggingEnabled";
const char ExtrasProperty[] = "Quil.MaporaExtras.loggingEnabled";

void readSwitch(const char *propertyName, bool &flag)
{
    const QVariant value = QCoreApplication::instance()->property(propertyName);
    if (value.isValid() && value.canConvert<bool>())
        flag = value.toBool();
}

QString familyRule(const char *family, bool enabled)
{
    return QLatin1String(family)
        + QStringLiteral("*=%1\n").arg(enabled ? QStringLiteral("true") : QStringLiteral("false"));
}
} // namespace

const QLoggingCategory &CATEGORY_UTILITY()
{
    static const QLoggingCategory category("Quil.MaporaRuntime.Utility");
    return category;
}

bool DebugUtility::m_RuntimeLogging = true;
bool DebugUtility::m_ExtrasLogging = true;

void DebugUtility::setAllEnabled(const QString &category, const bool &enabled)
{
    if (QCoreApplication::instance()) {
        if (category == QLatin1String(RuntimeFamily))
            QCoreApplication::instance()->setProperty(RuntimeProperty, enabled);
        else if (category == QLatin1String(ExtrasFamily))
            QCoreApplication::instance()->setProperty(ExtrasProperty, enabled);

        readSwitch(RuntimeProperty, m_RuntimeLogging);
        readSwitch(ExtrasProperty, m_ExtrasLogging);
    }

    QLoggingCategory::setFilterRules(familyRule(RuntimeFamily, m_RuntimeLogging)
                                     + familyRule(ExtrasFamily, m_ExtrasLogging)
                                     + QStringLiteral("*.critical=true"));
}

void DebugUtility::loadLoggingFilterRules(const QString &category)
{
    const QString fileName = QStandardPaths::locate(QStandardPaths::GenericConfigLocation,
                                                    QStringLiteral("QtProject/qtlogging.ini"));
    if (fileName.isEmpty() || !QFileInfo::exists(fileName))
        return;

    QSettings settings(fileName, QSettings::IniFormat);

    // The INI store compares group names case-sensitively here, while the
    // file's section is usually spelled "[Rules]": find it in any case.
    QString group = QStringLiteral("rules");
    const QStringList groups = settings.childGroups();
    for (const QString &candidate : groups) {
        if (candidate.compare(group, Qt::CaseInsensitive) == 0) {
            group = candidate;
            break;
        }
    }

    settings.beginGroup(group);
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        if (!key.contains(category, Qt::CaseInsensitive))
            continue;
        // Each call replaces the rules before it: the last matching key wins.
        QLoggingCategory::setFilterRules(key + QStringLiteral(" = ") + settings.value(key).toString());
    }
    settings.endGroup();
}

void DebugUtility::dumpObject(const char *prefix, const QObject *object)
{
    if (!object) {
        qCDebug(CATEGORY_UTILITY) << prefix << "NULL object";
        return;
    }

    qCDebug(CATEGORY_UTILITY) << prefix << "objectName:" << object->objectName();
    qCDebug(CATEGORY_UTILITY) << prefix << "className:" << object->metaObject()->className();
    if (const QObject *parent = object->parent()) {
        qCDebug(CATEGORY_UTILITY) << prefix << "parent->objectName:" << parent->objectName();
        qCDebug(CATEGORY_UTILITY) << prefix << "parent->className:" << parent->metaObject()->className();
    } else {
        qCDebug(CATEGORY_UTILITY) << prefix << "NULL parent object";
    }

    dumpProperties(object);
    dumpDynamicProperties(object);
}

void DebugUtility::dumpProperties(const QObject *object)
{
    const QMetaObject *meta = object->metaObject();
    qCDebug(CATEGORY_UTILITY) << "Properties:" << meta->className();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        qCDebug(CATEGORY_UTILITY).nospace() << "  " << property.name() << " = " << property.read(object);
    }
}

void DebugUtility::dumpDynamicProperties(const QObject *object)
{
    const QList<QByteArray> names = object->dynamicPropertyNames();
    if (names.isEmpty())
        return;

    qCDebug(CATEGORY_UTILITY) << "Dynamic properties:" << object->objectName()
                              << object->metaObject()->className();
    for (const QByteArray &name : names)
        qCDebug(CATEGORY_UTILITY).nospace() << "  " << name.constData() << " = " << object->property(name.constData());
}

} // namespace Extras
