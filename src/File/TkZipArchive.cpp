#include "TkZipArchive.h"

#include "FileLayer.h"
#include "FileUtility.h"
#include "JobRelay.h"
#include "MaporaExtrasLogging.h"
#include "TkZipFileInfo.h"
#include "ZipCompressor.h"
#include "ZipExtractor.h"
#include "ZipSources.h"

#include <QFileInfo>
#include <QPointer>

#include <cerrno>

using Extras::FileUtility;
using Jobs::Outcome;
namespace FileLayer = Extras::FileLayer;

static_assert(int(TkZipArchive::Result::ErrNo) == ZipError::ErrNo
                  && int(TkZipArchive::Result::ParameterError) == ZipError::ParameterError
                  && int(TkZipArchive::Result::BadZipFile) == ZipError::BadZipFile
                  && int(TkZipArchive::Result::InternalError) == ZipError::InternalError
                  && int(TkZipArchive::Result::CrcError) == ZipError::CrcError,
              "the statuses of the engines are the results of the error signals");

// What a run on the object's thread reports becomes its signals at once,
// and its amounts the object's, notified at the relay's pace. Signal
// handlers may cancel the run, close the archive or destroy the object (a
// handler that runs an event loop lets a deferred deletion happen): once
// the object is gone, nothing is emitted and the run is asked to stop.
class TkZipArchive::DirectObserver : public Jobs::Observer
{
public:
    DirectObserver(TkZipArchive *archive, bool countsAmounts)
        : m_archive(archive)
        , m_countsAmounts(countsAmounts)
    {
    }
    void progress(const QString &name, const QString &output, double percent) override
    {
        if (m_archive)
            m_archive->relayProgress(name, output, percent);
    }
    void error(const QString &name, const QString &output, int result) override
    {
        if (m_archive)
            m_archive->relayError(name, output, result);
    }
    bool canceled() override { return !m_archive || m_archive->m_cancelRequested; }
    void setTotals(qint64 bytes, int entries) override
    {
        m_amounts.totalBytes = bytes;
        m_amounts.totalEntries = entries;
        notify();
    }
    void addProcessed(qint64 bytes, int entries) override
    {
        m_amounts.processedBytes += bytes;
        m_amounts.processedEntries += entries;
        notify();
    }
    const Jobs::Amounts &amounts() const { return m_amounts; }

private:
    void notify()
    {
        if (m_countsAmounts && m_archive)
            m_archive->m_relay->setAmounts(m_amounts);
    }

    QPointer<TkZipArchive> m_archive;
    const bool m_countsAmounts;
    Jobs::Amounts m_amounts;
};

namespace {

// The path an output or source path names, or an empty text when it names
// no place: empty, or its leading variable does not resolve.
QString placeOf(const QString &path)
{
    bool resolved = false;
    const QString result = FileUtility::resolvedPath(path, true, &resolved);
    return resolved ? result : QString();
}

} // namespace

TkZipArchive::TkZipArchive(QObject *parent)
    : QObject(parent)
    , m_relay(new Jobs::JobRelay(this))
{
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO;
    connect(m_relay, &Jobs::JobRelay::progress, this, &TkZipArchive::relayProgress);
    connect(m_relay, &Jobs::JobRelay::error, this, &TkZipArchive::relayError);
    connect(m_relay, &Jobs::JobRelay::busyChanged, this, &TkZipArchive::runEnded);
    connect(m_relay, &Jobs::JobRelay::finished, this, &TkZipArchive::finishBackgroundRun);
    connect(m_relay, &Jobs::JobRelay::amountsChanged, this, &TkZipArchive::amountsChanged);
}

TkZipArchive::~TkZipArchive()
{
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO;
    // Cancels a background run and waits for it, without further signals.
    delete m_relay;
    m_relay = nullptr;
    closeWriter(false);
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
    return m_relay->isBusy();
}

qint64 TkZipArchive::processedBytes() const
{
    return m_relay->amounts().processedBytes;
}

qint64 TkZipArchive::totalBytes() const
{
    return m_relay->amounts().totalBytes;
}

