#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdio>
#include <functional>
#include <memory>

/*
    The one file layer of the library: every walk, listing, removal, copy,
    rename, whole-file read and write, settings file, extracted entry,
    written archive and its sources goes through it. Each platform has one implementation, chosen by the build.

    It works on open folder handles. A path a caller gives names a starting
    point and may run through links the user chose (a folder object's own
    folder, a copy target, an output folder). Below that starting point every
    folder is opened relative to its parent without following a link, and an
    opened folder is compared (device and inode) with what was seen when it
    was chosen, so a link swapped in meanwhile is found out, never followed.
    Nothing is looked at by path and then acted on by the same path.

    What is read may be reached through links (a listing, the source of a
    copy, a whole-file read); a walk enters each folder at most once. What is
    created, replaced, renamed or removed below the starting point never is.
    Whole-file reads take regular files only and never wait on a pipe or
    device. Names travel as the bytes the file system holds.
*/
namespace Extras {
namespace FileLayer {

// Which file an entry is, whatever name reached it: device and inode.
struct FileId
{
    quint64 device = 0;
    quint64 inode = 0;
    bool valid = false;

    bool operator==(const FileId &other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
    bool operator!=(const FileId &other) const { return !(*this == other); }
};

inline uint qHash(const FileId &id, uint seed = 0)
{
    return ::qHash(id.device, seed) ^ ::qHash(id.inode, seed);
}

// What a file was when it was looked at: which file, its size and when its
// content last changed. Equal states mean, as far as one can tell, the same
// unchanged file.
struct FileState
{
    FileId id;
    quint64 size = 0;
    qint64 modifiedNs = 0;

    bool operator==(const FileState &other) const
    {
        return id == other.id && size == other.size && modifiedNs == other.modifiedNs;
    }
    bool operator!=(const FileState &other) const { return !(*this == other); }
};

// What an entry is. A link is reported as a link unless the call follows it.
enum class Kind { Missing, File, Folder, Link, Pipe, Device, Other };

// The bytes the file system holds for a name, and back.
QByteArray localName(const QString &name);
QString displayName(const QByteArray &localName);

/*!
    What an operation acts on: a starting folder, chosen by the caller, and
    a name below it. The folders between the two are walked without
    following links; the last component is the entry itself.
*/
class Place
{
public:
    Place() = default;
    // `name` below `folder`: relative names are walked from the folder; an
    // absolute name is a whole path.
    static Place below(const QString &folder, const QString &name);
    // A whole path: its folder is the starting point, its last component
    // the entry. Relative paths are relative to the working folder.
    static Place whole(const QString &path);

    // False when nothing is named: an empty folder or path, a resource
    // path, or an entry that is empty, "." or "..".
    bool isValid() const;
    const QString &start() const { return m_start; }
    const QStringList &folders() const { return m_folders; }
    const QString &entry() const { return m_entry; }
    // The place as one path, for messages.
    QString path() const;

private:
    QString m_start;
    QStringList m_folders;
    QString m_entry;
};

/*!
    One open folder. Entries are looked at, opened, created and removed
    relative to it. Moves only; closed with the object.
*/
class Folder
{
public:
    struct Entry
    {
        QByteArray name;
        // What the folder read says the entry is: Missing when it cannot
        // tell (the caller looks with kindOf), never a followed link.
        Kind kind = Kind::Missing;
    };

    Folder() = default;
    ~Folder();
    Folder(Folder &&other) noexcept;
    Folder &operator=(Folder &&other) noexcept;
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    // The folder at a path the caller chose (links on the way followed).
    // An empty path or a resource path opens nothing.
    static Folder open(const QString &path, int *error = nullptr);
    // The folder that holds the entry of `place`: its start, then each
    // folder below, none of them through a link.
    static Folder openParent(const Place &place, int *error = nullptr);

    bool isOpen() const { return m_handle >= 0; }
    FileId id() const { return m_id; }
    void close();

    // The entry `name` itself, or with `follow` what a link points to.
    Kind kindOf(const QByteArray &name, bool follow = false, FileId *id = nullptr) const;
    // The entry `name` itself (never through a link) and, when something
    // stands there, its state.
    Kind stateOf(const QByteArray &name, FileState *state) const;
    // The subfolder `name`, never through a link. With `expected` valid,
    // only when it is that folder.
    Folder child(const QByteArray &name, const FileId &expected = FileId(), int *error = nullptr) const;
    // The subfolder `name` or the folder a link of that name points to.
    Folder childFollowing(const QByteArray &name, int *error = nullptr) const;
    // The subfolder `name`, made when missing; a link there is refused.
    // `made` tells whether this call made it.
    Folder makeChild(const QByteArray &name, int *error = nullptr, bool *made = nullptr) const;
    // The folder above this one.
    Folder parent(int *error = nullptr) const;

