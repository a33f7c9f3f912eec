// The object root every COM class derives from: its reference count, the
// construction hooks, and the interface map that drives QueryInterface.
#pragma once

#include "com/thread_model.h"

// One row of an interface map: the IID and how to reach that interface
// from the object.
struct InterfaceMapEntry {
    const IID* iid;
    IUnknown* (*cast)(void* object) noexcept;
};

template <class Class, class Interface> IUnknown* CastToInterface(void* object) noexcept
{
    return static_cast<Interface*>(static_cast<Class*>(object));
}

// QueryInterface over a null-terminated interface map whose first row is the
// object's identity.
HRESULT InternalQueryInterface(void* object, const InterfaceMapEntry* entries, REFIID iid, void** ppv) noexcept;

template <class ThreadModel> class CComObjectRootEx {
public:
    static constexpr LONG DestructionRefCount = -1073741823; // 0xC0000001

    ULONG InternalAddRef() noexcept { return ThreadModel::Increment(&m_dwRef); }
    ULONG InternalRelease() noexcept { return ThreadModel::Decrement(&m_dwRef); }

    HRESULT FinalConstruct() noexcept { return S_OK; }
    void FinalRelease() noexcept {}

    LONG m_dwRef = 0;
};

#define BEGIN_COM_MAP(Class)                                                                                           \
    using ComMapClass = Class;                                                                                         \
    static const InterfaceMapEntry* GetInterfaceMap() noexcept                                                         \
    {                                                                                                                  \
        static constexpr InterfaceMapEntry entries[] = {
#define COM_INTERFACE_ENTRY(Interface) {&__uuidof(Interface), &CastToInterface<ComMapClass, Interface>},
#define END_COM_MAP()                                                                                                  \
    {                                                                                                                  \
        nullptr, nullptr                                                                                               \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    return entries;                                                                                                    \
    }                                                                                                                  \
                                                                                                                       \
public:                                                                                                                \
    IUnknown* GetUnknown() noexcept                                                                                    \
    {                                                                                                                  \
        return GetInterfaceMap()[0].cast(this);                                                                        \
    }                                                                                                                  \
    HRESULT QueryThroughMap(REFIID iid, void** ppv) noexcept                                                           \
    {                                                                                                                  \
        return InternalQueryInterface(this, GetInterfaceMap(), iid, ppv);                                              \
    }                                                                                                                  \
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override = 0;                                                    \
    STDMETHOD_(ULONG, AddRef)() override = 0;                                                                          \
    STDMETHOD_(ULONG, Release)() override = 0;
