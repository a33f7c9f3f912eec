// Module records of the COM frame: the lock count every live object and held
// class object contributes to, the object map of creatable classes, and the
// DLL-level operations built on them.
#pragma once

#include "com/object_root.h"
#include "com/registration.h"

using InstanceCreator = HRESULT (*)(void* outer, REFIID iid, void** ppv) noexcept;
using ClassObjectCreator = HRESULT (*)(void* instanceCreator, REFIID iid, void** ppv) noexcept;

// One row of a class's category map; a row with type 0 ends the map.
struct CategoryMapEntry {
    static constexpr int End = 0;
    static constexpr int Implemented = 1;
    static constexpr int Required = 2;

    int type;
    const CATID* catid;
};

// One creatable class of the module.
struct ObjectMapEntry {
    const CLSID* clsid;
    HRESULT (*updateRegistry)(BOOL doRegister) noexcept;
    ClassObjectCreator createClassObject;
    InstanceCreator createInstance;
    IUnknown* classObject;
    DWORD registrationCookie;
    const wchar_t* (*objectDescription)() noexcept;
    const CategoryMapEntry* (*categoryMap)() noexcept;
    void (*objectMain)(bool starting) noexcept;
};

// Set when a critical section of a module record could not be initialised;
// DllMain then refuses the load.
extern bool g_moduleInitFailed;

// A function run when the module terminates, with the data it was added with.
using TermFunction = void (*)(DWORD_PTR data) noexcept;
struct TermFuncNode {
    TermFunction function;
    DWORD_PTR data;
    TermFuncNode* next;
};

// A replaceable parameter of a registry script: %key% stands for data. A
// list of them ends with a null key.
struct RegMapEntry {
    const wchar_t* key;
    const wchar_t* data;
};

// Module record for the lock count.
struct ModuleRecord {
    bool m_initialized = false; // m_csTermFuncsAndGIT is ready
    LONG m_nLockCnt = 0;
    TermFuncNode* m_pTermFuncs = nullptr;
    CRITICAL_SECTION m_csTermFuncsAndGIT{};
};

// The COM module record: where the object map lives and who guards it.
class CAtlComModule {
public:
    CAtlComModule(HINSTANCE typeLibInstance, ObjectMapEntry* first, ObjectMapEntry* last) noexcept;
    ~CAtlComModule();
    CAtlComModule(const CAtlComModule&) = delete;
    CAtlComModule& operator=(const CAtlComModule&) = delete;

    bool m_initialized = false; // m_csObjMap is ready
    HINSTANCE m_hInstTypeLib;
    ObjectMapEntry* m_objectMapFirst;
    ObjectMapEntry* m_objectMapLast;
    CRITICAL_SECTION m_csObjMap{};
};

// The base module record: instance handles for code and resources.
class CAtlBaseModule {
public:
    CAtlBaseModule() noexcept;
    ~CAtlBaseModule();
    CAtlBaseModule(const CAtlBaseModule&) = delete;
    CAtlBaseModule& operator=(const CAtlBaseModule&) = delete;

    bool m_initialized = false; // m_csResource is ready
    HINSTANCE m_hInst;
    HINSTANCE m_hInstResource;
    CRITICAL_SECTION m_csResource{};
};

// The module object. Constructing it makes it the process-wide module
// (Current), through which objects reach Lock and Unlock and classes run
// their registry scripts; it finds resources through `baseModule`.
class CAtlModule : public ModuleRecord {
public:
    explicit CAtlModule(CAtlBaseModule& baseModule) noexcept;
    virtual ~CAtlModule();
    CAtlModule(const CAtlModule&) = delete;
    CAtlModule& operator=(const CAtlModule&) = delete;

    virtual LONG Lock() noexcept { return InterlockedIncrement(&m_nLockCnt); }
    virtual LONG Unlock() noexcept { return InterlockedDecrement(&m_nLockCnt); }
    virtual LONG GetLockCount() noexcept { return m_nLockCnt; }
    virtual HRESULT GetGITPtr(IGlobalInterfaceTable** git) noexcept;
    // Adds the replaceable parameters every registry script of the module
    // may use.
    virtual HRESULT AddCommonRGSReplacements(IRegistrarBase* registrar) noexcept = 0;

    // Adds `function` to the termination list; the list runs, last added
    // first, when the module is destroyed.
    HRESULT AddTermFunc(TermFunction function, DWORD_PTR data) noexcept;

    // Runs registry script `resourceId` of this module through the
    // platform's registrar, with `replacements` (ended by a null key) and the
    // module's common replacements.
    HRESULT UpdateRegistryFromResource(UINT resourceId, BOOL doRegister,
                                       const RegMapEntry* replacements = nullptr) noexcept;

