#include "MessageCapture.h"
#include "NetworkNotifier.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/resource.h>

// The online state of a real network stack: the test moves itself into a
// private network namespace, where only a loopback interface exists, and
// builds a veth pair there. No traffic leaves the namespace.
namespace {
bool inPrivateNamespace = false;
QByteArray unshareError;

bool ip(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("ip"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        qWarning() << "ip" << arguments << process.readAllStandardError();
        return false;
    }
    return true;
}

bool sawState(const QSignalSpy &spy, bool online)
{
    for (const QList<QVariant> &arguments : spy) {
        if (arguments.value(0).toBool() == online)
            return true;
    }
    return false;
}
} // namespace

class tst_NetworkNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void followsAnInterfaceGoingUpAndDown();
    void withoutSocket_logsCriticalAndStillAnswers();
};

void tst_NetworkNotifier::initTestCase()
{
    if (!inPrivateNamespace)
        QSKIP(qPrintable(QStringLiteral("no private network namespace here (unshare: %1)")
                             .arg(QString::fromLocal8Bit(unshareError))));
}

void tst_NetworkNotifier::followsAnInterfaceGoingUpAndDown()
{
    QScopedPointer<NetworkNotifier> notifier(NetworkNotifier::create());
    QSignalSpy spy(notifier.data(), &NetworkNotifier::onlineStateChanged);
    QVERIFY2(!notifier->isOnline(), "a namespace with only loopback is offline");

    // Loopback up does not count.
    QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}));
    QTest::qWait(100);
    QVERIFY(!notifier->isOnline());

    QVERIFY(ip({QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("mapora0"), QStringLiteral("type"),
                QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), QStringLiteral("mapora1")}));
    QVERIFY(ip({QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("192.0.2.1/24"), QStringLiteral("dev"),
                QStringLiteral("mapora0")}));
    spy.clear();
    QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("mapora0"), QStringLiteral("up")}));
    QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("mapora1"), QStringLiteral("up")}));
    QTRY_VERIFY_WITH_TIMEOUT(sawState(spy, true), 1000);
    QVERIFY(notifier->isOnline());

    spy.clear();
    QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("mapora0"), QStringLiteral("down")}));
    QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("mapora1"), QStringLiteral("down")}));
    QTRY_VERIFY_WITH_TIMEOUT(sawState(spy, false), 1000);
    QVERIFY(!notifier->isOnline());

    QVERIFY(ip({QStringLiteral("link"), QStringLiteral("del"), QStringLiteral("mapora0")}));
}

void tst_NetworkNotifier::withoutSocket_logsCriticalAndStillAnswers()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer runtime checks memory through a pipe, which needs a free descriptor");
#endif
    // No file descriptor left: the netlink socket cannot be opened.
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit none = saved;
    none.rlim_cur = 0;
    MessageCapture capture;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &none), 0);
    QScopedPointer<NetworkNotifier> notifier(NetworkNotifier::create());
    const bool online = notifier->isOnline();
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);

    QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("NetworkNotifierLinux: netlink socket failure:")));
    QVERIFY(!online);
}

int main(int argc, char *argv[])
{
    // Before any thread exists: the whole process moves to the new namespace.
    if (unshare(CLONE_NEWNET) == 0)
        inPrivateNamespace = true;
    else
        unshareError = std::strerror(errno);
    QCoreApplication app(argc, argv);
    tst_NetworkNotifier test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_networknotifier.moc"
