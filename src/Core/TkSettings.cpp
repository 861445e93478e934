#include "TkSettings.h"

#include "SettingsFile.h"

#include <QEvent>

namespace {
bool isBlankText(const QVariant &value)
{
    return value.type() == QVariant::String && value.toString().trimmed().isEmpty();
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

TkSettings::TkSettings(const QDir &folder, const QString &fileName, QObject *parent)
    : TkSettings(SettingsFile::open(folder, fileName), parent)
{
}

TkSettings::TkSettings(std::shared_ptr<SettingsFile> file, QObject *parent)
    : QSettings(preparedCopy(file), IniFormat, parent)
    , m_file(std::move(file))
{
}

TkSettings::~TkSettings()
{
    // What is still pending reaches the file here, not by QSettings' own
    // flush, which would only write the copy.
    if (m_file)
        synchronize();
}

QString TkSettings::preparedCopy(const std::shared_ptr<SettingsFile> &file)
{
    file->refresh();
    return file->copyPath();
}

bool TkSettings::event(QEvent *event)
{
    // QSettings writes pending changes when this event comes back.
    if (m_file && event->type() == QEvent::UpdateRequest) {
        synchronize();
        return true;
    }
    return QSettings::event(event);
}

QString TkSettings::path() const
{
    return m_file ? m_file->path() : fileName();
}

void TkSettings::synchronize()
{
    if (!m_file) {
        sync();
        return;
    }
    // The copy takes what changed in the file, QSettings merges its pending
    // changes into the copy, and the copy goes to the file.
    m_file->refresh();
    sync();
    m_file->publish();
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
