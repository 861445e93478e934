#include "FileTestSupport.h"
#include "MessageCapture.h"
#include "TkExifInfo.h"
#include "TkFileFolder.h"
#include "TkFileInfo.h"
#include "TkSettings.h"

#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

// Folder operations on trees QML cannot build: symbolic links and their
// cycles, pipes, hostile names, folders another user cannot read, and
// listings compared with QDir on every kind of entry.
class tst_FileFolder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void recursiveListing_symlinkCycleTerminates();
    void recursiveListing_followsLinksToOtherFolders();
    void listing_agreesWithQDirOnEveryKindOfEntry_data();
    void listing_agreesWithQDirOnEveryKindOfEntry();
    void folderNamedLikeResourcePath_isListedAsFolder();
    void copyIntoOwnSubtree_isRefusedBeforeCreatingAnything_data();
    void copyIntoOwnSubtree_isRefusedBeforeCreatingAnything();
    void copyTree_stopsAtExistingFileWithTwoCriticals();
    void namesGivenToMethods_nameExactlyThatEntry_data();
    void namesGivenToMethods_nameExactlyThatEntry();
    void removeFolder_removesOnlyTheNamedSubfolder_data();
    void removeFolder_removesOnlyTheNamedSubfolder();
    void copyTree_copiesWhatItCanAndReportsTheRest_data();
    void copyTree_copiesWhatItCanAndReportsTheRest();
    void copyMissingSource_namesAbsolutePath();
    void copyRun_endsWithOneSignal_data();
    void copyRun_endsWithOneSignal();
    void backgroundCopy_cancelTakesBackWhatItMade();
    void createdObjects_belongToTheGarbageCollector();
    void removal_neverReachesPastTheNamedFolder_data();
    void removal_neverReachesPastTheNamedFolder();
    void copy_neverWritesThroughLinksNorPastTheTarget_data();
    void copy_neverWritesThroughLinksNorPastTheTarget();
    void write_neverFollowsLinksBelowTheFolder_data();
    void write_neverFollowsLinksBelowTheFolder();
    void read_takesRegularFilesOnlyWithoutWaiting_data();
    void read_takesRegularFilesOnlyWithoutWaiting();

private:
    void touch(const QString &relative);
    void link(const QString &target, const QString &relative);
    void makeLinkedTree();
    // Runs `run` in the folder m_dir/cwd, which holds victim/v.txt.
    bool inWorkingFolder(const std::function<bool()> &run);
    void makeAwkwardTree();
    QScopedPointer<QTemporaryDir> m_dir;
    QList<QByteArray> m_rawNames;
};

void tst_FileFolder::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void tst_FileFolder::cleanup()
{
    // QDir cannot see the undecodable names, so the temporary folder could not remove them.
    for (const QByteArray &name : qAsConst(m_rawNames))
        ::unlink((QFile::encodeName(m_dir->path()) + '/' + name).constData());
    m_rawNames.clear();
}

void tst_FileFolder::touch(const QString &relative)
{
    const QString path = m_dir->filePath(relative);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

void tst_FileFolder::link(const QString &target, const QString &relative)
{
    QVERIFY(QFile::link(target, m_dir->filePath(relative)));
}

bool tst_FileFolder::inWorkingFolder(const std::function<bool()> &run)
{
    touch(QStringLiteral("cwd/victim/v.txt"));
    const QString previous = QDir::currentPath();
    if (!QDir::setCurrent(m_dir->filePath(QStringLiteral("cwd"))))
        return false;
    const bool result = run();
    QDir::setCurrent(previous);
    return result;
}

void tst_FileFolder::recursiveListing_symlinkCycleTerminates()
{
    touch(QStringLiteral("a/file.txt"));
    touch(QStringLiteral("b/other.txt"));
    // a/toB -> b and b/toA -> a: walking either follows the other back.
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("b")), m_dir->filePath(QStringLiteral("a/toB"))));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("a")), m_dir->filePath(QStringLiteral("b/toA"))));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("a")), m_dir->filePath(QStringLiteral("a/self"))));

    TkFileFolder folder(m_dir->filePath(QStringLiteral("a")), nullptr);
    QCOMPARE(folder.fileNames(QStringLiteral("*"), true),
             (QStringList{QStringLiteral("file.txt"), QStringLiteral("toB/other.txt")}));
    QCOMPARE(folder.folderNames(QStringLiteral("*"), true),
             (QStringList{QStringLiteral("self"), QStringLiteral("toB"), QStringLiteral("toB/toA")}));
}

void tst_FileFolder::recursiveListing_followsLinksToOtherFolders()
{
    touch(QStringLiteral("a/x.txt"));
    touch(QStringLiteral("elsewhere/y.txt"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("elsewhere")), m_dir->filePath(QStringLiteral("a/link"))));
    TkFileFolder folder(m_dir->filePath(QStringLiteral("a")), nullptr);
    QCOMPARE(folder.fileNames(QStringLiteral("*"), true),
             (QStringList{QStringLiteral("link/y.txt"), QStringLiteral("x.txt")}));
}

