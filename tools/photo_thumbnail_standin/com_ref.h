// An owned interface reference, released when it goes out of scope.
#pragma once

#include "platform/platform.h"

#include <utility>

template <class T> class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { Reset(); }

    void Reset() noexcept
    {
        if (m_p != nullptr) {
            std::exchange(m_p, nullptr)->Release();
        }
    }
    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    // The address to receive a new reference into.
    T** Put() noexcept
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    void Swap(ComRef& other) noexcept { std::swap(m_p, other.m_p); }

private:
    T* m_p = nullptr;
};
