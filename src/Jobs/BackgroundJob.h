#pragma once

#include "JobObserver.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Jobs {

// One thing a background run told, in the order it happened.
struct Report
{
    enum class Kind { Progress, Error, Finished };
    Kind kind = Kind::Progress;
    QString name;
    QString output;
    double percent = 0;
    // The error's result, or the run's Outcome.
    int value = 0;
};

/*!
    A long operation on a worker thread of its own. It knows nothing of Qt's
    objects: the operation reports to an Observer, whose reports wait here
    until the owner's thread takes them.

    What a person can follow is what is kept: an entry's progress at most
    once per Interval, its first and its last (100) report always, errors
    always. The worker never runs more than one Interval ahead of what the
    owner has taken: when the oldest report has waited that long, the worker
    waits in Observer::canceled() until it is taken or the run is canceled.
*/
class BackgroundJob
{
public:
    using Work = std::function<Outcome(Observer &observer)>;
    static constexpr std::chrono::milliseconds Interval{16};

    // `wake` is called on the worker thread whenever reports begin to wait;
    // it must only arrange for take() to be called on the owner's thread.
    explicit BackgroundJob(std::function<void()> wake);
    // Cancels the run and waits for the worker.
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob &) = delete;
    BackgroundJob &operator=(const BackgroundJob &) = delete;

    void start(Work work);
    // The worker stops at the next entry or block.
    void cancel();
    bool isCanceled() const { return m_canceled.load(std::memory_order_relaxed); }
    // The waiting reports, oldest first; a Finished report is the run's last.
    std::vector<Report> take();
    Amounts amounts() const;
    void wait();

private:
    class Reporter;
    using Clock = std::chrono::steady_clock;

    void post(Report &&report);
    // Waits while the owner lags behind; true when the run is canceled.
    bool pace();

    std::function<void()> m_wake;
    std::thread m_thread;
    std::atomic<bool> m_canceled{false};
    std::mutex m_mutex;
    std::condition_variable m_taken;
    std::vector<Report> m_reports;
    Clock::time_point m_oldestPosted;
    std::atomic<qint64> m_processedBytes{0};
    std::atomic<qint64> m_totalBytes{0};
    std::atomic<int> m_processedEntries{0};
    std::atomic<int> m_totalEntries{0};
};

} // namespace Jobs
