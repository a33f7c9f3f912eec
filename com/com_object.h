// Creatable wrappers: CComObject gives a class its IUnknown and holds a module
// lock for its whole life; CComObjectCached is the class-object form, held by
// the object map, whose client references lock the module.
#pragma once

#include "com/module_base.h"

template <class Base> class CComObject final : public Base {
public:
    CComObject() { CAtlModule::Current()->Lock(); }
    CComObject(const CComObject&) = delete;
    CComObject& operator=(const CComObject&) = delete;
    ~CComObject() override
    {
        this->m_dwRef = Base::DestructionRefCount;
        CAtlModule::Current()->Unlock();
        this->FinalRelease();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->QueryThroughMap(iid, ppv); }
    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG count = this->InternalRelease();
        if (count == 0) {
            delete this;
        }
        return count;
    }
};

template <class Base> class CComObjectCached final : public Base {
public:
    CComObjectCached() = default;
    CComObjectCached(const CComObjectCached&) = delete;
    CComObjectCached& operator=(const CComObjectCached&) = delete;
    ~CComObjectCached() override
    {
        this->m_dwRef = Base::DestructionRefCount;
        this->FinalRelease();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->QueryThroughMap(iid, ppv); }
    STDMETHOD_(ULONG, AddRef)() override
    {
        const ULONG count = this->InternalAddRef();
        if (count == 2) {
            CAtlModule::Current()->Lock();
        }
        return count;
    }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG count = this->InternalRelease();
        if (count == 0) {
            delete this;
        } else if (count == 1) {
            CAtlModule::Current()->Unlock();
        }
        return count;
    }
};

// Creates an instance of T (a CComObject) without an outer object: construct,
// FinalConstruct under a temporary reference, then QueryInterface; anything
// but S_OK destroys the object again.
template <class T> struct CComCreator {
    static HRESULT CreateInstance(void* outer, REFIID iid, void** ppv) noexcept
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        T* object = nullptr;
        try {
            object = new T();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        object->InternalAddRef();
        HRESULT hr = object->FinalConstruct();
        object->InternalRelease();
        if (hr == S_OK) {
            hr = object->QueryInterface(iid, ppv);
        }
        if (hr != S_OK) {
            delete object;
        }
        return hr;
    }
};
