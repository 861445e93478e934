#pragma once

// What the copies of the Unix file layer share: single entries, the walk
// of a tree copy and the record of what a copy made.

#include "FileLayer_unix_p.h"

#include <QPair>
#include <QSet>

#include <vector>

namespace Extras {
namespace FileLayer {

// A named pipe made anew in `to` with the permission bits of `mode`.
bool makePipe(const Folder &to, const QByteArray &name, mode_t mode, int *error, FileId *made);
// The link `name` of `from` made anew as `newName` in `to`, with its text.
bool copyLinkText(const Folder &from, const QByteArray &name, const Folder &to, const QByteArray &newName,
                  int *error, FileId *made);

/*!
    What one copy made. The folders made on the way to the target folder
    are kept with their parents open; below the target folder (node Root)
    every folder the copy entered is a node, made by it or merged into,
    known by its name in its parent node and its identity, and each entry
    the copy made in a node is known by its inode. Nothing is kept by path.
*/
class CopyRecord
{
public:
    static constexpr int Root = 0;

    CopyRecord();

    // The folder `name` (`id`) was made in `parent` on the way to the target.
    void madeOnTheWay(Folder &&parent, const QByteArray &name, const FileId &id);
    // The copy entered the folder `name` (`id`) of node `parent`, having
    // made it when `made`: its node.
    int entered(int parent, const QByteArray &name, const FileId &id, bool made);
    // The copy made the entry `id` (a file, link or pipe) in node `folder`.
    void made(int folder, const FileId &id);

    // Removes what was made, newest first, below `root` (the target folder)
    // and on the way to it; see Copy::undo.
    bool undo(const Folder &root);

private:
    struct Way
    {
        Folder parent;
        QByteArray name;
        FileId id;
    };
    struct Node
    {
        int parent;
        QByteArray name;
        FileId id;
        bool made;
    };
    class Cursor;

    static bool removeFolderIfOurs(const Folder &parent, const QByteArray &name, const FileId &id);
    static bool removeMade(const Folder &folder, const QSet<quint64> &inodes);

    std::vector<Way> m_way;
    QVector<Node> m_nodes;
    QVector<QPair<int, quint64>> m_entries;
};

// One entry of a folder being copied: its name as the file system holds it
// and as text, for the order and the messages.
struct CopiedEntry
{
    QByteArray name;
    QString text;
    Kind kind;
};

/*!
    One walk of a tree copy: the folders it entered, those that hold the
    target (a link to one of them would copy the copy into itself), and the
    line of source folders being walked. It either copies, recording what it
    made, or measures what a copy would handle; both decide alike which
    entries are followed and which are left out.
*/
class TreeCopy
{
public:
    TreeCopy(const CopyReport &report, const QVector<FileId> &aboveTarget, CopyWatch *watch, CopyRecord *record)
        : m_report(report)
        , m_watch(watch)
        , m_record(record)
    {
        for (const FileId &id : aboveTarget)
            m_aboveTarget.insert(id);
    }

    bool copyFolder(const Folder &from, const Folder &to, int node, const QString &fromPath, const QString &toPath);
    bool measureFolder(const Folder &from, CopyAmount *amount);
    void enterTarget(const FileId &id) { m_walked.enter(id); }
    bool enterSource(const FileId &id) { return m_walked.enter(id); }
    bool wasCanceled() const { return m_canceled; }

private:
    enum class Visit { Enter, LinksBack, AlreadyCopied };

    bool copyEntry(const Folder &from, const Folder &to, int node, const CopiedEntry &entry, const QString &source,
                   const QString &target);
    bool enterFolder(const Folder &from, const Folder &to, int node, const CopiedEntry &entry, bool viaLink,
                     const QString &source, const QString &target);
    bool measureEntry(const Folder &from, const Folder::Entry &entry, CopyAmount *amount);
    // What an entry is as the copy follows it: a link's target, unless it
    // leads nowhere.
    static Kind followed(const Folder &from, const QByteArray &name, Kind kind, bool *viaLink);
    Visit visit(const Folder &from, const QByteArray &name, bool viaLink, FileId *id);
    static Folder openSource(const Folder &from, const QByteArray &name, bool viaLink, const FileId &id);
    bool canceled()
    {
        if (m_watch && !m_canceled)
            m_canceled = m_watch->canceled();
        return m_canceled;
    }
    bool done(int node, const FileId &made)
    {
        if (m_record)
            m_record->made(node, made);
        if (m_watch)
            m_watch->finished();
        return true;
    }
    bool stop(CopyEvent event, const QString &source, const QString &target)
    {
        m_report(event, source, target);
        return false;
    }
    // An entry that could not be copied stops the copy: what stood in the
    // way, then the entry. A cancel stops it without a word.
    bool failed(int error, const QString &source, const QString &target)
    {
        if (error == ECANCELED) {
            m_canceled = true;
            return false;
        }
        m_report(error == EEXIST ? CopyEvent::TargetExists : CopyEvent::CopyFailed, source, target);
        return stop(CopyEvent::EntryFailed, source, target);
    }

    const CopyReport &m_report;
    CopyWatch *m_watch;
    CopyRecord *m_record;
    bool m_canceled = false;
    QSet<FileId> m_aboveTarget;
    QVector<FileId> m_line;
    WalkedFolders m_walked;
};

} // namespace FileLayer
} // namespace Extras
