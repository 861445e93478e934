#include "ZipCompressor.h"

#include "MaporaExtrasLogging.h"
#include "ZipDeflatePool.h"
#include "ZipEntryStream.h"
#include "ZipSources.h"
#include "ZipStreamWriter.h"

#include <cerrno>

namespace FileLayer = Extras::FileLayer;
using Jobs::Outcome;

std::unique_ptr<ZipCompressor> ZipCompressor::create(const QString &path, QString *reason)
{
    std::unique_ptr<ZipCompressor> compressor(new ZipCompressor);
    compressor->m_path = path;
    const FileLayer::Place place = FileLayer::Place::whole(path);
    int error = 0;
    compressor->m_folder = FileLayer::Folder::openParent(place, &error);
    if (!compressor->m_folder.isOpen()) {
        *reason = FileLayer::errorText(error);
        return nullptr;
    }
    compressor->m_output.reset(new FileLayer::OutputFile(compressor->m_folder, FileLayer::localName(place.entry()),
                                                         FileLayer::OutputFile::Rules::Archive));
    if (!compressor->m_output->open()) {
        *reason = compressor->m_output->errorString();
        return nullptr;
    }
    compressor->m_pool.reset(new ZipDeflatePool);
    compressor->m_stream.reset(new ZipStreamWriter(*compressor->m_output, *compressor->m_pool));
    ZipCompressor *const self = compressor.get();
    compressor->m_stream->setReadAhead([self] { self->queueAhead(); });
    return compressor;
}

// Here, where the stream's type is complete. Members go in reverse order:
// the plan, the stream, the pool (its threads end, the files read ahead
// close), then the output the stream writes to, then the output's folder.
ZipCompressor::~ZipCompressor() = default;

ZipCompressor::EntryResult ZipCompressor::failed(const ZipSources &sources, int index, int result,
                                                 Jobs::Observer &observer, quint64 read)
{
    const ZipSources::Item &item = sources.item(index);
    observer.error(item.name, QString(), result);
    // What the totals counted for it is done with.
    const bool counted = item.kind == FileLayer::Kind::File && !item.unsafe && item.error == 0;
    observer.addProcessed(counted && item.state.size > read ? qint64(item.state.size - read) : 0, 1);
    return EntryResult::Failed;
}

std::unique_ptr<FileLayer::InputFile> ZipCompressor::openSource(ZipSources &sources, int index, int *result)
{
    const char *const function = Q_FUNC_INFO;
    const ZipSources::Item &item = sources.item(index);
    // A link or another folder on the way, or in place of the file itself,
    // means that this is not the file that was named.
    auto changed = [&](int error) {
        return error == ESTALE || error == FileLayer::NotRegularFile || error == EISDIR || error == ELOOP
            || error == ENOTDIR;
    };
    auto refuse = [&](int error) {
        if (error == FileLayer::LinkInTheWay) {
            qCCritical(CATEGORY_FILE) << function << "Source leads through a symbolic link, skipped:" << item.name;
            *result = ZipError::ParameterError;
        } else if (changed(error)) {
            qCCritical(CATEGORY_FILE) << function << "Source changed, skipped:" << item.name
                                      << FileLayer::errorText(error);
            *result = ZipError::ParameterError;
        } else {
            qCCritical(CATEGORY_FILE) << function << "Error opening:" << item.name << FileLayer::errorText(error);
            *result = ZipError::ErrNo;
        }
        return nullptr;
    };
    if (item.unsafe) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Unsafe entry name:" << item.name;
        *result = ZipError::ParameterError;
        return nullptr;
    }
    if (item.error != 0)
        return refuse(item.error);
    if (item.kind != FileLayer::Kind::File) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Not a regular file, skipped:" << item.name;
        *result = ZipError::ParameterError;
        return nullptr;
    }
    int error = 0;
    const FileLayer::Folder *folder = sources.folderOf(item, &error);
    if (!folder)
        return refuse(error);
    std::unique_ptr<FileLayer::InputFile> input(new FileLayer::InputFile(*folder, item.fileName));
    if (!input->isOpen())
        return refuse(input->error());
    return input;
}

