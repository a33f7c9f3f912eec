// The handler's tag properties. A getter reads the tag map in one of three
// ways: the first value as text, all values as a text vector, or the first
// value as a number; values are collected as references into the map and only
// the result is copied. The setter turns a property value into a list of
// texts stored under the property's first field name; the other names of the
// property are removed, and all of them when the value gives no text.
#include "com/atl_exception.h"
#include "handler/property_handler.h"
#include "tags/parse_uint32.h"

#include <array>
#include <cstdlib>
#include <string_view>

void CPropertyHandler::CollectTagValues(const char* name, TagValueRefs& list) const
{
    const auto entry = m_tags.find(std::string_view(name));
    if (entry == m_tags.end()) {
        return;
    }
    list.reserve(list.size() + entry->second.size());
    for (const std::wstring& value : entry->second) {
        if (!value.empty()) {
            list.push_back(value.c_str());
        }
    }
}

CPropertyHandler::TagValueRefs CPropertyHandler::GatherTagValues(FieldNameList names) const
{
    TagValueRefs list;
    for (const char* name : names) {
        CollectTagValues(name, list);
    }
    return list;
}

namespace {

// Calls `visit` with each non-empty value of `names`, earlier names first,
// until it returns false.
template <class Visit> void VisitTagValues(const TagMap& tags, FieldNameList names, Visit&& visit)
{
    for (const char* name : names) {
        const auto entry = tags.find(std::string_view(name));
        if (entry == tags.end()) {
            continue;
        }
        for (const std::wstring& text : entry->second) {
            if (!text.empty() && !visit(text.c_str())) {
                return;
            }
        }
    }
}

// Vectors of up to this many values are gathered without a heap allocation.
constexpr std::size_t kInlineValues = 16;

} // namespace

PCWSTR CPropertyHandler::FirstTagValue(FieldNameList names) const noexcept
{
    PCWSTR first = nullptr;
    VisitTagValues(m_tags, names, [&](PCWSTR text) {
        first = text;
        return false;
    });
    return first;
}

HRESULT CPropertyHandler::GetTagString(FieldNameList names, PROPVARIANT* value) noexcept
{
    const PCWSTR first = FirstTagValue(names);
    if (first == nullptr) {
        PropVariantInit(value);
        return S_OK;
    }
    value->vt = VT_LPWSTR;
    const HRESULT hr = SHStrDupW(first, &value->pwszVal);
    if (FAILED(hr)) {
        PropVariantInit(value);
    }
    return hr;
}

HRESULT CPropertyHandler::GetTagStringVector(FieldNameList names, PROPVARIANT* value) noexcept
{
    std::array<PCWSTR, kInlineValues> inlineValues{};
    std::size_t count = 0;
    VisitTagValues(m_tags, names, [&](PCWSTR text) {
        if (count < inlineValues.size()) {
            inlineValues[count] = text;
        }
        ++count;
        return true;
    });
    if (count == 0) {
        PropVariantInit(value);
        return S_OK;
    }
    if (count <= inlineValues.size()) {
        return InitPropVariantFromStringVector(inlineValues.data(), static_cast<ULONG>(count), value);
    }
    return GuardHResult([&]() -> HRESULT {
        TagValueRefs values = GatherTagValues(names);
        if (values.empty()) {
            PropVariantInit(value);
            return S_OK;
        }
        return InitPropVariantFromStringVector(values.data(), static_cast<ULONG>(values.size()), value);
    });
}

HRESULT CPropertyHandler::GetTagUInt32(FieldNameList names, PROPVARIANT* value) noexcept
{
    const PCWSTR first = FirstTagValue(names);
    ULONG number = 0;
    if (first == nullptr || !ParseUInt32(first, number)) {
        PropVariantInit(value);
        return S_OK;
    }
    value->vt = VT_UI4;
    value->ulVal = number;
    return S_OK;
}

namespace {

// A text of the value, or an empty text where the value holds a null pointer.
std::wstring TextOrEmpty(PCWSTR text)
{
    return text != nullptr ? std::wstring(text) : std::wstring();
}

// The texts a value gives: one for a number or a text, one per element for a
// text vector, none for any other type.
TagValues TextsOf(const PROPVARIANT& value)
{
    TagValues texts;
    switch (value.vt) {
    case VT_UI4: {
        wchar_t digits[12] = {};
        _ultow_s(value.ulVal, digits, 12, 10);
        texts.emplace_back(digits);
        break;
    }
    case VT_LPWSTR:
        texts.push_back(TextOrEmpty(value.pwszVal));
        break;
    case VT_VECTOR | VT_LPWSTR:
        if (value.calpwstr.cElems != 0 && value.calpwstr.pElems == nullptr) {
            AtlThrow(E_INVALIDARG);
        }
        texts.reserve(value.calpwstr.cElems);
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i) {
            texts.push_back(TextOrEmpty(value.calpwstr.pElems[i]));
        }
        break;
    default:
        break;
    }
    return texts;
}

} // namespace

HRESULT CPropertyHandler::SetTagValues(FieldNameList names, const PROPVARIANT& value) noexcept
{
    return GuardHResult([&]() -> HRESULT {
        TagValues texts = TextsOf(value);
        m_editedFields.insert(names.begin(), names.end());
        m_changed = true;
        FieldNameList removed = names;
        if (!texts.empty()) {
            m_tags[names.front()].swap(texts);
            removed = names.subspan(1);
        }
        for (const char* name : removed) {
            m_tags.erase(name);
        }
        return S_OK;
    });
}
