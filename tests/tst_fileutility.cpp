#include "FileTestSupport.h"
#include "FileUtility.h"
#include "MessageCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using Extras::FileUtility;

namespace {
const QString kUtility = QStringLiteral("Quil.MaporaRuntime.Utility");
const QString kSettingsGroup = QStringLiteral("Quil/MaporaRuntime/pathVariables");
const QByteArray kPropertyPrefix = QByteArrayLiteral("Quil/MaporaRuntime/pathVariables.");
const QString kHome = QStringLiteral("/home/tester");
// Environment variables the tests set; they are unset around every test.
const char *const kEnvNames[] = {"TEMP", "NOPE", "MAPORA_TEST_VAR"};
const QRegularExpression kUuid(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));

// Host applications share the variable table through these application
// properties, so the tests fill and read it the way a host does.
void setTableEntry(const QString &name, const QVariant &value)
{
    QCoreApplication::instance()->setProperty(kPropertyPrefix + name.toUtf8(), value);
}

QVariant tableEntry(const QString &name)
{
    return QCoreApplication::instance()->property(kPropertyPrefix + name.toUtf8());
}

// True when one message of the utility category at `type` holds every fragment.
bool logged(const MessageCapture &capture, QtMsgType type, const QStringList &fragments)
{
    for (const MessageCapture::Message &m : capture.messages()) {
        if (m.type != type || m.category != kUtility)
            continue;
        if (std::all_of(fragments.begin(), fragments.end(), [&](const QString &f) { return m.text.contains(f); }))
            return true;
    }
    return false;
}

int warningCount(const MessageCapture &capture)
{
    return int(std::count_if(capture.messages().begin(), capture.messages().end(),
                             [](const MessageCapture::Message &m) { return m.type >= QtWarningMsg; }));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool createFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class tst_FileUtility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { resetVariables(); }
    void cleanup() { resetVariables(); }

    void resolvedPath_replacesLeadingVariable_data();
    void resolvedPath_replacesLeadingVariable();
    void resolvedPath_tempFromEnvironment_isNotStored();
    void resolvedPath_withoutSearch_storesBuiltInTemp();
    void pathVariable_searchesSourcesInOrder_data();
    void pathVariable_searchesSourcesInOrder();
    void pathVariable_emptyName_returnsFallback();
    void setPathVariable_emptyValue_removesVariable();
    void setPathVariable_emptyName_changesNothing();
    void pathVariablesMap_holdsOnlyApplicationTable();
    void setHomePath_reportsWhetherPathExists();

    void stringToUri_keepsUrlsAndConvertsPaths_data();
    void stringToUri_keepsUrlsAndConvertsPaths();
    void urlHelpers_classifyAndConvert_data();
    void urlHelpers_classifyAndConvert();
    void resolvedPathOfUrl_data();
    void resolvedPathOfUrl();
    void pathUrl_givesFileOrResourceUrl_data();
    void pathUrl_givesFileOrResourceUrl();

    void readFile_missingFile_isEmptyAndSilent();
    void writeFile_missingFolder_fails();
    void writeFile_replacesContent_data();
    void writeFile_replacesContent();
    void writeFile_keepsPermissions();
    void writeFile_throughSymlink_changesTarget_data();
    void writeFile_throughSymlink_changesTarget();
    void writeFile_failedWrite_keepsPreviousContent();
    void writeFile_neverCostsDataNorChangesWhatOthersSee_data();
    void writeFile_neverCostsDataNorChangesWhatOthersSee();

    void setDateTime_setsWholeSeconds_data();
    void setDateTime_setsWholeSeconds();
    void copyDateTime_copiesBothTimes();
    void copyDateTime_missingFile_warnsAndFails_data();
    void copyDateTime_missingFile_warnsAndFails();
    void setHidden_reportsMatchingStateWithoutRenaming_data();
    void setHidden_reportsMatchingStateWithoutRenaming();
    void mkpath_createsMissingFolders_data();
    void mkpath_createsMissingFolders();
    void createRandomFilename_isBareUuid();
    void createRandomTempFolder_createsFolderInTemp();
    void dirEntryList_listsFilesDepthFirst();
    void dirEntryList_linkToParent_listsEachFileOnce();
    void deleteLocalFile_removesFolderOfOnlyFile_data();
    void deleteLocalFile_removesFolderOfOnlyFile();

private:
    void resetVariables();
};

void tst_FileUtility::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("MaporaExtrasTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_fileutility"));
    // The settings the tests write must land in the test-mode store.
    QVERIFY2(QSettings().fileName().contains(QLatin1String("/.qttest/")), qPrintable(QSettings().fileName()));
}

void tst_FileUtility::resetVariables()
{
    QObject *app = QCoreApplication::instance();
    const QList<QByteArray> names = app->dynamicPropertyNames();
    for (const QByteArray &name : names) {
        if (name.startsWith(kPropertyPrefix))
            app->setProperty(name.constData(), QVariant());
    }
    QSettings settings;
    settings.remove(kSettingsGroup);
    settings.sync();
    for (const char *name : kEnvNames)
        qunsetenv(name);
}

