#include "TkZipArchive.h"

#include "FileLayer.h"
#include "FileUtility.h"
#include "MaporaExtrasLogging.h"
#include "TkZipFileInfo.h"
#include "ZipNames.h"
#include "ZipReader.h"
#include "ZipWriter.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <atomic>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

using Extras::FileUtility;
namespace FileLayer = Extras::FileLayer;

static_assert(int(TkZipArchive::Result::ErrNo) == ZipError::ErrNo
                  && int(TkZipArchive::Result::ParameterError) == ZipError::ParameterError
                  && int(TkZipArchive::Result::BadZipFile) == ZipError::BadZipFile
                  && int(TkZipArchive::Result::InternalError) == ZipError::InternalError
                  && int(TkZipArchive::Result::CrcError) == ZipError::CrcError,
              "the statuses of a stream are the results of extractError()");

// Receives what an extraction reports, and tells it when to stop.
class TkZipArchive::ExtractObserver
{
public:
    virtual ~ExtractObserver() = default;
    virtual void progress(const QString &name, const QString &output, double percent) = 0;
    virtual void error(const QString &name, const QString &output, Result result) = 0;
    // Checked before every block of data and every entry.
    virtual bool canceled() const = 0;
    // Whether the archive the run walks was closed under it.
    virtual bool archiveClosed() const { return false; }
};

namespace {

// Progress is reported once per this many bytes, however large the blocks
// that are read and written.
constexpr int ProgressStep = 4096;
// How often the reports of a background run are collected, and how long
// one collection may emit signals before the event loop gets its turn.
constexpr int CollectInterval = 10;
constexpr qint64 CollectBudgetNs = 5000000;

} // namespace

// A run on a worker thread: its own reader, its thread, its cancel flag,
// and the reports it made that the object's thread has yet to emit. The
// worker only queues its reports; a timer of the object's thread collects
// them every few milliseconds. Waking that thread for each of the tens of
// thousands of progress reports would cost more than the extraction.
struct TkZipArchive::BackgroundRun {
    struct Report {
        enum class Kind { Progress, Error, Finished };
        Kind kind;
        QString name;
        QString output;
        double percent = 0;
        Result result = Result::EndOfFile;
        Outcome outcome = Outcome::Extracted;
    };

    std::unique_ptr<ZipReader> reader;
    std::thread thread;
    std::atomic<bool> canceled{false};

    ~BackgroundRun()
    {
        canceled = true;
        wait();
    }
    void wait()
    {
        if (thread.joinable())
            thread.join();
    }

    void post(Report &&report)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        reports.push_back(std::move(report));
    }
    // The next report in order; false when there is none yet.
    bool take(Report *report)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (reports.empty())
            return false;
        *report = std::move(reports.front());
        reports.pop_front();
        return true;
    }

private:
    std::mutex mutex;
    std::deque<Report> reports;
};

// Queues the reports of a worker thread's run for the object's thread,
// where they become its signals in the order they were made.
class TkZipArchive::QueuedObserver : public TkZipArchive::ExtractObserver
{
public:
    explicit QueuedObserver(BackgroundRun *run)
        : m_run(run)
    {
    }
    void progress(const QString &name, const QString &output, double percent) override
    {
        m_run->post({BackgroundRun::Report::Kind::Progress, name, output, percent});
    }
    void error(const QString &name, const QString &output, Result result) override
    {
        m_run->post({BackgroundRun::Report::Kind::Error, name, output, 0, result});
    }
    void finished(Outcome outcome)
    {
        m_run->post({BackgroundRun::Report::Kind::Finished, {}, {}, 0, Result::EndOfFile, outcome});
    }
    bool canceled() const override { return m_run->canceled.load(std::memory_order_relaxed); }

private:
    BackgroundRun *m_run;
};

// Delivers the reports of a run on the object's thread as its signals,
// during the call. Signal handlers may cancel the run, close the archive or
// destroy the object (a handler that runs an event loop lets a deferred
// deletion happen): once the object is gone, nothing is emitted and the run
// is over.
class TkZipArchive::SignalObserver : public TkZipArchive::ExtractObserver
{
public:
    explicit SignalObserver(TkZipArchive *archive)
        : m_archive(archive)
        , m_startGeneration(archive->m_generation)
    {
    }
    void progress(const QString &name, const QString &output, double percent) override
    {
        if (m_archive)
            emit m_archive->extractProgress(name, output, percent);
    }
    void error(const QString &name, const QString &output, TkZipArchive::Result result) override
    {
        if (m_archive)
            emit m_archive->extractError(name, output, result);
    }
    bool canceled() const override { return !m_archive || m_archive->m_cancelRequested; }
    bool archiveClosed() const override { return !m_archive || m_archive->m_generation != m_startGeneration; }

private:
    QPointer<TkZipArchive> m_archive;
    const quint64 m_startGeneration;
};

