// Failures inside an operation travel as exceptions; every interface
// operation and export turns them into an HRESULT with GuardHResult.
#pragma once

#include "platform/platform.h"

#include <new>

class CAtlException {
public:
    explicit CAtlException(HRESULT hr) noexcept : m_hr(hr) {}
    operator HRESULT() const noexcept { return m_hr; }

    HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr)
{
    throw CAtlException(hr);
}

// Raises the calling thread's last Win32 error as an HRESULT.
[[noreturn]] inline void AtlThrowLastWin32()
{
    AtlThrow(HRESULT_FROM_WIN32(GetLastError()));
}

// Runs `operation` (returning HRESULT) and maps what it throws: bad_alloc to
// E_OUTOFMEMORY, CAtlException to its code, anything else to E_UNEXPECTED.
template <class Operation> HRESULT GuardHResult(Operation&& operation) noexcept
{
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const CAtlException& e) {
        return e.m_hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