int TkZipArchive::processedEntries() const
{
    return m_relay->amounts().processedEntries;
}

int TkZipArchive::totalEntries() const
{
    return m_relay->amounts().totalEntries;
}

void TkZipArchive::close()
{
    closeAll();
}

bool TkZipArchive::closeAll()
{
    const QPointer<TkZipArchive> alive(this);
    m_relay->stop();
    if (!alive || !closeWriter(true))
        return false;
    closeReader();
    return true;
}

void TkZipArchive::cancel()
{
    if (m_relay->isBusy())
        m_relay->cancel();
    else if (m_run != Run::None)
        m_cancelRequested = true;
}

void TkZipArchive::closeReader()
{
    if (m_reader) {
        m_reader.reset();
        ++m_generation;
    }
}

bool TkZipArchive::closeWriter(bool notify)
{
    if (!m_writer)
        return true;
    // The entry being added is finished first; addFile() closes after it.
    if (m_adding) {
        m_closeAfterAdding = true;
        return true;
    }
    std::shared_ptr<ZipCompressor> writer = std::move(m_writer);
    m_writer.reset();
    const bool written = writer->finish();
    const QString path = writer->path();
    writer.reset();
    // A reader opened meanwhile lists the file that was replaced.
    if (written)
        closeReader();
    if (!notify)
        return true;
    const QPointer<TkZipArchive> alive(this);
    if (written)
        emit compressCompleted();
    else
        emit compressError(path, int(Result::ErrNo));
    return alive;
}