namespace {

// Whether extracting an entry of this name below a folder could write
// outside it: absolute names, drive letters where the platform has them, and
// ".." segments. Also used for the names given to new entries.
bool leavesFolder(const QString &entryName)
{
    if (entryName.startsWith(QLatin1Char('/')) || entryName.startsWith(QLatin1Char('\\')))
        return true;
    if (FileLayer::namesADrive(entryName))
        return true;
    // Qt takes a name beginning with ":" for a resource path: joining it to
    // a folder gives the name itself, and creating its folders would do so
    // relative to the working directory.
    if (QDir::isAbsolutePath(entryName))
        return true;
    // Both separators count: archives made on Windows may use backslashes.
    int start = 0;
    for (int i = 0; i <= entryName.size(); ++i) {
        if (i == entryName.size() || entryName.at(i) == QLatin1Char('/') || entryName.at(i) == QLatin1Char('\\')) {
            if (QStringView(entryName).mid(start, i - start) == QLatin1String(".."))
                return true;
            start = i + 1;
        }
    }
    return false;
}

// The path an output path names, or an empty text when it names no place:
// empty, or its leading variable does not resolve.
QString outputPlace(const QString &path)
{
    bool resolved = false;
    const QString result = FileUtility::resolvedPath(path, true, &resolved);
    return resolved ? result : QString();
}

} // namespace

TkZipArchive::TkZipArchive(QObject *parent)
    : QObject(parent)
{
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO;
    connect(&m_collector, &QTimer::timeout, this, [this] { deliverReports(CollectBudgetNs); });
}

TkZipArchive::~TkZipArchive()
{
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO;
    stopBackgroundRun(false);
    closeWriter();
    closeReader();
}

QString TkZipArchive::path() const
{
    return m_path;
}

void TkZipArchive::setPath(const QString &path)
{
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << path;
    const QString resolved = FileUtility::resolvedPath(path, true);
    if (resolved == m_path)
        return;
    m_path = resolved;
    m_failedOpen = false;
    if (!closeAll())
        return;
    emit pathChanged();
}

bool TkZipArchive::caseSensitive() const
{
    return m_caseSensitive;
}

void TkZipArchive::setCaseSensitive(bool caseSensitive)
{
    if (caseSensitive == m_caseSensitive)
        return;
    m_caseSensitive = caseSensitive;
    emit caseSensitiveChanged();
}

bool TkZipArchive::isOpen() const
{
    return m_reader || m_writer;
}

QStringList TkZipArchive::fileNames()
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return QStringList();
    }
    return m_reader->fileNames();
}

QStringList TkZipArchive::folderNames()
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return QStringList();
    }
    return m_reader->folderNames();
}

bool TkZipArchive::asynchronous() const
{
    return m_asynchronous;
}

void TkZipArchive::setAsynchronous(bool asynchronous)
{
    if (asynchronous == m_asynchronous)
        return;
    m_asynchronous = asynchronous;
    emit asynchronousChanged();
}

bool TkZipArchive::busy() const
{
    return bool(m_run);
}

void TkZipArchive::close()
{
    closeAll();
}

bool TkZipArchive::closeAll()
{
    if (!stopBackgroundRun(true))
        return false;
    closeWriter();
    closeReader();
    return true;
}

void TkZipArchive::cancel()
{
    if (m_run)
        m_run->canceled = true;
    else if (m_extracting)
        m_cancelRequested = true;
}

void TkZipArchive::closeReader()
{
    if (m_reader) {
        m_reader.reset();
        ++m_generation;
    }
}

void TkZipArchive::closeWriter()
{
    if (!m_writer)
        return;
    const std::unique_ptr<ZipWriter> writer = std::move(m_writer);
    QString reason;
    if (!writer->finish(&reason))
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to write:" << m_path << reason;
}

