// The three ways a tag property is read from the tag map: the first value as
// text, all values as a text vector, or the first value as a number. Values
// are collected as references into the map; only the result is copied.
#include "com/atl_exception.h"
#include "handler/property_handler.h"
#include "tags/parse_uint32.h"

void CPropertyHandler::CollectTagValues(const char* name, TagValueRefs& list) const
{
    const auto entry = m_tags.find(name);
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

HRESULT CPropertyHandler::GetTagString(FieldNameList names, PROPVARIANT* value) noexcept
{
    return GuardHResult([&]() -> HRESULT {
        const TagValueRefs values = GatherTagValues(names);
        if (values.empty()) {
            PropVariantInit(value);
            return S_OK;
        }
        value->vt = VT_LPWSTR;
        const HRESULT hr = SHStrDupW(values.front(), &value->pwszVal);
        if (FAILED(hr)) {
            PropVariantInit(value);
        }
        return hr;
    });
}

HRESULT CPropertyHandler::GetTagStringVector(FieldNameList names, PROPVARIANT* value) noexcept
{
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
    return GuardHResult([&]() -> HRESULT {
        const TagValueRefs values = GatherTagValues(names);
        ULONG number = 0;
        if (values.empty() || !ParseUInt32(values.front(), number)) {
            PropVariantInit(value);
            return S_OK;
        }
        value->vt = VT_UI4;
        value->ulVal = number;
        return S_OK;
    });
}
