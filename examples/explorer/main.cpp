// Explorer: a small file browser that shows what Quil.MaporaExtras gives a
// QML application. With a display it opens a window. Without one it renders
// offscreen, takes a tour over the samples it ships with (extracts the
// sample ZIP, shooting the window halfway, then shows the sample JPEG with
// its EXIF data), saves the screenshots and prints their paths.

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
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

// What the QML side of the tour talks to: report lines, screenshots and the end.
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

    // Saves the window as it stands beside the screenshot, as
    // <screenshot>-<name>.png. The tour calls it from an extractProgress
    // handler: ZipArchive lets slots look at the archive during extraction,
    // and the offscreen tour has no user input that could close it.
    Q_INVOKABLE bool snapshot(const QString &name)
    {
        const QFileInfo main(m_screenshot);
        return save(main.dir().filePath(main.completeBaseName() + QLatin1Char('-') + name + QStringLiteral(".png")));
    }

    // Lets the last state render, saves the screenshot and quits.
    Q_INVOKABLE void finish(bool ok)
    {
        QTimer::singleShot(200, this, [this, ok] {
            const bool saved = save(m_screenshot);
            // The software scene graph frees the texture of an image that is
            // no longer shown on its next frame, not with the window: let the
            // window drop its images and draw once more before it goes.
            emit leaving();
            if (window) {
                window->releaseResources();
                renderFrame();
            }
            QCoreApplication::exit(ok && saved ? 0 : 1);
        });
    }

signals:
    // The tour is over: show nothing that holds images.
    void leaving();

private:
    // Renders the window's content on its next frame, waiting for it here;
    // a null image when it cannot. The item grab renders through the scene
    // graph the window uses, the software one included.
    QImage renderFrame()
    {
        QSharedPointer<QQuickItemGrabResult> grab = window ? window->contentItem()->grabToImage()
                                                           : QSharedPointer<QQuickItemGrabResult>();
        if (!grab)
            return QImage();
        QEventLoop frame;
        connect(grab.data(), &QQuickItemGrabResult::ready, &frame, &QEventLoop::quit);
        QTimer::singleShot(10000, &frame, &QEventLoop::quit);
        frame.exec();
        return grab->image();
    }

    // Saves the window's content as PNG; false when it cannot.
    bool save(const QString &path)
    {
        const QImage image = renderFrame();
        const bool saved = !image.isNull() && image.save(path, "PNG");
        if (saved)
            report(QStringLiteral("screenshot: ") + path);
        else
            std::fprintf(stderr, "could not save the screenshot to %s\n", qPrintable(path));
        return saved;
    }

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
        QQuickWindow::setSceneGraphBackend(QStringLiteral("software"));
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
