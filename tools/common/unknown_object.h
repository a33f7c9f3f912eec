// The IUnknown of the COM objects written by hand outside the DLL: tools,
// test doubles, the benchmark's streams. (The DLL's own classes get theirs
// from com/'s CComObject.) QueryInterface answers for the interfaces listed,
// IUnknown being the first of them; the reference count starts at zero, so
// the ComPtr an object is handed to on creation holds its first reference:
//
//     class Stream final : public UnknownObject<IStream> { ... };
//     ComPtr<Stream> stream(new (std::nothrow) Stream());
//
// It needs nothing but the Windows headers, so that tools, tests and the
// benchmark can all use it without linking any part of the DLL.
#pragma once

#include "platform/platform.h"

#include <type_traits>

// The interface that `Interface` derives from, where a caller may ask for
// that one too (an IStream is an ISequentialStream); IUnknown for the others.
template <class Interface> struct BaseInterface {
    using type = IUnknown;
};
template <> struct BaseInterface<IStream> {
    using type = ISequentialStream;
};

template <class... Interfaces> class UnknownObject : public Interfaces... {
public:
    UnknownObject(const UnknownObject&) = delete;
    UnknownObject& operator=(const UnknownObject&) = delete;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = Offers(iid) ? Find(iid) : nullptr;
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    STDMETHOD_(ULONG, Release)() override
    {
        const LONG count = InterlockedDecrement(&m_refs);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    // The references held on the object now.
    LONG RefCount() const noexcept { return m_refs; }

protected:
    UnknownObject() = default;
    virtual ~UnknownObject() = default;

    // Whether the object answers for `iid` at the moment; every interface it
    // lists, unless a derived class says otherwise.
    virtual bool Offers(REFIID /*iid*/) const noexcept { return true; }

private:
    template <class Interface> static bool Answers(REFIID iid) noexcept
    {
        using Base = typename BaseInterface<Interface>::type;
        if constexpr (std::is_same_v<Base, IUnknown>) {
            return iid == __uuidof(Interface);
        } else {
            return iid == __uuidof(Interface) || Answers<Base>(iid);
        }
    }

    template <class First, class... Rest> First* Primary() noexcept { return static_cast<First*>(this); }

    void* Find(REFIID iid) noexcept
    {
        if (iid == IID_IUnknown) {
            return Primary<Interfaces...>();
        }
        // The first listed interface that answers.
        void* found = nullptr;
        (void)((Answers<Interfaces>(iid) && (found = static_cast<Interfaces*>(this)) != nullptr) || ...);
        return found;
    }

    LONG m_refs = 0;
};
