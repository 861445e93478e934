#include "ZipExtractor.h"

#include "FileLayer.h"
#include "MaporaExtrasLogging.h"
#include "ZipNames.h"
#include "ZipProgress.h"
#include "ZipEntryTask.h"
#include "ZipReader.h"
#include "ZipTaskQueue.h"

#include <QDir>
#include <QSet>

#include <limits>

namespace FileLayer = Extras::FileLayer;
using Jobs::Outcome;

namespace {

// Why the archive's entry must not be extracted, as the status to report:
// a name that is not what its flag says, one that would leave the output
// folder, or a file already extracted under the same cleaned name. 0 when
// it may be.
int refusalOf(const ZipDirectory::Entry &entry, const QString &clean, QSet<QString> &extracted)
{
    const QString &name = entry.name;
    if (!entry.nameValid) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry name is not valid UTF-8:" << name;
        return ZipError::BadZipFile;
    }
    if (ZipNames::leavesFolder(name)) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Entry outside the output folder skipped:" << name;
        return ZipError::ParameterError;
    }
    if (!name.endsWith(QLatin1Char('/')) && extracted.contains(clean)) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Duplicate entry skipped:" << name;
        return ZipError::ParameterError;
    }
    extracted.insert(clean);
    return 0;
}

// The folders of the entries below the output folder, made where missing,
// none of them through a link. Entries of one folder usually follow each
// other: the last folder stays open rather than being walked again.
class EntryFolders
{
public:
    explicit EntryFolders(const FileLayer::Folder &root)
        : m_root(root)
    {
    }

    // Whether the entry `name` needs a walk from the output folder, which
    // may make folders.
    bool walks(const QString &name) const { return !m_folder || folderPart(name) != m_folderPart; }

    // The folder of the entry `name`, and its last component in `last`
    // (empty for a folder entry); null, with the status to report, when it
    // cannot be made or a link stands in the way.
    std::shared_ptr<const FileLayer::Folder> open(const QString &name, const QString &output, QByteArray *last,
                                                  int *result)
    {
        const QStringView folder = folderPart(name);
        *last = name.endsWith(QLatin1Char('/')) ? QByteArray()
                                                 : FileLayer::localName(name.mid(name.lastIndexOf(QLatin1Char('/')) + 1));
        int error = 0;
        if (walks(name)) {
            m_folderPart = folder.toString();
            m_folder = std::make_shared<FileLayer::Folder>(
                FileLayer::makeFolders(m_root, m_folderPart.split(QLatin1Char('/'), Qt::SkipEmptyParts), &error));
            if (!m_folder->isOpen())
                m_folder.reset();
        }
        if (m_folder)
            return m_folder;
        if (error == FileLayer::LinkInTheWay) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry leads through a symbolic link, skipped:" << name;
            *result = ZipError::ParameterError;
        } else {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << output << FileLayer::errorText(error);
            *result = ZipError::ErrNo;
        }
        return nullptr;
    }

private:
    // A folder entry is its own folder; a file lies in the folder its name
    // has before the last "/".
    static QStringView folderPart(const QString &name)
    {
        const bool isFolder = name.endsWith(QLatin1Char('/'));
        const int slash = isFolder ? name.size() : name.lastIndexOf(QLatin1Char('/'));
        return QStringView(name).left(qMax(slash, 0));
    }

    const FileLayer::Folder &m_root;
    QString m_folderPart;
    std::shared_ptr<FileLayer::Folder> m_folder;
};

} // namespace

// An entry as planned: a refusal to report, a folder entry (made), or a
// file entry whose task waits in the queue.
struct ZipExtractor::Planned {
    int index;
    QString output;
    int refusal;
    bool hasTask;
};

// Plans the entries in order: refusals, folders and the file entries' tasks.
class ZipExtractor::Planner
{
public:
    Planner(const ZipReader &reader, const QString &outputPath, const FileLayer::Folder &root)
        : m_reader(reader)
        , m_dir(outputPath)
        , m_folders(root)
    {
    }

