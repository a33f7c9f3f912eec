// Reference-count arithmetic for apartment objects (plain) and for objects
// shared across threads (interlocked).
#pragma once

#include "platform/platform.h"

struct CComSingleThreadModel {
    static ULONG Increment(LONG* p) noexcept { return static_cast<ULONG>(++*p); }
    static ULONG Decrement(LONG* p) noexcept { return static_cast<ULONG>(--*p); }
};

struct CComMultiThreadModel {
    static ULONG Increment(LONG* p) noexcept { return static_cast<ULONG>(InterlockedIncrement(p)); }
    static ULONG Decrement(LONG* p) noexcept { return static_cast<ULONG>(InterlockedDecrement(p)); }
};
