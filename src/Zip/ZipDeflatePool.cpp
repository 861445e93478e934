#include "ZipDeflatePool.h"

#include <QThread>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>

namespace FileLayer = Extras::FileLayer;

namespace {

// The compression level of zlib's default, in libdeflate's scale.
constexpr int Level = 6;
// Bytes read ahead of the writer and not yet taken: enough to keep every
// worker busy while the writer waits, little enough for any machine.
constexpr qint64 HeldLimit = 16 * ZipDeflatePool::PieceSize;
// Entries queued ahead, each with an open file.
constexpr size_t QueuedLimit = 64;

// Turns the deflate stream in `data` into one that goes on: its final block
// becomes an ordinary block, and an empty stored block after it ends the
// stream on a byte boundary, where the next piece's first block begins.
// libdeflate does not tell where its blocks begin, so zlib walks them.
bool leaveOpen(std::vector<char> &data, std::vector<char> &sink)
{
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef *>(data.data());
    stream.avail_in = uInt(data.size());
    quint64 finalHeader = 0;
    quint64 end = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(sink.data());
        stream.avail_out = uInt(sink.size());
        status = inflate(&stream, Z_BLOCK);
        // Stopped after a block: before the next one's header, or after
        // the final one, ahead of the bits that fill its last byte.
        const quint64 at = quint64(stream.total_in) * 8 - quint64(stream.data_type & 7);
        if ((stream.data_type & 128) && (stream.data_type & 64))
            end = at;
        else if (stream.data_type & 128)
            finalHeader = at;
    }
    const bool complete =
        status == Z_STREAM_END && stream.avail_in == 0 && end > finalHeader && (end + 7) / 8 == data.size();
    inflateEnd(&stream);
    if (!complete)
        return false;
    const int unusedBits = int((8 - end % 8) % 8);
    data[finalHeader / 8] = char(uchar(data[finalHeader / 8]) & ~(1u << (finalHeader % 8)));
    if (unusedBits > 0)
        data.back() = char(uchar(data.back()) & ((1u << (8 - unusedBits)) - 1));
    // The stored block's three header bits fit in the last byte's padding,
    // or take a byte of their own.
    if (unusedBits < 3)
        data.push_back(0);
    for (const uchar byte : {0x00, 0x00, 0xff, 0xff})
        data.push_back(char(byte));
    return true;
}

} // namespace

ZipDeflatePool::ZipDeflatePool()
{
    // More threads would only hold more memory: the bytes held are bounded.
    const int workers = std::min(8, std::max(1, QThread::idealThreadCount()));
    for (int i = 0; i < workers; ++i)
        m_threads.emplace_back([this] { work(); });
}

ZipDeflatePool::~ZipDeflatePool()
{
    clear();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_workToDo.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

bool ZipDeflatePool::hasRoom() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unstarted < 2 * PieceSize * qint64(m_threads.size()) && m_entries.size() < QueuedLimit;
}

void ZipDeflatePool::queue(const QString &name, const std::shared_ptr<FileLayer::InputFile> &file)
{
    std::shared_ptr<Entry> entry(new Entry);
    entry->name = name;
    entry->file = file;
    entry->state = file->state();
    const quint64 size = entry->state.size;
    const quint64 count = std::max<quint64>(1, (size + PieceSize - 1) / PieceSize);
    entry->pieces.resize(count);
    for (quint64 i = 0; i < count; ++i) {
        Piece &piece = entry->pieces[i];
        piece.offset = i * PieceSize;
        piece.wanted = i + 1 < count ? PieceSize : qint64(size - piece.offset) + 1;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Piece &piece : entry->pieces)
            m_unstarted += piece.wanted;
        m_entries.push_back(std::move(entry));
    }
    m_workToDo.notify_all();
}

std::shared_ptr<ZipDeflatePool::Entry> ZipDeflatePool::take(const QString &name, const FileLayer::FileState &state,
                                                             FileLayer::InputFile *file)
{
    std::vector<std::shared_ptr<Entry>> passed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const std::shared_ptr<Entry> &entry) {
            return entry->name == name && entry->state == state;
        });
        if (found != m_entries.end())
            passed.assign(m_entries.begin(), found);
    }
    for (const std::shared_ptr<Entry> &entry : passed)
        drop(*entry);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_entries.empty() && m_entries.front()->name == name && m_entries.front()->state == state)
            return m_entries.front();
    }
    // Not read ahead: read now, before what was.
    queue(name, std::shared_ptr<FileLayer::InputFile>(file, [](FileLayer::InputFile *) {}));
    std::lock_guard<std::mutex> lock(m_mutex);
    std::rotate(m_entries.begin(), m_entries.end() - 1, m_entries.end());
    return m_entries.front();
}