    // Every entry but "." and "..", unsorted; false when the folder could
    // not be read in full.
    bool entries(QVector<Entry> *entries) const;
    // Bytes that an unprivileged writer can still put on the folder's file
    // system; false when the file system does not tell.
    bool freeSpace(quint64 *bytes) const;
    // The same, each entry handed to `visit` as it is read: its name (valid
    // during the call only) and what the read says it is.
    using Visitor = std::function<void(const char *name, int size, Kind kind)>;
    bool read(const Visitor &visit) const;

    // Removes the entry `name`: a link, file, pipe or device itself, or an
    // empty folder with `folder`.
    bool remove(const QByteArray &name, bool folder, int *error = nullptr) const;
    // Removes the folder `name` with everything in it, never through a link
    // and without changing anybody's permissions; `seen` is what the caller
    // found there. Goes on past entries it cannot remove, then gives false.
    bool removeTree(const QByteArray &name, const FileId &seen) const;

    // Platform handle, for the implementation.
    int handle() const { return m_handle; }

private:
    Folder(int handle, const FileId &id)
        : m_handle(handle)
        , m_id(id)
    {
    }
    friend class FolderAccess;
    int m_handle = -1;
    FileId m_id;
};

// The text of a system error number.
QString errorText(int error);
// Error numbers the layer gives besides the system's: a link stands where
// a folder was to be walked through, or an entry is no regular file.
constexpr int LinkInTheWay = -1000;
constexpr int NotRegularFile = -1001;

// ---- Reading -------------------------------------------------------------

// All bytes of the regular file at `path` (links followed); empty, with
// `ok` false, for anything else: missing, a folder, a pipe or a device,
// which are never waited on.
QByteArray readFile(const QString &path, bool *ok = nullptr);
// The same for the entry of `place`: `found` tells what stands there (a
// link is not followed but refused), `ok` whether it was read.
QByteArray readEntry(const Place &place, Kind *found, bool *ok);

/*!
    A regular file open for reading: for readers that take a few leading
    bytes of many files, and for sources read whole that must stay the file
    that was named. Anything else does not open, and a pipe or device is
    never waited on.
*/
class InputFile
{
public:
    // The file at a path the caller chose (links followed).
    explicit InputFile(const QString &path);
    // The entry `name` of `folder`, never through a link.
    InputFile(const Folder &folder, const QByteArray &name);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    bool isOpen() const { return m_handle >= 0; }
    // Why it did not open: a system error number, NotRegularFile or EISDIR.
    int error() const { return m_error; }
    // What the open handle was when it was opened, and its read, write and
    // execute bits (folder-relative opens only).
    const FileState &state() const { return m_state; }
    unsigned permissions() const { return m_permissions; }
    // What the open handle is now; an invalid state when that cannot be told.
    FileState currentState() const;
    // Bytes read into `data`, 0 at the end, -1 on failure.
    qint64 read(char *data, qint64 size);
    // Bytes read at `offset` without moving the position: `size` unless
    // the end came first, -1 on failure. Threads may share one handle so.
    qint64 readAt(quint64 offset, char *data, qint64 size) const;
    // Moves `count` bytes forward; a position past the end reads nothing.
    bool skip(qint64 count);

private:
    int m_handle = -1;
    int m_error = 0;
    FileState m_state;
    unsigned m_permissions = 0;
};

// Opens an existing regular file for reading as a stream. Null and a
// reason for anything else. `state` tells what stood at the path whenever
// something was found there, opened or not.
FILE *openStream(const QString &path, FileState *state, QString *reason);
// Another stream on the file that `file` has open (a duplicated handle),
// for another thread; null and a reason when none can be had.
FILE *shareStream(FILE *file, QString *reason);
// Reads exactly `size` bytes at `offset` without moving the stream.
bool readAt(FILE *file, quint64 offset, char *data, qint64 size);

// ---- Writing -------------------------------------------------------------

/*!
    The new content of one entry. A regular file that others cannot tell
    apart from a new one is replaced only once the new content is complete:
    the bytes go to a temporary file beside it, which commit() renames over
    it; until then, and whenever commit() is not reached, the previous file
    stays and the temporary file goes. A new file is made under its own
    name and removed again unless commit() is reached (archives: always
    through a temporary file).
*/
class OutputFile
{
public:
    enum class Rules {
        // Extracted entries: a link at the name is replaced by the file, a
        // regular file always replaced whole, a pipe or device written as
        // the caller named it.
        Extraction,
        // Whole-file writes: a link to an existing regular file, pipe or
        // device is written through in place, a dangling link refused;
        // files with other names, owners or set-id bits written in place.
        WholeFile,
        // Settings files: regular files only; any link is refused.
        Settings,
        // Archives: always written to a temporary file and renamed over
        // the name, whether a regular file, a link or nothing stands
        // there, so that no reader ever sees half an archive; a pipe or
        // device (which cannot take positioned writes) is refused.
        Archive
    };

