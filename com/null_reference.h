// Interface operations that take REFPROPERTYKEY or REFPROPVARIANT receive a
// plain pointer from C and late-bound callers, who can pass null. C++ lets the
// compiler assume a reference is never null and drop the test, so the address
// is passed through an empty asm statement the optimiser cannot see into.
#pragma once

template <class T> bool IsNullReference(const T& object) noexcept
{
    const T* address = &object;
    asm("" : "+r"(address));
    return address == nullptr;
}
