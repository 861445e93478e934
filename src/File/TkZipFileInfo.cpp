#include "TkZipFileInfo.h"

TkZipFileInfo::TkZipFileInfo(QObject *parent)
    : QObject(parent)
{
}

TkZipFileInfo::TkZipFileInfo(const QString &filePath, const ZipEntryRecord &info, QObject *parent)
    : QObject(parent)
    , m_file(filePath)
    , m_info(info)
{
}

TkZipFileInfo::~TkZipFileInfo() = default;

QString TkZipFileInfo::filePath() const
{
    return m_file.filePath();
}

QString TkZipFileInfo::size() const
{
    return QString::number(quint64(m_info.uncompressedSize), 10);
}

QString TkZipFileInfo::compressedSize() const
{
    return QString::number(quint64(m_info.compressedSize), 10);
}

QString TkZipFileInfo::path() const
{
    return m_file.path();
}

QString TkZipFileInfo::fileName() const
{
    return m_file.fileName();
}

QString TkZipFileInfo::suffix() const
{
    return m_file.suffix();
}

QDateTime TkZipFileInfo::lastModified() const
{
    return m_info.date.toLocalDateTime();
}

ulong TkZipFileInfo::crc() const
{
    return ulong(m_info.crc & 0xffffffffu);
}
