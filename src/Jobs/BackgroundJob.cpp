#include "BackgroundJob.h"

namespace Jobs {

constexpr std::chrono::milliseconds BackgroundJob::Interval;

// The observer the operation sees on the worker thread.
class BackgroundJob::Reporter : public Observer
{
public:
    explicit Reporter(BackgroundJob &job)
        : m_job(job)
    {
    }

    void progress(const QString &name, const QString &output, double percent) override
    {
        const bool begins = !m_entryOpen || name != m_name || output != m_output;
        const Clock::time_point now = Clock::now();
        if (begins || percent >= 100 || now - m_lastSent >= Interval) {
            m_job.post({Report::Kind::Progress, name, output, percent, 0});
            m_lastSent = now;
        }
        if (begins) {
            m_name = name;
            m_output = output;
        }
        m_entryOpen = percent < 100;
    }

    void error(const QString &name, const QString &output, int result) override
    {
        m_job.post({Report::Kind::Error, name, output, 0, result});
        m_entryOpen = false;
    }

    bool canceled() override { return m_job.pace(); }

    void setTotals(qint64 bytes, int entries) override
    {
        m_job.m_totalBytes = bytes;
        m_job.m_totalEntries = entries;
    }

    void addProcessed(qint64 bytes, int entries) override
    {
        m_job.m_processedBytes += bytes;
        m_job.m_processedEntries += entries;
    }

private:
    BackgroundJob &m_job;
    QString m_name;
    QString m_output;
    bool m_entryOpen = false;
    Clock::time_point m_lastSent;
};

BackgroundJob::BackgroundJob(std::function<void()> wake)
    : m_wake(std::move(wake))
{
}

BackgroundJob::~BackgroundJob()
{
    cancel();
    wait();
}

void BackgroundJob::start(Work work)
{
    m_thread = std::thread([this, work = std::move(work)] {
        Reporter reporter(*this);
        const Outcome outcome = work(reporter);
        post({Report::Kind::Finished, QString(), QString(), 0, int(outcome)});
    });
}

void BackgroundJob::cancel()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_canceled = true;
    }
    m_taken.notify_all();
}

std::vector<Report> BackgroundJob::take()
{
    std::vector<Report> reports;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        reports.swap(m_reports);
    }
    m_taken.notify_all();
    return reports;
}

Amounts BackgroundJob::amounts() const
{
    Amounts amounts;
    amounts.processedBytes = m_processedBytes;
    amounts.totalBytes = m_totalBytes;
    amounts.processedEntries = m_processedEntries;
    amounts.totalEntries = m_totalEntries;
    return amounts;
}

void BackgroundJob::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void BackgroundJob::post(Report &&report)
{
    bool first;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        first = m_reports.empty();
        if (first)
            m_oldestPosted = Clock::now();
        m_reports.push_back(std::move(report));
    }
    if (first)
        m_wake();
}

bool BackgroundJob::pace()
{
    if (m_canceled.load(std::memory_order_relaxed))
        return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_canceled && !m_reports.empty() && Clock::now() - m_oldestPosted >= Interval)
        m_taken.wait_for(lock, Interval);
    return m_canceled;
}

} // namespace Jobs
