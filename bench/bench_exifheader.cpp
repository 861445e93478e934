// Loads the EXIF header of every JPEG of a folder many times with
// QExifImageHeader, libexif and exiv2, interleaved in the same run, and
// prints the time per load and the ratios of the peers to our reader. Then
// sets the filePath of one ExifInfo in a QML loop over the same files and
// sets that against libexif once more. The files are copied to tmpfs first.
//
//   bench_exifheader [folder] [--rounds N] [--min-ms M] [--tmpfs FOLDER]
#include "QExifImageHeader.h"

#include <libexif/exif-data.h>
#include <exiv2/exiv2.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

struct Reader
{
    const char *name;
    std::function<bool(const QString &, const QByteArray &)> load;
};

bool loadOurs(const QString &path, const QByteArray &)
{
    Extras::QExifImageHeader header;
    return header.loadJpeg(path);
}

bool loadLibexif(const QString &, const QByteArray &nativePath)
{
    ExifData *data = exif_data_new_from_file(nativePath.constData());
    if (!data)
        return false;
    exif_data_unref(data);
    return true;
}

bool loadExiv2(const QString &, const QByteArray &nativePath)
{
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(std::string(nativePath.constData()));
        image->readMetadata();
        return !image->exifData().empty();
    } catch (const std::exception &) {
        return false;
    }
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Enough calls of `run(iterations)` that one takes `minimumMs`.
int iterationsFor(const std::function<void(int)> &run, int minimumMs)
{
    int iterations = 1;
    while (iterations < (1 << 20)) {
        QElapsedTimer timer;
        timer.start();
        run(iterations);
        if (timer.elapsed() >= minimumMs)
            break;
        iterations *= 2;
    }
    return iterations;
}

// Nanoseconds per call: the median of the rounds.
double timePerCall(const std::function<void(int)> &run, int iterations, int rounds)
{
    QVector<double> perCall;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        run(iterations);
        perCall.append(double(timer.nsecsElapsed()) / iterations);
    }
    return median(perCall);
}

void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // The reader's warnings on odd entries would swamp the timing; QML errors must show.
    if (type != QtWarningMsg || !message.startsWith(QLatin1String("Invalid Ifd Type")))
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