void ZipCompressor::readAhead(const std::shared_ptr<ZipSources> &sources)
{
    m_pool->clear();
    m_plan = sources;
    m_planned = 0;
}

void ZipCompressor::queueAhead()
{
    while (m_plan && m_planned < m_plan->count() && m_pool->hasRoom()) {
        const ZipSources::Item &item = m_plan->item(m_planned++);
        if (item.unsafe || item.error != 0 || item.kind != FileLayer::Kind::File)
            continue;
        // Whatever fails here fails again at the item's turn, and is
        // reported then.
        int error = 0;
        const FileLayer::Folder *folder = m_plan->folderAhead(item, &error);
        if (!folder)
            continue;
        std::shared_ptr<FileLayer::InputFile> input(new FileLayer::InputFile(*folder, item.fileName));
        if (input->isOpen() && input->state() == item.state)
            m_pool->queue(item.name, input);
    }
}

ZipCompressor::EntryResult ZipCompressor::add(ZipSources &sources, int index, const QString &comment,
                                              Jobs::Observer &observer)
{
    queueAhead();
    int result = 0;
    const std::unique_ptr<FileLayer::InputFile> input = openSource(sources, index, &result);
    if (!input)
        return failed(sources, index, result, observer);
    const ZipSources::Item &item = sources.item(index);
    const ZipStreamWriter::Source source{input.get(), item.state, input->permissions()};
    switch (m_stream->add(item.name, comment, source, &observer)) {
    case ZipStreamWriter::Status::Added:
        observer.addProcessed(0, 1);
        return EntryResult::Added;
    case ZipStreamWriter::Status::Canceled:
        return EntryResult::Canceled;
    case ZipStreamWriter::Status::SourceChanged:
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Source changed, skipped:" << item.name;
        return failed(sources, index, ZipError::ParameterError, observer, m_stream->lastRead());
    case ZipStreamWriter::Status::ReadFailed:
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << QStringLiteral("Error reading input file:%1").arg(-1) << item.name;
        return failed(sources, index, ZipError::ErrNo, observer, m_stream->lastRead());
    case ZipStreamWriter::Status::NameTooLong:
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry name too long:" << item.name;
        return failed(sources, index, ZipError::ParameterError, observer);
    case ZipStreamWriter::Status::WriteFailed:
        break;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO
                           << QString::asprintf("Error %d with zipfile in zipWriteInFileInZip\n", ZipError::ErrNo);
    qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to write:" << m_path << m_output->errorString();
    return EntryResult::ArchiveFailed;
}

bool ZipCompressor::finish()
{
    readAhead(nullptr);
    if (m_stream->finish() && m_output->commit())
        return true;
    qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to write:" << m_path << m_output->errorString();
    return false;
}

Outcome ZipCompressor::run(ZipSources &sources, bool walk, Jobs::Observer &observer)
{
    const Outcome outcome = runOver(sources, walk, observer);
    readAhead(nullptr);
    return outcome;
}

Outcome ZipCompressor::runOver(ZipSources &sources, bool walk, Jobs::Observer &observer)
{
    if (walk && !sources.addTree(observer, m_output->written()))
        return Outcome::Canceled;
    observer.setTotals(sources.totalBytes(), sources.count());
    // The run's own sources, which outlive it.
    readAhead(std::shared_ptr<ZipSources>(&sources, [](ZipSources *) {}));
    for (int index = 0; index < sources.count(); ++index) {
        if (observer.canceled())
            return Outcome::Canceled;
        const EntryResult result = add(sources, index, QString(), observer);
        if (result == EntryResult::Canceled)
            return Outcome::Canceled;
        if (result == EntryResult::ArchiveFailed) {
            observer.error(m_path, QString(), ZipError::ErrNo);
            return Outcome::Failed;
        }
    }
    // A cancel after the last block still means no archive.
    if (observer.canceled())
        return Outcome::Canceled;
    if (!finish()) {
        observer.error(m_path, QString(), ZipError::ErrNo);
        return Outcome::Failed;
    }
    return Outcome::Completed;
}