namespace {

// What a listing gave when every folder was read with QDir::entryList and
// every entry looked at with QFileInfo, the slow way the listing must agree
// with. A walk enters each folder once: `entered` holds their canonical paths.
void referenceNames(QStringList &out, const QDir &dir, const QStringList &patterns, const QString &prefix,
                    bool subFolders, bool wantFiles, QStringList &entered)
{
    QDir::Filters filters = QDir::Dirs | QDir::NoDotAndDotDot;
    if (wantFiles)
        filters |= QDir::Files;
    for (const QString &entry : dir.entryList(patterns, filters, QDir::Name)) {
        const QString name = prefix.isEmpty() ? entry : prefix + QDir::separator() + entry;
        const QFileInfo info(dir.path() + QLatin1Char('/') + entry);
        if (!info.isDir()) {
            if (wantFiles)
                out.append(name);
            continue;
        }
        if (!wantFiles)
            out.append(name);
        const QString canonical = info.canonicalFilePath();
        if (subFolders && !entered.contains(canonical)) {
            entered.append(canonical);
            referenceNames(out, QDir(info.filePath()), patterns, name, subFolders, wantFiles, entered);
        }
    }
}

} // namespace

void tst_FileFolder::makeAwkwardTree()
{
    for (const char *name : {"b.txt", "A.txt", "x.TXT", "Zed", "a[b].txt", "ab", "a\\b", "^x", ".hidden.txt",
                             "sub/c.txt", "sub/deep/d.json", "data/e.txt", ".hiddenFolder/f.txt", "[!a]c",
                             "caf\xc3\xa9.txt", "\xef\xbb\xbf" "bom.txt", "u\xef\xbf\xbf"})
        touch(QString::fromUtf8(name));
    const QByteArray root = QFile::encodeName(m_dir->path()) + '/';
    // Names the UTF-8 locale cannot decode: QDir leaves them out.
    for (const char *name : {"bad\xff.txt", "overlong\xc0\x80", "surrogate\xed\xa0\x80", "cut\xc3"}) {
        const int fd = ::open((root + name).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        QVERIFY2(fd >= 0, name);
        ::close(fd);
        m_rawNames.append(name);
    }
    QVERIFY(mkfifo((root + "fifo.txt").constData(), 0600) == 0);
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("fifo.txt")), m_dir->filePath(QStringLiteral("toFifo.txt"))));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), m_dir->filePath(QStringLiteral("toDevice"))));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere")), m_dir->filePath(QStringLiteral("broken.txt"))));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("b.txt")), m_dir->filePath(QStringLiteral("toFile.txt"))));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("sub")), m_dir->filePath(QStringLiteral("data/toSub"))));
    QVERIFY(QFile::link(m_dir->path(), m_dir->filePath(QStringLiteral("sub/deep/toTop"))));
}

void tst_FileFolder::listing_agreesWithQDirOnEveryKindOfEntry_data()
{
    QTest::addColumn<QVariant>("filter");
    QTest::newRow("everything") << QVariant(QStringLiteral("*"));
    QTest::newRow("suffix, any case") << QVariant(QStringLiteral("*.TXT"));
    QTest::newRow("two patterns") << QVariant(QStringList{QStringLiteral("*.txt"), QStringLiteral("*.json")});
    QTest::newRow("star among others") << QVariant(QStringList{QStringLiteral("*.json"), QStringLiteral("*")});
    QTest::newRow("negated set") << QVariant(QStringLiteral("[!a]*"));
    QTest::newRow("set") << QVariant(QStringLiteral("a[b]*"));
    QTest::newRow("question mark") << QVariant(QStringLiteral("?ub"));
    QTest::newRow("one text, not split") << QVariant(QStringLiteral("*.txt;*.json"));
    QTest::newRow("empty text") << QVariant(QString());
    QTest::newRow("empty list") << QVariant(QStringList());
}

void tst_FileFolder::listing_agreesWithQDirOnEveryKindOfEntry()
{
    QFETCH(QVariant, filter);
    makeAwkwardTree();
    const QStringList patterns = filter.toStringList();
    TkFileFolder folder(m_dir->path(), nullptr);
    for (const bool subFolders : {false, true}) {
        for (const bool wantFiles : {false, true}) {
            QStringList expected;
            QStringList entered{QFileInfo(m_dir->path()).canonicalFilePath()};
            referenceNames(expected, QDir(m_dir->path()), patterns, QString(), subFolders, wantFiles, entered);
            const QStringList actual = wantFiles ? folder.fileNames(filter, subFolders)
                                                 : folder.folderNames(filter, subFolders);
            QVERIFY2(actual == expected, qPrintable(QStringLiteral("subFolders %1, files %2:\n%3\nexpected\n%4")
                                                        .arg(subFolders).arg(wantFiles)
                                                        .arg(actual.join(QLatin1Char(' ')), expected.join(QLatin1Char(' ')))));
        }
    }
}

void tst_FileFolder::folderNamedLikeResourcePath_isListedAsFolder()
{
    // The joined path "<folder>/:colon" is a native path, whatever the name alone looks like.
    QVERIFY(QDir().mkpath(m_dir->path() + QStringLiteral("/:colon")));
    QFile file(m_dir->path() + QStringLiteral("/:colon/in.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    TkFileFolder folder(m_dir->path(), nullptr);
    QCOMPARE(folder.folderNames(), QStringList{QStringLiteral(":colon")});
    QCOMPARE(folder.fileNames(QStringLiteral("*"), true), QStringList{QStringLiteral(":colon/in.txt")});
}

void tst_FileFolder::copyIntoOwnSubtree_isRefusedBeforeCreatingAnything_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("the folder itself") << QStringLiteral("src");
    QTest::newRow("a new folder inside") << QStringLiteral("src/deep/copy");
    QTest::newRow("through a link to the source") << QStringLiteral("alias/copy");
    QTest::newRow("with dot segments") << QStringLiteral("other/../src/copy");
}

void tst_FileFolder::copyIntoOwnSubtree_isRefusedBeforeCreatingAnything()
{
    QFETCH(QString, target);
    touch(QStringLiteral("src/f.txt"));
    touch(QStringLiteral("other/keep.txt"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("src")), m_dir->filePath(QStringLiteral("alias"))));

    TkFileFolder folder(m_dir->path(), nullptr);
    MessageCapture capture;
    QVERIFY(!folder.copyFile(QStringLiteral("src"), m_dir->filePath(target)));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Target is inside the source folder:")));
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("src"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QStringLiteral("f.txt")});
}

