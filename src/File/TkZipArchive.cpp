#include "TkZipArchive.h"

#include "FileUtility.h"
#include "MaporaExtrasLogging.h"
#include "TkZipFileInfo.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

using Extras::FileUtility;

namespace {

// Entries and source files are streamed through one buffer of this size;
// progress is signalled once per buffer.
constexpr int BufferSize = 4096;
// Room for an entry name read from the archive.
constexpr int NameBufferSize = 1024;

// unzLocateFile modes. Debian's minizip compares case-sensitively in its
// default mode 0, so the case-insensitive lookup asks for mode 2 explicitly.
constexpr int CaseSensitiveLookup = 1;
constexpr int CaseInsensitiveLookup = 2;

// A name buffer filled by minizip is NUL-terminated only when the name is
// shorter than the buffer.
QString decodedName(const char *buffer)
{
    return QString::fromUtf8(buffer, int(qstrnlen(buffer, NameBufferSize)));
}

// Whether extracting an entry of this name below a folder could write
// outside it: absolute names, drive letters and ".." segments.
bool leavesFolder(const QString &entryName)
{
    if (entryName.startsWith(QLatin1Char('/')) || entryName.startsWith(QLatin1Char('\\')))
        return true;
    if (entryName.size() >= 2 && entryName.at(1) == QLatin1Char(':') && entryName.at(0).unicode() < 128
        && entryName.at(0).isLetter())
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

} // namespace

TkZipArchive::TkZipArchive(QObject *parent)
    : QObject(parent)
{
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO;
}

TkZipArchive::~TkZipArchive()
{
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO;
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
    close();
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
    return entryNames(false);
}

QStringList TkZipArchive::folderNames()
{
    return entryNames(true);
}

QStringList TkZipArchive::entryNames(bool folders)
{
    QStringList names;
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return names;
    }
    for (bool positioned = gotoFirstFile(); positioned; positioned = gotoNextFile()) {
        const QString name = currentFileName();
        const bool isFolder = name.endsWith(QLatin1Char('/'));
        if (folders && isFolder)
            names.append(name.left(name.size() - 1));
        else if (!folders && !isFolder)
            names.append(name);
    }
    return names;
}

void TkZipArchive::close()
{
    closeWriter();
    closeReader();
}

void TkZipArchive::closeReader()
{
    if (m_reader) {
        unzClose(m_reader);
        m_reader = nullptr;
    }
}

void TkZipArchive::closeWriter()
{
    if (m_writer) {
        zipClose(m_writer, nullptr);
        m_writer = nullptr;
    }
}

bool TkZipArchive::zrOpen()
{
    if (m_reader)
        return true;
    closeWriter();
    // A missing file is an ordinary state of the object, not worth a warning.
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return false;
    closeReader();
    const QByteArray localPath = m_path.toLocal8Bit();
    m_reader = unzOpen64(localPath.constData());
    if (!m_reader) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to open:" << m_path;
        return false;
    }
    return true;
}

bool TkZipArchive::exists(const QString &fileName)
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    return locateFile(fileName, m_caseSensitive);
}

TkZipFileInfo *TkZipArchive::fileInfo(const QString &fileName)
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return nullptr;
    }
    if (!locateFile(fileName, m_caseSensitive)) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "File not found" << fileName;
        return nullptr;
    }
    return new TkZipFileInfo(fileName, currentFileInfo(), nullptr);
}

bool TkZipArchive::extractFile(const QString &fileName, const QString &outputFilePath)
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << fileName << "->" << outputFilePath;
    if (!locateFile(fileName, m_caseSensitive))
        return false;
    return extractCurrentFile(outputFilePath);
}

