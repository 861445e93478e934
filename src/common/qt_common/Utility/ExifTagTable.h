#pragma once

#include "QExifValue.h"

#include <QList>

#include <algorithm>
#include <utility>
#include <vector>

namespace Extras {

/*!
    An ordered map from tag number to value, kept as one sorted vector.
    Directories list their entries in ascending order almost always, so
    reading appends; one allocation per table instead of one per entry.
*/
template<typename Tag>
class ExifTagTable
{
public:
    struct Item
    {
        Tag tag;
        QExifValue value;
    };
    typedef typename std::vector<Item>::const_iterator const_iterator;

    void reserve(int size) { m_items.reserve(size_t(size)); }
    void clear() { m_items.clear(); }
    bool isEmpty() const { return m_items.empty(); }
    int size() const { return int(m_items.size()); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }

    // Inserts or replaces.
    template<typename Value>
    void insert(Tag tag, Value &&value)
    {
        if (m_items.empty() || m_items.back().tag < tag) {
            m_items.push_back(Item{tag, std::forward<Value>(value)});
            return;
        }
        auto it = lowerBound(tag);
        if (it != m_items.end() && it->tag == tag)
            it->value = std::forward<Value>(value);
        else
            m_items.insert(it, Item{tag, std::forward<Value>(value)});
    }

    void remove(Tag tag)
    {
        auto it = lowerBound(tag);
        if (it != m_items.end() && it->tag == tag)
            m_items.erase(it);
    }

    bool contains(Tag tag) const
    {
        auto it = lowerBound(tag);
        return it != m_items.end() && it->tag == tag;
    }

    // The tag's value, or a null value when absent.
    QExifValue value(Tag tag) const
    {
        auto it = lowerBound(tag);
        return it != m_items.end() && it->tag == tag ? it->value : QExifValue();
    }

    QList<Tag> keys() const
    {
        QList<Tag> tags;
        tags.reserve(size());
        for (const Item &item : m_items)
            tags.append(item.tag);
        return tags;
    }

private:
    typename std::vector<Item>::iterator lowerBound(Tag tag)
    {
        return std::lower_bound(m_items.begin(), m_items.end(), tag,
                                [](const Item &item, Tag t) { return item.tag < t; });
    }
    const_iterator lowerBound(Tag tag) const
    {
        return std::lower_bound(m_items.begin(), m_items.end(), tag,
                                [](const Item &item, Tag t) { return item.tag < t; });
    }

    std::vector<Item> m_items;
};

} // namespace Extras
