#pragma once

#include <QString>

namespace Extras {

/*!
    A file opened read-only through the system's own calls, for readers that
    take a few leading bytes of many files and cannot afford Qt's file
    engine on each. Native paths only: resource paths need QFile. Each
    platform has one implementation file, chosen by the build.
*/
class ReadFile
{
public:
    explicit ReadFile(const QString &path);
    ~ReadFile();

    // False when the file could not be opened, and once a read found a
    // folder there, which QFile refuses to open.
    bool isOpen() const;
    // Bytes read into `data`, 0 at the end, -1 on failure.
    qint64 read(char *data, qint64 size);
    // Moves `count` bytes forward; a position past the end reads nothing.
    bool skip(qint64 count);

private:
    Q_DISABLE_COPY(ReadFile)
    int m_handle = -1;
};

} // namespace Extras