void tst_FileFolder::copyTree_stopsAtExistingFileWithTwoCriticals()
{
    touch(QStringLiteral("src/a.txt"));
    touch(QStringLiteral("src/b.txt"));
    touch(QStringLiteral("dst/b.txt"));
    TkFileFolder folder(m_dir->path(), nullptr);
    MessageCapture capture;
    QVERIFY(!folder.copyFile(QStringLiteral("src"), m_dir->filePath(QStringLiteral("dst"))));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Target file already exists:")));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("copyFile failed:")));
    QVERIFY2(QFile::exists(m_dir->filePath(QStringLiteral("dst/a.txt"))), "files copied before the stop stay");
}

void tst_FileFolder::namesGivenToMethods_nameExactlyThatEntry_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("files");     // made before the call; "link->target" makes a link
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QStringList>("after");     // "path=kind"

    const QString percentA = QStringLiteral("%41.txt");
    QTest::newRow("removeFile of %41.txt beside A.txt")
        << "removeFile" << percentA << QStringList{"A.txt", percentA} << true
        << QStringList{"A.txt=file", "%41.txt=missing"};
    QTest::newRow("removeFolder of %41 beside A")
        << "removeFolder" << "%41" << QStringList{"A/keep.txt", "%41/x.txt"} << true
        << QStringList{"A/keep.txt=file", "%41=missing"};
    QTest::newRow("renameFile of %41.txt beside A.txt")
        << "renameFile" << percentA << QStringList{"A.txt", percentA} << true
        << QStringList{"A.txt=file", "%41.txt=missing", "renamed.txt=file"};
    QTest::newRow("renameFile onto a dangling link")
        << "renameFile" << "a.txt" << QStringList{"a.txt", "outside/keep.txt", "renamed.txt->outside/new.txt"} << false
        << QStringList{"a.txt=file", "renamed.txt=link", "outside/new.txt=missing"};
    QTest::newRow("removeFile of a name with a backslash")
        << "removeFile" << "a\\b" << QStringList{"a\\b"} << true << QStringList{"a\\b=missing"};
    QTest::newRow("removeFile of a name with a percent sign")
        << "removeFile" << "100%.txt" << QStringList{"100%.txt"} << true << QStringList{"100%.txt=missing"};
    QTest::newRow("fileExists of a name with a backslash")
        << "fileExists" << "a\\b" << QStringList{"a\\b"} << true << QStringList();
    QTest::newRow("fileExists of a name with a percent sign")
        << "fileExists" << "100%.txt" << QStringList{"100%.txt"} << true << QStringList();
    QTest::newRow("fileExists of %41.txt beside A.txt only")
        << "fileExists" << percentA << QStringList{"A.txt"} << false << QStringList();
    QTest::newRow("copyFile to a target named %41.txt")
        << "copyFile" << percentA << QStringList{"source.txt"} << true
        << QStringList{"%41.txt=file", "A.txt=missing"};
    QTest::newRow("copyFile to a target with a percent sign")
        << "copyFile" << "100%.txt" << QStringList{"source.txt"} << true << QStringList{"100%.txt=file"};
}

void tst_FileFolder::namesGivenToMethods_nameExactlyThatEntry()
{
    QFETCH(QString, operation);
    QFETCH(QString, name);
    QFETCH(QStringList, files);
    QFETCH(bool, expected);
    QFETCH(QStringList, after);

    for (const QString &file : files) {
        if (file.contains(QLatin1String("->")))
            QVERIFY(QFile::link(m_dir->filePath(file.section(QLatin1String("->"), 1)),
                                m_dir->filePath(file.section(QLatin1String("->"), 0, 0))));
        else
            touch(file);
    }
    TkFileFolder folder(m_dir->path(), nullptr);
    bool result = !expected;
    if (operation == QLatin1String("removeFile"))
        result = folder.removeFile(name);
    else if (operation == QLatin1String("removeFolder"))
        result = folder.removeFolder(name, true);
    else if (operation == QLatin1String("renameFile"))
        result = folder.renameFile(name, QStringLiteral("renamed.txt"));
    else if (operation == QLatin1String("fileExists"))
        result = folder.fileExists(name);
    else if (operation == QLatin1String("copyFile"))
        result = folder.copyFile(QStringLiteral("source.txt"), m_dir->path() + QLatin1Char('/') + name);
    QCOMPARE(result, expected);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_FileFolder::removeFolder_removesOnlyTheNamedSubfolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("recursive");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QStringList>("after");

    // The folder is root; beside it lie beside.txt and outside/, which
    // root/link points to.
    const QStringList untouched{"beside.txt=file", "root/keep.txt=file", "root/sub/f.txt=file", "outside/o.txt=file"};
    QTest::newRow("empty name") << "" << true << false << untouched;
    QTest::newRow("the folder itself") << "." << true << false << untouched;
    QTest::newRow("the folder above") << ".." << true << false << untouched;
    QTest::newRow("down and back up") << "sub/.." << true << false << untouched;
    QTest::newRow("link to a folder outside, recursive")
        << "link" << true << true << QStringList{"root/link=missing", "outside/o.txt=file", "root/keep.txt=file"};
    QTest::newRow("link to a folder outside")
        << "link" << false << true << QStringList{"root/link=missing", "outside/o.txt=file", "root/keep.txt=file"};
}

