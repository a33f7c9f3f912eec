// Small RAII helpers for tests: interface pointers and PROPVARIANTs.
#pragma once

#include "platform/platform.h"

#include <string>
#include <utility>

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adopts a reference the caller already owns.
    static ComPtr Adopt(T* p)
    {
        ComPtr result;
        result.m_p = p;
        return result;
    }
    ComPtr(const ComPtr& other) : m_p(other.m_p)
    {
        if (m_p) {
            m_p->AddRef();
        }
    }
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset()
    {
        if (m_p) {
            std::exchange(m_p, nullptr)->Release();
        }
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    template <class U> ComPtr<U> As() const
    {
        ComPtr<U> result;
        if (m_p) {
            m_p->QueryInterface(__uuidof(U), result.PutVoid());
        }
        return result;
    }

private:
    T* m_p = nullptr;
};

class PropVariant {
public:
    PropVariant() { PropVariantInit(&m_value); }
    ~PropVariant() { PropVariantClear(&m_value); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;

    PROPVARIANT* operator&() { return &m_value; }
    PROPVARIANT* Reset()
    {
        PropVariantClear(&m_value);
        return &m_value;
    }
    const PROPVARIANT& operator*() const { return m_value; }
    const PROPVARIANT* operator->() const { return &m_value; }

private:
    PROPVARIANT m_value;
};
