#include "tags/tag_store.h"

#include "tags/name_prefix.h"

#include <algorithm>

void TagStore::Reserve(std::size_t entries, std::size_t textBytes)
{
    m_entries.reserve(m_entries.size() + entries);
    m_text.reserve(m_text.size() + textBytes);
}

std::size_t TagStore::Append(std::string_view bytes)
{
    const std::size_t offset = m_text.size();
    m_text.append(bytes);
    return offset;
}

std::string_view TagStore::AddFolded(std::string_view name, std::string_view value)
{
    Entry entry;
    entry.name = Append(name);
    entry.nameLength = name.size();
    std::transform(m_text.begin() + static_cast<std::ptrdiff_t>(entry.name), m_text.end(),
                   m_text.begin() + static_cast<std::ptrdiff_t>(entry.name), UpperAscii);
    entry.namePrefix = NamePrefix(NameOf(entry));
    entry.value = Append(value);
    entry.valueLength = value.size();
    m_entries.push_back(entry);
    return NameOf(m_entries.back());
}

void TagStore::Sort() noexcept
{
    // Entries were added in file order, so their value offsets grow: ordering
    // by them keeps a field's values in file order without a stable sort's
    // buffer. Files this handler saved are in order already.
    const auto less = [this](const Entry& a, const Entry& b) {
        const int order = Compare(a, NameOf(b), b.namePrefix);
        return order != 0 ? order < 0 : a.value < b.value;
    };
    if (!std::is_sorted(m_entries.begin(), m_entries.end(), less)) {
        std::sort(m_entries.begin(), m_entries.end(), less);
    }
}

int TagStore::Compare(const Entry& entry, std::string_view name, std::uint64_t prefix) const noexcept
{
    return CompareNames(NameOf(entry), entry.namePrefix, name, prefix);
}

std::pair<std::size_t, std::size_t> TagStore::RangeOf(std::string_view name) const noexcept
{
    const std::uint64_t prefix = NamePrefix(name);
    const auto first =
        std::lower_bound(m_entries.begin(), m_entries.end(), name,
                         [&](const Entry& entry, std::string_view key) { return Compare(entry, key, prefix) < 0; });
    auto last = first;
    while (last != m_entries.end() && Compare(*last, name, prefix) == 0) {
        ++last;
    }
    return {static_cast<std::size_t>(first - m_entries.begin()), static_cast<std::size_t>(last - m_entries.begin())};
}

std::span<const TagStore::Entry> TagStore::Field(std::string_view name) const noexcept
{
    const auto [first, last] = RangeOf(name);
    return std::span<const Entry>(m_entries).subspan(first, last - first);
}

void TagStore::Replace(std::string_view name, const std::vector<std::string>& values)
{
    std::vector<Entry> added;
    added.reserve(values.size());
    if (!values.empty()) {
        const std::size_t nameOffset = Append(name);
        const std::uint64_t prefix = NamePrefix(name);
        for (const std::string& value : values) {
            added.push_back({prefix, nameOffset, name.size(), Append(value), value.size()});
        }
    }
    // With the room made first, nothing below can fail half way.
    m_entries.reserve(m_entries.size() + added.size());
    const auto [first, last] = RangeOf(name);
    const auto at = m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(first),
                                    m_entries.begin() + static_cast<std::ptrdiff_t>(last));
    m_entries.insert(at, added.begin(), added.end());
}

void TagStore::Erase(std::string_view name) noexcept
{
    const auto [first, last] = RangeOf(name);
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(first),
                    m_entries.begin() + static_cast<std::ptrdiff_t>(last));
}

void TagStore::Clear() noexcept
{
    m_entries.clear();
    m_text.clear();
}

void TagStore::Swap(TagStore& other) noexcept
{
    m_text.swap(other.m_text);
    m_entries.swap(other.m_entries);
}
