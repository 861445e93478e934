#pragma once

#include "JobObserver.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class ZipEntryTask;
class ZipReader;
class ZipTaskQueue;
namespace Extras {
namespace FileLayer {
class Folder;
}
} // namespace Extras

/*!
    Extracts entries of an open archive to disk, reporting to an observer:
    each entry's progress once per 4096 bytes (0 before its first bytes, 100
    once it is in place), each failure with its status (a ZipError value or
    a zlib status), the overall amounts (the declared sizes of the entries
    to extract as the total; the bytes written, and the declared size of an
    entry that failed or was skipped, as processed). It asks the observer
    before every entry and every block whether to stop.

    An entry is written beside its target and put in place only when all of
    it was read and its size and CRC matched. Names that would leave the
    output folder, repeat an earlier entry or lead through a link below the
    output folder are skipped. A whole extraction has its file entries
    written by two helper threads, ahead of their turn, through readers
    shared from the given one; the reports, and the entries' placing, stay
    on the calling thread in entry order. Knows nothing of QML; used by one thread at a time, with
    a reader of that thread.
*/
class ZipExtractor
{
public:
    // `archiveClosed`, when set, is asked after each entry of a whole
    // extraction: true means the archive that the caller walks was closed
    // under it, and the run ends there.
    ZipExtractor(ZipReader &reader, Jobs::Observer &observer, std::function<bool()> archiveClosed = {});

    // Every entry below `outputPath`, which is made with its parents. Failed
    // when any entry failed.
    Jobs::Outcome extractEntries(const QString &outputPath);
    // The entry at `index` to the file `outputFilePath`, whose folder must
    // exist; a folder entry makes that folder.
    Jobs::Outcome extractToFile(int index, const QString &outputFilePath);

private:
    class Reporter;
    struct Planned;
    class Planner;

    // Plans entries after those planned, up to a few ahead of the one to
    // report; an entry whose folders must be made waits until every entry
    // before it is in place.
    void planAhead(Planner &planner, std::deque<Planned> &planned, ZipTaskQueue &tasks);
    // Reports the planned entry, writing it or waiting for it as needed.
    Jobs::Outcome finishEntry(const Planned &entry, ZipTaskQueue &tasks);
    // Runs the task live or replays what it did ahead, then puts it in place.
    Jobs::Outcome finish(ZipEntryTask &task, bool runLive);
    // Readers for the helper threads of a whole extraction.
    std::vector<std::unique_ptr<ZipReader>> helperReaders() const;
    // Reports a failed entry, counting the rest of its declared size as
    // processed.
    Jobs::Outcome failed(int index, const QString &outputFilePath, int result, quint64 written = 0);
    // Declares the total of the run: the sum of the declared sizes, which a
    // hostile archive may make larger than any count.
    void setTotals(int first, int count);
    // Counts bytes and entries as processed, never past the total.
    void count(quint64 bytes, int entries);

    ZipReader &m_reader;
    Jobs::Observer &m_observer;
    std::function<bool()> m_archiveClosed;
    qint64 m_totalBytes = 0;
    qint64 m_processedBytes = 0;
    int m_planned = 0;
};
