// Test programs run in a single-threaded apartment, as shell extensions do.
// Tests that create the classes directly have them count their objects in the
// module object, as inside the DLL.
#include "server/module.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (CAtlModule::Current() != &g_module) {
        return 3;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
