#pragma once

#include <QDir>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include "QmlRegistration.h"

#include "ZipReader.h"

#include <memory>

class TkZipFileInfo;
class ZipWriter;
namespace Extras {
namespace FileLayer {
class Folder;
}
} // namespace Extras

/*!
    The QML type ZipArchive: one ZIP file named by `path`. It lists the
    archive's entries, looks them up with or without case, hands out
    ZipFileInfo snapshots and extracts one entry or the whole archive,
    reporting progress and failures through signals.

    The archive is opened for reading on the first operation that needs it
    and stays open until the path changes, close() is called or the object
    is destroyed; its listing is kept while it is open. zwOpen() and
    addFiles()/addFile() create an archive at `path`; close() finishes it.
    Reading and writing never hold the file open at the same time.

    With `asynchronous` set, extractFile() and extractAll() run on a worker
    thread with an archive handle of its own and return at once; the
    signals arrive on the object's thread in the order a synchronous run
    gives them, ending with extractCompleted() or, after cancel(),
    extractCanceled(). Changing the path, close() and destruction cancel a
    run and wait for it.

    An extracted entry is written beside its target and put in place only
    when all of it was read and its size and CRC matched, so a failed entry
    leaves an existing file of that name as it was.
*/
class TkZipArchive : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(ZipArchive)
    QML_ADDED_IN_VERSION(1, 1)
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged)
    Q_PROPERTY(bool caseSensitive READ caseSensitive WRITE setCaseSensitive NOTIFY caseSensitiveChanged)
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY pathChanged)
    Q_PROPERTY(QStringList fileNames READ fileNames NOTIFY pathChanged)
    Q_PROPERTY(QStringList folderNames READ folderNames NOTIFY pathChanged)
    Q_PROPERTY(bool asynchronous READ asynchronous WRITE setAsynchronous NOTIFY asynchronousChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)

public:
    // The status carried by extractError(). A zlib status without a name
    // here (such as -3 for corrupt compressed data) is passed unchanged.
    enum class Result {
        EndOfListOfFile = -100,
        ErrNo = -1,
        EndOfFile = 0,
        ParameterError = -102,
        BadZipFile = -103,
        InternalError = -104,
        CrcError = -105
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
    bool asynchronous() const;
    void setAsynchronous(bool asynchronous);
    // True while an extraction runs in the background.
    bool busy() const;

    Q_INVOKABLE void close();
    // Stops the running extraction at the next block of data; the entry
    // being written leaves nothing behind.
    Q_INVOKABLE void cancel();
    Q_INVOKABLE bool exists(const QString &fileName);
    // A new parentless snapshot of the entry, or null.
    Q_INVOKABLE TkZipFileInfo *fileInfo(const QString &fileName);
    // Extracts one entry to the given file; its folder must exist. The path
    // may begin with a path variable.
    Q_INVOKABLE bool extractFile(const QString &fileName, const QString &outputFilePath);
    // Extracts every entry below `outputPath` (which may begin with a path
    // variable), creating it and the entries' folders. Entries whose names
    // lead outside `outputPath`, or through a symbolic link below it, are
    // skipped. False when any entry failed.
    Q_INVOKABLE bool extractAll(const QString &outputPath);

    // Writing. zwOpen() replaces the file that must already exist at `path`
    // with a new archive, written when close() finishes it.
    Q_INVOKABLE bool zwOpen();
    // Adds each named file of `folder`; a file that fails is logged and skipped.
    Q_INVOKABLE bool addFiles(const QString &folder, const QStringList &fileNames);
    bool addFiles(const QDir &dir, const QStringList &fileNames);
    // Adds `fileName` (relative to `folder`, kept as the entry name) with a comment.
    Q_INVOKABLE bool addFile(const QString &folder, const QString &fileName, const QString &comment = QString());
    bool addFile(const QDir &dir, const QString &fileName, const QString &comment);

    class ExtractObserver;

signals:
    void pathChanged();
    void caseSensitiveChanged();
    void extractError(const QString &fileName, const QString &outputFileName, TkZipArchive::Result result);
    void extractProgress(const QString &fileName, const QString &outputFileName, double percent);
    void extractCompleted();
    void extractCanceled();
    void asynchronousChanged();
    void busyChanged();

private:
    bool zrOpen();
    // Ends a background run, delivering its last signals, and closes both
    // handles; false when a signal handler destroyed the object meanwhile.
    bool closeAll();
    void closeReader();
    void closeWriter();
    // How the extraction of one entry, or a whole run, ended.
    enum class Outcome { Extracted, Failed, Canceled };
    struct BackgroundRun;
    class QueuedObserver;
    class SignalObserver;

    // The index of the entry, or -1.
    int locateFile(const QString &fileName, bool caseSensitive);
    // These run on the calling thread with a reader of that thread. An
    // entry goes to `name` in the open `folder`; `outputFilePath` names it
    // in signals and messages.
    static Outcome extractCurrentFile(ZipReader &reader, int index, const Extras::FileLayer::Folder &folder,
                                      const QByteArray &name, const QString &outputFilePath,
                                      ExtractObserver &observer);
    static Outcome extractToFile(ZipReader &reader, int index, const QString &outputFilePath,
                                 ExtractObserver &observer);
    static Outcome extractEntries(ZipReader &reader, const QString &outputPath, ExtractObserver &observer);
    bool refuseNestedExtraction(const char *function) const;
    // Runs the entry at `index` of the archive's reader, or all entries
    // when it is -1, on a worker thread.
    bool startInBackground(int index, const QString &outputPath);
    // Emits the queued reports of the background run as signals, for about
    // `budgetNs` at the most; false when a handler destroyed the object.
    bool deliverReports(qint64 budgetNs);
    void finishBackgroundRun(Outcome outcome);
    // Cancels the background run and waits for it; with `deliver` its
    // remaining signals are sent before this returns. False when a signal
    // handler destroyed the object.
    bool stopBackgroundRun(bool deliver);

    QString m_path;
    // Shared with a running extraction, which a signal handler may outlive
    // the archive's closing with.
    std::shared_ptr<ZipReader> m_reader;
    std::unique_ptr<ZipWriter> m_writer;
    // The file the last open failed on, while `path` names it.
    bool m_failedOpen = false;
    ZipReader::FileState m_failedState;
    bool m_caseSensitive = false;
    // Changes whenever the reader is closed, so that an extraction notices
    // that the archive it walks is gone, whatever was opened since.
    quint64 m_generation = 0;
    bool m_extracting = false;
    bool m_cancelRequested = false;
    bool m_asynchronous = false;
    std::unique_ptr<BackgroundRun> m_run;
    // Collects the reports of the background run on this object's thread.
    QTimer m_collector;
};
