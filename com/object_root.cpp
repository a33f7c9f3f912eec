#include "com/object_root.h"

HRESULT InternalQueryInterface(void* object, const InterfaceMapEntry* entries, REFIID iid, void** ppv) noexcept
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    const InterfaceMapEntry* found = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        found = &entries[0];
    } else {
        for (const auto* entry = entries; entry->iid != nullptr; ++entry) {
            if (IsEqualIID(iid, *entry->iid)) {
                found = entry;
                break;
            }
        }
    }
    if (found == nullptr) {
        return E_NOINTERFACE;
    }
    IUnknown* unknown = found->cast(object);
    unknown->AddRef();
    *ppv = unknown;
    return S_OK;
}
