#include "corvanelib/Win32/Synchronization/Lock.h"
#include "corvanelib/Win32/Synchronization/Thread.h"

#include "WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using corvane_test::WaitFor;
using corvanelib::CorvaneLibLockException;
using corvanelib::WinMutex;

namespace {

// Code, message and source of a lock exception, read from a copy: it is thrown by value.
std::string Fields(const CorvaneLibLockException copy) {
    return std::to_string(copy.ErrorCode()) + "|" + copy.Message() + "|" + copy.File() + "|" +
           copy.GetModuleName();
}

// Whether another thread can take the mutex right now (it releases it again at once).
bool FreeForOtherThread(WinMutex& mutex) {
    bool taken = false;
    std::thread([&] { taken = mutex.Lock(DWORD{0}) && (mutex.Unlock(), true); }).join();
    return taken;
}

TEST(Locks, RefusalsThrowAndAbandonedOrTimedOutMutexesBehave) {
    corvanelib::Mutex section;
    try {
        corvanelib::Lock guard(section, DWORD{15000}); // throws before it holds anything
        ADD_FAILURE();
    } catch (const CorvaneLibLockException& e) {
        EXPECT_EQ(Fields(e), "50|Mutex::Lock Error! We dont support a timeout lock!|"
                             "Win32\\Synchronization\\Lock|Corvane Common Lib");
    }

    WinMutex mutex;
    std::thread([&] { mutex.Lock(); }).join(); // ends owning it: abandoned
    {
        corvanelib::Lock guard(mutex, DWORD{5000});
        EXPECT_TRUE(guard.Taken());
        EXPECT_FALSE(FreeForOtherThread(mutex));
    }
    EXPECT_TRUE(FreeForOtherThread(mutex));
    std::atomic<bool> release{false};
    std::thread holder([&] {
        corvanelib::Lock guard(mutex);
        WaitFor([&] { return release.load(); });
    });
    ASSERT_TRUE(WaitFor([&] { return !FreeForOtherThread(mutex); }));
    {
        corvanelib::Lock guard(mutex, DWORD{100});
        EXPECT_FALSE(guard.Taken()); // and its end releases nothing
    }
    EXPECT_FALSE(FreeForOtherThread(mutex));
    release = true;
    holder.join();
}

// Counts its runs and returns when asked to stop, unless told to ignore the request.
struct Worker : corvanelib::WinThread {
    explicit Worker(bool ignoreStop = false, const wchar_t* name = L"worker")
        : WinThread(name), ignoreStop(ignoreStop) {}
    ~Worker() override { Stop(20000); }
    void ThreadStart() override {
        ++runs;
        while (ignoreStop || !StopRequested()) {
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
    Worker worker;
    EXPECT_TRUE(worker.Stop(INFINITE)); // nothing to stop yet
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.runs.load() == 1; }));
    EXPECT_TRUE(worker.Start()); // still running: no second thread
    EXPECT_EQ(worker.started, std::vector<DWORD>{worker.ThreadId()});
    worker.RequestStop();
    bool terminated = true;
    EXPECT_TRUE(worker.Stop(20000, &terminated));
    EXPECT_FALSE(terminated);
    EXPECT_EQ(worker.returned.load(), 1);
    EXPECT_EQ(worker.ThreadId(), 0u);

    Worker stubborn(true);
    ASSERT_TRUE(stubborn.Start());
    ASSERT_TRUE(WaitFor([&] { return stubborn.runs.load() == 1; }));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(stubborn.Stop(200, &terminated));
    EXPECT_TRUE(terminated);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(stubborn.returned.load(), 0);
}

} // namespace
