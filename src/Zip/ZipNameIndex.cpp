#include "ZipNameIndex.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cstring>

namespace {

constexpr quint64 Odd1 = 0xa0761d6478bd642full;
constexpr quint64 Odd2 = 0xe7037ed1a0b428dbull;

// The high and low halves of the full product, folded: every input bit
// reaches every output bit.
quint64 mix(quint64 a, quint64 b)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return quint64(product) ^ quint64(product >> 64);
}

quint64 word(const char *p)
{
    quint64 value;
    std::memcpy(&value, p, 8);
    return value;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Sorts by hash, keeping the order of equal ones: two passes of 16 bits.
template<typename Item>
void sortByHash(std::vector<Item> &items)
{
    std::vector<Item> other(items.size());
    for (int shift : {0, 16}) {
        std::vector<size_t> start(65537, 0);
        for (const Item &item : items)
            ++start[((item.hash >> shift) & 0xffff) + 1];
        for (size_t k = 1; k < start.size(); ++k)
            start[k] += start[k - 1];
        for (const Item &item : items)
            other[start[(item.hash >> shift) & 0xffff]++] = item;
        items.swap(other);
    }
}

} // namespace

quint32 ZipNameIndex::hashOf(const ZipDirectory::NameBytes &key) const
{
    quint64 state = m_secret;
    size_t at = 0;
    for (; at + 16 <= key.size; at += 16)
        state = mix(word(key.data + at) ^ Odd1, word(key.data + at + 8) ^ state);
    char tail[16] = {};
    std::memcpy(tail, key.data + at, key.size - at);
    state = mix(word(tail) ^ Odd1, word(tail + 8) ^ state);
    return quint32(mix(state ^ Odd2, quint64(key.size) ^ Odd1) >> 32);
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
    size_t slotCount = 16;
    m_shift = 28;
    for (; slotCount < 2 * count; slotCount *= 2)
        --m_shift;
    m_secret = QRandomGenerator::system()->generate64();

    std::vector<Slot> items(count);
    std::string scratch;
    for (size_t index = 0; index < count; ++index)
        items[index] = {quint32(index + 1), hashOf(key(directory, index, scratch))};
    sortByHash(items);

    m_slots.assign(slotCount, Slot{0, 0});
    std::string other;
    for (const Slot &item : items) {
        bool keyKnown = false;
        ZipDirectory::NameBytes wanted{nullptr, 0, false};
        for (size_t slot = home(item.hash);; slot = (slot + 1) & (slotCount - 1)) {
            Slot &at = m_slots[slot];
            if (at.entry == 0) {
                at = item;
                break;
            }
            if (at.hash != item.hash)
                continue;
            if (!keyKnown) {
                wanted = key(directory, item.entry - 1, scratch);
                keyKnown = true;
            }
            // Equal hashes come in the order of the entries: a later entry
            // of the same name is never found.
            if (sameKey(directory, at.entry - 1, wanted, other))
                break;
        }
    }
    m_built = true;
}

long long ZipNameIndex::find(const ZipDirectory &directory, const QString &name) const
{
    // Names read from an archive are whole UTF-16; a text with a lone
    // surrogate names none of them.
    if (m_slots.empty() || !QStringView(name).isValidUtf16())
        return -1;
    const QByteArray wantedBytes = (m_kind == Kind::Exact ? name : name.toCaseFolded()).toUtf8();
    const ZipDirectory::NameBytes wanted{wantedBytes.constData(), size_t(wantedBytes.size()), false};
    const quint32 hash = hashOf(wanted);
    std::string scratch;
    for (size_t slot = home(hash); m_slots[slot].entry != 0; slot = (slot + 1) & (m_slots.size() - 1)) {
        const Slot &at = m_slots[slot];
        if (at.hash == hash && sameKey(directory, at.entry - 1, wanted, scratch))
            return at.entry - 1;
    }
    return -1;
}
