#pragma once

#include "ZipDirectory.h"

#include <QString>

#include <string>
#include <vector>

/*!
    Finds an entry of a directory by its name, exactly or ignoring case
    (Unicode case folding), in constant time. The first entry of a name
    wins, as a walk in archive order would find it.

    Built once over all names: an open-addressing table of entry numbers,
    at most half full, four bytes a slot, keyed by the name's UTF-8 bytes
    (case-folded for the second kind). Equal texts have equal UTF-8 bytes,
    so names are compared as bytes, without decoding them.
*/
class ZipNameIndex
{
public:
    enum class Kind { Exact, IgnoringCase };

    explicit ZipNameIndex(Kind kind)
        : m_kind(kind)
    {
    }

    bool isBuilt() const { return m_built; }
    void build(const ZipDirectory &directory);
    // The first entry of that name, or -1.
    long long find(const ZipDirectory &directory, const QString &name) const;

private:
    // The entry's key in `scratch`, or in place for an exact index.
    ZipDirectory::NameBytes key(const ZipDirectory &directory, size_t index, std::string &scratch) const;
    bool sameKey(const ZipDirectory &directory, size_t index, const ZipDirectory::NameBytes &wanted,
                 std::string &scratch) const;
    size_t slotOf(const char *data, size_t size) const;

    const Kind m_kind;
    bool m_built = false;
    // Entry number + 1; 0 is a free slot. The size is a power of two.
    std::vector<quint32> m_slots;
    size_t m_mask = 0;
    size_t m_seed = 0;
};
