#include "JobRelay.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace Jobs;

Q_DECLARE_METATYPE(Jobs::Outcome)

namespace {

QString entryName(int index)
{
    return QStringLiteral("entry%1").arg(index);
}

// Reports `entries` entries of `steps` progress calls each as fast as it
// can, asking canceled() before each one as the engines do.
BackgroundJob::Work steadyWork(int entries, int steps, std::atomic<int> *begun = nullptr)
{
    return [=](Observer &observer) {
        for (int e = 0; e < entries; ++e) {
            if (begun)
                *begun = e;
            for (int s = 0; s < steps; ++s) {
                if (observer.canceled())
                    return Outcome::Canceled;
                observer.progress(entryName(e), QString(), 100.0 * s / steps);
            }
            observer.progress(entryName(e), QString(), 100.0);
            observer.addProcessed(steps, 1);
        }
        return Outcome::Completed;
    };
}

bool waitForFinished(QSignalSpy &spy)
{
    return spy.count() > 0 || spy.wait(20000);
}

} // namespace

class tst_BackgroundJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<Jobs::Outcome>(); }
    void progress_isCoalescedButEveryEntryBeginsAndEnds();
    void worker_waitsWhileTheOwnerLagsBehind();
    void cancel_dropsEntriesThatHadNotBegun_data();
    void cancel_dropsEntriesThatHadNotBegun();
    void handler_mayDestroyTheOwner();
};

void tst_BackgroundJob::progress_isCoalescedButEveryEntryBeginsAndEnds()
{
    const int entries = 40;
    const int steps = 20000;
    JobRelay relay;
    QHash<QString, QVector<double>> seen;
    connect(&relay, &JobRelay::progress, this,
            [&](const QString &name, const QString &, double percent) { seen[name].append(percent); });
    QSignalSpy finished(&relay, &JobRelay::finished);
    QElapsedTimer run;
    run.start();
    QVERIFY(relay.start(steadyWork(entries, steps)));
    QVERIFY(waitForFinished(finished));
    const qint64 elapsed = run.elapsed();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).value<Jobs::Outcome>(), Outcome::Completed);
    QVERIFY(!relay.isBusy());
    int delivered = 0;
    for (int e = 0; e < entries; ++e) {
        const QVector<double> &percents = seen.value(entryName(e));
        QVERIFY2(percents.size() >= 2, qPrintable(entryName(e)));
        QCOMPARE(percents.first(), 0.0);
        QCOMPARE(percents.last(), 100.0);
        delivered += percents.size();
    }
    const qint64 bound = 2 * entries + elapsed / BackgroundJob::Interval.count() + 1;
    QVERIFY2(delivered <= bound, qPrintable(QStringLiteral("%1 signals, at most %2").arg(delivered).arg(bound)));
    QCOMPARE(relay.amounts().processedEntries, entries);
}

void tst_BackgroundJob::worker_waitsWhileTheOwnerLagsBehind()
{
    // Each entry reports once: nothing is coalesced away, so the worker
    // can only run ahead by making reports nobody takes.
    std::atomic<int> begun{0};
    JobRelay relay;
    QSignalSpy finished(&relay, &JobRelay::finished);
    QVERIFY(relay.start(steadyWork(1000000, 1, &begun)));
    // The owner's thread takes nothing while it sleeps.
    QThread::msleep(100);
    const int early = begun;
    QThread::msleep(300);
    QCOMPARE(begun.load(), early);
    relay.cancel();
    QVERIFY(waitForFinished(finished));
    QCOMPARE(finished.at(0).at(0).value<Jobs::Outcome>(), Outcome::Canceled);
}

void tst_BackgroundJob::cancel_dropsEntriesThatHadNotBegun_data()
{
    QTest::addColumn<int>("cancelAt");
    QTest::newRow("first entry") << 0;
    QTest::newRow("later entry") << 7;
}

void tst_BackgroundJob::cancel_dropsEntriesThatHadNotBegun()
{
    QFETCH(int, cancelAt);
    JobRelay relay;
    QStringList afterCancel;
    bool canceled = false;
    connect(&relay, &JobRelay::progress, this, [&](const QString &name, const QString &, double) {
        if (canceled) {
            afterCancel.append(name);
            return;
        }
        if (name == entryName(cancelAt)) {
            relay.cancel();
            canceled = true;
            // The worker may well be entries ahead by now.
            QThread::msleep(30);
        }
    });
    QSignalSpy finished(&relay, &JobRelay::finished);
    QVERIFY(relay.start(steadyWork(100000, 3)));
    QVERIFY(waitForFinished(finished));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).value<Jobs::Outcome>(), Outcome::Canceled);
    for (const QString &name : qAsConst(afterCancel))
        QCOMPARE(name, entryName(cancelAt));
}

void tst_BackgroundJob::handler_mayDestroyTheOwner()
{
    QPointer<QObject> owner = new QObject;
    auto *relay = new JobRelay(owner);
    int delivered = 0;
    connect(relay, &JobRelay::progress, this, [&](const QString &, const QString &, double) {
        ++delivered;
        delete owner.data();
    });
    QVERIFY(relay->start(steadyWork(100000, 3)));
    QTRY_VERIFY(owner.isNull());
    QTest::qWait(50);
    QCOMPARE(delivered, 1);
}

QTEST_GUILESS_MAIN(tst_BackgroundJob)
#include "tst_backgroundjob.moc"
