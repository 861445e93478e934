#include "ZipEntryTask.h"

#include "MaporaExtrasLogging.h"
#include "ZipReader.h"

#include <chrono>

namespace FileLayer = Extras::FileLayer;

ZipEntryTask::ZipEntryTask(int index, const QString &name, const QString &output,
                           std::shared_ptr<const FileLayer::Folder> folder, const QByteArray &fileName,
                           quint64 declared)
    : m_index(index)
    , m_name(name)
    , m_output(output)
    , m_folder(std::move(folder))
    , m_fileName(fileName)
    , m_declared(declared)
{
}

bool ZipEntryTask::fail(int result)
{
    m_result = result;
    m_file.reset();
    return false;
}

void ZipEntryTask::keep(const Kept &kept)
{
    const std::lock_guard<std::mutex> lock(m_stepsMutex);
    m_steps.push_back(kept);
}

bool ZipEntryTask::waitForReplay()
{
    // About four blocks of data.
    constexpr size_t MostAhead = 12;
    std::unique_lock<std::mutex> lock(m_stepsMutex);
    if (!m_followed || m_steps.size() - m_replayed <= MostAhead)
        return false;
    m_replayedChanged.wait_for(lock, std::chrono::milliseconds(5));
    return true;
}

void ZipEntryTask::run(ZipReader &reader, Feed &feed)
{
    {
        const std::lock_guard<std::mutex> lock(m_stepsMutex);
        m_steps.clear();
        m_replayed = 0;
        m_followed = false;
    }
    m_result = 0;
    m_written = 0;
    m_stopped = false;
    m_mustRunLive = false;
    std::unique_ptr<ZipEntryStream> stream;
    if (!open(reader, &stream) || !copy(reader, *stream, feed))
        return;
    // The file's times are the entry's; a pipe or device keeps its own.
    const QDateTime dateTime = reader.lastModified(m_index);
    if (!m_file->writesInPlace() && dateTime.isValid() && !m_file->setTimes(dateTime.toSecsSinceEpoch()))
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to set the time of:" << m_output << m_file->errorString();
}

bool ZipEntryTask::open(ZipReader &reader, std::unique_ptr<ZipEntryStream> *stream)
{
    const ZipDirectory::Entry entry = reader.entry(m_index);
    if (entry.overlapping) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Overlapping entry:" << m_name;
        return fail(ZipError::BadZipFile);
    }
    // A link at the name is replaced by the file, never written through.
    m_file.reset(new FileLayer::OutputFile(*m_folder, m_fileName, FileLayer::OutputFile::Rules::Extraction));
    const bool known = m_file->inspect();
    const FileLayer::Kind kind = m_file->existingKind();
    if (m_ahead && (!known || kind == FileLayer::Kind::Pipe || kind == FileLayer::Kind::Device)) {
        m_mustRunLive = true;
        m_file.reset();
        return false;
    }
    if (known && m_file->existing() == reader.identity()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Output is the archive itself:" << m_output;
        return fail(ZipError::ParameterError);
    }
    ZipError error;
    *stream = reader.openEntry(m_index, &error);
    if (!*stream) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "unzOpenCurrentFile" << error.status << error.text;
        return fail(error.status);
    }
    // Entries made on Unix keep their read, write and execute bits.
    const int permissions = entry.record.unixPermissions();
    if (permissions >= 0)
        m_file->setPermissions(unsigned(permissions));
    if (!m_file->open()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << m_output << m_file->errorString();
        return fail(ZipError::ErrNo);
    }
    // The declared size must fit before the first byte is written: a small
    // archive that honestly declares more than the disk holds would
    // otherwise fill it. A pipe or device takes what it takes.
    quint64 free = 0;
    if (!m_file->writesInPlace() && m_folder->freeSpace(&free) && m_declared > free) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Not enough free space for:" << m_output << m_declared << free;
        return fail(ZipError::ErrNo);
    }
    return true;
}

bool ZipEntryTask::copy(ZipReader &reader, ZipEntryStream &stream, Feed &feed)
{
    char *const buffer = reader.buffer();
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "Extracting:" << m_name << " to " << m_output << "Buffer size:"
                           << ZipReader::BufferSize;
    // The declared size bounds what is written: data that inflate past it
    // are refused at once.
    for (;;) {
        // A stopped entry leaves nothing: the output goes with m_file.
        if (!feed.proceed()) {
            m_stopped = true;
            m_file.reset();
            return false;
        }
        const qint64 got = stream.read(buffer, ZipReader::BufferSize);
        if (got < 0) {
            const ZipError &readError = stream.error();
            qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "unzReadCurrentFile" << readError.status << readError.text;
            return fail(readError.status);
        }
        if (got == 0)
            break;
        if (quint64(got) > m_declared - m_written) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry larger than its declared size:" << m_name << m_declared;
            return fail(ZipError::BadZipFile);
        }
        feed.block(m_written, m_written + quint64(got));
        if (!m_file->write(buffer, got)) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error writing:" << m_output << m_file->errorString();
            return fail(ZipError::ErrNo);
        }
        m_written += quint64(got);
        feed.wrote(quint64(got));
    }
    if (m_written != m_declared) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry shorter than its declared size:" << m_name << m_written
                                  << m_declared;
        return fail(ZipError::BadZipFile);
    }
    return true;
}

bool ZipEntryTask::replay(Feed &feed)
{
    std::vector<Kept> fresh;
    {
        const std::lock_guard<std::mutex> lock(m_stepsMutex);
        fresh.assign(m_steps.begin() + qint64(m_replayed), m_steps.end());
        m_replayed = m_steps.size();
        m_followed = true;
    }
    m_replayedChanged.notify_all();
    for (const Kept &kept : fresh) {
        switch (kept.step) {
        case Step::Proceed:
            if (!feed.proceed())
                return false;
            break;
        case Step::Block:
            feed.block(kept.from, kept.to);
            break;
        case Step::Wrote:
            feed.wrote(kept.to);
            break;
        }
    }
    return true;
}

bool ZipEntryTask::commit()
{
    if (m_file->commit()) {
        m_file.reset();
        return true;
    }
    qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error writing:" << m_output << m_file->errorString();
    m_result = ZipError::ErrNo;
    return false;
}
