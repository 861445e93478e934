// Explorer: a small file browser that shows what Quil.MaporaExtras gives a
// QML application. With a display it opens a window. Without one it renders
// offscreen, takes a tour over the samples it ships with (extracts the
// sample ZIP, reads the sample JPEG's GPS position), saves a screenshot and
// prints its path.

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// What the QML side of the tour talks to: report lines and the end.
class Tour : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool active MEMBER m_active CONSTANT)
    Q_PROPERTY(QString samples MEMBER m_samples CONSTANT)
    Q_PROPERTY(QString output MEMBER m_output CONSTANT)

public:
    Tour(bool active, const QString &samples, const QString &output, const QString &screenshot)
        : m_active(active), m_samples(samples), m_output(output), m_screenshot(screenshot)
    {
    }

    QQuickWindow *window = nullptr;

    Q_INVOKABLE void report(const QString &line)
    {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    }

    // Lets the last state render, saves the screenshot and quits.
    Q_INVOKABLE void finish(bool ok)
    {
        QTimer::singleShot(200, this, [this, ok] {
            // The item grab renders through the scene graph the window uses,
            // the software one included.
            m_grab = window ? window->contentItem()->grabToImage() : QSharedPointer<QQuickItemGrabResult>();
            if (!m_grab) {
                done(ok, false);
                return;
            }
            connect(m_grab.data(), &QQuickItemGrabResult::ready, this,
                    [this, ok] { done(ok, m_grab->image().save(m_screenshot, "PNG")); });
        });
    }

private:
    void done(bool ok, bool saved)
    {
        // The grab holds its item; release it while the window still exists.
        m_grab.reset();
        if (saved)
            report(QStringLiteral("screenshot: ") + m_screenshot);
        else
            std::fprintf(stderr, "could not save the screenshot to %s\n", qPrintable(m_screenshot));
        QCoreApplication::exit(ok && saved ? 0 : 1);
    }

    QSharedPointer<QQuickItemGrabResult> m_grab;
    bool m_active;
    QString m_samples;
    QString m_output;
    QString m_screenshot;
};

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char *argv[])
{
    const bool offscreen = !hasDisplay() || qgetenv("QT_QPA_PLATFORM") == "offscreen";
    if (offscreen) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The offscreen platform has no OpenGL: render with the software scene graph.
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    }

    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quil"));
    QCoreApplication::setApplicationName(QStringLiteral("MaporaExtras Explorer"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Browse folders, ZIP archives and JPEG EXIF data"));
    parser.addHelpOption();
    QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Where the offscreen tour saves its screenshot."),
                                        QStringLiteral("file"));
    QCommandLineOption samplesOption(QStringLiteral("samples"), QStringLiteral("Folder of the sample files."),
                                     QStringLiteral("folder"), QStringLiteral(EXPLORER_SAMPLES_DIR));
    parser.addOption(screenshotOption);
    parser.addOption(samplesOption);
    parser.process(app);

    // Files the tour extracts go to a folder that is removed on exit.
    QTemporaryDir output;
    const QString screenshot = parser.isSet(screenshotOption)
        ? QFileInfo(parser.value(screenshotOption)).absoluteFilePath()
        : QDir::temp().absoluteFilePath(QStringLiteral("maporaextras-explorer.png"));
    Tour tour(offscreen, QDir(parser.value(samplesOption)).absolutePath(), output.path(), screenshot);

    QQmlApplicationEngine engine;
    // The module as the build tree lays it out; an installed module is found
    // in Qt's import folder as well.
    engine.addImportPath(QStringLiteral(EXPLORER_IMPORT_DIR));
    engine.rootContext()->setContextProperty(QStringLiteral("tour"), &tour);
    engine.load(QUrl(QStringLiteral("qrc:/explorer/main.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    tour.window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    return app.exec();
}

#include "main.moc"
