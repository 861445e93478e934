#pragma once

#include "ZipEntryTask.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ZipReader;

/*!
    The file entries of an extraction that are planned and not yet
    reported, in entry order, and a second thread that writes them ahead
    of their turn. The thread that reports takes them oldest first
    (next()): it runs the oldest itself, live, when nobody has begun it,
    and otherwise writes a later one ahead while the helper finishes it.
    Nothing here reports or puts an entry in place: the taker does that in
    order, so that a stop leaves every entry after it unplaced (the
    destructor stops the helper, waits for it and drops what was written).
*/
class ZipTaskQueue
{
public:
    // `helperReader` reads for the second thread; null: no second thread.
    explicit ZipTaskQueue(std::unique_ptr<ZipReader> helperReader);
    ~ZipTaskQueue();
    ZipTaskQueue(const ZipTaskQueue &) = delete;
    ZipTaskQueue &operator=(const ZipTaskQueue &) = delete;

    void push(std::unique_ptr<ZipEntryTask> task);
    int size() const;
    // The oldest task, once run ahead (`*runLive` false), or for the caller
    // to run live now (`*runLive` true). While the helper runs it, later
    // tasks are run ahead here through `reader`, and `follow` is given the
    // oldest between their blocks and while waiting, to report what it did
    // so far: false stops the run. Null once stopped.
    ZipEntryTask *next(ZipReader &reader, const std::function<bool(ZipEntryTask &)> &follow, bool *runLive);
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
    // Runs the slot's task ahead, unlocked meanwhile.
    void runAhead(std::unique_lock<std::mutex> &lock, Slot &slot, ZipReader &reader,
                  const std::function<bool()> &stop);
    void helperLoop();

    std::unique_ptr<ZipReader> m_helperReader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Slot>> m_slots;
    std::atomic<bool> m_stop{false};
    std::thread m_helper;
};
