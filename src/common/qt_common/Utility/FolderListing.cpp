#include "FolderListing.h"

#include "FolderWalk.h"

#include <QRegularExpression>
#include <QStringBuilder>

#include <algorithm>

namespace Extras {

namespace {

using FolderWalk::Entry;
using FolderWalk::FolderId;

// The patterns as QDir applies them; a list that holds "*" lets every name
// through without matching, as QDir's does.
class NamePatterns
{
public:
    explicit NamePatterns(const QStringList &patterns)
        : m_patterns(patterns)
    {
        if (patterns.contains(QLatin1String("*")))
            return;
        for (const QString &pattern : patterns)
            m_expressions.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                                    QRegularExpression::CaseInsensitiveOption));
    }

    bool matchesAll() const { return m_expressions.isEmpty(); }
    const QStringList &patterns() const { return m_patterns; }

    bool matches(const QString &name) const
    {
        for (const QRegularExpression &expression : m_expressions) {
            if (expression.match(name).hasMatch())
                return true;
        }
        return false;
    }

private:
    QStringList m_patterns;
    QVector<QRegularExpression> m_expressions;
};

// Qt's resource system has no native folders: QDir reads them.
bool readResourceFolder(const QString &path, const NamePatterns &patterns, bool withFiles, QVector<Entry> *entries)
{
    QDir::Filters filters = QDir::Dirs | QDir::NoDotAndDotDot;
    if (withFiles)
        filters |= QDir::Files;
    const QFileInfoList infos = QDir(path).entryInfoList(patterns.patterns(), filters, QDir::Unsorted);
    entries->clear();
    entries->reserve(infos.size());
    for (const QFileInfo &info : infos)
        entries->append(Entry{info.fileName(), info.isDir()});
    return true;
}

class Walk
{
public:
    Walk(const QStringList &patterns, bool subFolders, bool wantFiles)
        : m_patterns(patterns)
        , m_subFolders(subFolders)
        , m_wantFiles(wantFiles)
    {
        if (!m_patterns.matchesAll())
            m_accept = [this](const QString &name) { return m_patterns.matches(name); };
    }

    void folder(const QString &path, const QString &prefix)
    {
        QVector<Entry> entries;
        FolderId id;
        const bool resource = path.startsWith(QLatin1Char(':'));
        if (resource) {
            // Resource folders hold no links, so they cannot lead back.
            if (!readResourceFolder(path, m_patterns, m_wantFiles, &entries))
                return;
        } else {
            if (!FolderWalk::readFolder(path, m_wantFiles, m_accept, &entries, m_subFolders ? &id : nullptr))
                return;
            // A link back to a folder being walked: listed above, not entered.
            if (m_walking.contains(id))
                return;
            m_walking.append(id);
        }
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });

        const QString separator = prefix.isEmpty() ? QString() : prefix % QDir::separator();
        const QString folderPath = path.endsWith(QLatin1Char('/')) ? path : path % QLatin1Char('/');
        for (const Entry &entry : qAsConst(entries)) {
            const QString name = prefix.isEmpty() ? entry.name : separator % entry.name;
            if (entry.isFolder) {
                if (!m_wantFiles)
                    m_out.append(name);
                if (m_subFolders)
                    folder(folderPath % entry.name, name);
            } else if (m_wantFiles) {
                m_out.append(name);
            }
        }
        if (!resource)
            m_walking.removeLast();
    }

    QStringList result() const { return m_out; }

private:
    const NamePatterns m_patterns;
    const bool m_subFolders;
    const bool m_wantFiles;
    std::function<bool(const QString &)> m_accept;
    QStringList m_out;
    // Identities of the folder being read and of the folders above it.
    QVector<FolderId> m_walking;
};

} // namespace

QStringList FolderListing::names(const QDir &folder, const QStringList &patterns, bool subFolders, bool wantFiles)
{
    Walk walk(patterns, subFolders, wantFiles);
    walk.folder(folder.path(), QString());
    return walk.result();
}

} // namespace Extras
