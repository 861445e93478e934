// Makes the explorer's sample files with the module's own writers:
// sample.jpg, a rendered picture with EXIF tags, a thumbnail and a GPS
// position, and sample.zip, a few files in folders plus that picture.
//   explorer-samples <output folder>

#include "QExifImageHeader.h"
#include "QExifValue.h"
#include "TkZipArchive.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

using Extras::QExifImageHeader;
using Extras::QExifValue;
using Extras::RationalU32;

namespace {

QImage renderPicture()
{
    QImage image(640, 400, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 400);
    sky.setColorAt(0, QColor(0x2b, 0x6c, 0xb0));
    sky.setColorAt(1, QColor(0xf2, 0xc1, 0x6b));
    painter.fillRect(image.rect(), sky);
    painter.setBrush(QColor(0x2f, 0x4f, 0x3f));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(180, 430), 320, 140);
    painter.drawEllipse(QPointF(520, 450), 260, 130);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(28);
    painter.setFont(font);
    painter.drawText(image.rect().adjusted(0, 40, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                     QStringLiteral("Quil.MaporaExtras sample"));
    return image;
}

// Degrees, minutes and seconds as the three rationals of a GPS coordinate.
QExifValue coordinate(quint32 degrees, quint32 minutes, quint32 hundredthSeconds)
{
    return QExifValue(QVector<RationalU32>{{degrees, 1}, {minutes, 1}, {hundredthSeconds, 100}});
}

bool writePicture(const QString &path)
{
    const QImage image = renderPicture();
    if (!image.save(path, "JPG", 85))
        return false;

    QExifImageHeader header;
    header.setValue(QExifImageHeader::Make, QExifValue(QStringLiteral("Quil")));
    header.setValue(QExifImageHeader::Model, QExifValue(QStringLiteral("MaporaExtras Explorer")));
    header.setValue(QExifImageHeader::Software, QExifValue(QStringLiteral("explorer-samples")));
    header.setValue(QExifImageHeader::Orientation, QExifValue(quint16(1)));
    header.setValue(QExifImageHeader::DateTime, QExifValue(QDateTime(QDate(2026, 5, 31), QTime(12, 30, 0))));
    header.setValue(QExifImageHeader::PixelXDimension, QExifValue(quint32(image.width())));
    header.setValue(QExifImageHeader::PixelYDimension, QExifValue(quint32(image.height())));
    header.setValue(QExifImageHeader::DateTimeOriginal, QExifValue(QDateTime(QDate(2026, 5, 31), QTime(12, 30, 0))));
    // 52° 30' 0" N, 13° 24' 36" E, 34 m: 52.5 and 13.41 in decimal degrees.
    header.setValue(QExifImageHeader::GpsLatitudeRef, QExifValue(QStringLiteral("N")));
    header.setValue(QExifImageHeader::GpsLatitude, coordinate(52, 30, 0));
    header.setValue(QExifImageHeader::GpsLongitudeRef, QExifValue(QStringLiteral("E")));
    header.setValue(QExifImageHeader::GpsLongitude, coordinate(13, 24, 3600));
    header.setValue(QExifImageHeader::GpsAltitudeRef, QExifValue(quint8(0)));
    header.setValue(QExifImageHeader::GpsAltitude, QExifValue(RationalU32(34, 1)));
    header.setThumbnailImage(image.scaled(160, 100, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return header.saveJpeg(path);
}

bool writeText(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

bool writeArchive(const QString &path, const QString &picture)
{
    QTemporaryDir staging;
    const QDir dir(staging.path());
    const QStringList names{QStringLiteral("readme.txt"), QStringLiteral("data/numbers.csv"),
                            QStringLiteral("data/notes/todo.md"), QStringLiteral("pictures/sample.jpg"),
                            QStringLiteral("data/readings.log")};
    // A log that packs small and takes a moment to extract, long enough to
    // be canceled in the middle.
    QByteArray log;
    for (int minute = 0; log.size() < 48 * 1024 * 1024; ++minute)
        log += QByteArray("sensor 7 reading ") + QByteArray::number(minute % 1440) + " ok\n";
    bool ok = staging.isValid()
        && writeText(dir.filePath(names[0]), "Files packed by the explorer's sample maker.\n")
        && writeText(dir.filePath(names[1]), "n,square\n1,1\n2,4\n3,9\n4,16\n")
        && writeText(dir.filePath(names[2]), "- extract this archive\n- look at the picture\n")
        && QDir().mkpath(dir.filePath(QStringLiteral("pictures")))
        && QFile::copy(picture, dir.filePath(names[3])) && writeText(dir.filePath(names[4]), log);
    if (!ok)
        return false;

    // The writer replaces an existing file.
    QFile::remove(path);
    if (!writeText(path, QByteArray()))
        return false;
    TkZipArchive archive;
    archive.setPath(path);
    if (!archive.zwOpen())
        return false;
    archive.addFiles(dir, names);
    archive.close();
    archive.setPath(QString());
    archive.setPath(path);
    return archive.fileNames() == names;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: explorer-samples <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;
    const QString picture = out.filePath(QStringLiteral("sample.jpg"));
    if (!writePicture(picture)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(picture));
        return 1;
    }
    const QString archive = out.filePath(QStringLiteral("sample.zip"));
    if (!writeArchive(archive, picture)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(archive));
        return 1;
    }
    return 0;
}