void tst_FileFolder::removeFolder_removesOnlyTheNamedSubfolder()
{
    QFETCH(QString, name);
    QFETCH(bool, recursive);
    QFETCH(bool, expected);
    QFETCH(QStringList, after);

    for (const char *file : {"beside.txt", "root/keep.txt", "root/sub/f.txt", "outside/o.txt"})
        touch(QString::fromLatin1(file));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("outside")), m_dir->filePath(QStringLiteral("root/link"))));

    TkFileFolder folder(m_dir->filePath(QStringLiteral("root")), nullptr);
    MessageCapture capture;
    QCOMPARE(folder.removeFolder(name, recursive), expected);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    if (!expected)
        QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Not a subfolder to remove:")));
}

void tst_FileFolder::copyTree_copiesWhatItCanAndReportsTheRest_data()
{
    QTest::addColumn<QString>("kind");          // what the source holds besides a.txt and z.txt
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<int>("level");             // of the expected message
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("named pipe") << "pipe" << "src" << "dst" << true << int(QtDebugMsg) << ""
                                << QStringList{"dst/a.txt=file", "dst/pipe=fifo", "dst/z.txt=file"};
    QTest::newRow("dangling link") << "dangling link" << "src" << "dst" << true << int(QtDebugMsg) << ""
                                   << QStringList{"dst/dangling=link", "dst/z.txt=file"};
    QTest::newRow("folder link back into the source")
        << "loop" << "src" << "dst" << true << int(QtWarningMsg) << "Folder links back into the copy:"
        << QStringList{"dst/a.txt=file", "dst/elsewhere=folder", "dst/elsewhere/b.txt=file", "dst/loop=missing",
                       "dst/z.txt=file"};
    QTest::newRow("folder link to the target's folder")
        << "link to other" << "src" << "other/x" << true << int(QtWarningMsg) << "Folder links back into the copy:"
        << QStringList{"other/x/a.txt=file", "other/x/dlink=missing", "other/x/z.txt=file"};
    QTest::newRow("subfolder the user cannot read")
        << "locked" << "src" << "dst" << false << int(QtCriticalMsg) << "File is not readable:"
        << QStringList{"dst/a.txt=file", "dst/locked/secret.txt=missing", "dst/z.txt=missing"};
    QTest::newRow("the root folder as source")
        << "" << "/" << "dst" << false << int(QtCriticalMsg) << "Target is inside the source folder:"
        << QStringList{"dst=missing"};
    QTest::newRow("target through link/.. into the source")
        << "link into source" << "src" << "a/link/../x" << false << int(QtCriticalMsg)
        << "Target is inside the source folder:" << QStringList{"src/x=missing", "a/x=missing"};
}

void tst_FileFolder::copyTree_copiesWhatItCanAndReportsTheRest()
{
    QFETCH(QString, kind);
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, expected);
    QFETCH(int, level);
    QFETCH(QString, message);
    QFETCH(QStringList, after);

    touch(QStringLiteral("src/a.txt"));
    touch(QStringLiteral("src/z.txt"));
    const QString pipe = m_dir->filePath(QStringLiteral("src/pipe"));
    if (kind == QLatin1String("pipe"))
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    if (kind == QLatin1String("dangling link"))
        QVERIFY(QFile::link(QStringLiteral("nowhere"), m_dir->filePath(QStringLiteral("src/dangling"))));
    if (kind == QLatin1String("loop")) {
        touch(QStringLiteral("elsewhere-folder/b.txt"));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("src")), m_dir->filePath(QStringLiteral("src/loop"))));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("elsewhere-folder")),
                            m_dir->filePath(QStringLiteral("src/elsewhere"))));
    }
    if (kind == QLatin1String("link to other")) {
        touch(QStringLiteral("other/o.txt"));
        QVERIFY(QFile::link(QStringLiteral("../other"), m_dir->filePath(QStringLiteral("src/dlink"))));
    }
    if (kind == QLatin1String("link into source")) {
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("src/inner"))));
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("a"))));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("src/inner")), m_dir->filePath(QStringLiteral("a/link"))));
    }

    bool result = !expected;
    if (kind == QLatin1String("locked")) {
        // Root reads every folder: the copy runs as another user, who owns
        // the tree but may not list src/locked.
        if (::geteuid() != 0)
            QSKIP("only root can hand the tree to the user who runs the copy");
        touch(QStringLiteral("src/locked/secret.txt"));
        QCOMPARE(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QString::number(kProbeUid),
                                                             m_dir->path()}), 0);
        QCOMPARE(::chmod(QFile::encodeName(m_dir->filePath(QStringLiteral("src/locked"))).constData(), 0), 0);
        const ProbeRun run = runProbeAsOtherUser({QStringLiteral("copy"), m_dir->path(), source,
                                                  m_dir->filePath(target)});
        if (!run.skipReason.isEmpty())
            QSKIP(qPrintable(run.skipReason));
        QVERIFY2(run.exitCode == kProbeTrue || run.exitCode == kProbeFalse, qPrintable(run.output));
        result = run.exitCode == kProbeTrue;
        QVERIFY2(run.output.contains(message), qPrintable(run.output));
    } else {
        PipeReaderWatch watch(kind == QLatin1String("pipe") ? QStringList{pipe} : QStringList());
        TkFileFolder folder(m_dir->path(), nullptr);
        MessageCapture capture;
        {
            // A guard that let the root folder through would copy the
            // whole file system: the size limit stops it at the first file.
            FileSizeLimit limit{source == QLatin1String("/") ? 1 : RLIM_INFINITY};
            result = folder.copyFile(source, m_dir->filePath(target));
        }
        QVERIFY2(!watch.stop(), "the copy opened a named pipe for reading");
        if (!message.isEmpty())
            QVERIFY2(capture.contains(QtMsgType(level), message), qPrintable(capture.texts().join('\n')));
    }
    QCOMPARE(result, expected);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    if (kind == QLatin1String("dangling link"))
        QCOMPARE(QFileInfo(m_dir->filePath(QStringLiteral("dst/dangling"))).symLinkTarget(),
                 m_dir->filePath(QStringLiteral("dst/nowhere")));
}

