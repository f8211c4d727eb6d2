#include "corvanelib/Win32/UniqueHandle.h"

#include <gtest/gtest.h>

using corvanelib::UniqueKernelHandle;

namespace {

// A handle is closed when DuplicateHandle can no longer use it.
bool IsOpen(HANDLE h) {
    HANDLE dup = nullptr;
    const bool open = DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE,
                                      DUPLICATE_SAME_ACCESS);
    return open && CloseHandle(dup);
}

TEST(UniqueHandle, ClosesExactlyOnceMovesOwnershipAndKeepsTheLastError) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        UniqueKernelHandle a(raw);
        UniqueKernelHandle b(std::move(a));
        EXPECT_FALSE(a);
        UniqueKernelHandle c;
        c = std::move(b);
        EXPECT_EQ(c.get(), raw);
        EXPECT_EQ(UniqueKernelHandle(kept).release(), kept);
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(IsOpen(raw));
    EXPECT_TRUE(IsOpen(kept));
    CloseHandle(kept);
    EXPECT_EQ(corvanelib::UniqueFileHandle().get(), INVALID_HANDLE_VALUE);
}

} // namespace
