#include "corvanelib/Win32/UniqueHandle.h"

#include <gtest/gtest.h>

namespace {

// A closed handle has no information to give.
bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesExactlyOnceMovesOwnershipAndKeepsTheLastError) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        corvanelib::UniqueKernelHandle a(raw), b(std::move(a)), c;
        c = std::move(b);
        EXPECT_TRUE(!a && !b && c.get() == raw);
        EXPECT_EQ(corvanelib::UniqueKernelHandle(kept).release(), kept);
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(!IsOpen(raw) && IsOpen(kept) && CloseHandle(kept));
}

} // namespace
