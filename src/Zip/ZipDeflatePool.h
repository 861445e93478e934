#pragma once

#include "FileLayer.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

/*!
    Reads and deflates the data of archive entries on worker threads, one
    per core, while the thread that writes the archive takes the results in
    order. An entry is cut in pieces of PieceSize bytes, read at their
    offsets and deflated on their own; each piece but the last is left open
    (its final block turned into an ordinary one and closed on a byte
    boundary with an empty stored block), so that the pieces in order make
    one deflate stream.

    Entries may be queued ahead of the one being written: the writer takes
    them with take() when their turn comes and drops what it no longer
    wants. The bytes read but not yet taken stay below a bound, except for
    the piece the writer waits for.
*/
class ZipDeflatePool
{
public:
    static constexpr qint64 PieceSize = 1024 * 1024;

    struct Piece
    {
        quint64 offset = 0;
        // Bytes asked for: the piece, and one more for the last piece, which
        // tells a source that grew.
        qint64 wanted = 0;
        // Bytes the source gave, -1 when reading failed.
        qint64 got = 0;
        quint32 crc = 0;
        std::vector<char> deflated;
        // Read, but not deflated (no memory, say): the entry cannot be had.
        bool failed = false;
        enum class State { Waiting, Running, Done, Released } state = State::Waiting;
    };

    struct Entry
    {
        QString name;
        std::shared_ptr<Extras::FileLayer::InputFile> file;
        // The state of `file` when the entry was queued.
        Extras::FileLayer::FileState state;
        std::vector<Piece> pieces;
        int running = 0;
        bool dropped = false;
    };

    ZipDeflatePool();
    ~ZipDeflatePool();
    ZipDeflatePool(const ZipDeflatePool &) = delete;
    ZipDeflatePool &operator=(const ZipDeflatePool &) = delete;

    // Whether an entry queued now would start before the writer needs it.
    bool hasRoom() const;
    // Queues the data of `file`, as it is now, as the entry `name`.
    void queue(const QString &name, const std::shared_ptr<Extras::FileLayer::InputFile> &file);
    // The queued entry `name` when its file had `state`; the entries queued
    // before it are dropped. Otherwise `file` (which must outlive the entry)
    // is queued first and returned.
    std::shared_ptr<Entry> take(const QString &name, const Extras::FileLayer::FileState &state,
                                Extras::FileLayer::InputFile *file);
    // Piece `index` of `entry`, once done; the pieces before it must have
    // been released.
    const Piece &wait(Entry &entry, int index);
    // Frees piece `index` of `entry`, making room for more.
    void release(Entry &entry, int index);
    // Stops `entry`: pieces not started never are, and the pieces running
    // are awaited, so that its file can go.
    void drop(Entry &entry);
    // Drops every queued entry.
    void clear();

private:
    void work();
    // The next piece a worker may start, or false. Called locked.
    bool nextPiece(std::shared_ptr<Entry> *entry, int *index);
    static void deflatePiece(const Extras::FileLayer::InputFile &file, Piece &piece, bool last,
                             struct libdeflate_compressor *compressor, std::vector<char> &input,
                             std::vector<char> &sink);

    mutable std::mutex m_mutex;
    std::condition_variable m_workToDo;
    std::condition_variable m_pieceDone;
    std::deque<std::shared_ptr<Entry>> m_entries;
    // Bytes of the pieces started and not released.
    qint64 m_held = 0;
    // Bytes of the pieces queued and not started.
    qint64 m_unstarted = 0;
    // The piece the writer waits for, started whatever is held.
    const Piece *m_awaited = nullptr;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