    OutputFile(const Folder &folder, const QByteArray &name, Rules rules);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Looks at what stands at the name now; false when that cannot be told.
    bool inspect();
    // What inspect() found: invalid when nothing was there.
    FileId existing() const { return m_existing; }
    Kind existingKind() const { return m_kind; }
    // The read, write and execute bits a new file gets, under the umask;
    // 0666 unless set. A regular file that is replaced keeps those it had.
    void setPermissions(unsigned permissions) { m_permissions = permissions & 0777; }
    // Opens the file the bytes go to (inspecting first if not done yet).
    bool open();
    bool write(const char *data, qint64 size);
    // Writes at `offset` without moving the position of write().
    bool writeAt(quint64 offset, const char *data, qint64 size);
    // Cuts the file to `size` bytes and goes on writing there.
    bool truncate(quint64 size);
    bool writesInPlace() const { return m_inPlace; }
    // The file the bytes go to, once open.
    FileId written() const { return m_written; }
    // Access and modification time, seconds since 1970-01-01 UTC.
    bool setTimes(qint64 secondsSinceEpoch);
    // Flushes, closes and puts the file in place.
    bool commit();
    // The system's description of the last failure.
    QString errorString() const { return m_errorString; }
    int error() const { return m_error; }

private:
    bool openInPlace(bool followLink);
    bool openNew();
    bool openTemporary();
    void fail(int error);
    void discard();

    const Folder &m_folder;
    QByteArray m_name;
    Rules m_rules;
    QByteArray m_temporary;
    int m_handle = -1;
    bool m_inspected = false;
    Kind m_kind = Kind::Missing;
    unsigned m_mode = 0;
    unsigned m_owner = 0;
    unsigned m_group = 0;
    unsigned m_permissions = 0666;
    bool m_replaceable = false;
    FileId m_existing;
    FileId m_written;
    bool m_inPlace = false;
    bool m_created = false;
    bool m_committed = false;
    int m_error = 0;
    QString m_errorString;
};

// Writes `bytes` as the whole content of the entry of `place` by the rules;
// true only when every byte, the flush to disk and the close succeeded.
bool writeFile(const Place &place, const QByteArray &bytes, OutputFile::Rules rules, QString *reason = nullptr);

// ---- Folders -------------------------------------------------------------

// The folder at `path`, made with every missing folder above it. Existing
// folders on the way are the caller's and may be reached through links;
// the folders made are opened without following any.
Folder makeFolders(const QString &path, int *error = nullptr);
// The folders of `names` below `start`, made where missing; a link among
// them is refused (LinkInTheWay).
Folder makeFolders(const Folder &start, const QStringList &names, int *error = nullptr);

enum class Removal { Removed, Missing, NotAFolder, Refused, Failed };
// Removes the folder of `place`: with `recursive` its whole tree, else
// only when empty. A link to a folder goes itself, its target stays; a
// file or any other link is NotAFolder and stays. `keep`, when set, names
// folders that must not go (Refused).
Removal removeFolder(const Place &place, bool recursive, const std::function<bool(const FileId &)> &keep = {});
// Removes the entry of `place` that is not a folder (a link goes itself).
bool removeEntry(const Place &place);
// Removes the empty folder `path` and then every parent that became empty,
// as QDir::rmpath does; true when the first went.
bool removeEmptyFolders(const QString &path);
// Removes the folder holding `filePath` with the file when the file is its
// only entry; anything that appears meanwhile keeps the folder.
bool removeFolderOfOnlyEntry(const QString &filePath);
// Identities of the folder at `path` and of every folder above it.
QVector<FileId> folderAndAncestors(const QString &path);

// Renames `from` to `to`, which must not exist (a dangling link counts).
// A link moves itself; across file systems a file is copied and removed,
// a link made anew with the same text, a folder refused.
bool rename(const Place &from, const Place &to, int *error = nullptr);

// ---- Copies --------------------------------------------------------------

// What a copy met besides what it copied.
enum class CopyEvent {
    TargetExists,       // an entry of the target stands in the way: stops
    CopyFailed,         // a file could not be copied: stops
    EntryFailed,        // follows the two above inside a tree: the entry that stopped it
    NotCopied,          // a device or socket: left out, the copy goes on
    FolderUnreadable,   // a source folder cannot be read: stops
    TargetInsideSource, // the target lies in the source tree: nothing is made
    MakeFolderFailed,   // a target folder cannot be made or entered: stops
    LinkInTarget,       // a link stands in the target where a folder goes: stops
    LinksBack,          // a folder link back into the copy: left out
    AlreadyCopied,      // a folder met again through a link: left out
    NotUndone           // undo() left some of what the copy made
};
using CopyReport = std::function<void(CopyEvent event, const QString &source, const QString &target)>;

/*!
    What a copy tells as it goes and where it asks whether to stop, for a
    bar of the whole copy and a Cancel button. Called on the copying thread.
*/
class CopyWatch
{
public:
    virtual ~CopyWatch() = default;
    // Asked before every entry and every block of a file's bytes; true
    // stops the copy there, without a report.
    virtual bool canceled() = 0;
    // The entry `source` (a file, folder, link or pipe) is next.
    virtual void begins(const QString &source) = 0;
    // `bytes` more bytes of the current file were written.
    virtual void copied(qint64 bytes) = 0;
    // The current entry was copied.
    virtual void finished() = 0;
};

// What a copy handles: the bytes of its files and its entries.
struct CopyAmount
{
    qint64 bytes = 0;
    int entries = 0;
};

/*!
    One copy of a file or a folder tree, in steps that may run on different
    threads, one after the other. Making it looks at the source and the
    target and makes the target folder, so that what can be told at once is
    told, with the reports of copyEntry and copyTree. measure() walks the
    source as the copy will, run() copies, undo() removes what it made.
*/
class Copy
{
public:
    // copyEntry's copy of the entry at `source` to the new entry of `target`.
    static Copy entry(const QString &source, const Place &target, const CopyReport &report);
    // copyTree's copy of the folder tree at `source` into `target`.
    static Copy tree(const QString &source, const QString &target, const CopyReport &report);
    Copy(Copy &&other) noexcept;
    Copy &operator=(Copy &&other) noexcept;
    ~Copy();

