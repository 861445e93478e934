#pragma once

#include "BackgroundJob.h"

#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <memory>

namespace Jobs {

/*!
    Runs one BackgroundJob at a time for an object of the owner's thread and
    turns its reports into signals there, in the order they were made. The
    QML objects connect these to their own signals; they never see the
    worker.

    A signal handler may cancel or stop the run, start the next one once
    finished() has come, or destroy the owner (and with it this relay):
    nothing here is touched after a signal unless it is still alive.
*/
class JobRelay : public QObject
{
    Q_OBJECT

public:
    explicit JobRelay(QObject *parent = nullptr);
    // Cancels a running job and waits for it, without further signals.
    ~JobRelay() override;

    bool isBusy() const { return m_job != nullptr; }
    // Starts `work` on a worker; false while another run is busy.
    bool start(BackgroundJob::Work work);
    // Asks the run to stop within one block. From here on no progress is
    // delivered for an entry that had not begun as far as the owner was told.
    void cancel();
    // Cancels the run and waits for it; its remaining reports, and the
    // finished() signal, are emitted before this returns.
    void stop();

    // The run's overall amounts as last notified; updated at most once per
    // BackgroundJob::Interval, and when the run ends.
    Amounts amounts() const { return m_amounts; }
    // Sets the amounts of a run on the owner's own thread, notified at the
    // same pace.
    void setAmounts(const Amounts &amounts, bool force = false);

signals:
    void progress(const QString &name, const QString &output, double percent);
    void error(const QString &name, const QString &output, int result);
    // The run ended; busy is already false, so a handler may start another.
    void finished(Jobs::Outcome outcome);
    void busyChanged();
    void amountsChanged();

private:
    void collect();
    void deliver();
    // Whether a progress report still goes out after a cancel.
    bool admit(const Report &report);
    void finish(Outcome outcome);

    std::unique_ptr<BackgroundJob> m_job;
    std::deque<Report> m_pending;
    bool m_cancelRequested = false;
    // The entry the owner was last told about, while it is not complete.
    QString m_entryName;
    QString m_entryOutput;
    bool m_entryOpen = false;
    Amounts m_amounts;
    QElapsedTimer m_sinceAmounts;
};

} // namespace Jobs
