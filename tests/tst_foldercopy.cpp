#include "FileTestSupport.h"
#include "TkFileFolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Tree copies: names QDir would take for something else.
class tst_FolderCopy : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void copyTree_copiesNamesBeginningWithAColon();

private:
    QString write(const QString &relative, const QByteArray &bytes);
    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_FolderCopy::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

QString tst_FolderCopy::write(const QString &relative, const QByteArray &bytes)
{
    const QString path = m_dir->filePath(relative);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void tst_FolderCopy::copyTree_copiesNamesBeginningWithAColon()
{
    QVERIFY(!write(QStringLiteral("src/:file"), "a").isEmpty());
    QVERIFY(!write(QStringLiteral("src/:folder/b"), "b").isEmpty());
    QVERIFY(!write(QStringLiteral("src/z"), "z").isEmpty());
    TkFileFolder folder(m_dir->path(), nullptr);
    QVERIFY(folder.copyFile(QStringLiteral("src"), m_dir->filePath(QStringLiteral("dst"))));
    const QString wrong = unexpectedEntries(m_dir->path(), {"dst/:file=file", "dst/:folder=folder",
                                                            "dst/:folder/b=file", "dst/z=file"});
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

QTEST_GUILESS_MAIN(tst_FolderCopy)
#include "tst_foldercopy.moc"
