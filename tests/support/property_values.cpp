#include "tests/support/property_values.h"

#include <cstdio>

std::wstring DescribeValue(const PROPVARIANT& value)
{
    switch (value.vt) {
    case VT_EMPTY:
        return L"empty";
    case VT_UI4:
        return L"u:" + std::to_wstring(value.ulVal);
    case VT_UI8:
        return L"u8:" + std::to_wstring(value.uhVal.QuadPart);
    case VT_BOOL:
        return value.boolVal == VARIANT_TRUE ? L"b:true" : value.boolVal == VARIANT_FALSE ? L"b:false" : L"b:other";
    case VT_LPWSTR:
        return value.pwszVal != nullptr ? L"s:" + std::wstring(value.pwszVal) : L"s:(null)";
    case VT_VECTOR | VT_LPWSTR: {
        std::wstring text = L"v:";
        for (ULONG i = 0; i < value.calpwstr.cElems; ++i) {
            text += (i == 0 ? L"" : L"|") + std::wstring(value.calpwstr.pElems[i]);
        }
        return text;
    }
    default:
        return L"vt:" + std::to_wstring(value.vt);
    }
}

std::wstring ValueOf(IPropertyStore* store, const PROPERTYKEY& key)
{
    PropVariant value;
    const HRESULT hr = store->GetValue(key, &value);
    if (FAILED(hr)) {
        wchar_t code[16];
        std::swprintf(code, 16, L"%08lX", static_cast<unsigned long>(hr));
        return L"failed:0x" + std::wstring(code);
    }
    return DescribeValue(*value);
}
