#pragma once

#include <QDir>
#include <QObject>
#include <QUrl>

class NetworkNotifier;
class QGuiApplication;
class TkFileFolder;
class TkSettings;

/*!
    The QML singleton System: the user's home and the temporary folder, the
    application settings, a display scale factor derived from the screen
    density, the online state, the plugin's logging switch, path variables,
    and a wait that keeps the event loop running.
*/
class TkSystem : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl userHomePath READ userHomePath WRITE setUserHomePath NOTIFY userHomePathChanged)
    Q_PROPERTY(TkFileFolder *userHomeFolder READ userHomeFolder NOTIFY userHomePathChanged)
    Q_PROPERTY(TkFileFolder *temporaryFolder READ temporaryFolder CONSTANT)
    Q_PROPERTY(TkSettings *settings READ settings CONSTANT)
    Q_PROPERTY(double displayScaleFactor READ displayScaleFactor WRITE setDisplayScaleFactor
                   NOTIFY displayScaleFactorChanged)
    Q_PROPERTY(bool isOnline READ isOnline NOTIFY onlineStateChanged)
    Q_PROPERTY(bool loggingEnabled READ loggingEnabled WRITE setLoggingEnabled NOTIFY loggingEnabledChanged)

public:
    explicit TkSystem(QObject *parent = nullptr);
    ~TkSystem() override;

    QUrl userHomePath();
    void setUserHomePath(const QUrl &url);
    TkFileFolder *userHomeFolder();
    TkFileFolder *temporaryFolder() const;
    TkSettings *settings();
    double displayScaleFactor() const;
    void setDisplayScaleFactor(double value);
    bool isOnline() const;
    bool loggingEnabled() const;
    void setLoggingEnabled(bool value);

    Q_INVOKABLE QString resolvedPath(const QString &path) const;
    Q_INVOKABLE QString resolvedPath(const QUrl &pathUrl) const;
    Q_INVOKABLE QUrl resolvedPathUrl(const QString &pathUrl) const;
    Q_INVOKABLE QString pathVariable(const QString &name) const;
    Q_INVOKABLE void setPathVariable(const QString &name, const QString &value);
    Q_INVOKABLE void setLoggingFilterRules(const QString &rules);
    // Returns after `msecs` milliseconds; events are processed meanwhile.
    Q_INVOKABLE void wait(uint msecs);

    // The application object; stops the process outside a GUI application.
    static QGuiApplication *app();

signals:
    void userHomePathChanged();
    void displayScaleFactorChanged();
    void onlineStateChanged(bool online);
    void loggingEnabledChanged();

private slots:
    void onLogicalDotsPerInchChanged(qreal dpi);

private:
    bool m_loggingEnabled = false;
    QDir m_userHome;
    double m_displayScaleFactor = 0;
    TkSettings *m_settings = nullptr;
    NetworkNotifier *m_notifier = nullptr;
};
