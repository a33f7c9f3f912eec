#include "platform/platform.h"

#include <cwchar>

HRESULT InitPropVariantFromStringVector(PCWSTR* strings, ULONG count, PROPVARIANT* value) noexcept
{
    if (value == nullptr || (strings == nullptr && count != 0)) {
        return E_INVALIDARG;
    }
    PropVariantInit(value);
    auto* elements = static_cast<LPWSTR*>(CoTaskMemAlloc(sizeof(LPWSTR) * (count == 0 ? 1 : count)));
    if (elements == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (ULONG i = 0; i < count; ++i) {
        const HRESULT hr = SHStrDupW(strings[i] != nullptr ? strings[i] : L"", &elements[i]);
        if (FAILED(hr)) {
            for (ULONG j = 0; j < i; ++j) {
                CoTaskMemFree(elements[j]);
            }
            CoTaskMemFree(elements);
            return hr;
        }
    }
    value->vt = VT_VECTOR | VT_LPWSTR;
    value->calpwstr.cElems = count;
    value->calpwstr.pElems = elements;
    return S_OK;
}