void tst_FileUtility::resolvedPath_replacesLeadingVariable_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QVariantMap>("variables");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("warning");   // fragments of the expected warning

    const QVariantMap home{{QStringLiteral("HOME"), kHome}};
    const QVariantMap slashed{{QStringLiteral("A\\b"), QStringLiteral("/ab")}, {QStringLiteral("A"), QStringLiteral("/a")}};

    QTest::newRow("tilde alone") << "~" << home << kHome << QStringList();
    QTest::newRow("tilde slash keeps the slash") << "~/" << home << kHome + "/" << QStringList();
    QTest::newRow("tilde backslash") << "~\\docs" << home << kHome + "\\docs" << QStringList();
    QTest::newRow("tilde with a name is not HOME")
        << "~work/a" << QVariantMap{{QStringLiteral("HOME"), kHome}, {QStringLiteral("work"), QStringLiteral("/w")}}
        << "/w/a" << QStringList();
    QTest::newRow("dollar variable") << "$DATA/sub/f.txt" << QVariantMap{{QStringLiteral("DATA"), QStringLiteral("/srv/data")}}
                                     << "/srv/data/sub/f.txt" << QStringList();
    QTest::newRow("value is not cleaned") << "$V/x" << QVariantMap{{QStringLiteral("V"), QStringLiteral("/v/")}}
                                          << "/v//x" << QStringList();
    QTest::newRow("a slash anywhere ends the name") << "$A\\b/c" << slashed << "/ab/c" << QStringList();
    QTest::newRow("without slash a backslash ends it") << "$A\\b" << slashed << "/a\\b" << QStringList();
    const QStringList unnamed{QStringLiteral("Path variable name not specified")};
    QTest::newRow("unnamed variable") << "$/a" << home << "/a" << unnamed;
    QTest::newRow("dollar alone") << "$" << home << "" << unnamed;
    QTest::newRow("unknown variable") << "$NOPE/a" << home << "/a"
                                      << QStringList{QStringLiteral("Nonexistent Path variable"), QStringLiteral("NOPE")};
    QTest::newRow("plain absolute path") << "/data/$HOME/~x" << home << "/data/$HOME/~x" << QStringList();
    QTest::newRow("plain relative path") << "data/x~$" << home << "data/x~$" << QStringList();
    QTest::newRow("drive letter path") << "C:/data$" << home << "C:/data$" << QStringList();
}

void tst_FileUtility::resolvedPath_replacesLeadingVariable()
{
    QFETCH(QString, path);
    QFETCH(QVariantMap, variables);
    QFETCH(QString, expected);
    QFETCH(QStringList, warning);

    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        setTableEntry(it.key(), it.value());

    MessageCapture capture;
    QCOMPARE(FileUtility::resolvedPath(path), expected);
    if (warning.isEmpty()) {
        QCOMPARE(warningCount(capture), 0);
    } else {
        QVERIFY2(logged(capture, QtWarningMsg, warning << QStringLiteral("resolvedPath")), qPrintable(capture.texts().join('\n')));
    }
}

void tst_FileUtility::resolvedPath_tempFromEnvironment_isNotStored()
{
    qputenv("TEMP", "/env/temp");
    MessageCapture capture;
    QCOMPARE(FileUtility::resolvedPath(QStringLiteral("$TEMP/x")), QStringLiteral("/env/temp/x"));
    QCOMPARE(warningCount(capture), 0);
    // A value found in the environment must not be frozen into the table.
    QCOMPARE(FileUtility::pathVariableType(QStringLiteral("TEMP")), FileUtility::EnvironmentPathVariable);
    QVERIFY(!FileUtility::pathVariableNames().contains(QStringLiteral("TEMP")));
}

void tst_FileUtility::resolvedPath_withoutSearch_storesBuiltInTemp()
{
    qputenv("TEMP", "/env/temp");
    MessageCapture capture;
    QCOMPARE(FileUtility::resolvedPath(QStringLiteral("$TEMP/x"), false), QDir::tempPath() + "/x");
    // The built-in default is stored before the existence check: no warning.
    QCOMPARE(warningCount(capture), 0);
    QVERIFY(logged(capture, QtDebugMsg, {QStringLiteral("Setting default"), QStringLiteral("TEMP")}));
    QCOMPARE(FileUtility::pathVariableType(QStringLiteral("TEMP"), false), FileUtility::ApplicationPathVariable);
    QCOMPARE(tableEntry(QStringLiteral("TEMP")).toString(), QDir::tempPath());
    // From now on the stored value wins over the environment.
    QCOMPARE(FileUtility::resolvedPath(QStringLiteral("$TEMP/x")), QDir::tempPath() + "/x");
}

