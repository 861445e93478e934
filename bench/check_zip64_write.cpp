// Writes an archive with one entry larger than 4 GiB and has two other
// implementations test it: the entry must carry Zip64 sizes that Python's
// zipfile and Info-ZIP unzip accept. Too slow for the test suite (the entry
// is deflated and both peers inflate it again), so it is run by hand:
//
//   check_zip64_write [--folder FOLDER] [--size BYTES]
//
// The source file is sparse (it takes no space); the archive is about 4 MB.
// Default folder /dev/shm, default size 4.5 GB.

#include "TkZipArchive.h"
#include "TkZipFileInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool runPeer(const QString &program, const QStringList &arguments, double *seconds)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    *seconds = timer.nsecsElapsed() / 1e9;
    const QByteArray output = process.readAll().trimmed();
    std::printf("  %s: %s (%.1f s)\n    %s\n", qPrintable(program), ok ? "accepted" : "REFUSED", *seconds,
                output.right(300).replace('\n', "\n    ").constData());
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("Quil.*.debug=false"));
    const QStringList args = app.arguments();
    const int folderAt = args.indexOf(QStringLiteral("--folder"));
    const int sizeAt = args.indexOf(QStringLiteral("--size"));
    const QString base = folderAt > 0 && folderAt + 1 < args.size() ? args.at(folderAt + 1) : QStringLiteral("/dev/shm");
    const qint64 size = sizeAt > 0 && sizeAt + 1 < args.size() ? args.at(sizeAt + 1).toLongLong() : 4500000000LL;

    QTemporaryDir dir(base + QStringLiteral("/maporaextras-zip64-XXXXXX"));
    if (!dir.isValid())
        return 1;
    QFile source(dir.filePath(QStringLiteral("big.bin")));
    if (!source.open(QIODevice::WriteOnly) || !source.resize(size))
        return 1;
    source.close();
    const QString archivePath = dir.filePath(QStringLiteral("big.zip"));

    QElapsedTimer timer;
    timer.start();
    TkZipArchive zip;
    zip.setPath(archivePath);
    const bool written = zip.zwOpen() && zip.addFile(QDir(dir.path()), QStringLiteral("big.bin"), QString());
    zip.close();
    std::printf("entry of %lld bytes written: %s in %.1f s, archive %lld bytes\n", size, written ? "yes" : "NO",
                timer.nsecsElapsed() / 1e9, QFileInfo(archivePath).size());
    if (!written)
        return 1;
    double seconds = 0;
    const bool python = runPeer(QStringLiteral("python3"), {QStringLiteral("-m"), QStringLiteral("zipfile"),
                                                            QStringLiteral("-t"), archivePath}, &seconds);
    const bool unzip = runPeer(QStringLiteral("unzip"), {QStringLiteral("-tq"), archivePath}, &seconds);
    const QScopedPointer<TkZipFileInfo> info(zip.fileInfo(QStringLiteral("big.bin")));
    const bool listed = info && info->size() == QString::number(size) && zip.fileNames() == QStringList{"big.bin"};
    std::printf("read back by ZipArchive: %s\n", listed ? "yes" : "NO");
    return python && unzip && listed ? 0 : 1;
}
