// Small RAII helpers for tests: interface pointers (the one holder of the
// whole project, WRL's ComPtr) and PROPVARIANTs.
#pragma once

#include "platform/platform.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

// The object's `Interface`, or an empty pointer when it offers none.
template <class Interface, class Object> ComPtr<Interface> As(const ComPtr<Object>& object)
{
    ComPtr<Interface> result;
    if (object) {
        object.As(&result);
    }
    return result;
}

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
