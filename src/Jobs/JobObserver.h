#pragma once

#include <QString>
#include <QtGlobal>

namespace Jobs {

// How a run ended.
enum class Outcome { Completed, Failed, Canceled };

/*!
    What a long operation (extraction, compression, a tree copy) reports as
    it goes, and where it asks whether to stop. The operation does not know
    whether its reports become signals at once, on the caller's thread, or
    are queued for another thread.
*/
class Observer
{
public:
    virtual ~Observer() = default;

    // An entry's progress in percent of its own size: 0 before its first
    // bytes, 100 once it is complete.
    virtual void progress(const QString &name, const QString &output, double percent) = 0;
    virtual void error(const QString &name, const QString &output, int result) = 0;
    // Asked before every entry and every block of data. A run in the
    // background may wait here until the application has caught up.
    virtual bool canceled() = 0;

    // Overall amounts: what the whole run will handle, once known, and what
    // it has handled so far.
    virtual void setTotals(qint64 bytes, int entries)
    {
        Q_UNUSED(bytes)
        Q_UNUSED(entries)
    }
    virtual void addProcessed(qint64 bytes, int entries)
    {
        Q_UNUSED(bytes)
        Q_UNUSED(entries)
    }
};

// Overall amounts of a run, for a progress bar of the whole.
struct Amounts
{
    qint64 processedBytes = 0;
    qint64 totalBytes = 0;
    int processedEntries = 0;
    int totalEntries = 0;

    bool operator==(const Amounts &other) const
    {
        return processedBytes == other.processedBytes && totalBytes == other.totalBytes
            && processedEntries == other.processedEntries && totalEntries == other.totalEntries;
    }
    bool operator!=(const Amounts &other) const { return !(*this == other); }
};

} // namespace Jobs