void tst_FileUtility::pathVariable_searchesSourcesInOrder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("application");
    QTest::addColumn<QVariant>("settings");
    QTest::addColumn<QVariant>("environment");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("typeBefore");
    QTest::addColumn<bool>("storesDefault");

    const QString temp = QStringLiteral("TEMP");
    const QString other = QStringLiteral("MAPORA_TEST_VAR");
    const QVariant none;
    const QVariant app(QStringLiteral("/app"));
    const QVariant set(QStringLiteral("/settings"));
    const QVariant env(QStringLiteral("/env"));
    const QVariant blank(QStringLiteral("   "));

    QTest::newRow("application beats settings") << temp << app << set << env << "/app" << int(FileUtility::ApplicationPathVariable) << false;
    QTest::newRow("settings beat environment") << temp << none << set << env << "/settings" << int(FileUtility::SettingsPathVariable) << false;
    QTest::newRow("settings value is trimmed") << temp << none << QVariant(QStringLiteral("  /srv/data \t")) << env
                                               << "/srv/data" << int(FileUtility::SettingsPathVariable) << false;
    QTest::newRow("environment beats default") << temp << none << none << env << "/env" << int(FileUtility::EnvironmentPathVariable) << false;
    QTest::newRow("blank settings value, then environment") << temp << none << blank << env << "/env" << int(FileUtility::SettingsPathVariable) << false;
    QTest::newRow("blank settings value, then default") << temp << none << blank << none << QDir::tempPath() << int(FileUtility::SettingsPathVariable) << true;
    QTest::newRow("empty environment value counts as unset") << temp << none << none << QVariant(QString(""))
                                                             << QDir::tempPath() << int(FileUtility::NoPathVariable) << true;
    QTest::newRow("built-in default") << temp << none << none << none << QDir::tempPath() << int(FileUtility::NoPathVariable) << true;
    QTest::newRow("other name from environment") << other << none << none << env << "/env" << int(FileUtility::EnvironmentPathVariable) << false;
    QTest::newRow("other name has no default") << other << none << none << none << "" << int(FileUtility::NoPathVariable) << false;
}

void tst_FileUtility::pathVariable_searchesSourcesInOrder()
{
    QFETCH(QString, name);
    QFETCH(QVariant, application);
    QFETCH(QVariant, settings);
    QFETCH(QVariant, environment);
    QFETCH(QString, value);
    QFETCH(int, typeBefore);
    QFETCH(bool, storesDefault);

    if (application.isValid())
        setTableEntry(name, application);
    if (settings.isValid()) {
        QSettings store;
        store.setValue(kSettingsGroup + '/' + name, settings);
        store.sync();
    }
    if (environment.isValid())
        qputenv(name.toUtf8().constData(), environment.toString().toUtf8());

    QCOMPARE(int(FileUtility::pathVariableType(name, true)), typeBefore);
    QCOMPARE(FileUtility::pathVariableExists(name, true), typeBefore != FileUtility::NoPathVariable);
    // Without the search only the application's table counts.
    QCOMPARE(FileUtility::pathVariableType(name, false),
             application.isValid() ? FileUtility::ApplicationPathVariable : FileUtility::NoPathVariable);

    MessageCapture capture;
    QCOMPARE(FileUtility::pathVariable(name, QString(), true), value);
    QCOMPARE(logged(capture, QtDebugMsg, {QStringLiteral("Setting default"), name}), storesDefault);
    if (storesDefault) {
        QCOMPARE(FileUtility::pathVariableType(name, true), FileUtility::ApplicationPathVariable);
        QCOMPARE(tableEntry(name).toString(), value);
    } else {
        QCOMPARE(int(FileUtility::pathVariableType(name, true)), typeBefore);
    }
}

void tst_FileUtility::pathVariable_emptyName_returnsFallback()
{
    MessageCapture capture;
    QCOMPARE(FileUtility::pathVariable(QString(), QStringLiteral("/fallback")), QStringLiteral("/fallback"));
    QVERIFY(logged(capture, QtWarningMsg, {QStringLiteral("Empty name")}));
    // The fallback is only for the empty name.
    QCOMPARE(FileUtility::pathVariable(QStringLiteral("MAPORA_TEST_VAR"), QStringLiteral("/fallback")), QString());
}

void tst_FileUtility::setPathVariable_emptyValue_removesVariable()
{
    FileUtility::setPathVariable(QStringLiteral("DATA"), QStringLiteral("/srv/data"));
    QCOMPARE(tableEntry(QStringLiteral("DATA")), QVariant(QStringLiteral("/srv/data")));
    QVERIFY(FileUtility::pathVariableNames().contains(QStringLiteral("DATA")));

    FileUtility::setPathVariable(QStringLiteral("DATA"), QString());
    QVERIFY(!FileUtility::pathVariableNames().contains(QStringLiteral("DATA")));
    QVERIFY(!tableEntry(QStringLiteral("DATA")).isValid());
    QCOMPARE(FileUtility::pathVariableType(QStringLiteral("DATA")), FileUtility::NoPathVariable);
}

void tst_FileUtility::setPathVariable_emptyName_changesNothing()
{
    FileUtility::setPathVariable(QStringLiteral("DATA"), QStringLiteral("/srv/data"));
    const QList<QByteArray> before = QCoreApplication::instance()->dynamicPropertyNames();

    MessageCapture capture;
    FileUtility::setPathVariable(QString(), QStringLiteral("/nowhere"));
    QVERIFY(logged(capture, QtWarningMsg, {QStringLiteral("Empty name, value="), QStringLiteral("/nowhere")}));
    QCOMPARE(QCoreApplication::instance()->dynamicPropertyNames(), before);
    QCOMPARE(FileUtility::pathVariableNames(), QStringList{QStringLiteral("DATA")});
}

