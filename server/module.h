// The module object of quillbrook.dll: its lock count, its identifiers and
// the DLL-level operations over the object map.
#pragma once

#include "com/module_base.h"
#include "resources/identifiers.h"
#include "resources/resource_ids.h"

class CQuillbrookModule : public CAtlDllModuleT<CQuillbrookModule> {
public:
    CQuillbrookModule() noexcept;

    static void InitLibId() noexcept { m_libid = LIBID_QuillbrookLib; }

    // Adds "APPID", the module's AppID in registry form.
    HRESULT AddCommonRGSReplacements(IRegistrarBase* registrar) noexcept override;

    // Writes or removes the AppID key (script IDR_APPID).
    static HRESULT UpdateRegistryAppId(BOOL doRegister) noexcept;

    // Registers (nonzero `install`) or unregisters; a command line of "user"
    // in any letter case switches to the current user's registration for the
    // rest of the process. A failed registration is undone by an
    // unregistration.
    HRESULT DllInstall(BOOL install, LPCWSTR commandLine) noexcept;
};

extern CQuillbrookModule g_module;
