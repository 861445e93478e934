#pragma once

#include "ZipDirectory.h"

#include <QString>

#include <cstdio>
#include <memory>

// Why an entry's data cannot be read: the status that extractError()
// carries (a zlib status such as -3 passes unchanged) and the reason.
struct ZipError {
    // The statuses as extractError() numbers them.
    enum : int {
        ErrNo = -1,
        ParameterError = -102,
        BadZipFile = -103,
        InternalError = -104,
        CrcError = -105
    };
    int status = 0;
    QString text;
};

/*!
    The uncompressed data of one entry. open() checks the entry's local
    header and picks a decoder by the compression method: stored data are
    read here, deflated data inflated by ISA-L (zlib takes over a stream
    that ISA-L refuses, see openDeflated), other methods read through libzip
    on a one-entry view of that entry alone, so that libzip never reads the
    archive's directory.

    The entry's record in the central directory gives the sizes and the
    CRC, whatever the local header or a data descriptor say. At the end of
    the data the CRC is checked when as many bytes came as the record
    declares; a different count is left to the caller, which knows how to
    tell "shorter" from "longer". A stream is used by one thread at a time
    and reads the file with positioned reads only.
*/
class ZipEntryStream
{
public:
    virtual ~ZipEntryStream() = default;
    ZipEntryStream(const ZipEntryStream &) = delete;
    ZipEntryStream &operator=(const ZipEntryStream &) = delete;

    // `archiveStart` is where the archive begins in `file` (after a prefix).
    // Null, with the reason, when the entry cannot be read at all.
    static std::unique_ptr<ZipEntryStream> open(FILE *file, quint64 archiveStart, const ZipEntryRecord &record,
                                                quint64 localHeaderOffset, ZipError *error);

    // Up to `size` bytes; 0 at the end; -1 on failure, described by error().
    qint64 read(char *data, qint64 size);
    const ZipError &error() const { return m_error; }

protected:
    explicit ZipEntryStream(const ZipEntryRecord &record);
    // The decoder's own bytes: up to `size`, 0 at the end of the data, -1
    // after fail().
    virtual qint64 decode(char *data, qint64 size) = 0;
    qint64 fail(int status, const QString &text);

private:
    const quint32 m_expectedCrc;
    const quint64 m_expectedSize;
    quint32 m_crc = 0;
    quint64 m_delivered = 0;
    ZipError m_error;
};

// Reads `size` bytes at `offset` of `file`; false, with the reason, on an
// error of the system or where the file ends before them.
bool readEntryData(FILE *file, quint64 offset, char *data, qint64 size, ZipError *error);

// The decoder of deflated data, or null with the reason. `dataStart` is
// where the entry's compressed data begin in `file`.
std::unique_ptr<ZipEntryStream> openDeflated(FILE *file, quint64 dataStart, const ZipEntryRecord &record,
                                             ZipError *error);

// The decoder for methods other than stored and deflated, or null with the
// reason. `dataStart` is where the entry's compressed data begin in `file`.
std::unique_ptr<ZipEntryStream> openForeignMethod(FILE *file, quint64 dataStart, const ZipEntryRecord &record,
                                                  ZipError *error);
