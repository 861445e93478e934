#pragma once

#include <QDir>
#include <QObject>
#include <QString>
#include <QStringList>

#include <minizip/unzip.h>
#include <minizip/zip.h>

class TkZipFileInfo;

/*!
    The QML type ZipArchive: one ZIP file named by `path`. It lists the
    archive's entries, looks them up with or without case, hands out
    ZipFileInfo snapshots and extracts one entry or the whole archive,
    reporting progress and read errors through signals.

    The archive is opened for reading on the first operation that needs it
    and stays open until the path changes, close() is called or the object
    is destroyed. Native code can also create an archive at `path` with
    zwOpen() and addFiles()/addFile(); close() finishes it. Reading and
    writing never hold the file open at the same time.

    Names read from the archive are decoded as UTF-8; the archive path and
    names being looked up are handed to minizip in the local 8-bit encoding.
*/
class TkZipArchive : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged)
    Q_PROPERTY(bool caseSensitive READ caseSensitive WRITE setCaseSensitive NOTIFY caseSensitiveChanged)
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY pathChanged)
    Q_PROPERTY(QStringList fileNames READ fileNames NOTIFY pathChanged)
    Q_PROPERTY(QStringList folderNames READ folderNames NOTIFY pathChanged)

public:
    // minizip's status codes, as extractError() carries them. A zlib status
    // without a name here (such as -3 for corrupt data) is passed unchanged.
    enum class Result {
        EndOfListOfFile = UNZ_END_OF_LIST_OF_FILE,
        ErrNo = UNZ_ERRNO,
        EndOfFile = UNZ_EOF,
        ParameterError = UNZ_PARAMERROR,
        BadZipFile = UNZ_BADZIPFILE,
        InternalError = UNZ_INTERNALERROR,
        CrcError = UNZ_CRCERROR
    };
    Q_ENUM(Result)

    explicit TkZipArchive(QObject *parent = nullptr);
    ~TkZipArchive() override;

    QString path() const;
    void setPath(const QString &path);
    bool caseSensitive() const;
    void setCaseSensitive(bool caseSensitive);
    // True while the archive is open for reading or writing; opens nothing.
    bool isOpen() const;
    QStringList fileNames();
    // Folder entries without their trailing "/".
    QStringList folderNames();

    Q_INVOKABLE void close();
    Q_INVOKABLE bool exists(const QString &fileName);
    // A new parentless snapshot of the entry, or null.
    Q_INVOKABLE TkZipFileInfo *fileInfo(const QString &fileName);
    // Extracts one entry to the given file; its folder must exist.
    Q_INVOKABLE bool extractFile(const QString &fileName, const QString &outputFilePath);
    // Extracts every entry below `outputPath`, creating the entries' folders.
    // Entries whose names lead outside `outputPath` are skipped.
    Q_INVOKABLE bool extractAll(const QString &outputPath);

    // Writing, for native callers. zwOpen() replaces the file that must
    // already exist at `path` with a new, empty archive.
    bool zwOpen();
    // Adds each named file of `dir`; a file that fails is logged and skipped.
    bool addFiles(const QDir &dir, const QStringList &fileNames);
    // Adds `fileName` (relative to `dir`, kept as given) with a comment.
    bool addFile(const QDir &dir, const QString &fileName, const QString &comment);

signals:
    void pathChanged();
    void caseSensitiveChanged();
    void extractError(const QString &fileName, const QString &outputFileName, TkZipArchive::Result result);
    void extractProgress(const QString &fileName, const QString &outputFileName, double percent);
    void extractCompleted();

private:
    bool zrOpen();
    void closeReader();
    void closeWriter();
    bool locateFile(const QString &fileName, bool caseSensitive);
    bool extractCurrentFile(const QString &outputFilePath);
    QString currentFileName();
    unz_file_info64 currentFileInfo();
    bool gotoFirstFile();
    bool gotoNextFile();
    QStringList entryNames(bool folders);

    QString m_path;
    unzFile m_reader = nullptr;
    zipFile m_writer = nullptr;
    bool m_caseSensitive = false;
};