bool TkZipArchive::zrOpen()
{
    if (m_reader)
        return true;
    closeWriter();
    // A missing file is an ordinary state of the object, not worth a warning.
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return false;
    // A file that is no archive stays one until it changes: it is not read
    // again by every member that asks.
    QString reason;
    ZipReader::FileState state;
    bool unchanged = false;
    std::unique_ptr<ZipReader> reader =
        ZipReader::open(m_path, &reason, &state, m_failedOpen ? &m_failedState : nullptr, &unchanged);
    if (!reader) {
        if (!unchanged)
            qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to open:" << m_path << reason;
        m_failedOpen = state.id.valid;
        m_failedState = state;
        return false;
    }
    m_failedOpen = false;
    m_reader = std::move(reader);
    return true;
}

int TkZipArchive::locateFile(const QString &fileName, bool caseSensitive)
{
    if (!m_reader)
        return -1;
    const int index = m_reader->indexOf(fileName, caseSensitive);
    if (index < 0)
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "File not found:" << fileName;
    return index;
}

bool TkZipArchive::exists(const QString &fileName)
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    return locateFile(fileName, m_caseSensitive) >= 0;
}

TkZipFileInfo *TkZipArchive::fileInfo(const QString &fileName)
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return nullptr;
    }
    const int index = locateFile(fileName, m_caseSensitive);
    if (index < 0) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "File not found" << fileName;
        return nullptr;
    }
    return new TkZipFileInfo(fileName, m_reader->entry(index).record, nullptr);
}

bool TkZipArchive::refuseNestedExtraction(const char *function) const
{
    // One extraction at a time: a second one, from a signal handler of the
    // first or while one runs in the background, would interleave with the
    // entry being written.
    if (!m_extracting && !m_run)
        return false;
    qCWarning(CATEGORY_FILE) << function << "Extraction already running:" << m_path;
    return true;
}

bool TkZipArchive::extractFile(const QString &fileName, const QString &outputFilePath)
{
    if (refuseNestedExtraction(Q_FUNC_INFO))
        return false;
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << fileName << "->" << outputFilePath;
    const QString output = outputPlace(outputFilePath);
    if (output.isEmpty()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No output file given for:" << fileName << outputFilePath;
        return false;
    }
    const int index = locateFile(fileName, m_caseSensitive);
    if (index < 0)
        return false;
    if (m_asynchronous)
        return startInBackground(index, output);
    m_extracting = true;
    m_cancelRequested = false;
    const QPointer<TkZipArchive> alive(this);
    const std::shared_ptr<ZipReader> reader = m_reader;
    SignalObserver observer(this);
    const Outcome outcome = extractToFile(*reader, index, output, observer);
    // A signal handler may have destroyed the object: touch nothing of it.
    if (!alive)
        return false;
    m_extracting = false;
    if (outcome == Outcome::Canceled)
        emit extractCanceled();
    return outcome == Outcome::Extracted;
}

bool TkZipArchive::extractAll(const QString &outputPath)
{
    if (refuseNestedExtraction(Q_FUNC_INFO))
        return false;
    // An empty text would mean the working folder, which nobody asks for,
    // and a variable that does not resolve the rest of the path alone.
    const QString output = outputPlace(outputPath);
    if (output.isEmpty()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No output folder given for:" << m_path << outputPath;
        return false;
    }
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << output << QDir(output);
    if (m_asynchronous)
        return startInBackground(-1, output);

    m_extracting = true;
    m_cancelRequested = false;
    const QPointer<TkZipArchive> alive(this);
    // Signal handlers may close the archive or open another one: the
    // extraction keeps its reader and stops once the object's has changed.
    const std::shared_ptr<ZipReader> reader = m_reader;
    SignalObserver observer(this);
    const Outcome outcome = extractEntries(*reader, output, observer);
    if (!alive)
        return false;
    m_extracting = false;
    if (outcome == Outcome::Canceled)
        emit extractCanceled();
    else
        emit extractCompleted();
    return outcome == Outcome::Extracted;
}

bool TkZipArchive::startInBackground(int index, const QString &outputPath)
{
    // The worker reads through a handle of its own, so that the reading
    // members keep working here meanwhile.
    QString reason;
    std::unique_ptr<ZipReader> reader = ZipReader::open(m_path, &reason);
    if (!reader) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to open:" << m_path << reason;
        return false;
    }
    const int workerIndex = index < 0 ? -1 : reader->indexOf(m_reader->name(index), true);
    if (index >= 0 && workerIndex < 0) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Archive changed on disk:" << m_path;
        return false;
    }
    m_run.reset(new BackgroundRun);
    m_run->reader = std::move(reader);
    BackgroundRun *const run = m_run.get();
    m_run->thread = std::thread([run, workerIndex, outputPath] {
        QueuedObserver observer(run);
        observer.finished(workerIndex < 0 ? extractEntries(*run->reader, outputPath, observer)
                                          : extractToFile(*run->reader, workerIndex, outputPath, observer));
    });
    m_collector.start(CollectInterval);
    emit busyChanged();
    return true;
}