    // The module constructed last; null before the first.
    static CAtlModule* Current() noexcept { return s_current; }

    static GUID m_libid;
    IGlobalInterfaceTable* m_pGIT = nullptr;

protected:
    CAtlBaseModule& m_baseModule;

private:
    static CAtlModule* s_current;
};

// Registers every class of the object map (script, then categories) and
// then the module's type library; the first failure stops.
HRESULT AtlComModuleRegisterServer(CAtlComModule& module) noexcept;
// Unregisters every class (categories, then script) and then the type
// library; the first failure stops.
HRESULT AtlComModuleUnregisterServer(CAtlComModule& module) noexcept;
// Checks with AtlCheckInprocServerPath that every class of the object map is
// registered as served by `server`; the first failure stops.
HRESULT AtlComModuleCheckServerPaths(CAtlComModule& module, HINSTANCE server) noexcept;
// Deletes the class key of every class of the object map (AtlRemoveClassKey),
// whatever the outcome for the others.
void AtlComModuleRemoveClassKeys(CAtlComModule& module) noexcept;

template <class T> class CAtlModuleT : public CAtlModule {
public:
    explicit CAtlModuleT(CAtlBaseModule& baseModule) noexcept : CAtlModule(baseModule) { T::InitLibId(); }
};

// DLL-level operations over the object map of `comModule`. Both module
// records must outlive the module object.
template <class T> class CAtlDllModuleT : public CAtlModuleT<T> {
public:
    CAtlDllModuleT(const CAtlDllModuleT&) = delete;
    CAtlDllModuleT& operator=(const CAtlDllModuleT&) = delete;
    CAtlDllModuleT(CAtlComModule& comModule, CAtlBaseModule& baseModule) noexcept
        : CAtlModuleT<T>(baseModule), m_comModule(comModule)
    {
        for (auto* entry = m_comModule.m_objectMapFirst; entry != m_comModule.m_objectMapLast; ++entry) {
            if (entry->objectMain != nullptr) {
                entry->objectMain(true);
            }
        }
    }
    ~CAtlDllModuleT() override
    {
        for (auto* entry = m_comModule.m_objectMapFirst; entry != m_comModule.m_objectMapLast; ++entry) {
            if (entry->objectMain != nullptr) {
                entry->objectMain(false);
            }
        }
    }

    BOOL DllMain(DWORD reason, void* /*reserved*/) noexcept
    {
        return reason == DLL_PROCESS_ATTACH && g_moduleInitFailed ? FALSE : TRUE;
    }
    HRESULT DllCanUnloadNow() noexcept { return this->GetLockCount() == 0 ? S_OK : S_FALSE; }
    HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) noexcept;

    // Writes the AppID (T::UpdateRegistryAppId) first, then every class of
    // the object map, then the type library; the first failure stops. Then
    // reads back where each class was registered: if one does not name this
    // module (a path the registrar did not take whole), the registration is
    // undone and fails with SELFREG_E_CLASS.
    HRESULT DllRegisterServer() noexcept
    {
        RegistrationScope scope;
        HRESULT hr = T::UpdateRegistryAppId(TRUE);
        if (SUCCEEDED(hr)) {
            hr = AtlComModuleRegisterServer(m_comModule);
        }
        if (SUCCEEDED(hr)) {
            hr = AtlComModuleCheckServerPaths(m_comModule, this->m_baseModule.m_hInst);
            if (FAILED(hr)) {
                // A registrar that took a script otherwise than written may
                // also leave part of it behind when unregistering; the class
                // keys, which the scripts own whole (ForceRemove), go too.
                Unregister();
                AtlComModuleRemoveClassKeys(m_comModule);
            }
        }
        return hr;
    }

    // Removes in the opposite order: the classes, the type library, then the
    // AppID; the first failure stops.
    HRESULT DllUnregisterServer() noexcept
    {
        RegistrationScope scope;
        return Unregister();
    }

private:
    HRESULT Unregister() noexcept
    {
        HRESULT hr = AtlComModuleUnregisterServer(m_comModule);
        if (SUCCEEDED(hr)) {
            hr = T::UpdateRegistryAppId(FALSE);
        }
        return hr;
    }

    CAtlComModule& m_comModule;
};

// Finds the class in the object map, creating its class object on first use
// under the object-map lock, and asks the class object for `iid`.
HRESULT AtlComModuleGetClassObject(CAtlComModule& module, REFCLSID clsid, REFIID iid, void** ppv) noexcept;

template <class T> HRESULT CAtlDllModuleT<T>::DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) noexcept
{
    return AtlComModuleGetClassObject(m_comModule, clsid, iid, ppv);
}