    // False when the copy cannot be made; the report told why.
    bool isValid() const;
    // What run() will copy as things stand, by a walk with the copy's rules
    // (each folder once, links followed where the copy follows them); false
    // when the watch canceled it.
    bool measure(CopyAmount *amount, CopyWatch *watch = nullptr);
    // Copies, reporting to the watch; false when an entry stopped the copy
    // (reported) or the watch canceled it (not reported).
    bool run(CopyWatch *watch = nullptr);
    bool wasCanceled() const;
    // Whether run() keeps a record for undo(), as it does unless told not
    // to: a copy that will not be taken back saves a look at every file.
    void setUndoable(bool undoable);
    // Removes what this copy made, newest first, on open folders: files,
    // links and pipes while they are still the ones it made, folders once
    // they are empty. Folders that were there before and whatever others
    // put in stay. False, with NotUndone, when something it made stays.
    bool undo();

private:
    struct Private;
    explicit Copy(Private *d);
    std::unique_ptr<Private> d;
};

// Copies the entry at `source` (a file, a link's file, a dangling link as a
// link, a pipe made anew) to the new entry of `target`, never through a
// link there. False, with the report, when anything stands at the target.
bool copyEntry(const QString &source, const Place &target, const CopyReport &report);
// Copies the folder tree at `source` into the folder `target`, made with
// its parents where missing and merged into where it exists. Folders and
// files reached through links in the source are copied as real ones, each
// folder once; in the target no link is ever followed. Entries are copied
// by their byte names, in the order of their names ignoring case.
bool copyTree(const QString &source, const QString &target, const CopyReport &report);
// Copies the regular file `name` of `from` to a new file `name` in `to` as
// QFile::copy copies a file (bytes, permission bits widened for the owner
// as the user may access the source, the current time). False, leaving
// nothing, when the source is no regular file or anything is at the target.
bool copyFileInto(const Folder &from, const QByteArray &name, const Folder &to);

// ---- Times and attributes ------------------------------------------------

// Access and modification time, whole seconds since 1970-01-01 UTC, of the
// file at `path` (links followed). False with the system's error number.
bool setFileTimes(const QString &path, quint32 lastRead, quint32 lastModified, int *error);
// Gives the entry at `path` the hidden state; false when nothing exists
// there or the platform cannot give it that state.
bool setHidden(const QString &path, bool hidden);

// Whether the platform reads `name` as a path on a drive ("C:x", "c:/x"):
// only where drive letters exist.
bool namesADrive(const QString &name);

// ---- Walks ---------------------------------------------------------------

/*!
    The folders a walk entered: each (device, inode) at most once.
*/
class WalkedFolders
{
public:
    // True the first time a folder is met, false every time after.
    bool enter(const FileId &id);

private:
    QSet<FileId> m_entered;
};

} // namespace FileLayer
} // namespace Extras
