#pragma once

#include <QDir>
#include <QObject>
#include <QString>
#include <QStringList>
#include "QmlRegistration.h"

#include "JobObserver.h"
#include "ZipReader.h"

#include <functional>
#include <memory>

class TkZipFileInfo;
class ZipCompressor;
class ZipSources;
namespace Jobs {
class JobRelay;
}

/*!
    The QML type ZipArchive: one ZIP file named by `path`. It lists the
    archive's entries, looks them up with or without case, hands out
    ZipFileInfo snapshots, extracts one entry or the whole archive, and
    writes archives from files, reporting progress and failures through
    signals. The work itself is done by ZipExtractor and ZipCompressor;
    this class maps properties, calls and signals.

    The archive is opened for reading on the first operation that needs it
    and stays open until the path changes, close() is called or the object
    is destroyed; its listing is kept while it is open.

    One run (an extraction or a compression) at a time. With `asynchronous`
    set, a run goes to a worker thread and the call returns at once; its
    signals arrive on the object's thread (progress coalesced to what a
    person can follow), ending with exactly one completed or canceled
    signal. Changing the path, close() and destruction cancel a run and wait
    for it. The amounts of the last run (bytes and entries, processed and
    total) are properties for an overall progress bar.

    An extracted entry is written beside its target and put in place only
    when all of it was read and its size and CRC matched; a written archive
    is put in place only when complete. A failure leaves the previous file
    as it was.
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
    Q_PROPERTY(qint64 processedBytes READ processedBytes NOTIFY amountsChanged)
    Q_PROPERTY(qint64 totalBytes READ totalBytes NOTIFY amountsChanged)
    Q_PROPERTY(int processedEntries READ processedEntries NOTIFY amountsChanged)
    Q_PROPERTY(int totalEntries READ totalEntries NOTIFY amountsChanged)

public:
    // The status carried by extractError() and compressError(). A zlib
    // status without a name here (such as -3 for corrupt compressed data)
    // is passed unchanged.
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
    // True while a run goes on in the background.
    bool busy() const;
    qint64 processedBytes() const;
    qint64 totalBytes() const;
    int processedEntries() const;
    int totalEntries() const;

    Q_INVOKABLE void close();
    // Stops the running extraction or compression at the next block of
    // data; the entry being written leaves nothing behind.
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

    // Writes the archive at `path` anew from the named files of `folder`
    // (names relative to it, kept as the entries' names). True when the
    // run started (background) or the archive was written.
    Q_INVOKABLE bool compressFiles(const QString &folder, const QStringList &fileNames);
    // The same with every file below `folder`, as a walk finds them.
    Q_INVOKABLE bool compressFolder(const QString &folder);

    // Writing entry by entry: zwOpen() starts a new archive at `path`,
    // written when close() finishes it.
    Q_INVOKABLE bool zwOpen();
    // Adds each named file of `folder`; a file that fails is logged and skipped.
    Q_INVOKABLE bool addFiles(const QString &folder, const QStringList &fileNames);
    bool addFiles(const QDir &dir, const QStringList &fileNames);
    // Adds `fileName` (relative to `folder`, kept as the entry name) with a
    // comment, reading and compressing it now.
    Q_INVOKABLE bool addFile(const QString &folder, const QString &fileName, const QString &comment = QString());
    bool addFile(const QDir &dir, const QString &fileName, const QString &comment);

signals:
    void pathChanged();
    void caseSensitiveChanged();
    void extractError(const QString &fileName, const QString &outputFileName, TkZipArchive::Result result);
    void extractProgress(const QString &fileName, const QString &outputFileName, double percent);
    void extractCompleted();
    void extractCanceled();
    void compressProgress(const QString &fileName, double percent);
    // `result` is a Result value.
    void compressError(const QString &fileName, int result);
    void compressCompleted();
    void compressCanceled();
    void asynchronousChanged();
    void busyChanged();
    void amountsChanged();

private:
    enum class Run { None, Extraction, Compression };
    using Work = std::function<Jobs::Outcome(Jobs::Observer &observer)>;
    class DirectObserver;

    bool zrOpen();
    // Ends a background run, delivering its last signals, and closes both
    // handles; false when a signal handler destroyed the object meanwhile.
    bool closeAll();
    void closeReader();
    // Finishes the archive of zwOpen(); with `notify` its outcome is
    // signalled. False when a handler destroyed the object.
    bool closeWriter(bool notify);

    // The index of the entry, or -1.
    int locateFile(const QString &fileName, bool caseSensitive);
    bool refuseNestedRun(const char *function) const;
    // Whether the reader that an extraction started with has been closed.
    std::function<bool()> readerClosedCheck();
    // A reader for a background extraction: a handle of its own on the
    // open file, the same directory.
    std::shared_ptr<ZipReader> workerReader();
    bool startInBackground(Run run, Work work);
    // Runs `work` on this thread, its reports becoming signals at once.
    // `alive` tells whether the object outlived it.
    Jobs::Outcome runHere(Run run, const Work &work, bool *alive);
    bool compress(const char *function, const QString &folder, const QStringList *fileNames);
    void relayProgress(const QString &name, const QString &output, double percent);
    void relayError(const QString &name, const QString &output, int result);
    void runEnded();
    void finishBackgroundRun(Jobs::Outcome outcome);
    // The last signal of a run; a completed compression also closes the
    // reader of the file it replaced.
    void emitEnd(Run run, Jobs::Outcome outcome);

    QString m_path;
    // Shared with a running extraction, which a signal handler may outlive
    // the archive's closing with.
    std::shared_ptr<ZipReader> m_reader;
    // The archive of zwOpen(); shared with addFile(), which a signal
    // handler may outlive the object with.
    std::shared_ptr<ZipCompressor> m_writer;
    // addFile() is writing an entry: closing waits for it.
    bool m_adding = false;
    bool m_closeAfterAdding = false;
    // The file the last open failed on, while `path` names it.
    bool m_failedOpen = false;
    ZipReader::FileState m_failedState;
    bool m_caseSensitive = false;
    // Changes whenever the reader is closed, so that an extraction notices
    // that the archive it walks is gone, whatever was opened since.
    quint64 m_generation = 0;
    Run m_run = Run::None;
    // The background run that just ended, for its last signal.
    Run m_endedRun = Run::None;
    bool m_cancelRequested = false;
    bool m_asynchronous = false;
    // Background runs and the amounts of every run; a child of this object.
    Jobs::JobRelay *m_relay = nullptr;
};
