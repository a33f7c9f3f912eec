#include "propkeys/key_list.h"

#include <algorithm>

std::pair<std::size_t, bool> KeyList::AddKey(const PROPERTYKEY& key)
{
    const auto first = std::lower_bound(m_keys.begin(), m_keys.end(), key, KeyLess{});
    const auto position = static_cast<std::size_t>(first - m_keys.begin());
    if (first != m_keys.end() && KeysEqual(*first, key)) {
        return {position, false};
    }
    m_keys.insert(first, key);
    return {position, true};
}