void tst_FileUtility::pathVariablesMap_holdsOnlyApplicationTable()
{
    FileUtility::setPathVariable(QStringLiteral("B"), QStringLiteral("/b"));
    FileUtility::setPathVariable(QStringLiteral("A"), QStringLiteral("/a"));
    QSettings().setValue(kSettingsGroup + QStringLiteral("/FROM_SETTINGS"), QStringLiteral("/s"));
    qputenv("MAPORA_TEST_VAR", "/env");

    const QVariantMap expected{{QStringLiteral("A"), QStringLiteral("/a")}, {QStringLiteral("B"), QStringLiteral("/b")}};
    QCOMPARE(FileUtility::pathVariablesMap(), expected);
    QStringList names = FileUtility::pathVariableNames();
    names.sort();
    QCOMPARE(names, expected.keys());
}

void tst_FileUtility::setHomePath_reportsWhetherPathExists()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    // The variable is set whether or not the folder exists.
    QVERIFY(!FileUtility::setHomePath(missing));
    QCOMPARE(FileUtility::homePath(), missing);
    QVERIFY(FileUtility::setHomePath(dir.path()));
    QCOMPARE(FileUtility::resolvedPath(QStringLiteral("~/f")), dir.path() + "/f");
}

void tst_FileUtility::stringToUri_keepsUrlsAndConvertsPaths_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("localFile");

    QTest::newRow("https URL") << "https://example.com/a.png" << false;
    QTest::newRow("resource URL") << "qrc:/a.png" << false;
    QTest::newRow("resource path") << ":/a.png" << false;
    QTest::newRow("name starting with qrc") << "qrcdata.txt" << false;
    QTest::newRow("relative path") << "data/a.txt" << true;
    QTest::newRow("absolute path with space") << "/tmp/a b.txt" << true;
    QTest::newRow("variable path") << "$HOME/a.txt" << true;
    QTest::newRow("tilde path") << "~/a.txt" << true;
    QTest::newRow("drive letter path") << "C:/data/a.txt" << true;
}

void tst_FileUtility::stringToUri_keepsUrlsAndConvertsPaths()
{
    QFETCH(QString, text);
    QFETCH(bool, localFile);

    const QUrl url = FileUtility::stringToUri(text);
    QCOMPARE(url.isLocalFile(), localFile);
    QCOMPARE(url, localFile ? QUrl::fromLocalFile(text) : QUrl(text, QUrl::TolerantMode));
}

void tst_FileUtility::urlHelpers_classifyAndConvert_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<bool>("isUrl");
    QTest::addColumn<bool>("isResource");
    QTest::addColumn<bool>("isLocalFile");
    QTest::addColumn<QString>("text");   // what uriToString gives

    QTest::newRow("http") << QUrl("http://example.com/~a") << true << false << false << "http://example.com/~a";
    QTest::newRow("https") << QUrl("https://example.com/a.png?x=1") << true << false << false << "https://example.com/a.png?x=1";
    QTest::newRow("ftp") << QUrl("ftp://example.com/a") << false << false << false << "ftp://example.com/a";
    QTest::newRow("resource URL") << QUrl("qrc:/a") << false << true << false << "qrc:/a";
    QTest::newRow("file URL") << QUrl("file:///tmp/a.txt") << false << false << true << "/tmp/a.txt";
    QTest::newRow("file URL, encoded space") << QUrl("file:///tmp/a%20b.txt") << false << false << true << "/tmp/a b.txt";
    QTest::newRow("scheme-less tilde") << QUrl("~/a") << false << false << true << "~/a";
    QTest::newRow("scheme-less variable") << QUrl("$TEMP/b") << false << false << true << "$TEMP/b";
    QTest::newRow("encoded variable") << QUrl("%24TEMP/b") << false << false << true << "%24TEMP/b";
    QTest::newRow("relative path") << QUrl("data/a") << false << false << false << "data/a";
}

void tst_FileUtility::urlHelpers_classifyAndConvert()
{
    QFETCH(QUrl, url);
    QFETCH(bool, isUrl);
    QFETCH(bool, isResource);
    QFETCH(bool, isLocalFile);
    QFETCH(QString, text);

    QCOMPARE(FileUtility::isUrl(url), isUrl);
    QCOMPARE(FileUtility::isResource(url), isResource);
    QCOMPARE(FileUtility::isLocalFile(url), isLocalFile);
    QCOMPARE(FileUtility::uriToString(url), text);
}

void tst_FileUtility::resolvedPathOfUrl_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("expected");

    QTest::newRow("resource URL") << QUrl("qrc:/img/a.png") << ":/img/a.png";
    QTest::newRow("resource URL with empty host") << QUrl("qrc:///a/b.png") << ":/a/b.png";
    QTest::newRow("encoded resource URL") << QUrl("qrc:/img/100%25%20a.png") << ":/img/100% a.png";
    QTest::newRow("resources have no variables") << QUrl("qrc:/$HOME/a.png") << ":/$HOME/a.png";
    QTest::newRow("file URL") << QUrl("file:///tmp/a.txt") << "/tmp/a.txt";
    QTest::newRow("file URL with variable") << QUrl::fromLocalFile("~/notes") << kHome + "/notes";
    QTest::newRow("scheme-less variable") << QUrl("$HOME/data") << kHome + "/data";
    QTest::newRow("scheme-less tilde") << QUrl("~/data") << kHome + "/data";
    QTest::newRow("http URL gives its path") << QUrl("https://example.com/a/b?c=1") << "/a/b";
    QTest::newRow("URL without path") << QUrl("https://example.com") << "";
    QTest::newRow("empty URL") << QUrl() << "";
}