void tst_FileFolder::copyMissingSource_namesAbsolutePath()
{
    TkFileFolder folder(m_dir->path(), nullptr);
    MessageCapture capture;
    QVERIFY(!folder.copyFile(QStringLiteral("nothing"), m_dir->filePath(QStringLiteral("x"))));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("File doesn't exist: \"") + m_dir->filePath(QStringLiteral("nothing"))));
}

void tst_FileFolder::copyRun_endsWithOneSignal_data()
{
    QTest::addColumn<bool>("asynchronous");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("expected");         // copyFile's result
    QTest::addColumn<QString>("ending");        // "completed", "failed" or "" (no run)
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("after");

    // src holds a.txt, b.txt and sub/c.txt; dst/b.txt exists.
    const QStringList whole{"out/a.txt=file", "out/b.txt=file", "out/sub/c.txt=file"};
    QTest::newRow("background: tree") << true << "src" << "out" << true << "completed" << "" << whole;
    QTest::newRow("background: file") << true << "src/a.txt" << "a.txt" << true << "completed" << ""
                                      << QStringList{"a.txt=file"};
    QTest::newRow("here: tree") << false << "src" << "out" << true << "completed" << "" << whole;
    QTest::newRow("background: missing source")
        << true << "nothing" << "out" << false << "" << "File doesn't exist:" << QStringList{"out=missing"};
    QTest::newRow("background: existing target file")
        << true << "src/a.txt" << "dst/b.txt" << false << "" << "Target file already exists:" << QStringList();
    QTest::newRow("background: target inside the source")
        << true << "src" << "src/sub/copy" << false << "" << "Target is inside the source folder:"
        << QStringList{"src/sub/copy=missing"};
    QTest::newRow("background: stops at an existing file and takes back what it made")
        << true << "src" << "dst" << true << "failed" << "copyFile failed:"
        << QStringList{"dst/a.txt=missing", "dst/b.txt=file", "dst/sub=missing"};
    QTest::newRow("here: stops at an existing file and keeps what it made")
        << false << "src" << "dst" << false << "failed" << "copyFile failed:"
        << QStringList{"dst/a.txt=file", "dst/b.txt=file", "dst/sub=missing"};
}

void tst_FileFolder::copyRun_endsWithOneSignal()
{
    QFETCH(bool, asynchronous);
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, expected);
    QFETCH(QString, ending);
    QFETCH(QString, message);
    QFETCH(QStringList, after);

    for (const char *name : {"src/a.txt", "src/b.txt", "src/sub/c.txt"})
        touch(QString::fromLatin1(name));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("dst"))));
    QFile old(m_dir->filePath(QStringLiteral("dst/b.txt")));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();

    TkFileFolder folder(m_dir->path(), nullptr);
    folder.setAsynchronous(asynchronous);
    QSignalSpy progress(&folder, &TkFileFolder::copyProgress);
    QSignalSpy completed(&folder, &TkFileFolder::copyCompleted);
    QSignalSpy canceled(&folder, &TkFileFolder::copyCanceled);
    QSignalSpy busy(&folder, &TkFileFolder::busyChanged);
    MessageCapture capture;
    QCOMPARE(folder.copyFile(source, m_dir->filePath(target)), expected);
    const bool started = !ending.isEmpty();
    // A run here has ended when the call returns; one in the background
    // has not, and nothing else may start meanwhile.
    QCOMPARE(completed.count(), started && !asynchronous ? 1 : 0);
    QCOMPARE(folder.busy(), started && asynchronous);
    if (started && asynchronous) {
        QVERIFY(!folder.copyFile(source, m_dir->filePath(QStringLiteral("second"))));
        QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Copy already running:")));
        QVERIFY(completed.wait(20000));
    }
    QTest::qWait(20);
    QCOMPARE(completed.count() + canceled.count(), started ? 1 : 0);
    QCOMPARE(busy.count(), started && asynchronous ? 2 : 0);
    QVERIFY(!folder.busy());
    if (started) {
        const bool success = ending == QLatin1String("completed");
        QCOMPARE(completed.first().first().toBool(), success);
        QCOMPARE(progress.first().at(1).toDouble(), 0.0);
        QCOMPARE(progress.last().at(1).toDouble() == 100.0, success);
        QCOMPARE(folder.processedBytes() == folder.totalBytes() && folder.totalEntries() > 0, success);
    } else {
        QCOMPARE(progress.count(), 0);
    }
    if (!message.isEmpty())
        QVERIFY2(capture.contains(QtCriticalMsg, message), qPrintable(capture.texts().join('\n')));
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
}

