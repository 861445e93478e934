#include "TkSystem.h"

#include "DebugUtility.h"
#include "FileUtility.h"
#include "MaporaExtrasLogging.h"
#include "NetworkNotifier.h"
#include "TkFileFolder.h"
#include "TkSettings.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQmlEngine>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <limits>

using Extras::FileUtility;

namespace {
// Screen density that counts as scale 1; fixed by the first System object.
double referenceDotsPerInch = 0;
const double DefaultReferenceDotsPerInch = 96;

// The density MAPORA_RUNTIME_BASE_PPI names; false when it is not one that
// gives a finite scale factor for a screen of this density (zero,
// negative, infinite, not a number, or so small that the division overflows).
bool readReferenceDotsPerInch(const QByteArray &text, double screenDotsPerInch, double *density)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || !(value > 0) || !std::isfinite(screenDotsPerInch / value))
        return false;
    *density = value;
    return true;
}

// The screen's density as the desktop sets it, in device pixels per inch.
// Qt 6 (and Qt 5 with high-density scaling switched on) reports a logical
// density already divided by the device pixel ratio it scales with; the
// product undoes that, so the factor describes the screen the same way on
// both majors.
double screenDotsPerInch(const QScreen *screen)
{
    return screen->logicalDotsPerInch() * screen->devicePixelRatio();
}

// Folder objects handed to QML belong to its garbage collector.
TkFileFolder *handedToQml(TkFileFolder *folder)
{
    QQmlEngine::setObjectOwnership(folder, QQmlEngine::JavaScriptOwnership);
    return folder;
}
} // namespace

TkSystem::TkSystem(QObject *parent)
    : QObject(parent)
{
    QScreen *screen = app()->primaryScreen();

    if (referenceDotsPerInch <= 0) {
        referenceDotsPerInch = DefaultReferenceDotsPerInch;
        if (qEnvironmentVariableIsSet("MAPORA_RUNTIME_BASE_PPI")) {
            const QByteArray text = qgetenv("MAPORA_RUNTIME_BASE_PPI");
            const double density = screen ? screenDotsPerInch(screen) : DefaultReferenceDotsPerInch;
            if (!readReferenceDotsPerInch(text, density, &referenceDotsPerInch))
                qCWarning(CATEGORY_CORE) << Q_FUNC_INFO << "MAPORA_RUNTIME_BASE_PPI is not a positive number:" << text
                                         << "using" << DefaultReferenceDotsPerInch;
        }
        qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "devicePixelRatio" << app()->devicePixelRatio();
        qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "primaryScreen.physicalDotsPerInch"
                               << (screen ? screen->physicalDotsPerInch() : 0.0);
        qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "primaryScreen.logicalDotsPerInch"
                               << (screen ? screen->logicalDotsPerInch() : 0.0);
        qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "referenceDotsPerInch" << referenceDotsPerInch;
    }

    if (screen)
        connect(screen, &QScreen::logicalDotsPerInchChanged, this, &TkSystem::onLogicalDotsPerInchChanged);

    m_notifier = NetworkNotifier::create(this);
    connect(m_notifier, &NetworkNotifier::onlineStateChanged, this, &TkSystem::onlineStateChanged);

    m_loggingEnabled = true;
}

TkSystem::~TkSystem() = default;

QGuiApplication *TkSystem::app()
{
    auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!application)
        qFatal("This is not a GUI application");
    return application;
}

QUrl TkSystem::userHomePath()
{
    const QString path = m_userHome.path();
    if (!path.isEmpty() && path != QLatin1String("."))
        return QUrl::fromLocalFile(path);

    QString home;
    if (QCoreApplication *application = QCoreApplication::instance()) {
        home = application->property("userHomePath").toString();
        if (!home.isEmpty()) {
            qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "App property:" << home;
            FileUtility::setHomePath(home);
        }
    }
    if (home.isEmpty()) {
        home = FileUtility::homePath();
        qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "Default:" << home;
    }
    m_userHome.setPath(home);
    return QUrl::fromLocalFile(m_userHome.path());
}

void TkSystem::setUserHomePath(const QUrl &url)
{
    const QString path = url.toLocalFile();
    if (path == m_userHome.path())
        return;
    m_userHome.setPath(path);
    FileUtility::setHomePath(path);
    qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << m_userHome;
    emit userHomePathChanged();
}

TkFileFolder *TkSystem::userHomeFolder()
{
    return handedToQml(new TkFileFolder(userHomePath().toLocalFile(), nullptr));
}

TkFileFolder *TkSystem::temporaryFolder() const
{
    return handedToQml(new TkFileFolder(QDir::temp(), nullptr));
}

TkSettings *TkSystem::settings()
{
    if (!m_settings)
        m_settings = new TkSettings(this);
    return m_settings;
}

double TkSystem::displayScaleFactor() const
{
    if (m_displayScaleFactor > 0)
        return m_displayScaleFactor;
    QScreen *screen = app()->primaryScreen();
    return screen ? screenDotsPerInch(screen) / referenceDotsPerInch : 1.0;
}

void TkSystem::setDisplayScaleFactor(double value)
{
    m_displayScaleFactor = value;
    if (!(value > 0)) {
        qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "Reset to default scale factor";
        m_displayScaleFactor = 0;
    }
    emit displayScaleFactorChanged();
}

void TkSystem::onLogicalDotsPerInchChanged(qreal dpi)
{
    QScreen *screen = app()->primaryScreen();
    qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << dpi;
    qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "devicePixelRatio" << app()->devicePixelRatio();
    qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "primaryScreen.physicalDotsPerInch"
                           << (screen ? screen->physicalDotsPerInch() : 0.0);
    qCDebug(CATEGORY_CORE) << Q_FUNC_INFO << "primaryScreen.logicalDotsPerInch"
                           << (screen ? screen->logicalDotsPerInch() : 0.0);
    if (m_displayScaleFactor <= 0)
        emit displayScaleFactorChanged();
}

bool TkSystem::isOnline() const
{
    return m_notifier->isOnline();
}

bool TkSystem::loggingEnabled() const
{
    return m_loggingEnabled;
}

void TkSystem::setLoggingEnabled(bool value)
{
    if (value == m_loggingEnabled)
        return;
    m_loggingEnabled = value;
    Extras::DebugUtility::setAllEnabled(QStringLiteral("Quil.MaporaExtras"), value);
    emit loggingEnabledChanged();
}

QString TkSystem::resolvedPath(const QString &path) const
{
    return FileUtility::resolvedPath(path, true);
}

QString TkSystem::resolvedPath(const QUrl &pathUrl) const
{
    return FileUtility::resolvedPath(pathUrl, true);
}

QUrl TkSystem::resolvedPathUrl(const QString &pathUrl) const
{
    return FileUtility::resolvedPathUrl(pathUrl, true);
}

QString TkSystem::pathVariable(const QString &name) const
{
    return FileUtility::pathVariable(name, QString(), true);
}

void TkSystem::setPathVariable(const QString &name, const QString &value)
{
    FileUtility::setPathVariable(name, value);
}

void TkSystem::setLoggingFilterRules(const QString &rules)
{
    QLoggingCategory::setFilterRules(rules);
}

void TkSystem::wait(uint msecs)
{
    // QTimer takes a signed count of milliseconds.
    const int interval = int(qMin<uint>(msecs, uint(std::numeric_limits<int>::max())));
    QTimer timer;
    QEventLoop loop;
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.setSingleShot(true);
    timer.start(interval);
    loop.exec(QEventLoop::AllEvents);
}

#include "moc_TkSystem.cpp"
