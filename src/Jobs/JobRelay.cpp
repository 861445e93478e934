#include "JobRelay.h"

#include <QMetaObject>
#include <QPointer>

namespace Jobs {

JobRelay::JobRelay(QObject *parent)
    : QObject(parent)
{
}

JobRelay::~JobRelay()
{
    m_job.reset();
}

bool JobRelay::start(BackgroundJob::Work work)
{
    if (m_job)
        return false;
    m_cancelRequested = false;
    m_entryOpen = false;
    m_pending.clear();
    setAmounts(Amounts(), true);
    // Queued: the worker only asks for a visit of the owner's thread.
    m_job.reset(new BackgroundJob([this] { QMetaObject::invokeMethod(this, [this] { collect(); }, Qt::QueuedConnection); }));
    m_job->start(std::move(work));
    emit busyChanged();
    return true;
}

void JobRelay::cancel()
{
    if (!m_job)
        return;
    m_cancelRequested = true;
    m_job->cancel();
}

void JobRelay::stop()
{
    if (!m_job)
        return;
    cancel();
    m_job->wait();
    collect();
}

void JobRelay::setAmounts(const Amounts &amounts, bool force)
{
    if (amounts == m_amounts)
        return;
    if (!force && m_sinceAmounts.isValid()
        && m_sinceAmounts.elapsed() < std::chrono::milliseconds(BackgroundJob::Interval).count())
        return;
    m_amounts = amounts;
    m_sinceAmounts.start();
    emit amountsChanged();
}

void JobRelay::collect()
{
    if (!m_job)
        return;
    for (Report &report : m_job->take())
        m_pending.push_back(std::move(report));
    deliver();
}

void JobRelay::deliver()
{
    const QPointer<JobRelay> alive(this);
    BackgroundJob *const job = m_job.get();
    while (!m_pending.empty()) {
        const Report report = std::move(m_pending.front());
        m_pending.pop_front();
        switch (report.kind) {
        case Report::Kind::Progress:
            if (admit(report))
                emit progress(report.name, report.output, report.percent);
            break;
        case Report::Kind::Error:
            m_entryOpen = false;
            emit error(report.name, report.output, report.value);
            break;
        case Report::Kind::Finished:
            finish(Outcome(report.value));
            return;
        }
        // A handler may have destroyed the owner, or ended this run.
        if (!alive || m_job.get() != job)
            return;
    }
    if (m_job)
        setAmounts(m_job->amounts());
}

bool JobRelay::admit(const Report &report)
{
    const bool begins = !m_entryOpen || report.name != m_entryName || report.output != m_entryOutput;
    if (begins && m_cancelRequested)
        return false;
    m_entryName = report.name;
    m_entryOutput = report.output;
    m_entryOpen = report.percent < 100;
    return true;
}

void JobRelay::finish(Outcome outcome)
{
    m_job->wait();
    const Amounts last = m_job->amounts();
    m_job.reset();
    m_pending.clear();
    const QPointer<JobRelay> alive(this);
    setAmounts(last, true);
    if (!alive)
        return;
    emit busyChanged();
    if (!alive)
        return;
    emit finished(outcome);
}

} // namespace Jobs
