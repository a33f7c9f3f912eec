#include "bench/class_object.h"

HRESULT GetClassObject(const ClassSource& source, REFCLSID clsid, IClassFactory** factory)
{
    *factory = nullptr;
    if (source.Module() == nullptr) {
        return CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(factory));
    }
    using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(source.Module(), "DllGetClassObject")));
    if (getClassObject == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
}
