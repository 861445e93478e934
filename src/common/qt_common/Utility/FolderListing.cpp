#include "FolderListing.h"

#include "FileLayer.h"

#include <QRegularExpression>
#include <QStringBuilder>
#include <QTextCodec>

#include <algorithm>
#include <functional>

namespace Extras {

namespace {

using FileLayer::Folder;
using FileLayer::Kind;

// Entry names are bytes; QDir shows only those that the local encoding
// decodes without loss, and so does the listing.
class NameDecoder
{
public:
    NameDecoder()
        : m_codec(QTextCodec::codecForLocale())
        , m_mib(m_codec ? m_codec->mibEnum() : latin1)
    {
    }

    bool decode(const char *bytes, int size, QString *name) const
    {
        if (isAscii(bytes, size) && (m_mib == utf8 || m_mib == ascii || m_mib == latin1)) {
            *name = QString::fromLatin1(bytes, size);
            return true;
        }
        if (m_mib == latin1 || !m_codec) {
            *name = QString::fromLatin1(bytes, size);
            return true;
        }
        if (m_mib == ascii)
            return false;
        // The name stands after a folder path, so a leading byte-order mark
        // is a character of the name, not a header.
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        *name = m_codec->toUnicode(bytes, size, &state);
        return state.invalidChars == 0 && state.remainingChars == 0;
    }

private:
    // MIBenum numbers of the encodings that need no codec.
    static const int ascii = 3;
    static const int latin1 = 4;
    static const int utf8 = 106;

    static bool isAscii(const char *bytes, int size)
    {
        for (int i = 0; i < size; ++i) {
            if (uchar(bytes[i]) >= 0x80)
                return false;
        }
        return true;
    }

    QTextCodec *m_codec;
    int m_mib;
};

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

    const QStringList &patterns() const { return m_patterns; }

    bool matches(const QString &name) const
    {
        if (m_expressions.isEmpty())
            return true;
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

struct Listed
{
    QString name;
    QByteArray localName;
    bool isFolder;
    // A folder reached through a symbolic link.
    bool viaLink;
};

class Walk
{
public:
    Walk(const QStringList &patterns, bool subFolders, bool wantFiles, bool patternsBelow)
        : m_patterns(patterns)
        , m_subFolders(subFolders)
        , m_wantFiles(wantFiles)
        , m_patternsBelow(patternsBelow)
    {
    }

    void start(const QString &path, const QString &prefix)
    {
        // Qt's resource system has no native folders and no links: QDir reads them.
        if (path.startsWith(QLatin1Char(':'))) {
            resourceFolder(path, prefix, true);
            return;
        }
        const Folder folder = Folder::open(path);
        if (folder.isOpen() && m_walked.enter(folder.id()))
            nativeFolder(folder, prefix, true);
    }

    QStringList result() const { return m_out; }

private:
    bool patternsApply(bool top) const { return top || m_patternsBelow; }

    void nativeFolder(const Folder &folder, const QString &prefix, bool top)
    {
        QVector<Listed> entries;
        QString name;
        const bool read = folder.read([&](const char *bytes, int size, Kind kind) {
            // Dot, dot-dot and every other name that begins with a dot: hidden.
            if (bytes[0] == '.' || (!m_wantFiles && kind == Kind::File))
                return;
            if (!m_decoder.decode(bytes, size, &name) || (patternsApply(top) && !m_patterns.matches(name)))
                return;
            if (kind == Kind::Missing)
                kind = folder.kindOf(QByteArray::fromRawData(bytes, size));
            const bool viaLink = kind == Kind::Link;
            // A link counts as what it points at; a link to nothing is a system entry.
            if (viaLink) {
                kind = folder.kindOf(QByteArray::fromRawData(bytes, size), true);
                if (kind != Kind::Missing && kind != Kind::Folder)
                    kind = Kind::File;
            }
            // Folders keep their bytes, to be entered by them.
            if (kind == Kind::Folder)
                entries.append({name, QByteArray(bytes, size), true, viaLink});
            else if (kind == Kind::File && m_wantFiles)
                entries.append({name, QByteArray(), false, false});
        });
        if (!read)
            return;
        std::sort(entries.begin(), entries.end(), [](const Listed &a, const Listed &b) { return a.name < b.name; });

        const QString separator = prefix.isEmpty() ? QString() : prefix % QDir::separator();
        for (const Listed &entry : qAsConst(entries)) {
            const QString listed = prefix.isEmpty() ? entry.name : separator % entry.name;
            if (!entry.isFolder) {
                m_out.append(listed);
                continue;
            }
            if (!m_wantFiles)
                m_out.append(listed);
            if (!m_subFolders)
                continue;
            const Folder child = entry.viaLink ? folder.childFollowing(entry.localName)
                                               : folder.child(entry.localName);
            // A folder met before, through a link or otherwise: listed, not entered.
            if (child.isOpen() && m_walked.enter(child.id()))
                nativeFolder(child, listed, false);
        }
    }

    void resourceFolder(const QString &path, const QString &prefix, bool top)
    {
        QDir::Filters filters = QDir::Dirs | QDir::NoDotAndDotDot;
        if (m_wantFiles)
            filters |= QDir::Files;
        const QStringList patterns = patternsApply(top) ? m_patterns.patterns() : QStringList();
        QFileInfoList infos = QDir(path).entryInfoList(patterns, filters, QDir::Unsorted);
        std::sort(infos.begin(), infos.end(),
                  [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
        const QString separator = prefix.isEmpty() ? QString() : prefix % QDir::separator();
        for (const QFileInfo &info : qAsConst(infos)) {
            const QString listed = prefix.isEmpty() ? info.fileName() : separator % info.fileName();
            if (!info.isDir() || !m_wantFiles)
                m_out.append(listed);
            if (info.isDir() && m_subFolders)
                resourceFolder(info.filePath(), listed, false);
        }
    }

    const NamePatterns m_patterns;
    const bool m_subFolders;
    const bool m_wantFiles;
    const bool m_patternsBelow;
    const NameDecoder m_decoder;
    FileLayer::WalkedFolders m_walked;
    QStringList m_out;
};

} // namespace

QStringList FolderListing::names(const QDir &folder, const QStringList &patterns, bool subFolders, bool wantFiles)
{
    Walk walk(patterns, subFolders, wantFiles, true);
    walk.start(folder.path(), QString());
    return walk.result();
}

QStringList FolderListing::filesBelow(const QDir &folder, const QString &prefix)
{
    Walk walk(folder.nameFilters(), true, true, false);
    walk.start(folder.path(), prefix);
    return walk.result();
}

} // namespace Extras
