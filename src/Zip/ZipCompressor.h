#pragma once

#include "FileLayer.h"
#include "JobObserver.h"

#include <QString>

#include <memory>

class ZipDeflatePool;
class ZipSources;
class ZipStreamWriter;

/*!
    Writes a ZIP archive at a path from the files of ZipSources. The archive
    goes to a temporary file beside the path, which finish() renames into
    place: until then, and whenever finish() is not reached or fails, the
    file at the path (or its absence) stays as it was and the temporary file
    goes.

    An entry whose source fails (see add()) is reported to the observer,
    logged and left out; the entries before and after it are written. A
    failure of the archive file itself ends the archive: nothing more is
    added and finish() fails. Knows nothing of QML; used by one thread at a
    time.
*/
class ZipCompressor
{
public:
    enum class EntryResult { Added, Failed, Canceled, ArchiveFailed };

    // Null, with the reason, when no archive can be made at `path`.
    static std::unique_ptr<ZipCompressor> create(const QString &path, QString *reason);
    ~ZipCompressor();
    ZipCompressor(const ZipCompressor &) = delete;
    ZipCompressor &operator=(const ZipCompressor &) = delete;

    const QString &path() const { return m_path; }

    // Reads item `index` of `sources` and adds it with `comment`. Its
    // progress, and its failure with a ZipError status, go to `observer`:
    // ParameterError for a source that is not what was named (an unsafe
    // name, a link on its way, a link, pipe, device, socket or folder, a
    // file that changed since it was named or while it was read), ErrNo for
    // one the system cannot give (gone, unreadable).
    EntryResult add(ZipSources &sources, int index, const QString &comment, Jobs::Observer &observer);
    // The items of `sources` that the next add() calls are expected for,
    // in order: they are opened and read ahead. An add() of something else
    // is still written, from its source at that time; whatever was read
    // ahead is used only when the source opened at its turn is still the
    // file that was read.
    void readAhead(const std::shared_ptr<ZipSources> &sources);
    // Writes the central directory and puts the archive in place; false,
    // logged, when the archive could not be written.
    bool finish();

    // A whole run: every item of `sources` (after walking the folder below
    // their root when `walk`), then finish(). Completed when the archive is
    // in place, whatever entries failed; Failed, reported as an error of
    // the archive's path, when the archive could not be written.
    Jobs::Outcome run(ZipSources &sources, bool walk, Jobs::Observer &observer);

private:
    ZipCompressor() = default;
    // The source of `item`, open and checked, or null with the status.
    std::unique_ptr<Extras::FileLayer::InputFile> openSource(ZipSources &sources, int index, int *result);
    Jobs::Outcome runOver(ZipSources &sources, bool walk, Jobs::Observer &observer);
    // Opens and queues the next planned items while the pool has room.
    void queueAhead();
    EntryResult failed(const ZipSources &sources, int index, int result, Jobs::Observer &observer,
                       quint64 read = 0);

    QString m_path;
    Extras::FileLayer::Folder m_folder;
    std::unique_ptr<Extras::FileLayer::OutputFile> m_output;
    std::unique_ptr<ZipDeflatePool> m_pool;
    std::unique_ptr<ZipStreamWriter> m_stream;
    std::shared_ptr<ZipSources> m_plan;
    int m_planned = 0;
};
