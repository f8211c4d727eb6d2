#include "corvanelib/Win32/Synchronization/Thread.h"

#include "WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

using corvane_test::WaitFor;
using corvanelib::WinThread;

namespace {

// Body that counts its runs and returns when asked to stop, or ignores the request and blocks
// for good when told to.
class Worker : public WinThread {
public:
    explicit Worker(bool ignoreStop = false, const wchar_t* name = L"corvane worker")
        : WinThread(name), m_ignoreStop(ignoreStop) {}
    ~Worker() override {
        RequestStop();
        Stop(20000);
        CloseHandle(m_never);
    }

    std::atomic<int> runs{0};
    std::atomic<int> returned{0};

protected:
    void ThreadStart() override {
        ++runs;
        if (m_ignoreStop) {
            WaitForSingleObject(m_never, INFINITE);
        }
        while (!StopRequested()) {
            Sleep(5);
        }
        ++returned;
    }

private:
    bool m_ignoreStop;
    HANDLE m_never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST(WinThreadTest, IdleObjectStopsAtOnceAndWaitStartedIsBounded) {
    Worker idle;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(idle.Stop(INFINITE));
    EXPECT_EQ(idle.ThreadId(), 0u);

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(idle.WaitStarted(0));
    // Not even one 100 ms sleep.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));

    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(idle.WaitStarted(250));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(290)); // three sleeps of 100 ms
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
}

TEST(WinThreadTest, StartRunsOneBodyAndStopWaitsForItToReturn) {
    Worker worker;
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.WaitStarted(20000));
    ASSERT_TRUE(WaitFor([&] { return worker.runs.load() == 1; }));
    const DWORD id = worker.ThreadId();
    EXPECT_NE(id, 0u);

    // Still running: no second thread.
    EXPECT_TRUE(worker.Start());
    EXPECT_EQ(worker.ThreadId(), id);

    worker.RequestStop();
    EXPECT_TRUE(worker.IsStopRequested(0));
    bool terminated = true;
    EXPECT_TRUE(worker.Stop(20000, &terminated));
    EXPECT_FALSE(terminated);
    EXPECT_EQ(worker.returned.load(), 1);
    EXPECT_EQ(worker.runs.load(), 1);
    EXPECT_EQ(worker.ThreadId(), 0u);

    // Stop requested stays set, so a restarted body returns at once.
    EXPECT_TRUE(worker.Start());
    EXPECT_TRUE(WaitFor([&] { return worker.returned.load() == 2; }));
    EXPECT_TRUE(worker.Stop(20000));
}

TEST(WinThreadTest, StopTerminatesABodyThatIgnoresTheRequest) {
    Worker stubborn(true);
    ASSERT_TRUE(stubborn.Start());
    ASSERT_TRUE(WaitFor([&] { return stubborn.runs.load() == 1; }));
    stubborn.RequestStop();

    SetLastError(ERROR_ACCESS_DENIED);
    bool terminated = false;
    EXPECT_FALSE(stubborn.Stop(200, &terminated));
    EXPECT_TRUE(terminated);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(stubborn.ThreadId(), 0u);
    EXPECT_EQ(stubborn.returned.load(), 0);
}

// Sees the naming exception before the library's own handler swallows it.
struct NameAnnouncement {
    static LONG CALLBACK Observe(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD* record = info->ExceptionRecord;
        if (record->ExceptionCode == 0x406D1388 && record->NumberParameters >= 3) {
            ++count;
            // Four words: type and name pointer, then thread id and flags packed in one.
            type = static_cast<DWORD>(record->ExceptionInformation[0] & 0xFFFFFFFF);
            name = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            threadId = static_cast<DWORD>(record->ExceptionInformation[2] & 0xFFFFFFFF);
            flags = static_cast<DWORD>(record->ExceptionInformation[2] >> 32);
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static int count;
    static DWORD type;
    static std::string name;
    static DWORD threadId;
    static DWORD flags;
};
int NameAnnouncement::count = 0;
DWORD NameAnnouncement::type = 0;
std::string NameAnnouncement::name;
DWORD NameAnnouncement::threadId = 0;
DWORD NameAnnouncement::flags = 0;

TEST(WinThreadTest, ConstructionAnnouncesTheNameOfTheCallingThread) {
    void* observer = AddVectoredExceptionHandler(1, &NameAnnouncement::Observe);
    ASSERT_NE(observer, nullptr);
    NameAnnouncement::count = 0;
    { Worker named(false, L"LogConfig watcher"); }
    EXPECT_EQ(NameAnnouncement::count, 1);
    EXPECT_EQ(NameAnnouncement::type, 0x1000u);
    EXPECT_EQ(NameAnnouncement::name, "LogConfig watcher");
    EXPECT_EQ(NameAnnouncement::threadId, GetCurrentThreadId());
    EXPECT_EQ(NameAnnouncement::flags, 0u);

    const std::wstring longest(259, L'n');
    const std::wstring tooLong(260, L'n');
    { Worker w(false, longest.c_str()); }
    EXPECT_EQ(NameAnnouncement::count, 2);
    { Worker w(false, tooLong.c_str()); }
    { Worker w(false, L""); }
    { Worker w(false, nullptr); }
    EXPECT_EQ(NameAnnouncement::count, 2);
    RemoveVectoredExceptionHandler(observer);
}

} // namespace
