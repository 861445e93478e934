#include "ZipTaskQueue.h"

#include "ZipReader.h"

#include <chrono>

namespace {

// How often a taker that waits for the helper reports what it did so far.
constexpr std::chrono::milliseconds PollInterval(5);

} // namespace

ZipTaskQueue::ZipTaskQueue(std::unique_ptr<ZipReader> helperReader)
    : m_helperReader(std::move(helperReader))
{
    if (m_helperReader)
        m_helper = std::thread([this] { helperLoop(); });
}

ZipTaskQueue::~ZipTaskQueue()
{
    stop();
    if (m_helper.joinable())
        m_helper.join();
}

void ZipTaskQueue::push(std::unique_ptr<ZipEntryTask> task)
{
    std::unique_ptr<Slot> slot(new Slot);
    slot->task = std::move(task);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_slots.push_back(std::move(slot));
    }
    m_changed.notify_all();
}

int ZipTaskQueue::size() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_slots.size());
}

void ZipTaskQueue::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
}

void ZipTaskQueue::pop()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_slots.pop_front();
}

ZipTaskQueue::Slot *ZipTaskQueue::firstWaiting() const
{
    for (const std::unique_ptr<Slot> &slot : m_slots) {
        if (slot->state == State::Waiting && !slot->task->mustRunLive())
            return slot.get();
    }
    return nullptr;
}

void ZipTaskQueue::runAhead(std::unique_lock<std::mutex> &lock, Slot &slot, ZipReader &reader,
                            const std::function<bool()> &stop)
{
    slot.state = State::Running;
    lock.unlock();
    slot.task->runAhead(reader, stop);
    lock.lock();
    // A task that must run live waits for its turn.
    slot.state = slot.task->mustRunLive() ? State::Waiting : State::Done;
    m_changed.notify_all();
}

ZipEntryTask *ZipTaskQueue::next(ZipReader &reader, const std::function<bool(ZipEntryTask &)> &follow,
                                 bool *runLive)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop && !m_slots.empty()) {
        Slot &oldest = *m_slots.front();
        if (oldest.state != State::Running) {
            *runLive = oldest.state == State::Waiting;
            oldest.state = State::Running;
            return oldest.task.get();
        }
        // The helper writes the oldest: its steps are reported as they
        // come, so that a stop reaches it within a block or two, and a
        // later entry is written here meanwhile.
        const std::function<bool()> stopAhead = [&] {
            if (!m_stop && !follow(*oldest.task))
                stop();
            return bool(m_stop);
        };
        if (Slot *later = firstWaiting()) {
            runAhead(lock, *later, reader, stopAhead);
            continue;
        }
        m_changed.wait_for(lock, PollInterval);
        lock.unlock();
        stopAhead();
        lock.lock();
    }
    return nullptr;
}

void ZipTaskQueue::helperLoop()
{
    // Each block wakes a taker that waits, to report it.
    const std::function<bool()> stop = [this] {
        m_changed.notify_all();
        return bool(m_stop);
    };
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (Slot *slot = firstWaiting())
            runAhead(lock, *slot, *m_helperReader, stop);
        else
            m_changed.wait(lock);
    }
}
