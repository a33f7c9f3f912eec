#include "com/module_base.h"

#include "com/script_replacement.h"
#include "com/type_library.h"

#include <wrl/client.h>

#include <new>

bool g_moduleInitFailed = false;
GUID CAtlModule::m_libid = {};
CAtlModule* CAtlModule::s_current = nullptr;

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
    : m_hInstTypeLib(typeLibInstance), m_objectMapFirst(first), m_objectMapLast(last)
{
    m_initialized = InitLock(m_csObjMap);
}

CAtlComModule::~CAtlComModule()
{
    if (!m_initialized) {
        return;
    }
    for (auto* entry = m_objectMapFirst; entry != m_objectMapLast; ++entry) {
        if (entry->classObject != nullptr) {
            entry->classObject->Release();
            entry->classObject = nullptr;
        }
    }
    DeleteCriticalSection(&m_csObjMap);
    m_initialized = false;
}

CAtlBaseModule::CAtlBaseModule() noexcept
    : m_hInst(reinterpret_cast<HINSTANCE>(&__ImageBase)), m_hInstResource(reinterpret_cast<HINSTANCE>(&__ImageBase))
{
    m_initialized = InitLock(m_csResource);
}

CAtlBaseModule::~CAtlBaseModule()
{
    if (m_initialized) {
        DeleteCriticalSection(&m_csResource);
        m_initialized = false;
    }
}

CAtlModule::CAtlModule(CAtlBaseModule& baseModule) noexcept : m_baseModule(baseModule)
{
    s_current = this;
    m_initialized = InitLock(m_csTermFuncsAndGIT);
}

CAtlModule::~CAtlModule()
{
    if (!m_initialized) {
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
    DeleteCriticalSection(&m_csTermFuncsAndGIT);
    m_initialized = false;
}

HRESULT CAtlModule::AddTermFunc(TermFunction function, DWORD_PTR data) noexcept
{
    auto* node = new (std::nothrow) TermFuncNode{function, data, nullptr};
    if (node == nullptr) {
        return E_OUTOFMEMORY;
    }
    EnterCriticalSection(&m_csTermFuncsAndGIT);
    node->next = m_pTermFuncs;
    m_pTermFuncs = node;
    LeaveCriticalSection(&m_csTermFuncsAndGIT);
    return S_OK;
}

HRESULT CAtlModule::UpdateRegistryFromResource(UINT resourceId, BOOL doRegister,
                                               const RegMapEntry* replacements) noexcept
{
    Microsoft::WRL::ComPtr<IRegistrar> registrar;
    HRESULT hr = AtlCreateRegistrar(&registrar);
    if (FAILED(hr)) {
        return hr;
    }
    for (const auto* entry = replacements; SUCCEEDED(hr) && entry != nullptr && entry->key != nullptr; ++entry) {
        hr = AddScriptReplacement(registrar.Get(), entry->key, entry->data);
    }
    if (SUCCEEDED(hr)) {
        hr = AddCommonRGSReplacements(registrar.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = AtlUpdateRegistryFromResource(m_baseModule.m_hInstResource, resourceId, doRegister, registrar.Get());
    }
    return hr;
}

HRESULT CAtlModule::GetGITPtr(IGlobalInterfaceTable** git) noexcept
{
    if (git == nullptr) {
        return E_POINTER;
    }
    *git = nullptr;
    if (m_pGIT == nullptr) {
        EnterCriticalSection(&m_csTermFuncsAndGIT);
        HRESULT hr = S_OK;
        if (m_pGIT == nullptr) {
            hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&m_pGIT));
        }
        LeaveCriticalSection(&m_csTermFuncsAndGIT);
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
    for (auto* entry = module.m_objectMapFirst; entry != module.m_objectMapLast; ++entry) {
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
    for (auto* entry = module.m_objectMapFirst; entry != module.m_objectMapLast; ++entry) {
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
    for (auto* entry = module.m_objectMapFirst; entry != module.m_objectMapLast; ++entry) {
        const HRESULT hr = AtlCheckInprocServerPath(*entry->clsid, server);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

void AtlComModuleRemoveClassKeys(CAtlComModule& module) noexcept
{
    for (auto* entry = module.m_objectMapFirst; entry != module.m_objectMapLast; ++entry) {
        AtlRemoveClassKey(*entry->clsid);
    }
}

HRESULT AtlComModuleUnregisterServer(CAtlComModule& module) noexcept
{
    for (auto* entry = module.m_objectMapFirst; entry != module.m_objectMapLast; ++entry) {
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
