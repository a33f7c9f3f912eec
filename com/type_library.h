// The type library held in a module's resources: loading, and registering
// it per machine or, with the per-user switch on, for the current user.
#pragma once

#include "platform/platform.h"

// Loads the type library held by `module`; gives its path (the module file)
// and the library.
HRESULT AtlLoadTypeLib(HINSTANCE module, BSTR* path, ITypeLib** typeLib) noexcept;

HRESULT AtlRegisterTypeLib(HINSTANCE module) noexcept;
HRESULT AtlUnRegisterTypeLib(HINSTANCE module) noexcept;
