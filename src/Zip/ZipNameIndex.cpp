#include "ZipNameIndex.h"

#include <QByteArray>
#include <QHash>

#include <cstring>

namespace {

size_t processSeed()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 2, 0)
    return size_t(QHashSeed::globalSeed());
#else
    return size_t(qGlobalQHashSeed());
#endif
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

size_t ZipNameIndex::slotOf(const char *data, size_t size) const
{
    // Seeded per process, as QHash is, so that an archive cannot be made to
    // put all its names on one chain.
    return size_t(qHashBits(data, size, decltype(qHashBits(data, size))(m_seed))) & m_mask;
}

ZipDirectory::NameBytes ZipNameIndex::key(const ZipDirectory &directory, size_t index, std::string &scratch) const
{
    const ZipDirectory::NameBytes bytes = directory.nameBytes(index);
    if (m_kind == Kind::Exact)
        return bytes;
    // Case folding of ASCII text is its lower case.
    if (bytes.ascii) {
        scratch.resize(bytes.size);
        for (size_t i = 0; i < bytes.size; ++i)
            scratch[i] = asciiLower(bytes.data[i]);
    } else {
        const QByteArray folded = QString::fromUtf8(bytes.data, int(bytes.size)).toCaseFolded().toUtf8();
        scratch.assign(folded.constData(), size_t(folded.size()));
    }
    return {scratch.data(), scratch.size(), false};
}

bool ZipNameIndex::sameKey(const ZipDirectory &directory, size_t index, const ZipDirectory::NameBytes &wanted,
                           std::string &scratch) const
{
    const ZipDirectory::NameBytes bytes = directory.nameBytes(index);
    if (m_kind == Kind::IgnoringCase && bytes.ascii) {
        // Compared as it is folded, without a copy.
        if (bytes.size != wanted.size)
            return false;
        for (size_t i = 0; i < bytes.size; ++i) {
            if (asciiLower(bytes.data[i]) != wanted.data[i])
                return false;
        }
        return true;
    }
    const ZipDirectory::NameBytes candidate = key(directory, index, scratch);
    return candidate.size == wanted.size && std::memcmp(candidate.data, wanted.data, wanted.size) == 0;
}

void ZipNameIndex::build(const ZipDirectory &directory)
{
    const size_t count = directory.size();
    size_t slots = 16;
    while (slots < 2 * count)
        slots *= 2;
    m_slots.assign(slots, 0);
    m_mask = slots - 1;
    m_seed = processSeed();
    std::string scratch;
    std::string other;
    for (size_t index = 0; index < count; ++index) {
        const ZipDirectory::NameBytes wanted = key(directory, index, scratch);
        for (size_t slot = slotOf(wanted.data, wanted.size);; slot = (slot + 1) & m_mask) {
            if (m_slots[slot] == 0) {
                m_slots[slot] = quint32(index + 1);
                break;
            }
            // A later entry of the same name is never found.
            if (sameKey(directory, m_slots[slot] - 1, wanted, other))
                break;
        }
    }
    m_built = true;
}

long long ZipNameIndex::find(const ZipDirectory &directory, const QString &name) const
{
    // Names read from an archive are whole UTF-16; a text with a lone
    // surrogate names none of them.
    if (!QStringView(name).isValidUtf16())
        return -1;
    const QByteArray wantedBytes = (m_kind == Kind::Exact ? name : name.toCaseFolded()).toUtf8();
    const ZipDirectory::NameBytes wanted{wantedBytes.constData(), size_t(wantedBytes.size()), false};
    std::string scratch;
    if (m_slots.empty())
        return -1;
    for (size_t slot = slotOf(wanted.data, wanted.size); m_slots[slot] != 0; slot = (slot + 1) & m_mask) {
        if (sameKey(directory, m_slots[slot] - 1, wanted, scratch))
            return m_slots[slot] - 1;
    }
    return -1;
}