void tst_FileUtility::resolvedPathOfUrl()
{
    QFETCH(QUrl, url);
    QFETCH(QString, expected);
    setTableEntry(QStringLiteral("HOME"), kHome);
    QCOMPARE(FileUtility::resolvedPath(url), expected);
}

void tst_FileUtility::pathUrl_givesFileOrResourceUrl_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QVERIFY(QFile::exists(QStringLiteral(":/img/a.png")));
    const QString program = QCoreApplication::applicationFilePath();
    QTest::newRow("existing resource") << ":/img/a.png" << "qrc:///img/a.png";
    QTest::newRow("missing resource") << ":/img/missing.png" << "qrc:///img/missing.png";
    QTest::newRow("existing file") << program << QUrl::fromLocalFile(program).toString();
    QTest::newRow("existing folder") << QDir::tempPath() << QUrl::fromLocalFile(QDir::tempPath()).toString();
    QTest::newRow("missing file") << "/no/such/a b.txt" << "file:///no/such/a b.txt";
}

void tst_FileUtility::pathUrl_givesFileOrResourceUrl()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(FileUtility::pathUrl(path).toString(), expected);
    if (path.startsWith(QLatin1String(":/")))
        QCOMPARE(FileUtility::resourcePathUrl(path).toString(), expected);
}

void tst_FileUtility::readFile_missingFile_isEmptyAndSilent()
{
    QTemporaryDir dir;
    MessageCapture capture;
    QVERIFY(FileUtility::readFile(dir.filePath(QStringLiteral("absent.txt"))).isEmpty());
    QVERIFY(capture.messages().isEmpty());
}

void tst_FileUtility::writeFile_missingFolder_fails()
{
    QTemporaryDir dir;
    QVERIFY(!FileUtility::writeFile(dir.filePath(QStringLiteral("missing/a.txt")), "x"));
    QVERIFY(entries(dir.path()).isEmpty());
}

void tst_FileUtility::writeFile_replacesContent_data()
{
    QTest::addColumn<bool>("existed");
    QTest::addColumn<QByteArray>("previous");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("new file") << false << QByteArray() << QByteArray("fresh");
    QTest::newRow("shorter content") << true << QByteArray("0123456789") << QByteArray("ab");
    QTest::newRow("longer content") << true << QByteArray("ab") << QByteArray("0123456789");
    QTest::newRow("binary content") << true << QByteArray("x") << QByteArray("\0\1\2\xff\n", 5);
    QTest::newRow("empty content") << true << QByteArray("abc") << QByteArray();
    QTest::newRow("empty content, new file") << false << QByteArray() << QByteArray("");
}

void tst_FileUtility::writeFile_replacesContent()
{
    QFETCH(bool, existed);
    QFETCH(QByteArray, previous);
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    if (existed)
        QVERIFY(createFile(path, previous));

    QVERIFY(FileUtility::writeFile(path, content));
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(fileContent(path), content);
    QCOMPARE(FileUtility::readFile(path), content);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("data.bin")});
}

void tst_FileUtility::writeFile_keepsPermissions()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("private.txt"));
    QVERIFY(createFile(path, "old"));
    // 0640: not what a new file gets under the usual umask.
    const QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(path, permissions));

    QVERIFY(FileUtility::writeFile(path, "new"));
    QCOMPARE(QFile::permissions(path), permissions);
    QCOMPARE(fileContent(path), QByteArray("new"));
}

void tst_FileUtility::writeFile_throughSymlink_changesTarget_data()
{
    QTest::addColumn<bool>("relative");
    QTest::newRow("relative link") << true;
    QTest::newRow("absolute link") << false;
}

void tst_FileUtility::writeFile_throughSymlink_changesTarget()
{
    QFETCH(bool, relative);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target.txt"));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    QVERIFY(createFile(target, "old"));
    QVERIFY(QFile::link(relative ? QStringLiteral("target.txt") : target, link));

    QVERIFY(FileUtility::writeFile(link, "new content"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(target).absoluteFilePath());
    QCOMPARE(fileContent(target), QByteArray("new content"));
    QCOMPARE(entries(dir.path()), (QStringList{QStringLiteral("link.txt"), QStringLiteral("target.txt")}));
}

void tst_FileUtility::writeFile_failedWrite_keepsPreviousContent()
{
    // A write that runs out of room (disk full, quota, size limit) must not
    // cost the user the file's previous content.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    const QByteArray previous("{\n    \"kept\": true\n}\n");
    QVERIFY(createFile(path, previous));

    bool written = true;
    {
        FileSizeLimit limit(4096);
        QVERIFY(limit.active());
        written = FileUtility::writeFile(path, QByteArray(64 * 1024, 'x'));
    }
    QVERIFY(!written);
    QCOMPARE(fileContent(path), previous);
    // Nor may it leave a partial copy behind.
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("settings.json")});
}

