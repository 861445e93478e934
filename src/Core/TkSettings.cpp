#include "TkSettings.h"

namespace {
bool isBlankText(const QVariant &value)
{
    return value.userType() == QMetaType::QString && value.toString().trimmed().isEmpty();
}
} // namespace

TkSettings::TkSettings(QObject *parent)
    : QSettings(parent)
{
}

TkSettings::TkSettings(const QString &organization, const QString &application, QObject *parent)
    : QSettings(organization, application, parent)
{
}

TkSettings::TkSettings(Scope scope, const QString &organization, const QString &application, QObject *parent)
    : QSettings(scope, organization, application, parent)
{
}

TkSettings::TkSettings(Format format, Scope scope, const QString &organization, const QString &application,
                       QObject *parent)
    : QSettings(format, scope, organization, application, parent)
{
}

TkSettings::TkSettings(const QString &fileName, Format format, QObject *parent)
    : QSettings(fileName, format, parent)
{
}

QString TkSettings::path() const
{
    return fileName();
}

void TkSettings::synchronize()
{
    sync();
}

QVariant TkSettings::value(const QString &key, const QVariant &defaultValue) const
{
    const QVariant stored = QSettings::value(key, defaultValue);
    if (!stored.isValid() || stored.isNull() || isBlankText(stored))
        return defaultValue;
    return stored;
}

void TkSettings::setValue(const QString &key, const QVariant &value, const QVariant &defaultValue)
{
    // Storing the caller's default deletes the entry instead, so the store
    // holds only what differs from the defaults.
    if (!value.isValid() || value.isNull() || (!defaultValue.isNull() && value == defaultValue)
        || isBlankText(value)) {
        QSettings::remove(key);
        return;
    }
    QSettings::setValue(key, value);
    emit valueChanged(key);
}

QColor TkSettings::colorValue(const QString &key, const QColor &defaultValue) const
{
    // A stored text that names no colour gives an invalid colour, not the default.
    return value(key, QVariant(defaultValue)).value<QColor>();
}

void TkSettings::setColorValue(const QString &key, const QColor &value)
{
    const QString text = value.alpha() > 254 ? value.name(QColor::HexRgb) : value.name(QColor::HexArgb);
    setValue(key, text);
}

bool TkSettings::boolValue(const QString &key, bool defaultValue) const
{
    return value(key, QVariant(defaultValue)).toBool();
}

double TkSettings::numberValue(const QString &key, double defaultValue) const
{
    return value(key, QVariant(defaultValue)).toReal();
}

void TkSettings::remove(const QString &key)
{
    QSettings::remove(key);
}

bool TkSettings::contains(const QString &key) const
{
    return QSettings::contains(key);
}
