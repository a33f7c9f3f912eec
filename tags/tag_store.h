// The handler's copy of a file's Vorbis comments: for each upper-case field
// name, its values as the file holds them (UTF-8), in file order. Names and
// values share one buffer and the entries one array sorted by name, so the
// tags of a file are read with two allocations however many comments it has,
// and a value is converted for the property system only when asked for.
// Names sort as unsigned bytes with the shorter name first on a common prefix,
// which is the order the comments are written back in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Upper case as toupper gives it in the "C" locale: only a to z change. (The
// runtime's toupper looks up the thread's locale for every byte.)
constexpr char UpperAscii(char c) noexcept
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

class TagStore {
public:
    // One value of one field, as offsets into the store's text.
    struct Entry {
        std::uint64_t namePrefix = 0; // NamePrefix of the name
        std::size_t name = 0;
        std::size_t nameLength = 0;
        std::size_t value = 0;
        std::size_t valueLength = 0;
    };

    // Filling the store from a file's comments, in file order: room for the
    // comments, each added with its name upper-cased, then the entries
    // sorted once.
    void Reserve(std::size_t entries, std::size_t textBytes);
    // Returns the stored (upper-cased) name, valid until the next change.
    std::string_view AddFolded(std::string_view name, std::string_view value);
    void Sort() noexcept;

    // Every entry, in name order and file order within a name.
    std::span<const Entry> All() const noexcept { return m_entries; }
    // The entries of one field (upper-case name), in file order.
    std::span<const Entry> Field(std::string_view name) const noexcept;
    std::string_view NameOf(const Entry& entry) const noexcept
    {
        return {m_text.data() + entry.name, entry.nameLength};
    }
    std::string_view ValueOf(const Entry& entry) const noexcept
    {
        return {m_text.data() + entry.value, entry.valueLength};
    }

    // Edits: `values` (UTF-8) replace the field's values; Erase removes the
    // field. A field with no values is not stored.
    void Replace(std::string_view name, const std::vector<std::string>& values);
    void Erase(std::string_view name) noexcept;

    bool Empty() const noexcept { return m_entries.empty(); }
    void Clear() noexcept;
    void Swap(TagStore& other) noexcept;

private:
    std::pair<std::size_t, std::size_t> RangeOf(std::string_view name) const noexcept;
    int Compare(const Entry& entry, std::string_view name, std::uint64_t prefix) const noexcept;
    std::size_t Append(std::string_view bytes);

    std::string m_text;
    std::vector<Entry> m_entries;
};
