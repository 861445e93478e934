#include "FileLayer.h"

#include <QFile>

// The parts of the layer that are the same on every platform.
namespace Extras {
namespace FileLayer {

QByteArray localName(const QString &name)
{
    return QFile::encodeName(name);
}

QString displayName(const QByteArray &localName)
{
    return QFile::decodeName(localName);
}

namespace {

// Components of a name, without the empty ones that doubled and trailing
// separators leave.
QStringList componentsOf(const QString &name)
{
    return name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

bool namesAnEntry(const QString &component)
{
    return !component.isEmpty() && component != QLatin1String(".") && component != QLatin1String("..");
}

} // namespace

Place Place::below(const QString &folder, const QString &name)
{
    if (name.startsWith(QLatin1Char('/')))
        return whole(name);
    Place place;
    if (folder.isEmpty() || folder.startsWith(QLatin1Char(':')))
        return place;
    place.m_start = folder;
    place.m_folders = componentsOf(name);
    if (!place.m_folders.isEmpty())
        place.m_entry = place.m_folders.takeLast();
    return place;
}

Place Place::whole(const QString &path)
{
    Place place;
    if (path.isEmpty() || path.startsWith(QLatin1Char(':')))
        return place;
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const int slash = trimmed.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        place.m_start = QStringLiteral(".");
        place.m_entry = trimmed;
    } else {
        place.m_start = slash == 0 ? QStringLiteral("/") : trimmed.left(slash);
        place.m_entry = trimmed.mid(slash + 1);
    }
    return place;
}

bool Place::isValid() const
{
    return !m_start.isEmpty() && namesAnEntry(m_entry);
}

QString Place::path() const
{
    QString result = m_start;
    for (const QString &part : m_folders + QStringList{m_entry}) {
        if (!result.endsWith(QLatin1Char('/')))
            result += QLatin1Char('/');
        result += part;
    }
    return result;
}

bool WalkedFolders::enter(const FileId &id)
{
    if (!id.valid || m_entered.contains(id))
        return false;
    m_entered.insert(id);
    return true;
}

} // namespace FileLayer
} // namespace Extras
