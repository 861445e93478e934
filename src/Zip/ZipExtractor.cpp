#include "ZipExtractor.h"

#include "FileLayer.h"
#include "MaporaExtrasLogging.h"
#include "ZipNames.h"
#include "ZipProgress.h"
#include "ZipReader.h"

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

    // The folder of the entry `name`, and its last component in `last`
    // (empty for a folder entry); null, with the status to report, when it
    // cannot be made or a link stands in the way.
    const FileLayer::Folder *open(const QString &name, const QString &output, QByteArray *last, int *result)
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
            *result = ZipError::ParameterError;
        } else {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << output << FileLayer::errorText(error);
            *result = ZipError::ErrNo;
        }
        return nullptr;
    }

private:
    const FileLayer::Folder &m_root;
    QString m_folderPart;
    FileLayer::Folder m_folder;
};

} // namespace

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

Outcome ZipExtractor::extractEntries(const QString &outputPath)
{
    setTotals(0, m_reader.count());
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
    Outcome outcome = Outcome::Completed;
    for (int index = 0; index < m_reader.count(); ++index) {
        if (m_observer.canceled())
            return Outcome::Canceled;
        const QString &name = m_reader.name(index);
        // The archive chooses these names: never let one leave the folder.
        // "a//x.txt" and "./a/x.txt" land where "a/x.txt" does.
        const QString clean = ZipNames::cleaned(name);
        const QString output = dir.filePath(ZipNames::leavesFolder(name) ? name : clean);
        QByteArray last;
        int result = refusalOf(m_reader.entry(index), clean, extracted);
        const FileLayer::Folder *folder = result ? nullptr : folders.open(clean, output, &last, &result);
        // A folder entry stands for its folder, made with it.
        Outcome entry = Outcome::Completed;
        if (!folder)
            entry = failed(index, output, result);
        else if (!last.isEmpty())
            entry = extractCurrentFile(index, *folder, last, output);
        else
            count(m_reader.entry(index).record.uncompressedSize, 1);
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

Outcome ZipExtractor::extractToFile(int index, const QString &outputFilePath)
{
    setTotals(index, 1);
    // The whole output path is the caller's: the file goes to its last
    // component in the folder the rest of it names.
    const FileLayer::Place place = FileLayer::Place::whole(outputFilePath);
    int error = 0;
    const FileLayer::Folder folder = FileLayer::Folder::openParent(place, &error);
    const QByteArray name = FileLayer::localName(place.entry());
    if (!folder.isOpen()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << FileLayer::errorText(error);
        return failed(index, outputFilePath, ZipError::ErrNo);
    }
    if (!m_reader.entry(index).nameValid) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry name is not valid UTF-8:" << m_reader.name(index);
        return failed(index, outputFilePath, ZipError::BadZipFile);
    }
    if (m_reader.name(index).endsWith(QLatin1Char('/'))) {
        // A folder entry has no data: it stands for its folder.
        if (!folder.makeChild(name, &error).isOpen()) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << FileLayer::errorText(error);
            return failed(index, outputFilePath, ZipError::ErrNo);
        }
        count(m_reader.entry(index).record.uncompressedSize, 1);
        return Outcome::Completed;
    }
    return extractCurrentFile(index, folder, name, outputFilePath);
}

Outcome ZipExtractor::extractCurrentFile(int index, const FileLayer::Folder &folder, const QByteArray &fileName,
                                         const QString &outputFilePath)
{
    const QString &name = m_reader.name(index);
    const ZipDirectory::Entry &entry = m_reader.entry(index);
    if (entry.overlapping) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Overlapping entry:" << name;
        return failed(index, outputFilePath, ZipError::BadZipFile);
    }
    // A link at the name is replaced by the file, never written through.
    FileLayer::OutputFile output(folder, fileName, FileLayer::OutputFile::Rules::Extraction);
    if (output.inspect() && output.existing() == m_reader.identity()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Output is the archive itself:" << outputFilePath;
        return failed(index, outputFilePath, ZipError::ParameterError);
    }

    ZipError error;
    const std::unique_ptr<ZipEntryStream> stream = m_reader.openEntry(index, &error);
    if (!stream) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "unzOpenCurrentFile" << error.status << error.text;
        return failed(index, outputFilePath, error.status);
    }
    // Entries made on Unix keep their read, write and execute bits.
    const int permissions = entry.record.unixPermissions();
    if (permissions >= 0)
        output.setPermissions(unsigned(permissions));
    if (!output.open()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath << output.errorString();
        return failed(index, outputFilePath, ZipError::ErrNo);
    }
    // The declared size must fit before the first byte is written: a small
    // archive that honestly declares more than the disk holds would
    // otherwise fill it. A pipe or device takes what it takes.
    const quint64 declared = entry.record.uncompressedSize;
    quint64 free = 0;
    if (!output.writesInPlace() && folder.freeSpace(&free) && declared > free) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Not enough free space for:" << outputFilePath << declared << free;
        return failed(index, outputFilePath, ZipError::ErrNo);
    }

    char *const buffer = m_reader.buffer();
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "Extracting:" << name << " to " << outputFilePath << "Buffer size:"
                           << ZipReader::BufferSize;

    // The declared size bounds what is written: data that inflate past it
    // are refused at once.
    quint64 written = 0;
    for (;;) {
        // A canceled entry leaves nothing: the output goes with `output`.
        if (m_observer.canceled())
            return Outcome::Canceled;
        const qint64 got = stream->read(buffer, ZipReader::BufferSize);
        if (got < 0) {
            const ZipError &readError = stream->error();
            qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "unzReadCurrentFile" << readError.status << readError.text;
            return failed(index, outputFilePath, readError.status, written);
        }
        if (got == 0)
            break;
        if (quint64(got) > declared - written) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry larger than its declared size:" << name << declared;
            return failed(index, outputFilePath, ZipError::BadZipFile, written);
        }
        ZipProgress::reportSteps(m_observer, name, outputFilePath, written, written + quint64(got), declared);
        if (!output.write(buffer, got)) {
            qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error writing:" << outputFilePath << output.errorString();
            return failed(index, outputFilePath, ZipError::ErrNo, written);
        }
        written += quint64(got);
        count(quint64(got), 0);
    }
    if (written != declared) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Entry shorter than its declared size:" << name << written
                                  << declared;
        return failed(index, outputFilePath, ZipError::BadZipFile, written);
    }

    // The file's times are the entry's; a pipe or device keeps its own.
    const QDateTime dateTime = m_reader.lastModified(index);
    if (!output.writesInPlace() && dateTime.isValid() && !output.setTimes(dateTime.toSecsSinceEpoch()))
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to set the time of:" << outputFilePath
                                 << output.errorString();
    if (!output.commit()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error writing:" << outputFilePath << output.errorString();
        return failed(index, outputFilePath, ZipError::ErrNo, written);
    }
    m_observer.progress(name, outputFilePath, 100.0);
    count(0, 1);
    return Outcome::Completed;
}
