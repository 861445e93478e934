#pragma once

#include "FileLayer.h"

#include <QString>

#include <cstdio>

// The file services the ZIP classes use, all of them the file layer's:
// opening the archive file (a regular file only, never waited on), reading
// it at an offset, and the identity that keeps extraction off the archive.
namespace ZipPlatform {

using FileIdentity = Extras::FileLayer::FileId;
using Extras::FileLayer::readAt;

// Opens an existing regular file for reading. Gives null and a reason for
// anything else (a folder, a pipe, a device, a missing or unreadable file).
inline FILE *openArchive(const QString &path, FileIdentity *identity, quint64 *size, QString *reason)
{
    return Extras::FileLayer::openStream(path, identity, size, reason);
}

} // namespace ZipPlatform