    // Plans the entry at `index` into `planned`, its task into `tasks`;
    // false, with nothing done, when it would make folders and `mayWalk`
    // is false.
    bool plan(int index, bool mayWalk, std::deque<Planned> &planned, ZipTaskQueue &tasks)
    {
        const QString name = m_reader.name(index);
        // The archive chooses these names: never let one leave the folder.
        // "a//x.txt" and "./a/x.txt" land where "a/x.txt" does.
        const QString clean = ZipNames::cleaned(name);
        if (!mayWalk && m_folders.walks(clean))
            return false;
        const QString output = m_dir.filePath(ZipNames::leavesFolder(name) ? name : clean);
        const ZipDirectory::Entry entry = m_reader.entry(index);
        QByteArray last;
        int result = refusalOf(entry, clean, m_extracted);
        std::shared_ptr<const FileLayer::Folder> folder;
        if (result == 0)
            folder = m_folders.open(clean, output, &last, &result);
        // A folder entry stands for its folder, made with it.
        const bool file = folder && !last.isEmpty();
        planned.push_back({index, output, result, file});
        if (file) {
            tasks.push(std::unique_ptr<ZipEntryTask>(
                new ZipEntryTask(index, name, output, folder, last, entry.record.uncompressedSize)));
        }
        return true;
    }

private:
    const ZipReader &m_reader;
    const QDir m_dir;
    EntryFolders m_folders;
    QSet<QString> m_extracted;
};

// Tells the observer what a task does, as it does it or when replayed.
class ZipExtractor::Reporter : public ZipEntryTask::Feed
{
public:
    Reporter(ZipExtractor &extractor, const ZipEntryTask &task)
        : m_extractor(extractor)
        , m_task(task)
    {
    }
    bool proceed() override { return !m_extractor.m_observer.canceled(); }
    void block(quint64 from, quint64 to) override
    {
        ZipProgress::reportSteps(m_extractor.m_observer, m_task.name(), m_task.output(), from, to, m_task.declared());
    }
    void wrote(quint64 bytes) override { m_extractor.count(bytes, 0); }

private:
    ZipExtractor &m_extractor;
    const ZipEntryTask &m_task;
};

ZipExtractor::ZipExtractor(ZipReader &reader, Jobs::Observer &observer, std::function<bool()> archiveClosed)
    : m_reader(reader)
    , m_observer(observer)
    , m_archiveClosed(std::move(archiveClosed))
{
}

void ZipExtractor::setTotals(int first, int count)
{
    constexpr quint64 Most = quint64(std::numeric_limits<qint64>::max());
    quint64 total = 0;
    for (int index = first; index < first + count; ++index)
        total += qMin(m_reader.entry(index).record.uncompressedSize, Most - total);
    m_totalBytes = qint64(total);
    m_observer.setTotals(m_totalBytes, count);
}

void ZipExtractor::count(quint64 bytes, int entries)
{
    const qint64 counted = qint64(qMin(bytes, quint64(m_totalBytes - m_processedBytes)));
    m_processedBytes += counted;
    m_observer.addProcessed(counted, entries);
}

Outcome ZipExtractor::failed(int index, const QString &outputFilePath, int result, quint64 written)
{
    m_observer.error(m_reader.name(index), outputFilePath, result);
    count(m_reader.entry(index).record.uncompressedSize - written, 1);
    return Outcome::Failed;
}

std::vector<std::unique_ptr<ZipReader>> ZipExtractor::helperReaders() const
{
    // Two helpers keep two cores busy; this thread mostly waits for them.
    constexpr int Helpers = 2;
    std::vector<std::unique_ptr<ZipReader>> readers;
    for (int helper = 0; helper < Helpers && m_reader.count() > 1; ++helper) {
        QString reason;
        std::unique_ptr<ZipReader> reader = m_reader.share(&reason);
        if (!reader) {
            qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "Fewer helper threads:" << m_reader.path() << reason;
            break;
        }
        readers.push_back(std::move(reader));
    }
    return readers;
}

void ZipExtractor::planAhead(Planner &planner, std::deque<Planned> &planned, ZipTaskQueue &tasks)
{
    // Enough for the second thread to stay busy behind a large entry,
    // few enough that little is thrown away on a stop.
    constexpr size_t Ahead = 8;
    while (m_planned < m_reader.count() && planned.size() < Ahead) {
        if (!planner.plan(m_planned, planned.empty(), planned, tasks))
            return;
        ++m_planned;
    }
}

