#include "corvanelib/Win32/Synchronization/Lock.h"
#include "corvanelib/Win32/Synchronization/Thread.h"

#include "WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using corvane_test::WaitFor;
using corvanelib::CorvaneLibLockException;
using corvanelib::WinMutex;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

// Code, message, source and module of a lock exception, read from a copy: it is thrown by value,
// so a copy must keep every field.
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

TEST(MutexTest, TimedLockIsRefusedWithNotSupportedAndNestedGuardsReleaseOnlyAfterBoth) {
    corvanelib::Mutex mutex;
    for (DWORD timeout : {DWORD{0}, DWORD{15000}, DWORD{INFINITE}}) {
        try {
            corvanelib::Lock guard(mutex, timeout); // throws before it holds anything
            ADD_FAILURE() << "no exception for " << timeout;
        } catch (const CorvaneLibLockException& e) {
            EXPECT_EQ(Fields(e), "50|Mutex::Lock Error! We dont support a timeout lock!|"
                                 "Win32\\Synchronization\\Lock|Corvane Common Lib");
        }
    }

    std::atomic<bool> otherHolds{false};
    std::thread other;
    {
        corvanelib::Lock outer(mutex);
        { corvanelib::Lock inner(mutex); } // re-entered by the holding thread
        other = std::thread([&] {
            corvanelib::Lock guard(mutex);
            otherHolds = true;
        });
        // The other thread must still be waiting while the outer guard holds the section.
        std::this_thread::sleep_for(milliseconds(200));
        EXPECT_FALSE(otherHolds.load());
    }
    EXPECT_TRUE(WaitFor([&] { return otherHolds.load(); }));
    other.join();
}

TEST(WinMutexTest, AbandonedMutexIsTakenAndATimedGuardThatRunsOutLeavesTheHolderOwning) {
    WinMutex mutex;
    for (bool timed : {false, true}) {
        // A thread that ends while owning the mutex abandons it; the next Lock takes it.
        std::thread([&] { mutex.Lock(); }).join();
        EXPECT_TRUE(timed ? mutex.Lock(DWORD{5000}) : (mutex.Lock(), true));
        EXPECT_FALSE(FreeForOtherThread(mutex)); // this thread owns it now
        mutex.Unlock();
        EXPECT_TRUE(FreeForOtherThread(mutex));
    }

    // A timed guard that runs out takes nothing, and its release leaves the holder owning it.
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        mutex.Lock();
        holding = true;
        WaitFor([&] { return release.load(); }, std::chrono::minutes(2));
        mutex.Unlock();
    });
    EXPECT_TRUE(WaitFor([&] { return holding.load(); }));
    const auto start = steady_clock::now();
    {
        corvanelib::Lock guard(mutex, DWORD{100});
        EXPECT_FALSE(guard.Taken());
    }
    EXPECT_GE(steady_clock::now() - start, milliseconds(90));
    EXPECT_FALSE(mutex.Lock(DWORD{0}));
    release = true;
    holder.join();

    {
        corvanelib::Lock guard(mutex, DWORD{1000});
        EXPECT_TRUE(guard.Taken());
        EXPECT_FALSE(FreeForOtherThread(mutex));
    }
    EXPECT_TRUE(FreeForOtherThread(mutex));
}

TEST(WinMutexTest, RefusedCreationThrowsWithTheLastError) {
    const std::wstring name = L"Local\\corvane-sync-test-" + std::to_wstring(GetCurrentProcessId());
    const corvanelib::UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event);
    try {
        WinMutex clash(name.c_str()); // the name belongs to an event
        ADD_FAILURE() << "no exception";
    } catch (const CorvaneLibLockException& e) {
        EXPECT_EQ(Fields(e), "6|WinMutex::WinMutex Error! Can not create mutex!|"
                             "Win32\\Synchronization\\Lock|Corvane Common Lib");
    }
}

