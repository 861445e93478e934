#include "ZipTaskQueue.h"

#include "ZipReader.h"

#include <chrono>

namespace {

// How often a taker that waits for a helper looks for a stop at the latest.
constexpr std::chrono::milliseconds PollInterval(5);

} // namespace

ZipTaskQueue::ZipTaskQueue(std::vector<std::unique_ptr<ZipReader>> helperReaders)
    : m_helperReaders(std::move(helperReaders))
{
    for (const std::unique_ptr<ZipReader> &reader : m_helperReaders) {
        ZipReader *const own = reader.get();
        m_helpers.emplace_back([this, own] { helperLoop(*own); });
    }
}

ZipTaskQueue::~ZipTaskQueue()
{
    stop();
    for (std::thread &helper : m_helpers)
        helper.join();
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

ZipEntryTask *ZipTaskQueue::next(const std::function<bool(ZipEntryTask &)> &follow, bool *runLive)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop && !m_slots.empty()) {
        Slot &oldest = *m_slots.front();
        if (oldest.state != State::Running) {
            *runLive = oldest.state == State::Waiting;
            oldest.state = State::Running;
            return oldest.task.get();
        }
        // A helper writes the oldest: its steps are reported as they come,
        // so that a stop reaches it within a block or two.
        m_changed.wait_for(lock, PollInterval);
        lock.unlock();
        if (!follow(*oldest.task))
            stop();
        lock.lock();
    }
    return nullptr;
}

void ZipTaskQueue::helperLoop(ZipReader &reader)
{
    // Each block wakes the taker, to report it.
    const std::function<bool()> stop = [this] {
        m_changed.notify_all();
        return bool(m_stop);
    };
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        Slot *const slot = firstWaiting();
        if (!slot) {
            m_changed.wait(lock);
            continue;
        }
        slot->state = State::Running;
        lock.unlock();
        slot->task->runAhead(reader, stop);
        lock.lock();
        // A task that must run live waits for its turn.
        slot->state = slot->task->mustRunLive() ? State::Waiting : State::Done;
        m_changed.notify_all();
    }
}
