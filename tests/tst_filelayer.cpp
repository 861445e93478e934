#include "FileLayer.h"
#include "FileTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Extras::FileLayer;

// The file layer on its own, on temporary folders: how a place is split
// into its start and what lies below, that nothing below the start is
// reached through a link or taken for what it was a moment ago, and what
// each kind of writer does with what stands at its name.
class tst_FileLayer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void place_splitsStartFoldersAndEntry_data();
    void place_splitsStartFoldersAndEntry();
    void openParent_walksBelowTheStartWithoutLinks_data();
    void openParent_walksBelowTheStartWithoutLinks();
    void child_refusesAFolderThatIsNotTheOneSeen();
    void outputFile_followsTheRulesOfItsWriter_data();
    void outputFile_followsTheRulesOfItsWriter();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    void write(const QString &relative, const QByteArray &bytes);
    QByteArray read(const QString &relative) const;
    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_FileLayer::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void tst_FileLayer::write(const QString &relative, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path(relative)).path()));
    QFile file(path(relative));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QByteArray tst_FileLayer::read(const QString &relative) const
{
    QFile file(path(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void tst_FileLayer::place_splitsStartFoldersAndEntry_data()
{
    QTest::addColumn<QString>("folder");    // empty: Place::whole(name)
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("valid");

    QTest::newRow("name below a folder") << "/f" << "a/b/c.txt" << "/f" << QStringList{"a", "b"} << "c.txt" << true;
    QTest::newRow("doubled and trailing slashes") << "/f" << "a//b/" << "/f" << QStringList{"a"} << "b" << true;
    QTest::newRow("absolute name is a whole path") << "/f" << "/x/y" << "/x" << QStringList() << "y" << true;
    QTest::newRow("empty name") << "/f" << "" << "/f" << QStringList() << "" << false;
    QTest::newRow("dot-dot names no entry") << "/f" << "sub/.." << "/f" << QStringList{"sub"} << ".." << false;
    QTest::newRow("no folder") << "" << "" << "" << QStringList() << "" << false;
    QTest::newRow("resource folder") << ":/res" << "a" << "" << QStringList() << "" << false;
    QTest::newRow("whole path") << "" << "/x/y/" << "/x" << QStringList() << "y" << true;
    QTest::newRow("whole path in the root") << "" << "/y" << "/" << QStringList() << "y" << true;
    QTest::newRow("the root names no entry") << "" << "/" << "/" << QStringList() << "" << false;
    QTest::newRow("relative whole path") << "" << "y" << "." << QStringList() << "y" << true;
}

void tst_FileLayer::place_splitsStartFoldersAndEntry()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, start);
    QFETCH(QStringList, folders);
    QFETCH(QString, entry);
    QFETCH(bool, valid);
    const Place place = folder.isEmpty() ? Place::whole(name) : Place::below(folder, name);
    QCOMPARE(place.start(), start);
    QCOMPARE(place.folders(), folders);
    QCOMPARE(place.entry(), entry);
    QCOMPARE(place.isValid(), valid);
}

void tst_FileLayer::openParent_walksBelowTheStartWithoutLinks_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");         // 0: opens the folder `opened`
    QTest::addColumn<QString>("opened");

    // real/sub/x; outside/sub/x; link -> outside; real/toOutside -> outside;
    // real/file.
    QTest::newRow("real folders") << "real" << "sub/x" << 0 << "real/sub";
    QTest::newRow("a link in the start is the caller's") << "link" << "sub/x" << 0 << "outside/sub";
    QTest::newRow("a link below the start") << "real" << "toOutside/sub/x" << int(LinkInTheWay) << "";
    QTest::newRow("a file below the start") << "real" << "file/x" << int(ENOTDIR) << "";
    QTest::newRow("a missing folder") << "real" << "none/x" << int(ENOENT) << "";
    QTest::newRow("dot-dot walks up") << "real/sub" << "../sub/x" << 0 << "real/sub";
}

void tst_FileLayer::openParent_walksBelowTheStartWithoutLinks()
{
    QFETCH(QString, start);
    QFETCH(QString, name);
    QFETCH(int, error);
    QFETCH(QString, opened);
    write(QStringLiteral("real/sub/x"), "r");
    write(QStringLiteral("real/file"), "f");
    write(QStringLiteral("outside/sub/x"), "o");
    QVERIFY(QFile::link(path(QStringLiteral("outside")), path(QStringLiteral("link"))));
    QVERIFY(QFile::link(path(QStringLiteral("outside")), path(QStringLiteral("real/toOutside"))));

    int got = 0;
    const Folder folder = Folder::openParent(Place::below(path(start), name), &got);
    QCOMPARE(folder.isOpen() ? 0 : got, error);
    if (!opened.isEmpty())
        QVERIFY(folder.id() == Folder::open(path(opened)).id());
}

