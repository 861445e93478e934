// Loads the EXIF header of every JPEG of a folder many times with
// QExifImageHeader, libexif and exiv2, interleaved in the same run, and
// prints the time per load and the ratios of the peers to our reader.
//
//   bench_exifheader [folder] [--rounds N] [--min-ms M]
#include "QExifImageHeader.h"

#include <libexif/exif-data.h>
#include <exiv2/exiv2.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

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

// Nanoseconds per load: the best of several rounds of `iterations` loads.
double timePerLoad(const Reader &reader, const QString &path, const QByteArray &nativePath, int iterations, int rounds)
{
    double best = INFINITY;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < iterations; ++i)
            reader.load(path, nativePath);
        best = std::min(best, double(timer.nsecsElapsed()) / iterations);
    }
    return best;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet); // the reader's warnings on odd entries would swamp the timing
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);

    QString folder = QStringLiteral(MAPORA_BENCH_CORPUS);
    int rounds = 5;
    int minimumMs = 40;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds") && i + 1 < args.size())
            rounds = args[++i].toInt();
        else if (args[i] == QLatin1String("--min-ms") && i + 1 < args.size())
            minimumMs = args[++i].toInt();
        else
            folder = args[i];
    }
    const QFileInfoList files = QDir(folder).entryInfoList({"*.jpg", "*.jpeg"}, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no JPEG files in %s\n", qPrintable(folder));
        return 1;
    }

    const Reader readers[] = {{"QExifImageHeader", loadOurs}, {"libexif", loadLibexif}, {"exiv2", loadExiv2}};
    std::printf("%-34s %8s %6s %10s %10s %10s %9s %9s\n", "file", "bytes", "exif", "ours us", "libexif us",
                "exiv2 us", "libexif/x", "exiv2/x");
    double total[3] = {0, 0, 0};
    double logRatio[2] = {0, 0};
    for (const QFileInfo &file : files) {
        const QString path = file.absoluteFilePath();
        const QByteArray nativePath = QFile::encodeName(path);
        // Enough loads that one round of our reader takes minimumMs.
        int iterations = 1;
        while (true) {
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < iterations; ++i)
                loadOurs(path, nativePath);
            if (timer.elapsed() >= minimumMs || iterations >= (1 << 20))
                break;
            iterations *= 2;
        }
        double ns[3];
        for (int r = 0; r < 3; ++r)
            ns[r] = timePerLoad(readers[r], path, nativePath, iterations, rounds);
        for (int r = 0; r < 3; ++r)
            total[r] += ns[r];
        logRatio[0] += std::log(ns[1] / ns[0]);
        logRatio[1] += std::log(ns[2] / ns[0]);
        std::printf("%-34s %8lld %6s %10.2f %10.2f %10.2f %9.2f %9.2f\n", qPrintable(file.fileName()),
                    file.size(), loadOurs(path, nativePath) ? "yes" : "no", ns[0] / 1000, ns[1] / 1000,
                    ns[2] / 1000, ns[1] / ns[0], ns[2] / ns[0]);
    }
    const int n = files.size();
    std::printf("\n%d files; time for one load of every file: ours %.1f us, libexif %.1f us, exiv2 %.1f us\n", n,
                total[0] / 1000, total[1] / 1000, total[2] / 1000);
    std::printf("libexif/ours: %.2fx overall, %.2fx geometric mean of the files\n", total[1] / total[0],
                std::exp(logRatio[0] / n));
    std::printf("exiv2/ours:   %.2fx overall, %.2fx geometric mean of the files\n", total[2] / total[0],
                std::exp(logRatio[1] / n));
    return 0;
}
