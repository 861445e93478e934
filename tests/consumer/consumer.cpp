// A host program that uses the library's native interface the way an
// application does: the public headers only, linked against the plugin
// library alone. It stops linking when a class of the interface loses its
// export, and exits non-zero when a call through the library goes wrong.
#include "DebugUtility.h"
#include "FileUtility.h"
#include "JsonUtility.h"
#include "QExifImageHeader.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {
int failures = 0;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "consumer: FAILED: %s\n", what);
        ++failures;
    }
}
} // namespace

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("MaporaExtrasTests"));
    QCoreApplication::setApplicationName(QStringLiteral("consumer"));
    QCoreApplication app(argc, argv);

    using Extras::FileUtility;
    using Extras::JsonUtility;

    FileUtility::setPathVariable(QStringLiteral("HOME"), QStringLiteral("/consumer/home"));
    check(FileUtility::resolvedPath(QStringLiteral("~/x")) == QLatin1String("/consumer/home/x"), "resolvedPath of ~/x");
    check(FileUtility::pathVariableType(QStringLiteral("HOME"), false) == FileUtility::ApplicationPathVariable,
          "HOME is held in the application's table");

    QTemporaryDir dir;
    check(dir.isValid(), "temporary folder");
    const QString path = dir.filePath(QStringLiteral("consumer.json"));
    const QVariantMap map{{QStringLiteral("name"), QStringLiteral("consumer")},
                          {QStringLiteral("count"), 3},
                          {QStringLiteral("list"), QVariantList{true, QStringLiteral("b")}}};
    check(JsonUtility::writeFile(path, map), "JsonUtility::writeFile");
    check(JsonUtility::readFile(path) == map, "JsonUtility::readFile gives back the written map");
    check(JsonUtility::toBytes({{QStringLiteral("a"), 1}}) == QByteArray("{\"a\":1}"), "JsonUtility::toBytes");

    check(QByteArray(Extras::CATEGORY_UTILITY().categoryName()) == QByteArray("Quil.MaporaRuntime.Utility"),
          "CATEGORY_UTILITY");

    using Extras::QExifImageHeader;
    using Extras::QExifValue;
    QExifImageHeader exif;
    exif.setValue(QExifImageHeader::Make, QExifValue(QStringLiteral("abc")));
    check(exif.blockSize() == 40, "QExifImageHeader::blockSize");
    const QString jpeg = dir.filePath(QStringLiteral("consumer.jpg"));
    check(FileUtility::writeFile(jpeg, QByteArray("\xFF\xD8\xFF\xDB\x00\x04qq\xFF\xD9", 10)), "a minimal JPEG");
    check(exif.saveJpeg(jpeg), "QExifImageHeader::saveJpeg");
    check(QExifImageHeader(jpeg).value(QExifImageHeader::Make).toString() == QLatin1String("abc"),
          "QExifImageHeader reads back what it saved");

    if (failures == 0)
        std::puts("consumer: all checks passed");
    return failures == 0 ? 0 : 1;
}