Outcome ZipExtractor::extractEntries(const QString &outputPath)
{
    setTotals(0, m_reader.count());
    // The output folder is the caller's, links on its way included.
    int error = 0;
    const FileLayer::Folder root = FileLayer::makeFolders(outputPath, &error);
    if (!root.isOpen()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to create:" << outputPath << FileLayer::errorText(error);
        return Outcome::Failed;
    }
    Planner planner(m_reader, outputPath, root);
    std::deque<Planned> planned;
    // Stopped and emptied, whatever it holds, when the run ends.
    ZipTaskQueue tasks(helperReaders());
    m_planned = 0;
    Outcome outcome = Outcome::Completed;
    for (int index = 0; index < m_reader.count(); ++index) {
        planAhead(planner, planned, tasks);
        if (m_observer.canceled())
            return Outcome::Canceled;
        const Outcome entry = finishEntry(planned.front(), tasks);
        planned.pop_front();
        if (entry == Outcome::Canceled)
            return entry;
        if (entry == Outcome::Failed)
            outcome = Outcome::Failed;
        if (m_archiveClosed && m_archiveClosed()) {
            qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Archive closed during extraction:" << m_reader.path();
            return Outcome::Failed;
        }
    }
    return outcome;
}

Outcome ZipExtractor::finishEntry(const Planned &entry, ZipTaskQueue &tasks)
{
    if (entry.refusal != 0)
        return failed(entry.index, entry.output, entry.refusal);
    if (!entry.hasTask) {
        count(m_reader.entry(entry.index).record.uncompressedSize, 1);
        return Outcome::Completed;
    }
    bool runLive = false;
    // A stop is looked for also when the oldest has nothing new to report.
    const auto follow = [this](ZipEntryTask &running) {
        Reporter reporter(*this, running);
        return running.replay(reporter) && !m_observer.canceled();
    };
    ZipEntryTask *const task = tasks.next(follow, &runLive);
    if (!task)
        return Outcome::Canceled;
    const Outcome outcome = finish(*task, runLive);
    tasks.pop();
    return outcome;
}

Outcome ZipExtractor::finish(ZipEntryTask &task, bool runLive)
{
    Reporter reporter(*this, task);
    if (runLive)
        task.run(m_reader, reporter);
    else if (!task.replay(reporter))
        return Outcome::Canceled;
    if (task.stopped())
        return Outcome::Canceled;
    if (task.result() != 0)
        return failed(task.index(), task.output(), task.result(), task.written());
    if (!task.commit())
        return failed(task.index(), task.output(), ZipError::ErrNo, task.written());
    m_observer.progress(task.name(), task.output(), 100.0);
    count(0, 1);
    return Outcome::Completed;
}

Outcome ZipExtractor::extractToFile(int index, const QString &outputFilePath)
{
    setTotals(index, 1);
    // The whole output path is the caller's: the file goes to its last
    // component in the folder the rest of it names.
    const FileLayer::Place place = FileLayer::Place::whole(outputFilePath);
    int error = 0;
    const std::shared_ptr<const FileLayer::Folder> folder =
        std::make_shared<FileLayer::Folder>(FileLayer::Folder::openParent(place, &error));
    const QByteArray name = FileLayer::localName(place.entry());
    if (!folder->isOpen()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << FileLayer::errorText(error);
        return failed(index, outputFilePath, ZipError::ErrNo);
    }
    if (!m_reader.entry(index).nameValid) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry name is not valid UTF-8:" << m_reader.name(index);
        return failed(index, outputFilePath, ZipError::BadZipFile);
    }
    if (m_reader.name(index).endsWith(QLatin1Char('/'))) {
        // A folder entry has no data: it stands for its folder.
        if (!folder->makeChild(name, &error).isOpen()) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << FileLayer::errorText(error);
            return failed(index, outputFilePath, ZipError::ErrNo);
        }
        count(m_reader.entry(index).record.uncompressedSize, 1);
        return Outcome::Completed;
    }
    ZipEntryTask task(index, m_reader.name(index), outputFilePath, folder, name,
                      m_reader.entry(index).record.uncompressedSize);
    return finish(task, true);
}