void tst_FileFolder::backgroundCopy_cancelTakesBackWhatItMade()
{
    // The worker waits once its reports have gone untaken for 16 ms, and
    // this thread takes none before it cancels: with enough files to copy
    // the cancel comes first. A machine fast enough to copy them all within
    // that time gets twice as many.
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("src/sub"))));
    const QByteArray sub = QFile::encodeName(m_dir->filePath(QStringLiteral("src/sub/")));
    touch(QStringLiteral("dst/old.txt"));
    TkFileFolder folder(m_dir->path(), nullptr);
    folder.setAsynchronous(true);
    QSignalSpy completed(&folder, &TkFileFolder::copyCompleted);
    QSignalSpy canceled(&folder, &TkFileFolder::copyCanceled);
    int made = 0;
    for (int files = 2000; canceled.isEmpty(); files *= 2) {
        QVERIFY2(files <= 64000, "every copy was done before the cancel came");
        for (; made < files; ++made) {
            const int fd = ::open((sub + QByteArray::number(made)).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        completed.clear();
        QVERIFY(folder.copyFile(QStringLiteral("src"), m_dir->filePath(QStringLiteral("dst/copy"))));
        folder.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(completed.count() + canceled.count() > 0, 20000);
        QTest::qWait(20);
        QCOMPARE(completed.count() + canceled.count(), 1);
        if (!completed.isEmpty())
            QVERIFY(folder.removeFolder(QStringLiteral("dst/copy"), true));
    }
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("dst"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("old.txt")});
}

void tst_FileFolder::createdObjects_belongToTheGarbageCollector()
{
    TkFileFolder folder(m_dir->path(), nullptr);
    QScopedPointer<TkFileInfo> info(folder.fileInfo(QStringLiteral("a.txt")));
    QScopedPointer<TkFileFolder> child(folder.folder(QStringLiteral("sub")));
    QScopedPointer<TkSettings> settings(folder.settingsFile(QString()));
    QCOMPARE(QQmlEngine::objectOwnership(info.data()), QQmlEngine::JavaScriptOwnership);
    QCOMPARE(QQmlEngine::objectOwnership(child.data()), QQmlEngine::JavaScriptOwnership);
    QCOMPARE(QQmlEngine::objectOwnership(settings.data()), QQmlEngine::JavaScriptOwnership);
    QVERIFY(!info->parent() && !child->parent() && !settings->parent());
    QCOMPARE(info->filePath(), m_dir->filePath(QStringLiteral("a.txt")));
}

// What each family of operations does with links, pipes and paths that
// name no folder. makeLinkedTree() gives every row outside/ (o.txt,
// .hidden, sub/s.txt), which no row may change, root/ (keep.txt, file.txt,
// src/sub/evil.txt, raw/ with a name that is not UTF-8) with the links
// toOutside -> outside, toFile -> file.txt, dangling -> nowhere, dag/{a,b}
// -> levels/l1, whose levels each hold two links to the next one, and
// beside root alias -> outside and dst/sub -> outside. "$MAPORA_TEST_UNSET"
// is a variable set nowhere; such rows and those with an empty path run in
// the folder cwd/, which holds victim/v.txt.
namespace {

const QStringList outsideKept{"outside/o.txt=file", "outside/.hidden=file", "outside/sub/s.txt=file"};
const QByteArray rawName("bad\xff.txt");

int filesBelow(const QString &path)
{
    int count = 0;
    for (QDirIterator it(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++count;
    return count;
}

// A path of the tree, or the text as it is when it is empty or a variable.
QString treePath(const QTemporaryDir &dir, QString path)
{
    path.replace(QStringLiteral("<tree>"), dir.path());
    return path.isEmpty() || path.startsWith(QLatin1Char('$')) || path.startsWith(QLatin1Char('/')) ? path
                                                                                                   : dir.filePath(path);
}

} // namespace

void tst_FileFolder::makeLinkedTree()
{
    for (const char *file : {"outside/o.txt", "outside/.hidden", "outside/sub/s.txt", "root/keep.txt", "root/file.txt",
                             "root/src/sub/evil.txt", "root/raw/after.txt", "levels/l8/leaf.txt"})
        touch(QString::fromLatin1(file));
    link(m_dir->filePath(QStringLiteral("outside")), QStringLiteral("root/toOutside"));
    link(m_dir->filePath(QStringLiteral("root/file.txt")), QStringLiteral("root/toFile"));
    link(m_dir->filePath(QStringLiteral("nowhere")), QStringLiteral("root/dangling"));
    link(m_dir->filePath(QStringLiteral("outside")), QStringLiteral("alias"));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("dst"))));
    link(QStringLiteral("../outside"), QStringLiteral("dst/sub"));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("root/dag"))));
    for (int level = 0; level < 8; ++level) {
        const QString here = level ? QStringLiteral("levels/l%1/").arg(level) : QStringLiteral("root/dag/");
        const QString next = m_dir->filePath(QStringLiteral("levels/l%1").arg(level + 1));
        QVERIFY(QDir().mkpath(m_dir->filePath(here)));
        link(next, here + QStringLiteral("a"));
        link(next, here + QStringLiteral("b"));
    }
    const QByteArray raw = QFile::encodeName(m_dir->filePath(QStringLiteral("root/raw/"))) + rawName;
    const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0 && ::write(fd, "r", 1) == 1 && ::close(fd) == 0);
    m_rawNames << "root/raw/" + rawName << "raw-copy/" + rawName;
}

