#include "TkZipFileInfo.h"

#include <cstring>

TkZipFileInfo::TkZipFileInfo(QObject *parent)
    : QObject(parent)
{
    std::memset(&m_info, 0, sizeof m_info);
}

TkZipFileInfo::TkZipFileInfo(const QString &filePath, const unz_file_info64 &info, QObject *parent)
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
    return QString::number(quint64(m_info.uncompressed_size), 10);
}

QString TkZipFileInfo::compressedSize() const
{
    return QString::number(quint64(m_info.compressed_size), 10);
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
    return dateTime(m_info.tmu_date);
}

ulong TkZipFileInfo::crc() const
{
    return ulong(m_info.crc & 0xffffffffu);
}

QDateTime TkZipFileInfo::dateTime(const tm_unz &date)
{
    // The fields come straight from the archive: a month of 0 in the DOS
    // date wraps to a huge value, so compute in 64 bits and let QDate and
    // QTime reject what is out of range.
    const qint64 month = qint64(date.tm_mon) + 1;
    const QDate day(int(qBound<qint64>(-1, date.tm_year, 9999)), int(qBound<qint64>(-1, month, 13)),
                    int(qBound<qint64>(-1, date.tm_mday, 32)));
    const QTime time(int(qBound<qint64>(-1, date.tm_hour, 24)), int(qBound<qint64>(-1, date.tm_min, 60)),
                     int(qBound<qint64>(-1, date.tm_sec, 60)), 0);
    return QDateTime(day, time, Qt::LocalTime);
}