void tst_FileUtility::writeFile_neverCostsDataNorChangesWhatOthersSee_data()
{
    QTest::addColumn<QString>("kind");      // what stands at the path before the write
    QTest::addColumn<int>("sizeLimit");     // file size limit of the process, 0 for none
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("expected");

    // Payloads up to 16 KiB sit in the write buffer until the file is closed.
    QTest::newRow("3000 bytes over a 2048-byte limit") << "file" << 2048 << 3000 << false;
    QTest::newRow("10000 bytes over a 2048-byte limit") << "file" << 2048 << 10000 << false;
    QTest::newRow("16384 bytes over a 2048-byte limit") << "file" << 2048 << 16384 << false;
    QTest::newRow("file with a second hard link") << "hard link" << 0 << 6000 << true;
    QTest::newRow("named pipe with a reader") << "pipe with reader" << 0 << 100 << true;
    QTest::newRow("named pipe nobody reads") << "pipe" << 0 << 100 << false;
    QTest::newRow("device node") << "device" << 0 << 100 << true;
    QTest::newRow("file of another user") << "other owner" << 0 << 100 << true;
    QTest::newRow("file of another group") << "other group" << 0 << 100 << true;
    QTest::newRow("set-user-id file") << "set-user-id" << 0 << 100 << true;
    QTest::newRow("another user's file in a sticky folder") << "sticky" << 0 << 100 << true;
}

