// Typed lookup of a DLL export.
#pragma once

#include "platform/platform.h"

template <class Function> Function GetExport(HMODULE module, const char* name)
{
    // Through a generic function type, so that the cast is not reported as
    // one between incompatible function types.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
