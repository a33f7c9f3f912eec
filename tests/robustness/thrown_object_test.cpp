// A thrown object's destructor runs exactly once, when the last reference to
// it goes: at the end of its catch, or when the std::exception_ptr that kept
// it is dropped after a rethrow. The module and its tests carry the
// toolchain's libc++abi; on x86 LLVM 14's called the destructor with the
// wrong calling convention (cmake/runtimes/libcxxabi-i686-thiscall-destructor.patch),
// which a destructor that reads its object shows at once.
#include <gtest/gtest.h>

#include <exception>

namespace {

struct Counted {
    explicit Counted(int* destroyed) : destroyed(destroyed) {}
    Counted(const Counted&) = default;
    Counted& operator=(const Counted&) = delete;
    ~Counted() { ++*destroyed; }
    int* destroyed;
};

TEST(ThrownObject, DestroyedOnceAfterCatchAndAfterRethrowThroughExceptionPtr)
{
    int destroyed = 0;
    try {
        throw Counted(&destroyed);
    } catch (const Counted& caught) {
        EXPECT_EQ(caught.destroyed, &destroyed);
    }
    EXPECT_EQ(destroyed, 1) << "at the end of the catch";

    destroyed = 0;
    std::exception_ptr kept;
    try {
        throw Counted(&destroyed);
    } catch (const Counted&) {
        kept = std::current_exception();
    }
    EXPECT_EQ(destroyed, 0) << "kept by the exception_ptr";
    try {
        std::rethrow_exception(kept);
    } catch (const Counted& caught) {
        EXPECT_EQ(caught.destroyed, &destroyed);
    }
    EXPECT_EQ(destroyed, 0) << "still kept by the exception_ptr";
    kept = nullptr;
    EXPECT_EQ(destroyed, 1) << "once the exception_ptr is dropped";
}

} // namespace
