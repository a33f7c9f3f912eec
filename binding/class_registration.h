// Where a class is registered, in the registry view that registry_value.h
// works in: its module file, whether that file exists, and for which
// processor it is built. bind refuses to bind .flac to classes that are not
// registered like this, and status reports it.
#pragma once

#include "platform/platform.h"

#include <string>

struct ClassRegistration {
    bool registered = false;
    // InprocServer32's default value, environment strings expanded.
    std::wstring module;
    bool moduleExists = false;
    // The module's IMAGE_FILE_MACHINE_...; 0 if it cannot be read.
    WORD machine = 0;
};

// The class's registration for the current user (HKCU's classes, which take
// precedence for the user, when `perUser`) or else for the machine.
ClassRegistration FindClassRegistration(REFCLSID clsid, bool perUser);
// The class's registration in the current user's classes alone: one there
// takes precedence over the machine's for that user.
ClassRegistration FindUserClassRegistration(REFCLSID clsid);

// The machine's own processor (IsWow64Process2's native machine), whatever
// this program was built for.
WORD NativeMachine();
// The processor that the modules registered in the current registry view
// must be built for: x86 in the 32-bit view, the machine's own (Explorer's)
// otherwise.
WORD ExpectedMachine();

// "x64", "x86", "ARM64" or the number.
std::wstring MachineName(WORD machine);

// The class's name (its key's default value) from the classes that a
// process of the current view sees; empty if it is not registered.
std::wstring ClassName(const std::wstring& clsid, bool perUser);
// Whether the class's module lies in the Windows folder: one of Windows' own.
bool IsWindowsClass(const std::wstring& clsid, bool perUser);
