#include "com/module_base.h"

#include "com/script_replacement.h"
#include "com/type_library.h"

#include <new>

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
    while (m_pTermFuncs != nullptr) {
        TermFuncNode* node = m_pTermFuncs;
        m_pTermFuncs = node->next;
        node->function(node->data);
        delete node;
    }
    if (m_pGIT != nullptr) {
        m_pGIT->Release();
        m_pGIT = nullptr;
    }
    DeleteCriticalSection(&m_csStaticDataInitAndTypeInfo);
    cbSize = 0;
}

HRESULT CAtlModule::AddTermFunc(TermFunction function, DWORD_PTR data) noexcept
{
    auto node = new (std::nothrow) TermFuncNode{function, data, nullptr};
    if (node == nullptr) {
        return E_OUTOFMEMORY;
    }
    EnterCriticalSection(&m_csStaticDataInitAndTypeInfo);
    node->next = m_pTermFuncs;
    m_pTermFuncs = node;
    LeaveCriticalSection(&m_csStaticDataInitAndTypeInfo);
    return S_OK;
}

HRESULT CAtlModule::UpdateRegistryFromResource(UINT resourceId, BOOL doRegister,
                                               const RegMapEntry* replacements) noexcept
{
    IRegistrar* registrar = nullptr;
    HRESULT hr = AtlCreateRegistrar(&registrar);
    if (FAILED(hr)) {
        return hr;
    }
    for (auto entry = replacements; SUCCEEDED(hr) && entry != nullptr && entry->key != nullptr; ++entry) {
        hr = AddScriptReplacement(registrar, entry->key, entry->data);
    }
    if (SUCCEEDED(hr)) {
        hr = AddCommonRGSReplacements(registrar);
    }
    if (SUCCEEDED(hr)) {
        hr = AtlUpdateRegistryFromResourceD(_AtlBaseModule.m_hInstResource, resourceId, doRegister, registrar);
    }
    registrar->Release();
    return hr;
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

namespace {

const CategoryMapEntry* CategoriesOf(const ObjectMapEntry& entry) noexcept
{
    return entry.categoryMap != nullptr ? entry.categoryMap() : nullptr;
}

} // namespace

HRESULT AtlComModuleRegisterServer(CAtlComModule& module) noexcept
{
    for (auto entry = module.m_ppAutoObjMapFirst; entry != module.m_ppAutoObjMapLast; ++entry) {
        HRESULT hr = entry->updateRegistry(TRUE);
        if (SUCCEEDED(hr)) {
            hr = AtlRegisterClassCategoriesHelper(*entry->clsid, CategoriesOf(*entry), TRUE);
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    return AtlRegisterTypeLib(module.m_hInstTypeLib);
}

HRESULT AtlComModuleCheckServerPaths(CAtlComModule& module, HINSTANCE server) noexcept
{
    for (auto entry = module.m_ppAutoObjMapFirst; entry != module.m_ppAutoObjMapLast; ++entry) {
        const HRESULT hr = AtlCheckInprocServerPath(*entry->clsid, server);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

void AtlComModuleRemoveClassKeys(CAtlComModule& module) noexcept
{
    for (auto entry = module.m_ppAutoObjMapFirst; entry != module.m_ppAutoObjMapLast; ++entry) {
        AtlRemoveClassKey(*entry->clsid);
    }
}

HRESULT AtlComModuleUnregisterServer(CAtlComModule& module) noexcept
{
    for (auto entry = module.m_ppAutoObjMapFirst; entry != module.m_ppAutoObjMapLast; ++entry) {
        HRESULT hr = AtlRegisterClassCategoriesHelper(*entry->clsid, CategoriesOf(*entry), FALSE);
        if (SUCCEEDED(hr)) {
            hr = entry->updateRegistry(FALSE);
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    return AtlUnRegisterTypeLib(module.m_hInstTypeLib);
}
