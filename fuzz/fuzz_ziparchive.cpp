// Treats the input as a ZIP archive file: lists it, takes the entry
// information of every entry, looks each one up, extracts the whole archive
// into a fresh folder, and aborts when anything was written outside it, when
// a temporary file of a failed entry stayed behind, when an extracted file is
// larger than its entry declares, or when progress leaves 0..100.
//
// The sandbox:  <tmp>/in/archive.zip      the input
//               <tmp>/a/b/out/            the extraction target
//               <tmp>/cwd/                the working directory
// The target sits two levels down so that names climbing out of it with a
// few ".." land inside the sandbox, where the scan below sees them, and the
// working directory catches names Qt would resolve against it.

#include "TkZipArchive.h"
#include "TkZipFileInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Sandbox {
    QTemporaryDir root;
    QString archive;
    QString out;
    QString cwd;
};

Sandbox &sandbox()
{
    static Sandbox *instance = [] {
        static int argc = 1;
        static char name[] = "fuzz_ziparchive";
        static char *argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
        // Logging costs time and says nothing the checks below do not.
        QLoggingCategory::setFilterRules(QStringLiteral("Quil.*=false"));
        auto *s = new Sandbox;
        if (!s->root.isValid())
            std::abort();
        s->archive = s->root.filePath(QStringLiteral("in/archive.zip"));
        s->out = s->root.filePath(QStringLiteral("a/b/out"));
        s->cwd = s->root.filePath(QStringLiteral("cwd"));
        QDir root(s->root.path());
        if (!root.mkpath(QStringLiteral("in")) || !root.mkpath(QStringLiteral("a/b/out")) || !root.mkpath(QStringLiteral("cwd"))
            || !QDir::setCurrent(s->cwd))
            std::abort();
        return s;
    }();
    return *instance;
}

[[noreturn]] void broken(const char *what, const QString &detail)
{
    std::fprintf(stderr, "fuzz_ziparchive: %s: %s\n", what, qPrintable(detail));
    std::abort();
}

[[noreturn]] void escaped(const char *what, const QString &path)
{
    std::fprintf(stderr, "fuzz_ziparchive: %s outside the target: %s\n", what, qPrintable(path));
    std::abort();
}

bool isInside(const QString &path, const QString &folder)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return clean.startsWith(folder + QLatin1Char('/'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Sandbox &s = sandbox();
    {
        QFile file(s.archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            std::abort();
    }

    {
        TkZipArchive zip;
        // Every file the extraction completes is named by a progress signal.
        QObject::connect(&zip, &TkZipArchive::extractProgress,
                         [&s, &zip](const QString &name, const QString &output, double percent) {
                             if (!isInside(output, s.out))
                                 escaped("extracted file", output);
                             if (!(percent >= 0 && percent <= 100))
                                 broken("progress out of range", name);
                             if (percent == 100) {
                                 QScopedPointer<TkZipFileInfo> info(zip.fileInfo(name));
                                 if (info && QFileInfo(output).size() > info->size().toLongLong())
                                     broken("file larger than its entry declares", output);
                             }
                         });
        zip.setPath(s.archive);
        zip.setCaseSensitive(size % 2 == 0);
        QStringList names = zip.fileNames();
        for (const QString &folder : zip.folderNames())
            names.append(folder + QLatin1Char('/'));
        for (const QString &name : qAsConst(names)) {
            zip.exists(name);
            QScopedPointer<TkZipFileInfo> info(zip.fileInfo(name));
            if (info) {
                // Read every field: hostile dates and sizes must convert cleanly.
                info->size();
                info->compressedSize();
                info->path();
                info->fileName();
                info->suffix();
                info->lastModified();
                info->crc();
            }
        }
        zip.extractAll(s.out);
    }

    if (!QDir(s.cwd).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        escaped("entry", s.cwd);
    const QStringList allowed{QStringLiteral("in"), QStringLiteral("in/archive.zip"), QStringLiteral("a"),
                              QStringLiteral("a/b"), QStringLiteral("a/b/out"), QStringLiteral("cwd")};
    QDir root(s.root.path());
    QDirIterator it(s.root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = root.relativeFilePath(it.next());
        if (!allowed.contains(relative) && !relative.startsWith(QLatin1String("a/b/out/")))
            escaped("entry", relative);
        if (it.fileName().startsWith(QLatin1String(".maporaextras-")))
            broken("temporary file left behind", relative);
    }

    QDir(s.out).removeRecursively();
    QDir().mkpath(s.out);
    return 0;
}