bool TkZipArchive::extractAll(const QString &outputPath)
{
    if (!zrOpen()) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "ZIP not open" << m_path;
        return false;
    }
    const QDir dir(outputPath);
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << outputPath << dir;
    // Entries of one folder usually follow each other: create each folder
    // once rather than asking the file system again for every entry.
    QString madeFolder;
    for (bool positioned = gotoFirstFile(); positioned; positioned = gotoNextFile()) {
        const QString name = currentFileName();
        const QString output = dir.filePath(name);
        // The archive chooses these names: never let one leave the folder.
        if (leavesFolder(name)) {
            qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Entry outside the output folder skipped:" << name;
            emit extractError(name, output, Result::ParameterError);
            continue;
        }
        const QString folder = QFileInfo(name).path();
        if (!folder.isEmpty() && folder != QLatin1String(".") && folder != madeFolder && dir.mkpath(folder))
            madeFolder = folder;
        // The signals of the extraction reach QML code that may look up
        // entries of this same archive, which moves minizip's current entry:
        // come back to this one before going on to the next.
        const unzFile reader = m_reader;
        unz64_file_pos position;
        const bool remembered = unzGetFilePos64(reader, &position) == UNZ_OK;
        extractCurrentFile(output);
        if (m_reader != reader) {
            qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Archive closed during extraction:" << m_path;
            break;
        }
        if (remembered)
            unzGoToFilePos64(m_reader, &position);
    }
    emit extractCompleted();
    return true;
}

bool TkZipArchive::extractCurrentFile(const QString &outputFilePath)
{
    if (!m_reader)
        return false;
    int status = unzOpenCurrentFile(m_reader);
    if (status != UNZ_OK) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "unzOpenCurrentFile" << status;
        return false;
    }
    // One read of the record gives the name, size and date for the whole
    // entry: the progress signal names the entry on every buffer.
    unz_file_info64 info;
    char nameBuffer[NameBufferSize];
    status = unzGetCurrentFileInfo64(m_reader, &info, nameBuffer, sizeof nameBuffer, nullptr, 0, nullptr, 0);
    if (status != UNZ_OK) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "unzGetCurrentFileInfo64" << status;
        unzCloseCurrentFile(m_reader);
        return false;
    }
    const QString name = decodedName(nameBuffer);

    QFile output(outputFilePath);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << outputFilePath;
        unzCloseCurrentFile(m_reader);
        return false;
    }

    char buffer[BufferSize];
    qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "Extracting:" << name << " to " << outputFilePath << "Buffer size:"
                           << BufferSize;

    const double total = double(info.uncompressed_size);
    quint64 written = 0;
    bool writeFailed = false;
    for (;;) {
        const int count = unzReadCurrentFile(m_reader, buffer, BufferSize);
        if (count < 0) {
            qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "unzReadCurrentFile" << count;
            unzCloseCurrentFile(m_reader);
            output.close();
            emit extractError(name, outputFilePath, Result(count));
            return false;
        }
        if (count == 0)
            break;
        emit extractProgress(name, outputFilePath, total > 0 ? double(written) / total * 100.0 : 0.0);
        // A full disk shows up here or at the flush below, not at open.
        if (output.write(buffer, count) != count) {
            writeFailed = true;
            break;
        }
        written += quint64(count);
    }
    if (writeFailed || !output.flush()) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error writing:" << outputFilePath << output.errorString();
        unzCloseCurrentFile(m_reader);
        output.close();
        emit extractError(name, outputFilePath, Result::ErrNo);
        return false;
    }
    output.close();

    // The CRC of the whole entry is only compared when it is closed.
    status = unzCloseCurrentFile(m_reader);
    if (status != UNZ_OK) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "unzCloseCurrentFile" << status;
        emit extractError(name, outputFilePath, Result(status));
        return false;
    }

    const QDateTime dateTime = TkZipFileInfo::dateTime(info.tmu_date);
    FileUtility::setDateTime(outputFilePath, dateTime, dateTime);
    emit extractProgress(name, outputFilePath, 100.0);
    return true;
}

QString TkZipArchive::currentFileName()
{
    if (!m_reader)
        return QString();
    char nameBuffer[NameBufferSize];
    nameBuffer[0] = '\0';
    unz_file_info64 info;
    const int status = unzGetCurrentFileInfo64(m_reader, &info, nameBuffer, sizeof nameBuffer, nullptr, 0,
                                               nullptr, 0);
    if (status != UNZ_OK)
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO
                               << QString::asprintf("Error %d with zipfile in unzGetCurrentFileInfo \n", status);
    return decodedName(nameBuffer);
}

unz_file_info64 TkZipArchive::currentFileInfo()
{
    unz_file_info64 info;
    std::memset(&info, 0, sizeof info);
    if (m_reader) {
        const int status = unzGetCurrentFileInfo64(m_reader, &info, nullptr, 0, nullptr, 0, nullptr, 0);
        if (status != UNZ_OK)
            qCDebug(CATEGORY_FILE) << Q_FUNC_INFO
                                   << QString::asprintf("Error %d with zipfile in unzGetCurrentFileInfo \n", status);
    }
    return info;
}

