// Binds a class to its CLSID and registry script, and supplies the creators
// that the object map uses.
#pragma once

#include "com/com_object.h"

template <class T, const CLSID* Clsid> class CComCoClass {
public:
    static const CLSID& GetObjectCLSID() noexcept { return *Clsid; }

    // Instance creator of the object map: refuses aggregation.
    static HRESULT CreateInstance(void* outer, REFIID iid, void** ppv) noexcept
    {
        return CComCreator<CComObject<T>>::CreateInstance(outer, iid, ppv);
    }
};

// Names the registry script resource of a class, which the module object
// runs.
#define DECLARE_REGISTRY_RESOURCEID(id)                                                                                \
    static HRESULT UpdateRegistry(BOOL doRegister) noexcept                                                            \
    {                                                                                                                  \
        return CAtlModule::Current()->UpdateRegistryFromResource(id, doRegister);                                      \
    }