void TkZipArchive::finishBackgroundRun(Outcome outcome)
{
    if (!m_run)
        return;
    m_run->wait();
    m_run.reset();
    m_collector.stop();
    // Not busy any more when the last signal comes, so that its handler can
    // start the next run.
    const QPointer<TkZipArchive> alive(this);
    emit busyChanged();
    if (!alive)
        return;
    if (outcome == Outcome::Canceled)
        emit extractCanceled();
    else
        emit extractCompleted();
}

bool TkZipArchive::deliverReports(qint64 budgetNs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    const QPointer<TkZipArchive> alive(this);
    BackgroundRun *const run = m_run.get();
    BackgroundRun::Report report;
    for (int delivered = 1;; ++delivered) {
        // A handler may have ended the run, which delivers the rest itself.
        if (m_run.get() != run || !run->take(&report))
            return true;
        switch (report.kind) {
        case BackgroundRun::Report::Kind::Progress:
            emit extractProgress(report.name, report.output, report.percent);
            break;
        case BackgroundRun::Report::Kind::Error:
            emit extractError(report.name, report.output, report.result);
            break;
        case BackgroundRun::Report::Kind::Finished:
            finishBackgroundRun(report.outcome);
            return !alive.isNull();
        }
        // A handler may have destroyed the object, and the run with it.
        if (!alive)
            return false;
        if (delivered % 64 == 0 && elapsed.nsecsElapsed() > budgetNs)
            return true;
    }
}

bool TkZipArchive::stopBackgroundRun(bool deliver)
{
    if (!m_run)
        return true;
    m_run->canceled = true;
    m_run->wait();
    m_collector.stop();
    if (deliver && !deliverReports(std::numeric_limits<qint64>::max()))
        return false;
    m_run.reset();
    return true;
}

namespace {

// Whether the archive's entry must not be extracted: a name that is not
// what its flag says, one that would leave the output folder, or a file
// already extracted under the same cleaned name.
bool skipsEntry(const ZipDirectory::Entry &entry, const QString &clean, const QString &output,
                QSet<QString> &extracted, TkZipArchive::ExtractObserver &observer)
{
    const QString &name = entry.name;
    if (!entry.nameValid) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry name is not valid UTF-8:" << name;
        observer.error(name, output, TkZipArchive::Result::BadZipFile);
        return true;
    }
    if (leavesFolder(name)) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Entry outside the output folder skipped:" << name;
        observer.error(name, output, TkZipArchive::Result::ParameterError);
        return true;
    }
    if (!name.endsWith(QLatin1Char('/')) && extracted.contains(clean)) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Duplicate entry skipped:" << name;
        observer.error(name, output, TkZipArchive::Result::ParameterError);
        return true;
    }
    extracted.insert(clean);
    return false;
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

    // The folder of the entry `name`, and its last component in `last`
    // (empty for a folder entry); null, with the failure reported, when it
    // cannot be made or a link stands in the way.
    const FileLayer::Folder *open(const QString &name, const QString &output, QByteArray *last,
                                  TkZipArchive::ExtractObserver &observer)
    {
        // A folder entry is its own folder; a file lies in the folder its
        // name has before the last "/".
        const bool isFolder = name.endsWith(QLatin1Char('/'));
        const int slash = isFolder ? name.size() : name.lastIndexOf(QLatin1Char('/'));
        const QStringView folderPart = QStringView(name).left(qMax(slash, 0));
        *last = isFolder ? QByteArray() : FileLayer::localName(name.mid(slash + 1));
        int error = 0;
        if (!m_folder.isOpen() || folderPart != m_folderPart) {
            m_folderPart = folderPart.toString();
            m_folder = FileLayer::makeFolders(m_root, m_folderPart.split(QLatin1Char('/'), Qt::SkipEmptyParts), &error);
        }
        if (m_folder.isOpen())
            return &m_folder;
        if (error == FileLayer::LinkInTheWay) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry leads through a symbolic link, skipped:" << name;
            observer.error(name, output, TkZipArchive::Result::ParameterError);
        } else {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << output << FileLayer::errorText(error);
            observer.error(name, output, TkZipArchive::Result::ErrNo);
        }
        return nullptr;
    }

