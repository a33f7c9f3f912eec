#include "server/module.h"
#include "tests/fuzz/fuzz_check.h"

void InitializeFuzzApartment()
{
    // The classes count their objects in the module object, as inside the
    // DLL (referring to it links it in).
    FUZZ_CHECK(CAtlModule::Current() == &g_module);
    FUZZ_CHECK(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
}
