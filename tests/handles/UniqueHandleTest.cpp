#include "corvanelib/Win32/UniqueHandle.h"

#include <gtest/gtest.h>

using corvanelib::UniqueKernelHandle;

namespace {

// A handle is closed when DuplicateHandle can no longer use it.
bool IsOpen(HANDLE h) {
    HANDLE dup = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    CloseHandle(dup);
    return true;
}

TEST(UniqueHandle, ClosesExactlyOnceAndMovesOwnership) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        UniqueKernelHandle a(raw);
        UniqueKernelHandle b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), raw);
        UniqueKernelHandle c;
        c = std::move(b);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));

    HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        UniqueKernelHandle owner(kept);
        EXPECT_EQ(owner.release(), kept);
    }
    EXPECT_TRUE(IsOpen(kept));
    CloseHandle(kept);
}

TEST(UniqueHandle, ResetKeepsTheLastErrorOfTheFailingCall) {
    UniqueKernelHandle h(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    h.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST(UniqueHandle, FileHandleEmptyValueIsInvalidHandleValue) {
    corvanelib::UniqueFileHandle f;
    EXPECT_EQ(f.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(f);
}

} // namespace