private:
    const FileLayer::Folder &m_root;
    QString m_folderPart;
    FileLayer::Folder m_folder;
};

} // namespace

TkZipArchive::Outcome TkZipArchive::extractEntries(ZipReader &reader, const QString &outputPath,
                                                   ExtractObserver &observer)
{
    const QDir dir(outputPath);
    // The output folder is the caller's, links on its way included.
    int error = 0;
    const FileLayer::Folder root = FileLayer::makeFolders(outputPath, &error);
    if (!root.isOpen()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to create:" << outputPath << FileLayer::errorText(error);
        return Outcome::Failed;
    }
    EntryFolders folders(root);
    QSet<QString> extracted;
    Outcome outcome = Outcome::Extracted;
    for (int index = 0; index < reader.count(); ++index) {
        if (observer.canceled())
            return Outcome::Canceled;
        const QString &name = reader.name(index);
        // The archive chooses these names: never let one leave the folder.
        // "a//x.txt" and "./a/x.txt" land where "a/x.txt" does.
        const QString clean = ZipNames::cleaned(name);
        const QString output = dir.filePath(leavesFolder(name) ? name : clean);
        QByteArray last;
        const FileLayer::Folder *folder = skipsEntry(reader.entry(index), clean, output, extracted, observer)
            ? nullptr
            : folders.open(clean, output, &last, observer);
        // A folder entry stands for its folder, made with it.
        const Outcome entry = !folder     ? Outcome::Failed
            : last.isEmpty()              ? Outcome::Extracted
                                          : extractCurrentFile(reader, index, *folder, last, output, observer);
        if (entry == Outcome::Canceled)
            return entry;
        if (entry == Outcome::Failed)
            outcome = Outcome::Failed;
        if (observer.archiveClosed()) {
            qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Archive closed during extraction:" << reader.path();
            return Outcome::Failed;
        }
    }
    return outcome;
}

TkZipArchive::Outcome TkZipArchive::extractToFile(ZipReader &reader, int index, const QString &outputFilePath,
                                                  ExtractObserver &observer)
{
    // The whole output path is the caller's: the file goes to its last
    // component in the folder the rest of it names.
    const FileLayer::Place place = FileLayer::Place::whole(outputFilePath);
    int error = 0;
    const FileLayer::Folder folder = FileLayer::Folder::openParent(place, &error);
    const QByteArray name = FileLayer::localName(place.entry());
    if (!folder.isOpen()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << FileLayer::errorText(error);
        observer.error(reader.name(index), outputFilePath, Result::ErrNo);
        return Outcome::Failed;
    }
    if (!reader.entry(index).nameValid) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry name is not valid UTF-8:" << reader.name(index);
        observer.error(reader.name(index), outputFilePath, Result::BadZipFile);
        return Outcome::Failed;
    }
    if (reader.name(index).endsWith(QLatin1Char('/'))) {
        // A folder entry has no data: it stands for its folder.
        if (folder.makeChild(name, &error).isOpen())
            return Outcome::Extracted;
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << FileLayer::errorText(error);
        observer.error(reader.name(index), outputFilePath, Result::ErrNo);
        return Outcome::Failed;
    }
    return extractCurrentFile(reader, index, folder, name, outputFilePath, observer);
}

