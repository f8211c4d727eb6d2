#include "corvanelib/Win32/Synchronization/Thread.h"

#include "WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

// Counts its runs and returns when asked to stop, unless told to ignore the request.
struct Worker : corvanelib::WinThread {
    explicit Worker(bool ignoreStop) : WinThread(L"worker"), ignoreStop(ignoreStop) {}
    ~Worker() override { Stop(20000); }
    void ThreadStart() override {
        for (++runs; ignoreStop || !StopRequested();) {
            Sleep(5);
        }
        ++returned;
    }
    void OnStart(DWORD threadId) override { started.push_back(threadId); }
    const bool ignoreStop;
    std::atomic<int> runs{0}, returned{0};
    std::vector<DWORD> started;
};

TEST(WinThread, StartRunsOneBodyStopWaitsOrTerminates) {
    for (bool ignoreStop : {false, true}) {
        Worker worker(ignoreStop);
        EXPECT_TRUE(worker.Stop(INFINITE)); // nothing to stop yet
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(corvane_test::WaitFor([&] { return worker.runs == 1; }));
        EXPECT_TRUE(worker.Start()); // still running: no second thread
        EXPECT_EQ(worker.started, std::vector<DWORD>{worker.ThreadId()});
        worker.RequestStop();
        bool terminated = !ignoreStop;
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(worker.Stop(ignoreStop ? 200 : 20000, &terminated), !ignoreStop);
        EXPECT_EQ(GetLastError(), 0u);
        EXPECT_EQ(terminated, ignoreStop);
        EXPECT_EQ(worker.returned.load(), ignoreStop ? 0 : 1);
        EXPECT_EQ(worker.ThreadId(), 0u);
    }
}

} // namespace