void tst_FileUtility::writeFile_neverCostsDataNorChangesWhatOthersSee()
{
    QFETCH(QString, kind);
    QFETCH(int, sizeLimit);
    QFETCH(int, size);
    QFETCH(bool, expected);

    const bool root = ::geteuid() == 0;
    if (!root && (kind.startsWith(QLatin1String("other")) || kind == QLatin1String("set-user-id")
                  || kind == QLatin1String("device") || kind == QLatin1String("sticky")))
        QSKIP("only root can hand a file to another user, keep its set-user-id bit, make a device node "
              "or run the probe as another user");

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    const QByteArray local = QFile::encodeName(path);
    const QByteArray previous(1000, 'p');
    const QByteArray bytes(size, 'n');
    int reader = -1;
    if (kind.startsWith(QLatin1String("pipe"))) {
        QCOMPARE(::mkfifo(local.constData(), 0644), 0);
        if (kind == QLatin1String("pipe with reader"))
            QVERIFY((reader = ::open(local.constData(), O_RDONLY | O_NONBLOCK)) >= 0);
    } else if (kind == QLatin1String("device")) {
        // A second null device: what is written is swallowed, as by /dev/null.
        if (::mknod(local.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("no device node can be made here");
    } else {
        QVERIFY(createFile(path, previous));
    }
    if (kind == QLatin1String("hard link"))
        QCOMPARE(::link(local.constData(), QFile::encodeName(dir.filePath(QStringLiteral("other name"))).constData()), 0);
    if (kind == QLatin1String("other owner"))
        QCOMPARE(::chown(local.constData(), kOtherUid, gid_t(-1)), 0);
    if (kind == QLatin1String("other group"))
        QCOMPARE(::chown(local.constData(), uid_t(-1), kOtherUid), 0);
    if (kind == QLatin1String("set-user-id"))
        QCOMPARE(::chmod(local.constData(), 04755), 0);
    if (kind == QLatin1String("sticky")) {
        // Like /tmp: everybody may create files, only owners may replace them.
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        QCOMPARE(::chown(local.constData(), kOtherUid, kOtherUid), 0);
        QCOMPARE(::chmod(local.constData(), 0666), 0);
    }
    struct stat before {};
    QCOMPARE(::stat(local.constData(), &before), 0);
    const QStringList entriesBefore = entries(dir.path());

    bool written = !expected;
    if (kind == QLatin1String("sticky")) {
        const ProbeRun run = runProbeAsOtherUser({QStringLiteral("write"), path, QString::fromLatin1(bytes)});
        if (!run.skipReason.isEmpty())
            QSKIP(qPrintable(run.skipReason));
        QVERIFY2(run.exitCode == kProbeTrue || run.exitCode == kProbeFalse, qPrintable(run.output));
        written = run.exitCode == kProbeTrue;
    } else if (sizeLimit > 0) {
        FileSizeLimit limit{rlim_t(sizeLimit)};
        QVERIFY(limit.active());
        written = FileUtility::writeFile(path, bytes);
    } else {
        written = FileUtility::writeFile(path, bytes);
    }
    QByteArray piped(size + 1, '\0');
    if (reader >= 0) {
        piped.resize(int(qMax<ssize_t>(::read(reader, piped.data(), size_t(piped.size())), 0)));
        ::close(reader);
    }

    QCOMPARE(written, expected);
    // The same file, of the same kind, owner, group and mode: a watcher on
    // it and every other name of it see the write.
    struct stat after {};
    QCOMPARE(::stat(local.constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(entries(dir.path()), entriesBefore);
    if (S_ISREG(before.st_mode))
        QCOMPARE(fileContent(path), expected ? bytes : previous);
    if (kind == QLatin1String("hard link"))
        QCOMPARE(fileContent(dir.filePath(QStringLiteral("other name"))), bytes);
    if (reader >= 0)
        QCOMPARE(piped, bytes);
}

void tst_FileUtility::setDateTime_setsWholeSeconds_data()
{
    QTest::addColumn<QDateTime>("lastRead");
    QTest::addColumn<QDateTime>("lastModified");
    QTest::addColumn<qint64>("readSeconds");
    QTest::addColumn<qint64>("modifiedSeconds");

    const QDateTime read(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    const QDateTime modified(QDate(2010, 6, 7), QTime(8, 9, 10), Qt::UTC);
    const qint64 invalid = 4294967295LL;

    QTest::newRow("whole seconds") << read << modified << read.toSecsSinceEpoch() << modified.toSecsSinceEpoch();
    QTest::newRow("milliseconds dropped") << read.addMSecs(250) << modified.addMSecs(250)
                                          << read.toSecsSinceEpoch() << modified.toSecsSinceEpoch();
    QTest::newRow("local time") << QDateTime::fromSecsSinceEpoch(1500000000, Qt::LocalTime) << modified
                                << qint64(1500000000) << modified.toSecsSinceEpoch();
    QTest::newRow("invalid times") << QDateTime() << QDateTime() << invalid << invalid;
    QTest::newRow("before 1970") << QDateTime(QDate(1969, 7, 20), QTime(20, 17, 40), Qt::UTC) << modified
                                 << invalid << modified.toSecsSinceEpoch();
    QTest::newRow("after 2106") << read << QDateTime(QDate(2107, 1, 1), QTime(0, 0), Qt::UTC)
                                << read.toSecsSinceEpoch() << invalid;
}

void tst_FileUtility::setDateTime_setsWholeSeconds()
{
    QFETCH(QDateTime, lastRead);
    QFETCH(QDateTime, lastModified);
    QFETCH(qint64, readSeconds);
    QFETCH(qint64, modifiedSeconds);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.txt"));
    QVERIFY(createFile(path, "x"));

    QVERIFY(FileUtility::setDateTime(path, lastRead, lastModified));
    const QFileInfo info(path);
    QCOMPARE(info.lastRead().toMSecsSinceEpoch(), readSeconds * 1000);
    QCOMPARE(info.lastModified().toMSecsSinceEpoch(), modifiedSeconds * 1000);
}

void tst_FileUtility::copyDateTime_copiesBothTimes()
{
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from.txt"));
    const QString to = dir.filePath(QStringLiteral("to.txt"));
    const QDateTime read(QDate(2006, 6, 6), QTime(6, 6, 6), Qt::UTC);
    const QDateTime modified(QDate(2005, 5, 5), QTime(5, 5, 5), Qt::UTC);
    {
        QFile file(from);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
        QVERIFY(file.setFileTime(read, QFileDevice::FileAccessTime));
    }
    QVERIFY(createFile(to, "y"));

    QVERIFY(FileUtility::copyDateTime(from, to));
    const QFileInfo info(to);
    QCOMPARE(info.lastModified(), modified);
    QCOMPARE(info.lastRead(), read);
}

void tst_FileUtility::copyDateTime_missingFile_warnsAndFails_data()
{
    QTest::addColumn<bool>("fromExists");
    QTest::addColumn<bool>("toExists");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("missingName");

    QTest::newRow("missing source") << false << true << "fromFilePath not found:" << "from.txt";
    QTest::newRow("missing target") << true << false << "toFilePath not found:" << "to.txt";
}

void tst_FileUtility::copyDateTime_missingFile_warnsAndFails()
{
    QFETCH(bool, fromExists);
    QFETCH(bool, toExists);
    QFETCH(QString, warning);
    QFETCH(QString, missingName);

    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from.txt"));
    const QString to = dir.filePath(QStringLiteral("to.txt"));
    if (fromExists)
        QVERIFY(createFile(from, "x"));
    if (toExists)
        QVERIFY(createFile(to, "y"));

    MessageCapture capture;
    QVERIFY(!FileUtility::copyDateTime(from, to));
    QVERIFY2(logged(capture, QtWarningMsg, {warning, dir.filePath(missingName)}), qPrintable(capture.texts().join('\n')));
    QVERIFY(!QFile::exists(fromExists ? to : from));
}

void tst_FileUtility::setHidden_reportsMatchingStateWithoutRenaming_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("result");

    QTest::newRow("missing, hide") << "absent.txt" << false << true << false;
    QTest::newRow("visible stays visible") << "plain.txt" << true << false << true;
    QTest::newRow("visible cannot be hidden") << "plain.txt" << true << true << false;
    QTest::newRow("hidden stays hidden") << ".dotfile" << true << true << true;
    QTest::newRow("hidden cannot be shown") << ".dotfile" << true << false << false;
}

void tst_FileUtility::setHidden_reportsMatchingStateWithoutRenaming()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QFETCH(bool, hidden);
    QFETCH(bool, result);

    QTemporaryDir dir;
    if (exists)
        QVERIFY(createFile(dir.filePath(name), "x"));

    QCOMPARE(FileUtility::setHidden(dir.filePath(name), hidden), result);
    QCOMPARE(entries(dir.path()), exists ? QStringList{name} : QStringList());
}

void tst_FileUtility::mkpath_createsMissingFolders_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("existing");   // "folder", "file" or empty
    QTest::addColumn<bool>("asDir");
    QTest::addColumn<bool>("result");

    QTest::newRow("existing folder") << "existing" << "folder" << false << true;
    QTest::newRow("existing folder, QDir") << "existing" << "folder" << true << true;
    QTest::newRow("nested new folders") << "a/b/c" << "" << false << true;
    QTest::newRow("nested new folders, QDir") << "x/y/z" << "" << true << true;
    QTest::newRow("file in the way") << "file.txt" << "file" << false << false;
}

void tst_FileUtility::mkpath_createsMissingFolders()
{
    QFETCH(QString, path);
    QFETCH(QString, existing);
    QFETCH(bool, asDir);
    QFETCH(bool, result);

    QTemporaryDir dir;
    const QString full = dir.filePath(path);
    if (existing == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(full));
        QVERIFY(createFile(full + "/keep.txt", "k"));
    } else if (existing == QLatin1String("file")) {
        QVERIFY(createFile(full, "f"));
    }

    QCOMPARE(asDir ? FileUtility::mkpath(QDir(full)) : FileUtility::mkpath(full), result);
    if (result)
        QVERIFY(QFileInfo(full).isDir());
    if (existing == QLatin1String("folder"))
        QCOMPARE(entries(full), QStringList{QStringLiteral("keep.txt")});
    if (existing == QLatin1String("file"))
        QVERIFY(QFileInfo(full).isFile());
}

void tst_FileUtility::createRandomFilename_isBareUuid()
{
    const QString first = FileUtility::createRandomFilename();
    QCOMPARE(first.size(), 36);
    QVERIFY2(kUuid.match(first).hasMatch(), qPrintable(first));
    QVERIFY(first != FileUtility::createRandomFilename());
}

void tst_FileUtility::createRandomTempFolder_createsFolderInTemp()
{
    const QString first = FileUtility::createRandomTempFolder();
    const QString second = FileUtility::createRandomTempFolder();
    const QFileInfo info(first);
    const bool ok = info.isDir() && QFileInfo(second).isDir();
    const QString parent = info.path();
    QDir(first).removeRecursively();
    QDir(second).removeRecursively();

    QVERIFY(ok);
    QCOMPARE(parent, QDir::tempPath());
    QVERIFY2(kUuid.match(info.fileName()).hasMatch(), qPrintable(first));
    QVERIFY(first != second);
}

void tst_FileUtility::dirEntryList_listsFilesDepthFirst()
{
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(root.mkpath(QStringLiteral("sub/deeper")));
    QVERIFY(root.mkpath(QStringLiteral("empty")));
    QVERIFY(root.mkpath(QStringLiteral(".hiddenfolder")));
    for (const char *name : {"z.txt", "a.txt", ".h", "sub/b.txt", "sub/deeper/c.txt", ".hiddenfolder/d.txt"})
        QVERIFY(createFile(root.filePath(QString::fromLatin1(name)), "x"));

    // Sorted by name with folders among the files, hidden entries left out.
    const QString sep = QDir::separator();
    const QStringList expected{QStringLiteral("a.txt"), "sub" + sep + "b.txt", "sub" + sep + "deeper" + sep + "c.txt",
                               QStringLiteral("z.txt")};
    QCOMPARE(FileUtility::dirEntryList(root), expected);
}

void tst_FileUtility::dirEntryList_linkToParent_listsEachFileOnce()
{
    // A link back up the tree must not send the walk round in circles.
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(root.mkpath(QStringLiteral("sub")));
    QVERIFY(createFile(root.filePath(QStringLiteral("a.txt")), "x"));
    QVERIFY(createFile(root.filePath(QStringLiteral("sub/b.txt")), "x"));
    QVERIFY(QFile::link(QStringLiteral(".."), root.filePath(QStringLiteral("sub/up"))));

    const QStringList expected{QStringLiteral("a.txt"), QStringLiteral("sub") + QDir::separator() + QStringLiteral("b.txt")};
    QCOMPARE(FileUtility::dirEntryList(root), expected);
}

void tst_FileUtility::deleteLocalFile_removesFolderOfOnlyFile_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QStringList>("siblings");
    QTest::addColumn<bool>("folderRemoved");

    QTest::newRow("only file") << true << QStringList() << true;
    QTest::newRow("file with a sibling") << true << QStringList{QStringLiteral("other.txt")} << false;
    QTest::newRow("file with a hidden sibling") << true << QStringList{QStringLiteral(".keep")} << false;
    QTest::newRow("missing file beside another") << false << QStringList{QStringLiteral("other.txt")} << false;
    QTest::newRow("missing file in an empty folder") << false << QStringList() << false;
}