bool TkZipArchive::zrOpen()
{
    if (m_reader)
        return true;
    closeWriter(false);
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

bool TkZipArchive::refuseNestedRun(const char *function) const
{
    // One run at a time: a second one, from a signal handler of the first
    // or while one runs in the background, would interleave with the entry
    // being written.
    if (m_run == Run::None && !m_relay->isBusy())
        return false;
    if (m_run == Run::Compression)
        qCWarning(CATEGORY_FILE) << function << "Compression already running:" << m_path;
    else
        qCWarning(CATEGORY_FILE) << function << "Extraction already running:" << m_path;
    return true;
}

std::function<bool()> TkZipArchive::readerClosedCheck()
{
    const QPointer<TkZipArchive> archive(this);
    const quint64 generation = m_generation;
    return [archive, generation] { return !archive || archive->m_generation != generation; };
}

Outcome TkZipArchive::runHere(Run run, const Work &work, bool *alive)
{
    const QPointer<TkZipArchive> guard(this);
    m_run = run;
    m_cancelRequested = false;
    m_relay->setAmounts(Jobs::Amounts(), true);
    Outcome outcome = Outcome::Canceled;
    if (guard) {
        DirectObserver observer(this, true);
        outcome = work(observer);
        if (guard) {
            m_run = Run::None;
            m_relay->setAmounts(observer.amounts(), true);
        }
    }
    *alive = guard;
    return outcome;
}

bool TkZipArchive::startInBackground(Run run, Work work)
{
    m_run = run;
    m_relay->start(std::move(work));
    return true;
}

void TkZipArchive::relayProgress(const QString &name, const QString &output, double percent)
{
    if (m_run == Run::Compression)
        emit compressProgress(name, percent);
    else
        emit extractProgress(name, output, percent);
}

void TkZipArchive::relayError(const QString &name, const QString &output, int result)
{
    if (m_run == Run::Compression)
        emit compressError(name, result);
    else
        emit extractError(name, output, Result(result));
}

void TkZipArchive::runEnded()
{
    // Not busy any more when the last signal comes, so that its handler
    // (or this one) can start the next run.
    if (!m_relay->isBusy()) {
        m_endedRun = m_run;
        m_run = Run::None;
    }
    emit busyChanged();
}

void TkZipArchive::finishBackgroundRun(Outcome outcome)
{
    const Run ended = m_endedRun;
    m_endedRun = Run::None;
    emitEnd(ended, outcome);
}

void TkZipArchive::emitEnd(Run run, Outcome outcome)
{
    if (run == Run::Compression) {
        // The listing read before is that of the replaced file.
        if (outcome == Outcome::Completed)
            closeReader();
        if (outcome == Outcome::Canceled)
            emit compressCanceled();
        else
            emit compressCompleted();
    } else if (outcome == Outcome::Canceled) {
        emit extractCanceled();
    } else {
        emit extractCompleted();
    }
}

// ---- Extraction -----------------------------------------------------------

std::shared_ptr<ZipReader> TkZipArchive::workerReader()
{
    // The worker reads through a handle of its own on the open file and
    // shares its directory and names: nothing is read or parsed again, and
    // the reading members keep working here meanwhile.
    QString reason;
    std::shared_ptr<ZipReader> reader = m_reader->share(&reason);
    if (!reader)
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to open:" << m_path << reason;
    return reader;
}

bool TkZipArchive::extractFile(const QString &fileName, const QString &outputFilePath)
{
    if (refuseNestedRun(Q_FUNC_INFO))
        return false;
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << fileName << "->" << outputFilePath;
    const QString output = placeOf(outputFilePath);
    if (output.isEmpty()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No output file given for:" << fileName << outputFilePath;
        return false;
    }
    const int index = locateFile(fileName, m_caseSensitive);
    if (index < 0)
        return false;
    if (m_asynchronous) {
        const std::shared_ptr<ZipReader> reader = workerReader();
        return reader && startInBackground(Run::Extraction, [reader, index, output](Jobs::Observer &observer) {
                   return ZipExtractor(*reader, observer).extractToFile(index, output);
               });
    }
    // Signal handlers may close the archive: the extraction keeps its reader.
    const std::shared_ptr<ZipReader> reader = m_reader;
    bool alive = false;
    const Outcome outcome = runHere(Run::Extraction, [&](Jobs::Observer &observer) {
        return ZipExtractor(*reader, observer).extractToFile(index, output);
    }, &alive);
    // A signal handler may have destroyed the object: touch nothing of it.
    if (!alive)
        return false;
    if (outcome == Outcome::Canceled)
        emit extractCanceled();
    return outcome == Outcome::Completed;
}

bool TkZipArchive::extractAll(const QString &outputPath)
{
    if (refuseNestedRun(Q_FUNC_INFO))
        return false;
    // An empty text would mean the working folder, which nobody asks for,
    // and a variable that does not resolve the rest of the path alone.
    const QString output = placeOf(outputPath);
    if (output.isEmpty()) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "No output folder given for:" << m_path << outputPath;
        return false;
    }
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << output << QDir(output);
    if (m_asynchronous) {
        const std::shared_ptr<ZipReader> reader = workerReader();
        return reader && startInBackground(Run::Extraction, [reader, output](Jobs::Observer &observer) {
                   return ZipExtractor(*reader, observer).extractEntries(output);
               });
    }
    // Signal handlers may close the archive or open another one: the
    // extraction keeps its reader and stops once the object's has changed.
    const std::shared_ptr<ZipReader> reader = m_reader;
    const std::function<bool()> closed = readerClosedCheck();
    bool alive = false;
    const Outcome outcome = runHere(Run::Extraction, [&](Jobs::Observer &observer) {
        return ZipExtractor(*reader, observer, closed).extractEntries(output);
    }, &alive);
    if (!alive)
        return false;
    emitEnd(Run::Extraction, outcome);
    return outcome == Outcome::Completed;
}

// ---- Writing --------------------------------------------------------------

bool TkZipArchive::compressFiles(const QString &folder, const QStringList &fileNames)
{
    return compress(Q_FUNC_INFO, folder, &fileNames);
}

bool TkZipArchive::compressFolder(const QString &folder)
{
    return compress(Q_FUNC_INFO, folder, nullptr);
}

