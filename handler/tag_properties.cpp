// The handler's tag properties. A getter reads the tag store in one of three
// ways: the first value as text, all values as a text vector, or the first
// value as a number; only the values it returns are converted to UTF-16,
// straight into the memory the PROPVARIANT hands over. The setter turns a
// property value into a list of texts stored under the property's first field
// name; the other names of the property are removed, and all of them when the
// value gives no text.
#include "com/atl_exception.h"
#include "handler/property_handler.h"
#include "tags/parse_uint32.h"
#include "tags/utf8.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string_view>

namespace {

// Calls `visit` with each non-empty value of `names`, earlier names first,
// until it returns false.
template <class Visit> void VisitTagValues(const TagStore& tags, FieldNameList names, Visit&& visit)
{
    for (const char* name : names) {
        for (const TagStore::Entry& entry : tags.Field(name)) {
            const std::string_view text = tags.ValueOf(entry);
            if (!text.empty() && !visit(text)) {
                return;
            }
        }
    }
}

} // namespace

std::string_view CPropertyHandler::FirstTagValue(FieldNameList names) const noexcept
{
    std::string_view first;
    VisitTagValues(m_tags, names, [&](std::string_view text) {
        first = text;
        return false;
    });
    return first;
}

HRESULT CPropertyHandler::GetTagString(FieldNameList names, PROPVARIANT* value) noexcept
{
    PropVariantInit(value);
    const std::string_view first = FirstTagValue(names);
    if (first.empty()) {
        return S_OK;
    }
    PWSTR text = nullptr;
    const HRESULT hr = Utf8ToTaskString(first, &text);
    if (SUCCEEDED(hr)) {
        value->vt = VT_LPWSTR;
        value->pwszVal = text;
    }
    return hr;
}

HRESULT CPropertyHandler::GetTagStringVector(FieldNameList names, PROPVARIANT* value) noexcept
{
    PropVariantInit(value);
    std::size_t count = 0;
    VisitTagValues(m_tags, names, [&](std::string_view) {
        ++count;
        return true;
    });
    if (count == 0) {
        return S_OK;
    }
    if (count > 0xFFFFFFFFU / sizeof(PWSTR)) {
        return E_OUTOFMEMORY;
    }
    auto* elements = static_cast<PWSTR*>(CoTaskMemAlloc(count * sizeof(PWSTR)));
    if (elements == nullptr) {
        return E_OUTOFMEMORY;
    }
    // The vector holds the elements converted so far, so that clearing it
    // frees them if one fails.
    value->vt = VT_VECTOR | VT_LPWSTR;
    value->calpwstr.pElems = elements;
    HRESULT hr = S_OK;
    VisitTagValues(m_tags, names, [&](std::string_view text) {
        hr = Utf8ToTaskString(text, &elements[value->calpwstr.cElems]);
        if (FAILED(hr)) {
            return false;
        }
        ++value->calpwstr.cElems;
        return true;
    });
    if (FAILED(hr)) {
        PropVariantClear(value);
    }
    return hr;
}

HRESULT CPropertyHandler::GetTagUInt32(FieldNameList names, PROPVARIANT* value) noexcept
{
    PropVariantInit(value);
    const std::string_view first = FirstTagValue(names);
    if (first.empty()) {
        return S_OK;
    }
    // A short ASCII text is widened in place; any other is converted, so that
    // white space outside ASCII reads as it did in UTF-16.
    ULONG number = 0;
    bool parsed = false;
    wchar_t ascii[32];
    if (first.size() < std::size(ascii) &&
        std::all_of(first.begin(), first.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        *std::copy(first.begin(), first.end(), ascii) = L'\0';
        parsed = ParseUInt32(ascii, number);
    } else {
        const HRESULT hr = GuardHResult([&]() -> HRESULT {
            parsed = ParseUInt32(Utf8ToWide(first.data(), first.size()).c_str(), number);
            return S_OK;
        });
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (parsed) {
        value->vt = VT_UI4;
        value->ulVal = number;
    }
    return S_OK;
}

namespace {

// A text of the value in UTF-8, or an empty text where the value holds a null
// pointer.
std::string TextOrEmpty(PCWSTR text)
{
    return text != nullptr ? WideToUtf8(text) : std::string();
}

// The texts a value gives: one for a number or a text, one per element for a
// text vector, none for any other type.
std::vector<std::string> TextsOf(const PROPVARIANT& value)
{
    std::vector<std::string> texts;
    switch (value.vt) {
    case VT_UI4: {
        char digits[12] = {};
        _ultoa_s(value.ulVal, digits, 12, 10);
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
        const std::vector<std::string> texts = TextsOf(value);
        m_editedFields.insert(names.begin(), names.end());
        m_changed = true;
        FieldNameList removed = names;
        if (!texts.empty()) {
            m_tags.Replace(names.front(), texts);
            removed = names.subspan(1);
        }
        for (const char* name : removed) {
            m_tags.Erase(name);
        }
        return S_OK;
    });
}