// Records which of its operations the guard called.
struct CallRecorder : corvanelib::Lockable {
    bool Lock(DWORD) override { return false; }
    void Lock() override { calls += "lock,"; }
    void Unlock() override { calls += "unlock,"; }
    void LockMode1() override { calls += "mode1,"; }
    std::string calls;
};

TEST(LockTest, GuardTakesByModeAndAlwaysReleases) {
    CallRecorder target;
    for (auto mode : {corvanelib::LockMode::Mode1, corvanelib::LockMode::Mode2,
                      static_cast<corvanelib::LockMode>(7)}) {
        corvanelib::Lock guard(target, mode);
        EXPECT_TRUE(guard.Taken());
    }
    // The default LockMode2 calls Lock().
    EXPECT_EQ(target.calls, "mode1,unlock,lock,unlock,lock,unlock,");
}

// Body that counts its runs and returns when asked to stop, or ignores the request when told to.
struct Worker : corvanelib::WinThread {
    explicit Worker(bool ignoreStop = false, const wchar_t* name = L"corvane worker")
        : WinThread(name), ignoreStop(ignoreStop) {}
    ~Worker() override {
        RequestStop();
        Stop(20000);
    }
    void ThreadStart() override {
        ++runs;
        while (ignoreStop || !StopRequested()) {
            Sleep(5);
        }
        ++returned;
    }
    const bool ignoreStop;
    std::atomic<int> runs{0};
    std::atomic<int> returned{0};
};

TEST(WinThreadTest, StartRunsOneBodyAndStopWaitsForItToReturn) {
    Worker worker;
    EXPECT_TRUE(worker.Stop(INFINITE)); // nothing to stop yet
    // WaitStarted sleeps 100 ms at a time: not at all for 0, three times for 250.
    auto start = steady_clock::now();
    EXPECT_FALSE(worker.WaitStarted(0));
    EXPECT_LT(steady_clock::now() - start, milliseconds(90));
    start = steady_clock::now();
    EXPECT_FALSE(worker.WaitStarted(250));
    EXPECT_GE(steady_clock::now() - start, milliseconds(290));
    EXPECT_LT(steady_clock::now() - start, milliseconds(2000));

    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.WaitStarted(20000));
    ASSERT_TRUE(WaitFor([&] { return worker.runs.load() == 1; }));
    const DWORD id = worker.ThreadId();
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(worker.Start()); // still running: no second thread
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

// Every thread-name announcement, as "type name thread flags", seen before the library's own
// handler swallows it.
std::vector<std::string> g_announced;

LONG CALLBACK ObserveAnnouncement(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == 0x406D1388 && record->NumberParameters >= 3) {
        // Four words: type and name pointer, then thread id and flags packed in one.
        const ULONG_PTR* words = record->ExceptionInformation;
        g_announced.push_back(
            std::to_string(words[0] & 0xFFFFFFFF) + " " + reinterpret_cast<const char*>(words[1]) +
            " " + std::to_string(words[2] & 0xFFFFFFFF) + " " + std::to_string(words[2] >> 32));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(WinThreadTest, ConstructionAnnouncesTheNameOfTheCallingThread) {
    void* observer = AddVectoredExceptionHandler(1, &ObserveAnnouncement);
    ASSERT_NE(observer, nullptr);
    // Names of 260 characters and more, empty names and none are not announced.
    const std::wstring longest(259, L'n');
    const std::wstring tooLong(260, L'n');
    for (const wchar_t* name : {L"LogConfig watcher", longest.c_str(), tooLong.c_str(), L"",
                                static_cast<const wchar_t*>(nullptr)}) {
        Worker announced(false, name);
    }
    RemoveVectoredExceptionHandler(observer);
    const std::string thread = " " + std::to_string(GetCurrentThreadId()) + " 0";
    EXPECT_EQ(g_announced, (std::vector<std::string>{"4096 LogConfig watcher" + thread,
                                                     "4096 " + std::string(259, 'n') + thread}));
}

} // namespace