bool TkZipArchive::compress(const char *function, const QString &folder, const QStringList *fileNames)
{
    if (refuseNestedRun(function))
        return false;
    // The sources' folder is the caller's; the names below it are looked
    // at now, the files below it found by the run itself.
    const std::shared_ptr<ZipSources> sources(new ZipSources);
    const QString source = placeOf(folder);
    int error = ENOENT;
    if (source.isEmpty() || !sources->open(source, &error)) {
        qCWarning(CATEGORY_FILE) << function << "Error opening:" << folder << FileLayer::errorText(error);
        return false;
    }
    if (fileNames) {
        for (const QString &name : *fileNames)
            sources->addNamed(name);
    }
    // The run replaces the archive of zwOpen(), which is finished first.
    if (!closeWriter(true))
        return false;
    QString reason = FileLayer::errorText(ENOENT);
    std::shared_ptr<ZipCompressor> compressor;
    if (!m_path.isEmpty())
        compressor = ZipCompressor::create(m_path, &reason);
    if (!compressor) {
        qCWarning(CATEGORY_FILE) << function << "Unable to open:" << m_path << reason;
        return false;
    }
    const bool walk = !fileNames;
    Work work = [compressor, sources, walk](Jobs::Observer &observer) {
        return compressor->run(*sources, walk, observer);
    };
    compressor.reset();
    if (m_asynchronous)
        return startInBackground(Run::Compression, std::move(work));
    bool alive = false;
    const Outcome outcome = runHere(Run::Compression, work, &alive);
    // The archive, or its temporary file, is done with before the last signal.
    work = nullptr;
    if (!alive)
        return false;
    emitEnd(Run::Compression, outcome);
    return outcome == Outcome::Completed;
}

bool TkZipArchive::zwOpen()
{
    if (m_writer)
        return true;
    if (refuseNestedRun(Q_FUNC_INFO))
        return false;
    closeReader();
    if (m_path.isEmpty())
        return false;
    QString reason;
    m_writer = ZipCompressor::create(m_path, &reason);
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
    // The files are read ahead of their turn, each still named at its turn.
    const std::shared_ptr<ZipCompressor> writer = m_writer;
    const std::shared_ptr<ZipSources> ahead(new ZipSources);
    int error = 0;
    const bool reading = writer && m_run == Run::None && !m_relay->isBusy() && ahead->open(dir.path(), &error);
    if (reading) {
        for (const QString &fileName : fileNames)
            ahead->addNamed(fileName);
        writer->readAhead(ahead);
    }
    const QPointer<TkZipArchive> alive(this);
    for (const QString &fileName : fileNames) {
        if (!addFile(dir, fileName, QString()) && alive)
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error adding:" << fileName;
        if (!alive)
            break;
    }
    if (reading)
        writer->readAhead(nullptr);
    return true;
}

bool TkZipArchive::addFile(const QString &folder, const QString &fileName, const QString &comment)
{
    return addFile(QDir(folder), fileName, comment);
}

bool TkZipArchive::addFile(const QDir &dir, const QString &fileName, const QString &comment)
{
    if (!m_writer || fileName.isEmpty() || refuseNestedRun(Q_FUNC_INFO))
        return false;
    ZipSources sources;
    int error = 0;
    if (!sources.open(dir.path(), &error))
        return false;
    sources.addNamed(fileName);
    // A name that names nothing fails quietly, as it always did.
    if (sources.item(0).kind == FileLayer::Kind::Missing && sources.item(0).error == ENOENT)
        return false;
    // Handlers may close the archive or destroy the object while the entry
    // is written: the entry is finished first, then the archive.
    const std::shared_ptr<ZipCompressor> writer = m_writer;
    const QPointer<TkZipArchive> alive(this);
    m_run = Run::Compression;
    m_cancelRequested = false;
    m_adding = true;
    DirectObserver observer(this, false);
    const ZipCompressor::EntryResult result = writer->add(sources, 0, comment, observer);
    if (!alive) {
        writer->finish();
        return false;
    }
    m_adding = false;
    m_run = Run::None;
    if (m_closeAfterAdding) {
        m_closeAfterAdding = false;
        if (!closeWriter(true))
            return false;
    }
    return result == ZipCompressor::EntryResult::Added;
}

// The moc output needs TkZipFileInfo complete (a method returns a pointer to it).
#include "moc_TkZipArchive.cpp"
