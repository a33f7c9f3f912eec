// Registration services of the COM frame: the platform's registrar, the
// per-user switch, class categories and the module's type library.
#pragma once

#include "platform/platform.h"

struct CategoryMapEntry;

// Holds the thread's locale at LOCALE_SYSTEM_DEFAULT while a registration or
// unregistration runs; afterwards restores it and tells the shell that
// associations changed, whatever the outcome.
class RegistrationScope {
public:
    RegistrationScope() noexcept;
    ~RegistrationScope();
    RegistrationScope(const RegistrationScope&) = delete;
    RegistrationScope& operator=(const RegistrationScope&) = delete;

private:
    LCID m_locale;
};

// The process-wide per-user switch: off when the process starts. While it is
// on, registry scripts write what they address to HKEY_CLASSES_ROOT under
// HKEY_CURRENT_USER\Software\Classes instead, and type libraries are
// registered for the current user.
HRESULT AtlGetPerUserRegistration(bool* perUser) noexcept;
HRESULT AtlSetPerUserRegistration(bool perUser) noexcept;

// The full path of `module`'s file.
HRESULT AtlGetModulePath(HINSTANCE module, wchar_t (&path)[MAX_PATH]) noexcept;

// Creates the platform's registrar (atl.dll's Registrar class).
HRESULT AtlCreateRegistrar(IRegistrar** registrar) noexcept;

// Runs the "REGISTRY" resource `resourceId` of `module` through `registrar`,
// adding the replacement "MODULE" (the module's file path).
HRESULT AtlUpdateRegistryFromResource(HINSTANCE module, UINT resourceId, BOOL doRegister,
                                      IRegistrar* registrar) noexcept;

// Checks where class `clsid` was registered: the default value of its
// InprocServer32 key, in the classes the registration wrote (the current
// user's while the per-user switch is on, HKEY_CLASSES_ROOT otherwise), must
// name the file of `module` (letter case aside). S_OK when it does;
// SELFREG_E_CLASS when it names anything else or is missing.
HRESULT AtlCheckInprocServerPath(REFCLSID clsid, HINSTANCE module) noexcept;

// Deletes the key of class `clsid` with everything beneath it, from the
// classes the registration writes (as AtlCheckInprocServerPath reads them).
HRESULT AtlRemoveClassKey(REFCLSID clsid) noexcept;

// Registers or unregisters the categories of `categories` (null: none) for
// class `clsid`.
HRESULT AtlRegisterClassCategoriesHelper(REFCLSID clsid, const CategoryMapEntry* categories, BOOL doRegister) noexcept;
