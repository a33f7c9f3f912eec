// The class object of every creatable class: an IClassFactory that creates
// instances through the object-map entry's creator.
#pragma once

#include "com/com_object.h"

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
public:
    BEGIN_COM_MAP(CComClassFactory)
    COM_INTERFACE_ENTRY(IClassFactory)
    END_COM_MAP()

    CComClassFactory() noexcept = default;
    virtual ~CComClassFactory();
    CComClassFactory(const CComClassFactory&) = delete;
    CComClassFactory& operator=(const CComClassFactory&) = delete;

    // Binds the factory to its instance creator and initialises its lock.
    HRESULT Init(InstanceCreator creator) noexcept;

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** ppv) override;
    STDMETHOD(LockServer)(BOOL lock) override;

private:
    InstanceCreator m_pfnCreateInstance = nullptr;
    CRITICAL_SECTION m_critsec{};
    bool m_critsecInitialized = false;
};

// Class-object creator of the object map: a cached class factory bound to
// the instance creator passed as `instanceCreator`.
HRESULT CreateClassObject(void* instanceCreator, REFIID iid, void** ppv) noexcept;
