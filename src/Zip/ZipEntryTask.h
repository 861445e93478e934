#pragma once

#include "FileLayer.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class ZipReader;

/*!
    One file entry of an extraction, which any thread of the run may write:
    run() opens the output, inflates the entry into it, checks its declared
    size and sets its times; commit() puts it in place, on the thread that
    reports, in entry order.

    What run() tells on its way (a question before each block, the bytes of
    each block, the bytes written) goes to a Feed. Run live, the feed is the
    run's reporter; run ahead of its turn, the task keeps the calls and
    replay() makes them later, in the same order, so that the observer sees
    the same sequence either way. A task never runs on two threads at once.
*/
class ZipEntryTask
{
public:
    // Where a running task's steps go.
    class Feed
    {
    public:
        // Asked before each block: false stops the entry, which leaves nothing.
        virtual bool proceed() = 0;
        // The bytes `from` to `to` of the entry are about to be written.
        virtual void block(quint64 from, quint64 to) = 0;
        virtual void wrote(quint64 bytes) = 0;

    protected:
        ~Feed() = default;
    };

    ZipEntryTask(int index, const QString &name, const QString &output,
                 std::shared_ptr<const Extras::FileLayer::Folder> folder, const QByteArray &fileName,
                 quint64 declared);
    ZipEntryTask(const ZipEntryTask &) = delete;
    ZipEntryTask &operator=(const ZipEntryTask &) = delete;

    int index() const { return m_index; }
    const QString &name() const { return m_name; }
    const QString &output() const { return m_output; }
    quint64 declared() const { return m_declared; }

    // Writes the entry through `reader`, telling `feed` as it goes.
    void run(ZipReader &reader, Feed &feed);
    // The same ahead of the task's turn: the steps are kept for replay(),
    // `stop` answers proceed(). A pipe or device at the name is left alone
    // (mustRunLive()): bytes written there cannot be taken back.
    template <typename Stop>
    void runAhead(ZipReader &reader, const Stop &stop)
    {
        Recorder<Stop> recorder(*this, stop);
        m_ahead = true;
        run(reader, recorder);
        m_ahead = false;
    }
    // Makes the calls kept since the last replay on `feed`, while the task
    // may still run ahead on another thread; false once proceed() said no.
    bool replay(Feed &feed);
    // runAhead() left the task for its turn, to be run live.
    bool mustRunLive() const { return m_mustRunLive; }

    // 0, or the status to report for the entry, with the bytes written before.
    int result() const { return m_result; }
    quint64 written() const { return m_written; }
    // The run ended at a proceed() that said no.
    bool stopped() const { return m_stopped; }
    // Puts the complete entry in place; false, with the message logged, when
    // that fails.
    bool commit();

private:
    enum class Step : quint8 { Proceed, Block, Wrote };
    struct Kept {
        Step step;
        quint64 from;
        quint64 to;
    };

    template <typename Stop>
    class Recorder : public Feed
    {
    public:
        Recorder(ZipEntryTask &task, const Stop &stop)
            : m_task(task)
            , m_stop(stop)
        {
        }
        bool proceed() override
        {
            m_task.keep({Step::Proceed, 0, 0});
            do {
                if (m_stop())
                    return false;
            } while (m_task.waitForReplay());
            return true;
        }
        void block(quint64 from, quint64 to) override { m_task.keep({Step::Block, from, to}); }
        void wrote(quint64 bytes) override { m_task.keep({Step::Wrote, 0, bytes}); }

    private:
        ZipEntryTask &m_task;
        const Stop &m_stop;
    };

    void keep(const Kept &kept);
    // Once the task is followed (replayed while it runs), waits a moment
    // while it is too far ahead of what was replayed: true when it waited.
    // So the reports of a followed entry keep pace with its writing, and a
    // stop after one of them finds little of the entry written.
    bool waitForReplay();
    // Opens the entry and its output; false with m_result set, or left for
    // a live run.
    bool open(ZipReader &reader, std::unique_ptr<class ZipEntryStream> *stream);
    // Copies the data through the feed; false with m_result set or stopped.
    bool copy(ZipReader &reader, ZipEntryStream &stream, Feed &feed);
    bool fail(int result);

    const int m_index;
    const QString m_name;
    const QString m_output;
    const std::shared_ptr<const Extras::FileLayer::Folder> m_folder;
    const QByteArray m_fileName;
    const quint64 m_declared;
    std::unique_ptr<Extras::FileLayer::OutputFile> m_file;
    // Kept by the thread that runs ahead, taken by the one that replays.
    std::mutex m_stepsMutex;
    std::condition_variable m_replayedChanged;
    std::vector<Kept> m_steps;
    size_t m_replayed = 0;
    bool m_followed = false;
    int m_result = 0;
    quint64 m_written = 0;
    bool m_stopped = false;
    bool m_ahead = false;
    bool m_mustRunLive = false;
};
