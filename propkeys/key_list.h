// The keys a file offers: sorted in key order, each at most once.
#pragma once

#include "propkeys/key_order.h"

#include <cstddef>
#include <utility>
#include <vector>

class KeyList {
public:
    // Finds or inserts the key; returns its position and whether it was new.
    std::pair<std::size_t, bool> AddKey(const PROPERTYKEY& key);

    void Reserve(std::size_t count) { m_keys.reserve(count); }
    std::size_t Count() const noexcept { return m_keys.size(); }
    const PROPERTYKEY& At(std::size_t index) const noexcept { return m_keys[index]; }
    void Swap(KeyList& other) noexcept { m_keys.swap(other.m_keys); }

private:
    std::vector<PROPERTYKEY> m_keys;
};
