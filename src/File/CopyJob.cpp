#include "CopyJob.h"

#include "BackgroundJob.h"
#include "MaporaExtrasLogging.h"

#include <QFileInfo>

#include <chrono>
#include <cmath>

namespace FileLayer = Extras::FileLayer;

/*!
    What the copy tells, turned into the job's reports: amounts as they
    change, progress of the whole at a pace a person can follow.
*/
class CopyJob::Watch : public FileLayer::CopyWatch
{
public:
    Watch(Jobs::Observer &observer, const QString &source)
        : m_observer(observer)
        , m_source(source)
    {
    }

    bool canceled() override { return m_observer.canceled(); }

    void begins(const QString &source) override
    {
        m_current = source;
        report();
    }

    void copied(qint64 bytes) override
    {
        m_done.bytes += bytes;
        m_observer.addProcessed(bytes, 0);
        keepTotalsAhead();
        report();
    }

    void finished() override
    {
        ++m_done.entries;
        m_observer.addProcessed(0, 1);
        keepTotalsAhead();
    }

    void start()
    {
        m_observer.progress(m_source, QString(), 0);
        m_lastReport = Clock::now();
    }

    void setTotals(const FileLayer::CopyAmount &total)
    {
        m_total = total;
        m_observer.setTotals(total.bytes, total.entries);
    }

    // What was copied is the whole, also where the source shrank meanwhile.
    void end()
    {
        if (m_done.bytes != m_total.bytes || m_done.entries != m_total.entries)
            setTotals(m_done);
        m_observer.progress(m_source, QString(), 100);
    }

private:
    using Clock = std::chrono::steady_clock;

    void report()
    {
        const Clock::time_point now = Clock::now();
        if (now - m_lastReport < Jobs::BackgroundJob::Interval)
            return;
        m_lastReport = now;
        m_observer.progress(m_current, QString(), percent());
    }

    // 100 is kept for the end, when everything was copied.
    double percent() const
    {
        double part = 0;
        if (m_total.bytes > 0)
            part = double(m_done.bytes) / double(m_total.bytes);
        else if (m_total.entries > 0)
            part = double(m_done.entries) / double(m_total.entries);
        return std::fmin(100 * part, std::nextafter(100.0, 0.0));
    }

    // A source that grew since it was measured: the totals grow with what
    // was copied, which never passes them.
    void keepTotalsAhead()
    {
        if (m_done.bytes <= m_total.bytes && m_done.entries <= m_total.entries)
            return;
        setTotals({qMax(m_done.bytes, m_total.bytes), qMax(m_done.entries, m_total.entries)});
    }

    Jobs::Observer &m_observer;
    const QString m_source;
    QString m_current;
    FileLayer::CopyAmount m_total;
    FileLayer::CopyAmount m_done;
    Clock::time_point m_lastReport;
};

CopyJob::CopyJob(FileLayer::Copy &&copy, const QString &source, OnFailure onFailure, Followed followed)
    : m_copy(std::move(copy))
    , m_source(source)
    , m_onFailure(onFailure)
    , m_followed(followed)
{
    m_copy.setUndoable(followed == Followed::Yes);
}

Jobs::Outcome CopyJob::run(Jobs::Observer &observer)
{
    Watch watch(observer, m_source);
    watch.start();
    FileLayer::CopyAmount total;
    if (m_followed == Followed::No || m_copy.measure(&total, &watch)) {
        watch.setTotals(total);
        if (m_copy.run(&watch)) {
            watch.end();
            return Jobs::Outcome::Completed;
        }
    }
    const bool canceled = m_copy.wasCanceled();
    if (canceled || m_onFailure == OnFailure::TakeBack)
        m_copy.undo();
    return canceled ? Jobs::Outcome::Canceled : Jobs::Outcome::Failed;
}

FileLayer::CopyReport CopyJob::messages(const char *function)
{
    return [function](FileLayer::CopyEvent event, const QString &source, const QString &target) {
        using Event = FileLayer::CopyEvent;
        switch (event) {
        case Event::TargetExists:
            qCCritical(CATEGORY_FILE) << function << "Target file already exists:" << target;
            break;
        case Event::CopyFailed:
            qCWarning(CATEGORY_FILE) << function << "File copy failed: " << source << "to" << target;
            break;
        case Event::EntryFailed:
            qCCritical(CATEGORY_FILE) << function << "copyFile failed:" << source << "->" << target;
            break;
        case Event::NotCopied:
            qCWarning(CATEGORY_FILE) << function << "Not a regular file, not copied:" << source;
            break;
        case Event::FolderUnreadable:
            qCCritical(CATEGORY_FILE) << function << "File is not readable:" << source;
            break;
        case Event::TargetInsideSource:
            qCCritical(CATEGORY_FILE) << function << "Target is inside the source folder:" << source << "->"
                                      << target;
            break;
        case Event::MakeFolderFailed:
            qCCritical(CATEGORY_FILE) << function << "mkpath failed:" << target << "("
                                      << QFileInfo(target).fileName() << ")";
            break;
        case Event::LinkInTarget:
            qCCritical(CATEGORY_FILE) << function << "Symbolic link in the target, not followed:" << target;
            break;
        case Event::LinksBack:
            qCWarning(CATEGORY_FILE) << function << "Folder links back into the copy:" << source << "->" << target;
            break;
        case Event::AlreadyCopied:
            qCWarning(CATEGORY_FILE) << function << "Folder already copied, not copied again:" << source << "->"
                                     << target;
            break;
        case Event::NotUndone:
            qCWarning(CATEGORY_FILE) << function << "Not everything the copy made could be removed:" << target;
            break;
        }
    };
}