void tst_FileUtility::deleteLocalFile_removesFolderOfOnlyFile()
{
    QFETCH(bool, fileExists);
    QFETCH(QStringList, siblings);
    QFETCH(bool, folderRemoved);

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("folder"));
    const QString file = folder + QStringLiteral("/doc.txt");
    QVERIFY(QDir().mkpath(folder));
    QStringList before = siblings;
    if (fileExists) {
        QVERIFY(createFile(file, "d"));
        before << QStringLiteral("doc.txt");
    }
    for (const QString &sibling : siblings)
        QVERIFY(createFile(folder + '/' + sibling, "s"));
    before.sort();

    FileUtility::deleteLocalFile(QUrl::fromLocalFile(file));
    QCOMPARE(QFileInfo::exists(folder), !folderRemoved);
    if (!folderRemoved)
        QCOMPARE(entries(folder), before);
}

// The probe "write <path> <text>" writes the text as another user.
static bool probe(const QStringList &arguments)
{
    return arguments.size() == 3 && arguments.at(0) == QLatin1String("write")
        && FileUtility::writeFile(arguments.at(1), arguments.at(2).toUtf8());
}

MAPORA_QTEST_MAIN_WITH_PROBE(tst_FileUtility, QCoreApplication, probe)
#include "tst_fileutility.moc"