TkZipArchive::Outcome TkZipArchive::extractCurrentFile(ZipReader &reader, int index,
                                                       const FileLayer::Folder &folder, const QByteArray &fileName,
                                                       const QString &outputFilePath, ExtractObserver &observer)
{
    const QString &name = reader.name(index);
    const ZipDirectory::Entry &entry = reader.entry(index);
    auto failed = [&](Result result) {
        observer.error(name, outputFilePath, result);
        return Outcome::Failed;
    };

    if (entry.overlapping) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Overlapping entry:" << name;
        return failed(Result::BadZipFile);
    }
    // A link at the name is replaced by the file, never written through.
    FileLayer::OutputFile output(folder, fileName, FileLayer::OutputFile::Rules::Extraction);
    if (output.inspect() && output.existing() == reader.identity()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Output is the archive itself:" << outputFilePath;
        return failed(Result::ParameterError);
    }

    ZipError error;
    const std::unique_ptr<ZipEntryStream> stream = reader.openEntry(index, &error);
    if (!stream) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "unzOpenCurrentFile" << error.status << error.text;
        return failed(Result(error.status));
    }
    // Entries made on Unix keep their read, write and execute bits.
    const int permissions = entry.record.unixPermissions();
    if (permissions >= 0)
        output.setPermissions(unsigned(permissions));
    if (!output.open()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << output.errorString();
        return failed(Result::ErrNo);
    }
    // The declared size must fit before the first byte is written: a small
    // archive that honestly declares more than the disk holds would
    // otherwise fill it. A pipe or device takes what it takes.
    const quint64 declared = entry.record.uncompressedSize;
    quint64 free = 0;
    if (!output.writesInPlace() && folder.freeSpace(&free) && declared > free) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Not enough free space for:" << outputFilePath << declared << free;
        return failed(Result::ErrNo);
    }

    char *const buffer = reader.buffer();
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "Extracting:" << name << " to " << outputFilePath << "Buffer size:"
                           << ZipReader::BufferSize;

    // The declared size bounds what is written: data that inflate past it
    // are refused at once.
    const double total = double(declared);
    quint64 written = 0;
    for (;;) {
        // A canceled entry leaves nothing: the output goes with `output`.
        if (observer.canceled())
            return Outcome::Canceled;
        const qint64 count = stream->read(buffer, ZipReader::BufferSize);
        if (count < 0) {
            const ZipError &readError = stream->error();
            qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "unzReadCurrentFile" << readError.status << readError.text;
            return failed(Result(readError.status));
        }
        if (count == 0)
            break;
        if (quint64(count) > declared - written) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry larger than its declared size:" << name << declared;
            return failed(Result::BadZipFile);
        }
        // One report per step of the block, counted before that step.
        const quint64 end = written + quint64(count);
        for (quint64 at = (written + ProgressStep - 1) / ProgressStep * ProgressStep; at < end; at += ProgressStep)
            observer.progress(name, outputFilePath, double(at) / total * 100.0);
        if (!output.write(buffer, count)) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error writing:" << outputFilePath << output.errorString();
            return failed(Result::ErrNo);
        }
        written = end;
    }
    if (written != declared) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry shorter than its declared size:" << name << written
                                  << declared;
        return failed(Result::BadZipFile);
    }

    // The file's times are the entry's; a pipe or device keeps its own.
    const QDateTime dateTime = reader.lastModified(index);
    if (!output.writesInPlace() && dateTime.isValid() && !output.setTimes(dateTime.toSecsSinceEpoch()))
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to set the time of:" << outputFilePath
                                 << output.errorString();
    if (!output.commit()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error writing:" << outputFilePath << output.errorString();
        return failed(Result::ErrNo);
    }
    observer.progress(name, outputFilePath, 100.0);
    return Outcome::Extracted;
}

bool TkZipArchive::zwOpen()
{
    if (m_writer)
        return true;
    closeReader();
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return false;
    QString reason;
    m_writer = ZipWriter::create(m_path, &reason);
    if (!m_writer) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to open:" << m_path << reason;
        return false;
    }
    return true;
}

bool TkZipArchive::addFiles(const QString &folder, const QStringList &fileNames)
{
    return addFiles(QDir(folder), fileNames);
}

bool TkZipArchive::addFiles(const QDir &dir, const QStringList &fileNames)
{
    qCDebug(CATEGORY_FILE) << "ZIP source dir:" << dir;
    for (const QString &fileName : fileNames) {
        if (!addFile(dir, fileName, QString()))
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error adding:" << fileName;
    }
    return true;
}

bool TkZipArchive::addFile(const QString &folder, const QString &fileName, const QString &comment)
{
    return addFile(QDir(folder), fileName, comment);
}

bool TkZipArchive::addFile(const QDir &dir, const QString &fileName, const QString &comment)
{
    if (!m_writer || fileName.isEmpty() || !dir.exists(fileName))
        return false;
    // The name goes into the archive as it is: one that would be extracted
    // outside the extraction's folder is refused here already.
    if (leavesFolder(fileName)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Unsafe entry name:" << fileName;
        return false;
    }
    const QString full = dir.filePath(fileName);
    QFile input(full);
    if (!QFileInfo(full).isFile() || !input.open(QIODevice::ReadOnly)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << fileName;
        return false;
    }
    input.close();
    int code = 0;
    QString reason;
    if (!m_writer->add(full, fileName, comment, &code, &reason)) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << QString::asprintf("Error %d zipOpenNewFileInZip64\n", code)
                               << reason;
        return false;
    }
    return true;
}

// The moc output needs TkZipFileInfo complete (a method returns a pointer to it).
#include "moc_TkZipArchive.cpp"
