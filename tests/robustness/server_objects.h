// Objects of the built quillbrook.dll, made through its class objects as the
// shell makes them.
#pragma once

#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tests/support/loaded_server.h"

struct ServerObjects {
    template <class Interface> ComPtr<Interface> Create(REFCLSID clsid)
    {
        ComPtr<IClassFactory> factory;
        ComPtr<Interface> object;
        if (server.getClassObject(clsid, IID_IClassFactory, &factory) == S_OK) {
            factory->CreateInstance(nullptr, __uuidof(Interface), &object);
        }
        return object;
    }
    ComPtr<IPropertyStore> NewHandler() { return Create<IPropertyStore>(CLSID_PropertyHandler); }
    ComPtr<IThumbnailProvider> NewThumbnail() { return Create<IThumbnailProvider>(CLSID_ThumbnailProvider); }
    bool CanUnload() const { return server.canUnloadNow() == S_OK; }

    LoadedServer server;
};

template <class Object> HRESULT InitializeObject(const ComPtr<Object>& object, IStream* stream)
{
    auto init = As<IInitializeWithStream>(object);
    return init ? init->Initialize(stream, STGM_READWRITE) : E_NOINTERFACE;
}
