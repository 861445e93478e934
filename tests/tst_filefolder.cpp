#include "MessageCapture.h"
#include "TkFileFolder.h"
#include "TkFileInfo.h"
#include "TkSettings.h"

#include <QFile>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Folder operations on trees QML cannot build: symbolic links and their cycles.
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
    void copyTree_linkCycleInsideSourceStops();
    void copyMissingSource_namesAbsolutePath();
    void createdObjects_belongToTheGarbageCollector();

private:
    void touch(const QString &relative);
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
// every entry looked at with QFileInfo, the slow way the listing must agree with.
void referenceNames(QStringList &out, const QDir &dir, const QStringList &patterns, const QString &prefix,
                    bool subFolders, bool wantFiles, QStringList &walking)
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
        if (subFolders && !walking.contains(canonical)) {
            walking.append(canonical);
            referenceNames(out, QDir(info.filePath()), patterns, name, subFolders, wantFiles, walking);
            walking.removeLast();
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
            QStringList walking{QFileInfo(m_dir->path()).canonicalFilePath()};
            referenceNames(expected, QDir(m_dir->path()), patterns, QString(), subFolders, wantFiles, walking);
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

void tst_FileFolder::copyTree_linkCycleInsideSourceStops()
{
    touch(QStringLiteral("src/a.txt"));
    touch(QStringLiteral("elsewhere/b.txt"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("src")), m_dir->filePath(QStringLiteral("src/loop"))));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("elsewhere")), m_dir->filePath(QStringLiteral("src/link"))));
    TkFileFolder folder(m_dir->path(), nullptr);
    MessageCapture capture;
    QVERIFY(!folder.copyFile(QStringLiteral("src"), m_dir->filePath(QStringLiteral("dst"))));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("Folder links back into the copy:")));
    // Entries before the loop were copied, a link to another folder as a real folder.
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("dst/a.txt"))));
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("dst/link/b.txt"))));
    QVERIFY(!QFileInfo(m_dir->filePath(QStringLiteral("dst/link"))).isSymLink());
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("dst/loop"))));
}

void tst_FileFolder::copyMissingSource_namesAbsolutePath()
{
    TkFileFolder folder(m_dir->path(), nullptr);
    MessageCapture capture;
    QVERIFY(!folder.copyFile(QStringLiteral("nothing"), m_dir->filePath(QStringLiteral("x"))));
    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("File doesn't exist: \"") + m_dir->filePath(QStringLiteral("nothing"))));
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

QTEST_MAIN(tst_FileFolder)
#include "tst_filefolder.moc"
