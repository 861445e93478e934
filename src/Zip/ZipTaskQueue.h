#pragma once

#include "ZipEntryTask.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ZipReader;

/*!
    The file entries of an extraction that are planned and not yet
    reported, in entry order, and the helper threads that write them ahead
    of their turn. The thread that reports takes them oldest first
    (next()): it runs the oldest itself, live, when no helper has begun it,
    and otherwise follows it, reporting what it did so far, until it ends.
    Nothing here reports or puts an entry in place: the taker does that in
    order, so that a stop leaves every entry after it unplaced (the
    destructor stops the helpers, waits for them and drops what was
    written).
*/
class ZipTaskQueue
{
public:
    // One helper thread per reader.
    explicit ZipTaskQueue(std::vector<std::unique_ptr<ZipReader>> helperReaders);
    ~ZipTaskQueue();
    ZipTaskQueue(const ZipTaskQueue &) = delete;
    ZipTaskQueue &operator=(const ZipTaskQueue &) = delete;

    void push(std::unique_ptr<ZipEntryTask> task);
    int size() const;
    // The oldest task, once run ahead (`*runLive` false), or for the caller
    // to run live now (`*runLive` true). While a helper runs it, `follow`
    // is given it after each of its blocks, to report what it did so far:
    // false stops the run. Null once stopped.
    ZipEntryTask *next(const std::function<bool(ZipEntryTask &)> &follow, bool *runLive);
    // Drops the oldest task, which next() returned and the caller finished.
    void pop();
    // Stops the helper and every task that runs ahead.
    void stop();

private:
    enum class State { Waiting, Running, Done };
    struct Slot {
        std::unique_ptr<ZipEntryTask> task;
        State state = State::Waiting;
    };

    // The oldest task that may run ahead and nobody has begun; null when none.
    Slot *firstWaiting() const;
    void helperLoop(ZipReader &reader);

    std::vector<std::unique_ptr<ZipReader>> m_helperReaders;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Slot>> m_slots;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_helpers;
};