void tst_FileLayer::child_refusesAFolderThatIsNotTheOneSeen()
{
    QVERIFY(QDir().mkpath(path(QStringLiteral("top/sub"))));
    const Folder top = Folder::open(path(QStringLiteral("top")));
    FileId seen;
    QCOMPARE(top.kindOf("sub", false, &seen), Kind::Folder);
    // Another folder takes the name, then a link to the first one.
    QVERIFY(QDir().rename(path(QStringLiteral("top/sub")), path(QStringLiteral("moved"))));
    QVERIFY(QDir().mkpath(path(QStringLiteral("top/sub"))));
    int error = 0;
    QVERIFY(!top.child("sub", seen, &error).isOpen());
    QCOMPARE(error, int(ESTALE));
    QVERIFY(QDir(path(QStringLiteral("top"))).rmdir(QStringLiteral("sub")));
    QVERIFY(QFile::link(path(QStringLiteral("moved")), path(QStringLiteral("top/sub"))));
    QVERIFY(!top.child("sub", seen, &error).isOpen());
    QCOMPARE(error, int(LinkInTheWay));
    QVERIFY(top.childFollowing("sub").id() == seen);
}

void tst_FileLayer::outputFile_followsTheRulesOfItsWriter_data()
{
    QTest::addColumn<int>("rules");
    QTest::addColumn<QString>("standing");  // what stands at the name before
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QString>("kind");      // at the name afterwards
    QTest::addColumn<QByteArray>("target"); // content of target.txt afterwards

    const int extraction = int(OutputFile::Rules::Extraction);
    const int whole = int(OutputFile::Rules::WholeFile);
    const int settings = int(OutputFile::Rules::Settings);
    QTest::newRow("extraction replaces a link") << extraction << "link" << true << "file" << QByteArray("old");
    QTest::newRow("whole file writes through a link") << whole << "link" << true << "link" << QByteArray("new");
    QTest::newRow("settings refuse a link") << settings << "link" << false << "link" << QByteArray("old");
    QTest::newRow("extraction replaces a dangling link") << extraction << "dangling" << true << "file" << QByteArray("old");
    QTest::newRow("whole file refuses a dangling link") << whole << "dangling" << false << "link" << QByteArray("old");
    QTest::newRow("whole file writes a hard link in place") << whole << "hard link" << true << "file" << QByteArray("new");
    QTest::newRow("extraction replaces a hard link") << extraction << "hard link" << true << "file" << QByteArray("old");
    QTest::newRow("whole file fails at once on a pipe nobody reads")
        << whole << "pipe" << false << "fifo" << QByteArray("old");
    QTest::newRow("settings refuse a pipe") << settings << "pipe" << false << "fifo" << QByteArray("old");
    QTest::newRow("a folder is not written") << whole << "folder" << false << "folder" << QByteArray("old");
    QTest::newRow("settings write a new file") << settings << "nothing" << true << "file" << QByteArray("old");
}

void tst_FileLayer::outputFile_followsTheRulesOfItsWriter()
{
    QFETCH(int, rules);
    QFETCH(QString, standing);
    QFETCH(bool, expected);
    QFETCH(QString, kind);
    QFETCH(QByteArray, target);
    write(QStringLiteral("target.txt"), "old");
    const QByteArray name = QFile::encodeName(path(QStringLiteral("out")));
    if (standing == QLatin1String("link"))
        QVERIFY(QFile::link(path(QStringLiteral("target.txt")), path(QStringLiteral("out"))));
    else if (standing == QLatin1String("dangling"))
        QVERIFY(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("out"))));
    else if (standing == QLatin1String("hard link"))
        QCOMPARE(::link(QFile::encodeName(path(QStringLiteral("target.txt"))).constData(), name.constData()), 0);
    else if (standing == QLatin1String("pipe"))
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    else if (standing == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path(QStringLiteral("out"))));

    const QByteArray bytes("new");
    const bool written = writeFile(Place::below(m_dir->path(), QStringLiteral("out")), bytes, OutputFile::Rules(rules));
    QCOMPARE(written, expected);
    QCOMPARE(entryKind(path(QStringLiteral("out"))), kind);
    QCOMPARE(read(QStringLiteral("target.txt")), target);
    if (expected)
        QCOMPARE(read(QStringLiteral("out")), bytes);
    // No temporary file stays beside the two.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
             2);
    QVERIFY2(!QFileInfo::exists(path(QStringLiteral("nowhere"))), "a dangling link's target was made");
}

QTEST_GUILESS_MAIN(tst_FileLayer)
#include "tst_filelayer.moc"