const char qmlLoop[] = R"(
import QtQml 2.15
import Quil.MaporaExtras 1.1
QtObject {
    property ExifInfo info: ExifInfo {}
    function run(files, rounds) {
        var valid = 0
        for (var r = 0; r < rounds; ++r) {
            for (var i = 0; i < files.length; ++i) {
                info.filePath = files[i]
                valid += info.isExifValid ? 1 : 0
            }
        }
        return valid
    }
}
)";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);

    QString folder = QStringLiteral(MAPORA_BENCH_CORPUS);
    QString tmpfs = QStringLiteral("/dev/shm");
    int rounds = 7;
    int minimumMs = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds") && i + 1 < args.size())
            rounds = qMax(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--min-ms") && i + 1 < args.size())
            minimumMs = args[++i].toInt();
        else if (args[i] == QLatin1String("--tmpfs") && i + 1 < args.size())
            tmpfs = args[++i];
        else
            folder = args[i];
    }
    QTemporaryDir copy(tmpfs + QStringLiteral("/mapora-bench-exif-XXXXXX"));
    const QFileInfoList sources = QDir(folder).entryInfoList({"*.jpg", "*.jpeg"}, QDir::Files, QDir::Name);
    if (sources.isEmpty() || !copy.isValid()) {
        std::fprintf(stderr, "no JPEG files in %s, or no folder below %s\n", qPrintable(folder), qPrintable(tmpfs));
        return 1;
    }
    QFileInfoList files;
    for (const QFileInfo &source : sources) {
        const QString target = copy.filePath(source.fileName());
        if (!QFile::copy(source.absoluteFilePath(), target))
            return 1;
        files.append(QFileInfo(target));
    }
    std::printf("%d files of %s, copied to %s; median of %d rounds of at least %d ms each\n\n", int(files.size()),
                qPrintable(folder), qPrintable(tmpfs), rounds, minimumMs);

    const Reader readers[] = {{"QExifImageHeader", loadOurs}, {"libexif", loadLibexif}, {"exiv2", loadExiv2}};
    std::printf("%-34s %8s %6s %10s %10s %10s %9s %9s\n", "file", "bytes", "exif", "ours us", "libexif us",
                "exiv2 us", "libexif/x", "exiv2/x");
    double total[3] = {0, 0, 0};
    double logRatio[2] = {0, 0};
    for (const QFileInfo &file : qAsConst(files)) {
        const QString path = file.absoluteFilePath();
        const QByteArray nativePath = QFile::encodeName(path);
        double ns[3];
        for (int r = 0; r < 3; ++r) {
            const auto run = [&](int iterations) {
                for (int i = 0; i < iterations; ++i)
                    readers[r].load(path, nativePath);
            };
            ns[r] = timePerCall(run, iterationsFor(run, minimumMs), rounds);
            total[r] += ns[r];
        }
        logRatio[0] += std::log(ns[1] / ns[0]);
        logRatio[1] += std::log(ns[2] / ns[0]);
        std::printf("%-34s %8lld %6s %10.2f %10.2f %10.2f %9.2f %9.2f\n", qPrintable(file.fileName()),
                    file.size(), loadOurs(path, nativePath) ? "yes" : "no", ns[0] / 1000, ns[1] / 1000,
                    ns[2] / 1000, ns[1] / ns[0], ns[2] / ns[0]);
    }
    const int n = files.size();
    std::printf("\nper file, mean of the files: ours %.2f us, libexif %.2f us, exiv2 %.2f us\n", total[0] / 1000 / n,
                total[1] / 1000 / n, total[2] / 1000 / n);
    std::printf("libexif/ours: %.2fx overall, %.2fx geometric mean of the files\n", total[1] / total[0],
                std::exp(logRatio[0] / n));
    std::printf("exiv2/ours:   %.2fx overall, %.2fx geometric mean of the files\n", total[2] / total[0],
                std::exp(logRatio[1] / n));

    // ExifInfo through QML: one object, its filePath set file after file.
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral(MAPORA_BENCH_IMPORT_DIR));
    QQmlComponent component(&engine);
    component.setData(qmlLoop, QUrl());
    std::unique_ptr<QObject> loop(component.create());
    if (!loop) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }
    QStringList paths;
    QList<QByteArray> nativePaths;
    for (const QFileInfo &file : qAsConst(files)) {
        paths.append(file.absoluteFilePath());
        nativePaths.append(QFile::encodeName(file.absoluteFilePath()));
    }
    int valid = 0;
    const auto runQml = [&](int iterations) {
        QVariant result;
        QMetaObject::invokeMethod(loop.get(), "run", Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, paths),
                                  Q_ARG(QVariant, iterations));
        valid = result.toInt() / iterations;
    };
    const auto runLibexif = [&](int iterations) {
        for (int i = 0; i < iterations; ++i) {
            for (const QByteArray &nativePath : qAsConst(nativePaths))
                loadLibexif(QString(), nativePath);
        }
    };
    // Interleaved, so that both see the same state of the machine.
    const int qmlIterations = iterationsFor(runQml, minimumMs);
    const int libexifIterations = iterationsFor(runLibexif, minimumMs);
    QVector<double> qmlNs;
    QVector<double> libexifNs;
    for (int r = 0; r < rounds; ++r) {
        qmlNs.append(timePerCall(runQml, qmlIterations, 1) / n);
        libexifNs.append(timePerCall(runLibexif, libexifIterations, 1) / n);
    }
    const double qmlPerFile = median(qmlNs);
    const double libexifPerFile = median(libexifNs);
    std::printf("\nExifInfo.filePath set in a QML loop: %.2f us per file (%d of %d files valid); libexif %.2f us"
                " per file in the same rounds\n",
                qmlPerFile / 1000, valid, n, libexifPerFile / 1000);
    std::printf("libexif/QML:  %.2fx\n", libexifPerFile / qmlPerFile);
    return 0;
}
