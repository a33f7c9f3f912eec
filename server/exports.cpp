// Entry points of quillbrook.dll.
#include "server/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved)
{
    return g_module.DllMain(reason, reserved);
}

STDAPI DllCanUnloadNow()
{
    return g_module.DllCanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv)
{
    return g_module.DllGetClassObject(clsid, iid, ppv);
}

STDAPI DllRegisterServer()
{
    return g_module.DllRegisterServer();
}

STDAPI DllUnregisterServer()
{
    return g_module.DllUnregisterServer();
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine)
{
    return g_module.DllInstall(install, commandLine);
}
