#pragma once

#include "ZipDirectory.h"

#include <QString>

#include <string>
#include <vector>

/*!
    Finds an entry of a directory by its name, exactly or ignoring case
    (Unicode case folding), in constant time. The first entry of a name
    wins, as a walk in archive order would find it.

    Built once over all names: an open-addressing table, at most half full,
    of entry numbers with the hash of their key (8 bytes a slot), keyed by
    the name's UTF-8 bytes, case-folded for the second kind. Equal texts
    have equal UTF-8 bytes, so names are compared as bytes, without
    decoding them, and only where the hashes agree. The hashes are keyed
    with a secret of the process, so that an archive cannot be made to put
    its names on one chain; the entries go into the table in the order of
    their slots, so that building it does not jump about in memory.
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
    struct Slot {
        quint32 entry; // entry number + 1; 0 is a free slot
        quint32 hash;
    };

    // The entry's key: its name's bytes in place for an exact index, else
    // folded into `scratch`.
    ZipDirectory::NameBytes key(const ZipDirectory &directory, size_t index, std::string &scratch) const;
    bool sameKey(const ZipDirectory &directory, size_t index, const ZipDirectory::NameBytes &wanted,
                 std::string &scratch) const;
    quint32 hashOf(const ZipDirectory::NameBytes &key) const;
    size_t home(quint32 hash) const { return size_t(hash) >> m_shift; }

    const Kind m_kind;
    bool m_built = false;
    std::vector<Slot> m_slots; // a power of two of them
    int m_shift = 32;
    quint64 m_secret = 0;
};