bool TkZipArchive::gotoFirstFile()
{
    if (!m_reader)
        return false;
    unz_global_info64 global;
    int status = unzGetGlobalInfo64(m_reader, &global);
    if (status != UNZ_OK) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO
                               << QString::asprintf("Error %d with zipfile in unzGetGlobalInfo \n", status);
        return false;
    }
    status = unzGoToFirstFile(m_reader);
    if (status != UNZ_OK) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO
                               << QString::asprintf("Error %d with zipfile in unzGoToFirstFile \n", status);
        return false;
    }
    return true;
}

bool TkZipArchive::gotoNextFile()
{
    if (!m_reader)
        return false;
    const int status = unzGoToNextFile(m_reader);
    if (status == UNZ_OK)
        return true;
    if (status != UNZ_END_OF_LIST_OF_FILE)
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO
                                  << QString::asprintf("Error %d with zipfile in unzGoToNextFile \n", status);
    return false;
}

bool TkZipArchive::locateFile(const QString &fileName, bool caseSensitive)
{
    if (!m_reader)
        return false;
    const QByteArray localName = fileName.toLocal8Bit();
    const int status = unzLocateFile(m_reader, localName.constData(),
                                     caseSensitive ? CaseSensitiveLookup : CaseInsensitiveLookup);
    if (status != UNZ_OK) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << "File not found:" << fileName;
        return false;
    }
    return true;
}

bool TkZipArchive::zwOpen()
{
    if (m_writer)
        return true;
    closeReader();
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return false;
    closeWriter();
    const QByteArray localPath = m_path.toLocal8Bit();
    m_writer = zipOpen64(localPath.constData(), APPEND_STATUS_CREATE);
    if (!m_writer) {
        qCWarning(CATEGORY_FILE) << Q_FUNC_INFO << "Unable to open:" << m_path;
        return false;
    }
    return true;
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

bool TkZipArchive::addFile(const QDir &dir, const QString &fileName, const QString &comment)
{
    if (!m_writer || !dir.exists(fileName))
        return false;
    const QString full = dir.filePath(fileName);
    QFile input(full);
    if (!input.open(QIODevice::ReadOnly)) {
        qCCritical(CATEGORY_FILE) << Q_FUNC_INFO << "Error opening:" << fileName;
        return false;
    }

    // A zero-filled record is no valid DOS date: always give the file's own
    // time, and leave the DOS date at 0 so that minizip derives it.
    zip_fileinfo fileInfo;
    std::memset(&fileInfo, 0, sizeof fileInfo);
    const QDateTime modified = QFileInfo(full).lastModified();
    const QDate date = modified.date();
    const QTime time = modified.time();
    fileInfo.tmz_date.tm_year = uInt(date.year());
    fileInfo.tmz_date.tm_mon = uInt(date.month() - 1);
    fileInfo.tmz_date.tm_mday = uInt(date.day());
    fileInfo.tmz_date.tm_hour = uInt(time.hour());
    fileInfo.tmz_date.tm_min = uInt(time.minute());
    fileInfo.tmz_date.tm_sec = uInt(time.second());

    const QByteArray localName = fileName.toLocal8Bit();
    const QByteArray localComment = comment.toLocal8Bit();
    int status = zipOpenNewFileInZip64(m_writer, localName.constData(), &fileInfo, nullptr, 0, nullptr, 0,
                                       localComment.constData(), Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0);
    if (status != ZIP_OK) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << QString::asprintf("Error %d zipOpenNewFileInZip64\n", status);
        return false;
    }

    char buffer[BufferSize];
    qint64 count = 0;
    while ((count = input.read(buffer, BufferSize)) > 0) {
        status = zipWriteInFileInZip(m_writer, buffer, unsigned(count));
        if (status != ZIP_OK) {
            qCDebug(CATEGORY_FILE) << Q_FUNC_INFO
                                   << QString::asprintf("Error %d with zipfile in zipWriteInFileInZip\n", status);
            zipCloseFileInZip(m_writer);
            return false;
        }
    }
    if (count < 0) {
        qCDebug(CATEGORY_FILE) << Q_FUNC_INFO << QStringLiteral("Error reading input file:%1").arg(count);
        zipCloseFileInZip(m_writer);
        return false;
    }
    input.close();
    zipCloseFileInZip(m_writer);
    return true;
}
