// An interface pointer released when it leaves scope.
#pragma once

#include "platform/platform.h"

#include <utility>

template <class T> class ScopedInterface {
public:
    ScopedInterface() = default;
    ~ScopedInterface() { Reset(); }
    ScopedInterface(const ScopedInterface&) = delete;
    ScopedInterface& operator=(const ScopedInterface&) = delete;

    T** operator&() noexcept { return &m_p; }
    T* operator->() const noexcept { return m_p; }
    T* Get() const noexcept { return m_p; }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(&m_p); }
    void Reset() noexcept
    {
        if (m_p != nullptr) {
            std::exchange(m_p, nullptr)->Release();
        }
    }

private:
    T* m_p = nullptr;
};
