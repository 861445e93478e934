#pragma once

#include <QColor>
#include <QDir>
#include <QSettings>
#include <QVariant>
#include "QmlRegistration.h"

#include <memory>

class SettingsFile;

/*!
    The QML type Settings: QSettings with accessors that take a default,
    treat a blank text as absent, store colours as #rrggbb or #aarrggbb text
    and remove a key rather than store the caller's default. Every stored
    write emits valueChanged().
*/
class TkSettings : public QSettings
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Settings)
    QML_UNCREATABLE("The Quil Mapora Extras type Settings is not creatable")
    QML_ADDED_IN_VERSION(1, 1)
    Q_PROPERTY(QString path READ path CONSTANT)
    Q_PROPERTY(bool fallbacksEnabled READ fallbacksEnabled WRITE setFallbacksEnabled)

public:
    explicit TkSettings(QObject *parent = nullptr);
    TkSettings(const QString &organization, const QString &application, QObject *parent = nullptr);
    TkSettings(Scope scope, const QString &organization, const QString &application, QObject *parent = nullptr);
    TkSettings(Format format, Scope scope, const QString &organization, const QString &application,
               QObject *parent = nullptr);
    TkSettings(const QString &fileName, Format format, QObject *parent = nullptr);
    // The INI file `fileName` of `folder`, reached through the file layer:
    // a link or anything but a regular file there is refused.
    TkSettings(const QDir &folder, const QString &fileName, QObject *parent = nullptr);
    ~TkSettings() override;

    QString path() const;

    Q_INVOKABLE void synchronize();
    Q_INVOKABLE QVariant value(const QString &key, const QVariant &defaultValue = QVariant()) const;
    Q_INVOKABLE void setValue(const QString &key, const QVariant &value, const QVariant &defaultValue = QVariant());
    Q_INVOKABLE QColor colorValue(const QString &key, const QColor &defaultValue = QColor()) const;
    Q_INVOKABLE void setColorValue(const QString &key, const QColor &value);
    Q_INVOKABLE bool boolValue(const QString &key, bool defaultValue = false) const;
    Q_INVOKABLE double numberValue(const QString &key, double defaultValue = 0) const;
    Q_INVOKABLE void remove(const QString &key);
    Q_INVOKABLE bool contains(const QString &key) const;

signals:
    void valueChanged(const QString &key);

protected:
    bool event(QEvent *event) override;

private:
    TkSettings(std::shared_ptr<SettingsFile> file, QObject *parent);
    static QString preparedCopy(const std::shared_ptr<SettingsFile> &file);

    // The folder's file behind the store, when it stands on one.
    std::shared_ptr<SettingsFile> m_file;
};