void tst_FileFolder::removal_neverReachesPastTheNamedFolder_data()
{
    QTest::addColumn<QString>("folder");    // of the tree, a variable or empty
    QTest::addColumn<QString>("name");      // empty: removeFolder() of the folder itself
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("own path a link to a folder: the link goes")
        << "alias" << "" << true << (outsideKept + QStringList{"alias=missing"});
    QTest::newRow("a file is no folder") << "root" << "file.txt" << false << QStringList{"root/file.txt=file"};
    QTest::newRow("a link to a file is no folder")
        << "root" << "toFile" << false << QStringList{"root/toFile=link", "root/file.txt=file"};
    QTest::newRow("a dangling link is no folder") << "root" << "dangling" << false << QStringList{"root/dangling=link"};
    QTest::newRow("a link on the way is not followed") << "root" << "toOutside/sub" << false << outsideKept;
    QTest::newRow("an unresolved variable names no folder")
        << "$MAPORA_TEST_UNSET" << "victim" << false << QStringList{"cwd/victim/v.txt=file"};
    QTest::newRow("an empty path names no folder") << "" << "" << false << QStringList{"cwd/victim/v.txt=file"};
    QTest::newRow("a removal that cannot finish changes no permissions")
        << "root" << "src" << false << (outsideKept + QStringList{"root/src/locked/l=link"});
}

void tst_FileFolder::removal_neverReachesPastTheNamedFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, expected);
    QFETCH(QStringList, after);
    makeLinkedTree();
    const QString path = treePath(*m_dir, folder);
    bool result = !expected;
    if (QByteArray(QTest::currentDataTag()).contains("permissions")) {
        // Another user may not change src/locked, which holds a link to
        // that user's file outside: QDir retried with setPermissions on
        // the link, which follows it. Root could remove anything.
        const QByteArray outsideFile = QFile::encodeName(m_dir->filePath(QStringLiteral("outside/o.txt")));
        const QByteArray locked = QFile::encodeName(m_dir->filePath(QStringLiteral("root/src/locked")));
        QVERIFY(QDir().mkpath(QFile::decodeName(locked)));
        link(QFile::decodeName(outsideFile), QStringLiteral("root/src/locked/l"));
        if (::geteuid() != 0)
            QSKIP("only root can hand the tree to the user who runs the removal");
        QCOMPARE(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-hR"), QString::number(kProbeUid),
                                                             m_dir->path()}), 0);
        QCOMPARE(::chmod(outsideFile.constData(), 0400), 0);
        QCOMPARE(::chmod(locked.constData(), 0555), 0);
        const ProbeRun run = runProbeAsOtherUser({QStringLiteral("remove"), path, name});
        ::chmod(locked.constData(), 0755);
        if (!run.skipReason.isEmpty())
            QSKIP(qPrintable(run.skipReason));
        QVERIFY2(run.exitCode == kProbeTrue || run.exitCode == kProbeFalse, qPrintable(run.output));
        result = run.exitCode == kProbeTrue;
        struct stat st {};
        QCOMPARE(::stat(outsideFile.constData(), &st), 0);
        QCOMPARE(QString::number(st.st_mode & 07777, 8), QStringLiteral("400"));
    } else {
        QVERIFY(inWorkingFolder([&] {
            TkFileFolder object(path, nullptr);
            result = name.isEmpty() ? object.removeFolder() : object.removeFolder(name, true);
            return true;
        }));
    }
    QCOMPARE(result, expected);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_FileFolder::copy_neverWritesThroughLinksNorPastTheTarget_data()
{
    QTest::addColumn<QString>("source");    // in root
    QTest::addColumn<QString>("target");    // of the tree, a variable or empty
    QTest::addColumn<bool>("expected");
    QTest::addColumn<int>("files");         // below the target afterwards, -1: not counted
    QTest::addColumn<QStringList>("after");

    QTest::newRow("a link in the target is not followed")
        << "src" << "dst" << false << -1 << (outsideKept + QStringList{"outside/evil.txt=missing", "dst/sub=link"});
    QTest::newRow("an empty target is refused") << "src" << "" << false << -1 << QStringList{"cwd/sub=missing"};
    QTest::newRow("an unresolved variable names no target")
        << "file.txt" << "$MAPORA_TEST_UNSET/<tree>/copied.txt" << false << -1 << QStringList{"copied.txt=missing"};
    QTest::newRow("a folder reached twice is copied once")
        << "dag" << "dag-copy" << true << 1 << QStringList{"dag-copy/a/a/a/a/a/a/a/a/leaf.txt=file"};
    QTest::newRow("names that are not UTF-8 are copied by their bytes")
        << "raw" << "raw-copy" << true << -1 << QStringList{"raw-copy/after.txt=file"};
}

void tst_FileFolder::copy_neverWritesThroughLinksNorPastTheTarget()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, expected);
    QFETCH(int, files);
    QFETCH(QStringList, after);
    makeLinkedTree();
    bool result = !expected;
    QVERIFY(inWorkingFolder([&] {
        TkFileFolder folder(m_dir->filePath(QStringLiteral("root")), nullptr);
        result = folder.copyFile(source, treePath(*m_dir, target));
        return true;
    }));
    QCOMPARE(result, expected);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    if (files >= 0)
        QCOMPARE(filesBelow(treePath(*m_dir, target)), files);
    struct stat st {};
    if (source == QLatin1String("raw"))
        QVERIFY2(::lstat((QFile::encodeName(m_dir->filePath(QStringLiteral("raw-copy/"))) + rawName).constData(), &st)
                     == 0,
                 "the file with a name that is not UTF-8 was not copied");
}

