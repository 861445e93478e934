#pragma once

#include <QString>

#include <string>

/*!
    How entry names are read from an archive's bytes and compared once
    extracted.

    A name is read up to its first NUL byte. A name flagged as UTF-8 must be
    UTF-8; an unflagged one is ASCII when every byte is below 0x80, UTF-8
    when its bytes are valid UTF-8, and code page 437 (the DOS code page that
    old Windows tools write) otherwise, where only the bytes from 0x80 up
    differ from ASCII. Entries made on DOS and Windows hosts use the
    backslash as their separator; it becomes "/".
*/
namespace ZipNames {

// The host byte of "version made by" of the systems whose paths use "\".
bool usesBackslash(int host);

// Appends the name of `size` bytes, up to its first NUL, to `out` as
// UTF-8: the bytes themselves when they are UTF-8, else read as code page
// 437. False for a name flagged UTF-8 whose bytes are not: its invalid
// sequences become replacement characters.
bool appendName(const char *bytes, int size, bool flaggedUtf8, std::string &out);

// Appends valid UTF-8 to `out` as the text reads it: without a leading
// byte order mark, which QString::fromUtf8() drops.
void appendUtf8(const char *bytes, int size, std::string &out);

// How many bytes of an Info-ZIP Unicode path field's name count (those
// before the first NUL), or -1 when they are none or no valid UTF-8.
int unicodePathSize(const char *bytes, int size);

// Whether all `size` bytes are ASCII.
bool isAscii(const char *bytes, size_t size);

// The name as it lands below the output folder: empty and "." segments
// dropped, so that "a//x.txt", "./a/x.txt" and "a/./x.txt" are "a/x.txt".
// A trailing "/" is kept.
QString cleaned(const QString &name);

// Whether an entry of this name, extracted below a folder, could land
// outside it: absolute names, drive letters where the platform has them,
// and ".." segments with either separator. New entries are held to the
// same rule.
bool leavesFolder(const QString &name);

} // namespace ZipNames
