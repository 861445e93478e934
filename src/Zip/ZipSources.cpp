#include "ZipSources.h"

#include "JobObserver.h"
#include "ZipNames.h"

#include <algorithm>
#include <cerrno>

namespace FileLayer = Extras::FileLayer;

bool ZipSources::open(const QString &folderPath, int *error)
{
    FileLayer::Folder root = FileLayer::Folder::open(folderPath, error);
    if (!root.isOpen())
        return false;
    m_folders = {FolderRecord{-1, QByteArray(), root.id()}};
    m_open.clear();
    m_ahead.clear();
    m_open.emplace_back(0, std::move(root));
    return true;
}

const FileLayer::Folder *ZipSources::openFolder(int index, int *error, OpenFolders &open)
{
    std::vector<int> chain;
    for (int at = index; at >= 0; at = m_folders.at(at).parent)
        chain.push_back(at);
    std::reverse(chain.begin(), chain.end());
    size_t common = 0;
    while (common < open.size() && common < chain.size() && open.at(common).first == chain.at(common))
        ++common;
    open.resize(common);
    if (open.empty()) {
        *error = EBADF;
        return nullptr;
    }
    for (size_t i = common; i < chain.size(); ++i) {
        const FolderRecord &record = m_folders.at(chain.at(i));
        FileLayer::Folder next = open.back().second.child(record.name, record.id, error);
        if (!next.isOpen())
            return nullptr;
        open.emplace_back(chain.at(i), std::move(next));
    }
    return &open.back().second;
}

const FileLayer::Folder *ZipSources::folderOf(const Item &item, int *error)
{
    return item.folder < 0 ? nullptr : openFolder(item.folder, error);
}

const FileLayer::Folder *ZipSources::folderAhead(const Item &item, int *error)
{
    if (item.folder < 0 || m_open.empty())
        return nullptr;
    if (m_ahead.empty() && m_open.front().first == 0)
        m_ahead.emplace_back(0, m_open.front().second.childFollowing(QByteArrayLiteral(".")));
    if (m_ahead.empty() || !m_ahead.front().second.isOpen() || m_ahead.front().second.id() != m_folders.at(0).id) {
        m_ahead.clear();
        *error = ESTALE;
        return nullptr;
    }
    return openFolder(item.folder, error, m_ahead);
}

int ZipSources::folderBelow(int parent, const QByteArray &name, int *error)
{
    const QPair<int, QByteArray> key(parent, name);
    const auto known = m_folderIndex.constFind(key);
    if (known != m_folderIndex.constEnd())
        return *known;
    const FileLayer::Folder *holder = openFolder(parent, error);
    if (!holder)
        return -1;
    FileLayer::Folder folder = holder->child(name, FileLayer::FileId(), error);
    if (!folder.isOpen())
        return -1;
    const int index = m_folders.size();
    m_folders.append(FolderRecord{parent, name, folder.id()});
    m_folderIndex.insert(key, index);
    m_open.emplace_back(index, std::move(folder));
    return index;
}

void ZipSources::addNamed(const QString &name)
{
    Item item;
    item.name = name;
    QStringList components = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    components.removeAll(QStringLiteral("."));
    if (m_folders.isEmpty()) {
        item.error = EBADF;
    } else if (components.isEmpty() || ZipNames::leavesFolder(name)) {
        item.unsafe = true;
    } else {
        int folder = 0;
        for (int i = 0; i + 1 < components.size() && folder >= 0; ++i)
            folder = folderBelow(folder, FileLayer::localName(components.at(i)), &item.error);
        item.folder = folder;
        item.fileName = FileLayer::localName(components.last());
        const FileLayer::Folder *holder = folder < 0 ? nullptr : openFolder(folder, &item.error);
        if (holder)
            item.kind = holder->stateOf(item.fileName, &item.state);
        if (holder && item.kind == FileLayer::Kind::Missing)
            item.error = ENOENT;
    }
    m_items.append(item);
}

namespace {

// A folder being walked: its entries in name order and the next to look at.
struct Frame
{
    int index = 0;
    QString prefix;
    FileLayer::Folder folder;
    QVector<FileLayer::Folder::Entry> entries;
    int next = 0;
};

} // namespace

bool ZipSources::addTree(Jobs::Observer &observer, const FileLayer::FileId &skip)
{
    if (m_open.empty())
        return true;
    FileLayer::WalkedFolders walked;
    std::vector<Frame> stack;
    auto enter = [&](int index, const QString &prefix, FileLayer::Folder folder) {
        Frame frame;
        frame.index = index;
        frame.prefix = prefix;
        frame.folder = std::move(folder);
        // What cannot be read is not there: the entries read are written.
        frame.folder.entries(&frame.entries);
        std::sort(frame.entries.begin(), frame.entries.end(),
                  [](const FileLayer::Folder::Entry &a, const FileLayer::Folder::Entry &b) { return a.name < b.name; });
        stack.push_back(std::move(frame));
    };
    walked.enter(m_folders.at(0).id);
    enter(0, QString(), m_open.front().second.childFollowing(QByteArrayLiteral(".")));
    while (!stack.empty()) {
        if (observer.canceled())
            return false;
        Frame &frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        const QByteArray fileName = frame.entries.at(frame.next++).name;
        Item item;
        item.name = frame.prefix + FileLayer::displayName(fileName);
        item.folder = frame.index;
        item.fileName = fileName;
        item.kind = frame.folder.stateOf(fileName, &item.state);
        // Gone since the folder was read, or the archive being written.
        if (item.kind == FileLayer::Kind::Missing || item.state.id == skip)
            continue;
        if (item.kind != FileLayer::Kind::Folder) {
            m_items.append(item);
            continue;
        }
        FileLayer::Folder child = frame.folder.child(fileName, item.state.id, &item.error);
        // A folder met again (a bind mount of its own parent) is left out.
        if (child.isOpen() && !walked.enter(child.id()))
            continue;
        if (!child.isOpen()) {
            item.folder = -1;
            m_items.append(item);
            continue;
        }
        const int index = m_folders.size();
        m_folders.append(FolderRecord{frame.index, fileName, child.id()});
        m_folderIndex.insert(qMakePair(frame.index, fileName), index);
        enter(index, item.name + QLatin1Char('/'), std::move(child));
    }
    return true;
}

qint64 ZipSources::totalBytes() const
{
    qint64 total = 0;
    for (const Item &item : m_items) {
        if (item.kind == FileLayer::Kind::File && !item.unsafe && item.error == 0)
            total += qint64(item.state.size);
    }
    return total;
}