void tst_FileFolder::write_neverFollowsLinksBelowTheFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("text onto a dangling link")
        << "root" << "writeTextFile" << "dangling" << false << QStringList{"nowhere=missing", "root/dangling=link"};
    QTest::newRow("JSON onto a dangling link")
        << "root" << "writeJsonFile" << "dangling" << false << QStringList{"nowhere=missing"};
    QTest::newRow("into a linked folder on the way")
        << "root" << "writeFile" << "toOutside/new.txt" << false << QStringList{"outside/new.txt=missing"};
    QTest::newRow("folders made through a linked folder")
        << "root" << "makePath" << "toOutside/new/deeper" << false << QStringList{"outside/new=missing"};
    QTest::newRow("an empty path names no folder to write in")
        << "" << "writeTextFile" << "written.txt" << false << QStringList{"cwd/written.txt=missing"};
    QTest::newRow("a renamed link stays a link across file systems")
        << "root" << "renameFile" << "toFile" << true << QStringList{"root/toFile=missing", "root/file.txt=file"};
}

void tst_FileFolder::write_neverFollowsLinksBelowTheFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, operation);
    QFETCH(QString, name);
    QFETCH(bool, expected);
    QFETCH(QStringList, after);
    makeLinkedTree();
    // Another file system for the moved link: /dev/shm is a tmpfs.
    QScopedPointer<QTemporaryDir> elsewhere;
    QString moved;
    if (operation == QLatin1String("renameFile")) {
        elsewhere.reset(new QTemporaryDir(QStringLiteral("/dev/shm/tst_filefolder-XXXXXX")));
        struct stat here {}, there {};
        if (!elsewhere->isValid() || ::stat(QFile::encodeName(m_dir->path()).constData(), &here) != 0
            || ::stat(QFile::encodeName(elsewhere->path()).constData(), &there) != 0 || here.st_dev == there.st_dev)
            QSKIP("needs /dev/shm on another file system than the temporary folder");
        moved = elsewhere->filePath(QStringLiteral("moved"));
    }
    bool result = !expected;
    QVERIFY(inWorkingFolder([&] {
        TkFileFolder object(treePath(*m_dir, folder), nullptr);
        if (operation == QLatin1String("writeTextFile"))
            result = object.writeTextFile(name, QStringLiteral("text"));
        else if (operation == QLatin1String("writeJsonFile"))
            result = object.writeJsonFile(name, QVariantMap{{QStringLiteral("k"), 1}});
        else if (operation == QLatin1String("writeFile"))
            result = object.writeFile(name, QByteArray("bytes"));
        else if (operation == QLatin1String("makePath"))
            result = object.makePath(name);
        else if (operation == QLatin1String("renameFile"))
            result = object.renameFile(name, moved);
        return true;
    }));
    QCOMPARE(result, expected);
    const QString wrong = unexpectedEntries(m_dir->path(), after);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    if (!moved.isEmpty())
        QCOMPARE(entryKind(moved), QStringLiteral("link"));
}

void tst_FileFolder::read_takesRegularFilesOnlyWithoutWaiting_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");      // names listed, or bytes read

    QTest::newRow("readTextFile of a named pipe") << "readTextFile" << "pipe" << 0;
    QTest::newRow("readFile of a link to a named pipe") << "readFile" << "toPipe" << 0;
    QTest::newRow("readJsonFile of a named pipe") << "readJsonFile" << "pipe.json" << 0;
    QTest::newRow("ExifInfo of a named pipe") << "ExifInfo" << "pipe.jpg" << 0;
    QTest::newRow("listing of a link DAG names each file once") << "fileNames" << "dag" << 1;
}

void tst_FileFolder::read_takesRegularFilesOnlyWithoutWaiting()
{
    QFETCH(QString, operation);
    QFETCH(QString, name);
    QFETCH(int, expected);
    makeLinkedTree();
    const QString root = m_dir->filePath(QStringLiteral("root"));
    for (const char *pipe : {"pipe", "pipe.json", "pipe.jpg"})
        QCOMPARE(::mkfifo(QFile::encodeName(root + QLatin1Char('/') + QLatin1String(pipe)).constData(), 0600), 0);
    link(root + QStringLiteral("/pipe"), QStringLiteral("root/toPipe"));

    PipeReaderWatch watch({root + QStringLiteral("/pipe"), root + QStringLiteral("/pipe.json"),
                           root + QStringLiteral("/pipe.jpg")});
    TkFileFolder folder(root, nullptr);
    int got = -1;
    if (operation == QLatin1String("readTextFile"))
        got = folder.readTextFile(name).size();
    else if (operation == QLatin1String("readFile"))
        got = folder.readFile(name).toByteArray().size();
    else if (operation == QLatin1String("readJsonFile"))
        got = folder.readJsonFile(name).size();
    else if (operation == QLatin1String("ExifInfo"))
        got = TkExifInfo(folder.filePath(name), nullptr).isExifValid() ? 1 : 0;
    else if (operation == QLatin1String("fileNames"))
        got = TkFileFolder(folder.filePath(name), nullptr).fileNames(QStringLiteral("*"), true).size();
    QVERIFY2(!watch.stop(), "a named pipe was opened for reading");
    QCOMPARE(got, expected);
}

// The probes "copy <folder> <name> <target>" and "remove <folder> <name>"
// copy and remove as another user.
static bool probe(const QStringList &arguments)
{
    if (arguments.size() == 3 && arguments.at(0) == QLatin1String("remove"))
        return TkFileFolder(arguments.at(1), nullptr).removeFolder(arguments.at(2), true);
    return arguments.size() == 4 && arguments.at(0) == QLatin1String("copy")
        && TkFileFolder(arguments.at(1), nullptr).copyFile(arguments.at(2), arguments.at(3));
}

MAPORA_QTEST_MAIN_WITH_PROBE(tst_FileFolder, QGuiApplication, probe)
#include "tst_filefolder.moc"
