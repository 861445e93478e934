// A native host built against the installed package only.
#include <FileUtility.h>
#include <JsonUtility.h>

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString resolved = Extras::FileUtility::resolvedPath(QStringLiteral("$TEMP/x"), false);
    const QByteArray json = Extras::JsonUtility::toBytes({{QStringLiteral("a"), 1}});
    if (resolved != QDir::tempPath() + QStringLiteral("/x") || json != "{\"a\":1}") {
        std::fprintf(stderr, "unexpected results: %s %s\n", qPrintable(resolved), json.constData());
        return 1;
    }
    std::printf("native host linked against the installed package\n");
    return 0;
}
