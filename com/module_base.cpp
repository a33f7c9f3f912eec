#include "com/module_base.h"

bool g_moduleInitFailed = false;
GUID CAtlModule::m_libid = {};

namespace {

bool InitLock(CRITICAL_SECTION& section) noexcept
{
    if (InitializeCriticalSectionAndSpinCount(&section, 0)) {
        return true;
    }
    g_moduleInitFailed = true;
    return false;
}

extern "C" IMAGE_DOS_HEADER __ImageBase;

} // namespace

CAtlComModule::CAtlComModule(HINSTANCE typeLibInstance, ObjectMapEntry* first, ObjectMapEntry* last) noexcept
    : m_hInstTypeLib(typeLibInstance), m_ppAutoObjMapFirst(first), m_ppAutoObjMapLast(last)
{
    if (InitLock(m_csObjMap)) {
        cbSize = sizeof(*this);
    }
}

CAtlComModule::~CAtlComModule()
{
    if (cbSize == 0) {
        return;
    }
    for (auto entry = m_ppAutoObjMapFirst; entry != m_ppAutoObjMapLast; ++entry) {
        if (entry->classObject != nullptr) {
            entry->classObject->Release();
            entry->classObject = nullptr;
        }
    }
    DeleteCriticalSection(&m_csObjMap);
    cbSize = 0;
}

CAtlBaseModule::CAtlBaseModule() noexcept
    : m_hInst(reinterpret_cast<HINSTANCE>(&__ImageBase)), m_hInstResource(reinterpret_cast<HINSTANCE>(&__ImageBase))
{
    if (InitLock(m_csResource)) {
        cbSize = sizeof(*this);
    }
}

CAtlBaseModule::~CAtlBaseModule()
{
    if (cbSize != 0) {
        DeleteCriticalSection(&m_csResource);
        cbSize = 0;
    }
}

CAtlModule::CAtlModule() noexcept
{
    _pAtlModule = this;
    if (InitLock(m_csStaticDataInitAndTypeInfo)) {
        cbSize = sizeof(ModuleRecord);
    }
}

CAtlModule::~CAtlModule()
{
    if (cbSize == 0) {
        return;
    }
    if (m_pGIT != nullptr) {
        m_pGIT->Release();
        m_pGIT = nullptr;
    }
    DeleteCriticalSection(&m_csStaticDataInitAndTypeInfo);
    cbSize = 0;
}

HRESULT CAtlModule::GetGITPtr(IGlobalInterfaceTable** git) noexcept
{
    if (git == nullptr) {
        return E_POINTER;
    }
    *git = nullptr;
    if (m_pGIT == nullptr) {
        EnterCriticalSection(&m_csStaticDataInitAndTypeInfo);
        HRESULT hr = S_OK;
        if (m_pGIT == nullptr) {
            hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&m_pGIT));
        }
        LeaveCriticalSection(&m_csStaticDataInitAndTypeInfo);
        if (FAILED(hr)) {
            return hr;
        }
    }
    m_pGIT->AddRef();
    *git = m_pGIT;
    return S_OK;
}

HRESULT AtlComModuleGetClassObject(CAtlComModule& module, REFCLSID clsid, REFIID iid, void** ppv) noexcept
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (auto entry = module.m_ppAutoObjMapFirst; entry != module.m_ppAutoObjMapLast; ++entry) {
        if (!IsEqualCLSID(*entry->clsid, clsid)) {
            continue;
        }
        // Double-checked under the object-map lock, so that threads racing
        // for the first request all get the same class object.
        if (__atomic_load_n(&entry->classObject, __ATOMIC_ACQUIRE) == nullptr) {
            EnterCriticalSection(&module.m_csObjMap);
            HRESULT hr = S_OK;
            if (entry->classObject == nullptr) {
                IUnknown* created = nullptr;
                hr = entry->createClassObject(reinterpret_cast<void*>(entry->createInstance), IID_IUnknown,
                                              reinterpret_cast<void**>(&created));
                __atomic_store_n(&entry->classObject, created, __ATOMIC_RELEASE);
            }
            LeaveCriticalSection(&module.m_csObjMap);
            if (FAILED(hr)) {
                return hr;
            }
        }
        return entry->classObject->QueryInterface(iid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}
