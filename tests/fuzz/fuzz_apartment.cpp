#include "tests/fuzz/fuzz_check.h"

#include "platform/platform.h"

void InitializeFuzzApartment()
{
    FUZZ_CHECK(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
}
