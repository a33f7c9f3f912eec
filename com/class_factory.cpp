#include "com/class_factory.h"

#include <new>

CComClassFactory::~CComClassFactory()
{
    if (m_critsecInitialized) {
        DeleteCriticalSection(&m_critsec);
    }
}

HRESULT CComClassFactory::Init(InstanceCreator creator) noexcept
{
    m_pfnCreateInstance = creator;
    if (!InitializeCriticalSectionAndSpinCount(&m_critsec, 0)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    m_critsecInitialized = true;
    return S_OK;
}

STDMETHODIMP CComClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    return m_pfnCreateInstance(outer, iid, ppv);
}

STDMETHODIMP CComClassFactory::LockServer(BOOL lock)
{
    if (lock) {
        CAtlModule::Current()->Lock();
    } else {
        CAtlModule::Current()->Unlock();
    }
    return S_OK;
}

HRESULT CreateClassObject(void* instanceCreator, REFIID iid, void** ppv) noexcept
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    auto* factory = new (std::nothrow) CComObjectCached<CComClassFactory>();
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = factory->Init(reinterpret_cast<InstanceCreator>(instanceCreator));
    if (SUCCEEDED(hr)) {
        hr = factory->QueryInterface(iid, ppv);
    }
    if (hr != S_OK) {
        delete factory;
    }
    return hr;
}