const ZipDeflatePool::Piece &ZipDeflatePool::wait(Entry &entry, int index)
{
    Piece &piece = entry.pieces.at(size_t(index));
    std::unique_lock<std::mutex> lock(m_mutex);
    m_awaited = &piece;
    m_workToDo.notify_all();
    m_pieceDone.wait(lock, [&] { return piece.state == Piece::State::Done; });
    m_awaited = nullptr;
    return piece;
}

void ZipDeflatePool::release(Entry &entry, int index)
{
    Piece &piece = entry.pieces.at(size_t(index));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (piece.state != Piece::State::Done)
            return;
        piece.state = Piece::State::Released;
        m_held -= piece.wanted;
        std::vector<char>().swap(piece.deflated);
    }
    m_workToDo.notify_all();
}

void ZipDeflatePool::drop(Entry &entry)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    entry.dropped = true;
    for (Piece &piece : entry.pieces) {
        if (piece.state == Piece::State::Waiting)
            m_unstarted -= piece.wanted;
        else if (piece.state == Piece::State::Done)
            m_held -= piece.wanted;
        else
            continue;
        piece.state = Piece::State::Released;
        std::vector<char>().swap(piece.deflated);
    }
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&](const std::shared_ptr<Entry> &queued) { return queued.get() == &entry; }),
                    m_entries.end());
    m_pieceDone.wait(lock, [&] { return entry.running == 0; });
    lock.unlock();
    m_workToDo.notify_all();
}

void ZipDeflatePool::clear()
{
    for (;;) {
        std::shared_ptr<Entry> entry;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_entries.empty())
                return;
            entry = m_entries.front();
        }
        drop(*entry);
    }
}

bool ZipDeflatePool::nextPiece(std::shared_ptr<Entry> *entry, int *index)
{
    for (const std::shared_ptr<Entry> &queued : m_entries) {
        for (size_t i = 0; i < queued->pieces.size(); ++i) {
            const Piece &piece = queued->pieces[i];
            if (piece.state != Piece::State::Waiting)
                continue;
            if (&piece != m_awaited && m_held + piece.wanted > HeldLimit) {
                // Full: only the piece the writer waits for may start.
                if (!m_awaited)
                    return false;
                continue;
            }
            *entry = queued;
            *index = int(i);
            return true;
        }
    }
    return false;
}

void ZipDeflatePool::work()
{
    libdeflate_compressor *const compressor = libdeflate_alloc_compressor(Level);
    std::vector<char> input;
    std::vector<char> sink(64 * 1024);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        std::shared_ptr<Entry> entry;
        int index = 0;
        m_workToDo.wait(lock, [&] { return m_stopping || nextPiece(&entry, &index); });
        if (m_stopping)
            break;
        Piece &piece = entry->pieces[size_t(index)];
        piece.state = Piece::State::Running;
        ++entry->running;
        m_unstarted -= piece.wanted;
        m_held += piece.wanted;
        lock.unlock();
        const bool last = size_t(index) + 1 == entry->pieces.size();
        deflatePiece(*entry->file, piece, last, compressor, input, sink);
        lock.lock();
        --entry->running;
        piece.state = Piece::State::Done;
        if (entry->dropped) {
            piece.state = Piece::State::Released;
            m_held -= piece.wanted;
            std::vector<char>().swap(piece.deflated);
        }
        m_pieceDone.notify_all();
        m_workToDo.notify_all();
    }
    lock.unlock();
    libdeflate_free_compressor(compressor);
}

void ZipDeflatePool::deflatePiece(const FileLayer::InputFile &file, Piece &piece, bool last,
                                  libdeflate_compressor *compressor, std::vector<char> &input,
                                  std::vector<char> &sink)
{
    input.resize(size_t(piece.wanted));
    piece.got = file.readAt(piece.offset, input.data(), piece.wanted);
    if (piece.got < 0)
        return;
    const size_t bytes = size_t(last ? std::min(piece.got, piece.wanted - 1) : piece.got);
    piece.crc = quint32(libdeflate_crc32(0, input.data(), bytes));
    // A piece cut short ends its entry there: nothing to deflate.
    if (!last && piece.got < piece.wanted)
        return;
    if (!compressor) {
        piece.failed = true;
        return;
    }
    piece.deflated.resize(libdeflate_deflate_compress_bound(compressor, bytes));
    const size_t size =
        libdeflate_deflate_compress(compressor, input.data(), bytes, piece.deflated.data(), piece.deflated.size());
    piece.deflated.resize(size);
    if (size == 0 || (!last && !leaveOpen(piece.deflated, sink))) {
        piece.deflated.clear();
        piece.failed = true;
    }
}
