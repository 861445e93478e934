#include "ZipNames.h"

#include "FileLayer.h"

#include <QDir>

#include <cstring>

namespace {

// Code page 437 from 0x80 to 0xff.
const char16_t Cp437High[128] = {
    0x00c7, 0x00fc, 0x00e9, 0x00e2, 0x00e4, 0x00e0, 0x00e5, 0x00e7, // 80
    0x00ea, 0x00eb, 0x00e8, 0x00ef, 0x00ee, 0x00ec, 0x00c4, 0x00c5, // 88
    0x00c9, 0x00e6, 0x00c6, 0x00f4, 0x00f6, 0x00f2, 0x00fb, 0x00f9, // 90
    0x00ff, 0x00d6, 0x00dc, 0x00a2, 0x00a3, 0x00a5, 0x20a7, 0x0192, // 98
    0x00e1, 0x00ed, 0x00f3, 0x00fa, 0x00f1, 0x00d1, 0x00aa, 0x00ba, // a0
    0x00bf, 0x2310, 0x00ac, 0x00bd, 0x00bc, 0x00a1, 0x00ab, 0x00bb, // a8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, // b0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255d, 0x255c, 0x255b, 0x2510, // b8
    0x2514, 0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x255e, 0x255f, // c0
    0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256c, 0x2567, // c8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256b, // d0
    0x256a, 0x2518, 0x250c, 0x2588, 0x2584, 0x258c, 0x2590, 0x2580, // d8
    0x03b1, 0x00df, 0x0393, 0x03c0, 0x03a3, 0x03c3, 0x00b5, 0x03c4, // e0
    0x03a6, 0x0398, 0x03a9, 0x03b4, 0x221e, 0x03c6, 0x03b5, 0x2229, // e8
    0x2261, 0x00b1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00f7, 0x2248, // f0
    0x00b0, 0x2219, 0x00b7, 0x221a, 0x207f, 0x00b2, 0x25a0, 0x00a0, // f8
};

// Whether the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF.
bool isUtf8(const unsigned char *p, int size)
{
    for (int i = 0; i < size;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        unsigned low = 0x80;
        unsigned high = 0xbf;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            if (c == 0xe0)
                low = 0xa0;
            else if (c == 0xed)
                high = 0x9f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            if (c == 0xf0)
                low = 0x90;
            else if (c == 0xf4)
                high = 0x8f;
        } else {
            return false;
        }
        if (size - i < length || p[i + 1] < low || p[i + 1] > high)
            return false;
        for (int k = 2; k < length; ++k) {
            if ((p[i + k] & 0xc0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

void appendCp437(const unsigned char *p, int size, std::string &out)
{
    QString text(size, Qt::Uninitialized);
    QChar *chars = text.data();
    for (int i = 0; i < size; ++i)
        chars[i] = p[i] < 0x80 ? QChar(p[i]) : QChar(Cp437High[p[i] - 0x80]);
    const QByteArray utf8 = text.toUtf8();
    out.append(utf8.constData(), size_t(utf8.size()));
}

int untilNul(const char *bytes, int size)
{
    const void *nul = std::memchr(bytes, 0, size_t(size));
    return nul ? int(static_cast<const char *>(nul) - bytes) : size;
}

} // namespace

namespace ZipNames {

bool usesBackslash(int host)
{
    // MS-DOS and OS/2 FAT, OS/2 HPFS, Windows NTFS, VFAT.
    return host == 0 || host == 6 || host == 10 || host == 14;
}

bool isAscii(const char *bytes, size_t size)
{
    // Eight bytes at a time: names are mostly ASCII.
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, bytes + i, 8);
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; i < size; ++i) {
        if (static_cast<unsigned char>(bytes[i]) >= 0x80)
            return false;
    }
    return true;
}

void appendUtf8(const char *bytes, int size, std::string &out)
{
    if (size >= 3 && std::memcmp(bytes, "\xef\xbb\xbf", 3) == 0) {
        bytes += 3;
        size -= 3;
    }
    out.append(bytes, size_t(size));
}

bool appendName(const char *bytes, int size, bool flaggedUtf8, std::string &out)
{
    size = untilNul(bytes, size);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes);
    if (isAscii(bytes, size_t(size))) {
        out.append(bytes, size_t(size));
        return true;
    }
    if (isUtf8(p, size)) {
        appendUtf8(bytes, size, out);
        return true;
    }
    if (!flaggedUtf8) {
        appendCp437(p, size, out);
        return true;
    }
    // The text a reader shows for it, so that looking it up finds it.
    const QByteArray shown = QString::fromUtf8(bytes, size).toUtf8();
    out.append(shown.constData(), size_t(shown.size()));
    return false;
}

int unicodePathSize(const char *bytes, int size)
{
    size = untilNul(bytes, size);
    if (size == 0 || !isUtf8(reinterpret_cast<const unsigned char *>(bytes), size))
        return -1;
    return size;
}

QString cleaned(const QString &name)
{
    QString result;
    result.reserve(name.size());
    for (int start = 0; start <= name.size();) {
        int end = name.indexOf(QLatin1Char('/'), start);
        if (end < 0)
            end = name.size();
        const QStringView segment = QStringView(name).mid(start, end - start);
        if (!segment.isEmpty() && segment != QLatin1String(".")) {
            if (!result.isEmpty())
                result.append(QLatin1Char('/'));
            result.append(segment);
        }
        start = end + 1;
    }
    if (name.endsWith(QLatin1Char('/')) && !result.isEmpty())
        result.append(QLatin1Char('/'));
    return result;
}

bool leavesFolder(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')))
        return true;
    if (Extras::FileLayer::namesADrive(name))
        return true;
    // Qt takes a name beginning with ":" for a resource path: joining it to
    // a folder gives the name itself, and creating its folders would do so
    // relative to the working directory.
    if (QDir::isAbsolutePath(name))
        return true;
    // Both separators count: archives made on Windows may use backslashes.
    int start = 0;
    for (int i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name.at(i) == QLatin1Char('/') || name.at(i) == QLatin1Char('\\')) {
            if (QStringView(name).mid(start, i - start) == QLatin1String(".."))
                return true;
            start = i + 1;
        }
    }
    return false;
}

} // namespace ZipNames
