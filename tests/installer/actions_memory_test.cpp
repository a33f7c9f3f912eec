// The installer's custom actions with memory running out at each of their
// allocations in turn: every run that ran out ends with
// ERROR_INSTALL_FAILURE, and no exception leaves an entry point (Windows'
// custom-action server would end with it). An unbind with nothing bound
// writes nothing, so it runs in the registration tests' prefix.
#include "tests/support/module_exports.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <msi.h>

namespace {

using ActionFn = UINT(__stdcall*)(MSIHANDLE);

TEST(CustomActions, NoExceptionLeavesWhenMemoryRunsOut)
{
    const HMODULE actions = LoadLibraryW(ToWindowsPath(QUILLBROOK_FAILING_ACTIONS_PATH).c_str());
    ASSERT_NE(actions, nullptr);
    const auto failFrom = GetExport<void (*)(long)>(actions, "FailAllocationsFrom");
    const auto failed = GetExport<long (*)()>(actions, "FailedAllocations");
    ASSERT_NE(failFrom, nullptr);
    ASSERT_NE(failed, nullptr);
    for (const char* name : {"UnbindFlac", "UnbindFlacX86"}) {
        const auto action = GetExport<ActionFn>(actions, name);
        ASSERT_NE(action, nullptr) << name;
        long allocation = 0;
        for (;; ++allocation) {
            ASSERT_LT(allocation, 100000) << name << " never ran without running out";
            failFrom(allocation);
            UINT result = ERROR_SUCCESS;
            try {
                result = action(0);
            } catch (...) {
                failFrom(-1);
                FAIL() << "an exception left " << name << " with allocation " << allocation << " failing";
            }
            const long ranOut = failed();
            failFrom(-1);
            if (ranOut == 0) {
                EXPECT_EQ(result, static_cast<UINT>(ERROR_SUCCESS)) << name;
                break;
            }
            ASSERT_EQ(result, static_cast<UINT>(ERROR_INSTALL_FAILURE))
                << name << " reported success with allocation " << allocation << " failing";
        }
        // Each one ran out at least once: the test reached its allocations.
        EXPECT_GT(allocation, 0) << name;
    }
    FreeLibrary(actions);
}

} // namespace
