// The support library's locks, scope guard, thread base and exceptions: what callers rely on
// when another thread holds a lock, ends without releasing it, or will not stop.
#include "corvanelib/Win32/Synchronization/Lock.h"
#include "corvanelib/Win32/Synchronization/Thread.h"
#include "peers/support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace {

using corvane::peers::support::WaitFor;
using corvanelib::Lock;
using corvanelib::LockMode;

// Whether another thread gets `target` within the bound; one that does not stays blocked.
bool TakenElsewhere(corvanelib::Lockable& target) {
    auto taken = std::make_shared<std::atomic<bool>>(false);
    std::thread([&target, taken] { *taken = Lock(target).Taken(); }).detach();
    return WaitFor([&] { return taken->load(); }, std::chrono::seconds(10));
}

// "<module>|<message>|<file>|<error>" of the lock exception `call` throws.
template <typename Call> std::string Thrown(Call call) {
    try {
        call();
    } catch (const corvanelib::CorvaneLibLockException& e) {
        EXPECT_NE(0u, e.Line());
        return std::string(e.GetModuleName()) + "|" + e.Message() + "|" + e.File() + "|" +
               std::to_string(e.ErrorCode());
    }
    return "nothing thrown";
}

TEST(Locks, ACriticalSectionIsReentrantAndRefusesEveryTimedLock) {
    corvanelib::Mutex mutex;
    {
        Lock outer(mutex, LockMode::Mode1), inner(mutex, LockMode::Mode2);
        EXPECT_TRUE(outer.Taken() && inner.Taken());
    }
    EXPECT_TRUE(TakenElsewhere(mutex)) << "nested guards left the critical section held";
    // Not even without a time limit; the exception's fields are the console's error-box test's.
    EXPECT_NE("nothing thrown", Thrown([&] { Lock guard(mutex, DWORD(INFINITE)); }));
    EXPECT_TRUE(TakenElsewhere(mutex));
}

TEST(Locks, AKernelMutexTimesOutKeepsItsHolderAndIsTakenWhenAbandoned) {
    corvanelib::WinMutex mutex;
    // Held by a thread through a guard of each mode, and once more: meanwhile a timed guard
    // runs out and its release changes nothing. The thread ends without its last release; the
    // next waiter gets the abandoned mutex, either way.
    for (auto mode : {LockMode::Plain, LockMode::Mode1, LockMode::Mode2}) {
        std::thread([&] {
            Lock guard(mutex, mode);
            std::thread([&] {
                const auto start = GetTickCount64();
                EXPECT_FALSE(Lock(mutex, DWORD(300)).Taken()) << "mode " << int(mode);
                EXPECT_GE(GetTickCount64() - start, 250u);
            }).join();
            mutex.Lock();
        }).join();
        EXPECT_TRUE(mode == LockMode::Plain ? mutex.Lock(30000) : (mutex.Lock(), true));
        EXPECT_TRUE(mutex.Lock(0)) << "re-entrant for its owner";
        mutex.Unlock();
        mutex.Unlock();
        ASSERT_TRUE(TakenElsewhere(mutex)) << "still held: the next holder would wait for ever";
    }
    // A mutex the platform refuses: the name is an event's.
    const corvanelib::UniqueKernelHandle event(CreateEventW(nullptr, 1, 0, L"CorvaneSyncClash"));
    EXPECT_EQ("Corvane Common Lib|WinMutex::WinMutex Error! Can not create mutex!|"
              "Win32\\Synchronization\\Lock|6",
              Thrown([] { corvanelib::WinMutex clash(L"CorvaneSyncClash"); }));
}

// How a worker's body behaves and what its runs leave behind; shared, as a body may outlive
// the derived object. It ends when asked, after `linger` ms, or never when `obey` is false.
struct Runs {
    bool obey = true;
    DWORD linger = 0;
    std::atomic<int> count{0};
    std::atomic<bool> returned{false};
    corvanelib::UniqueKernelHandle thread; // the last run's thread
};

class Worker : public corvanelib::WinThread {
public:
    Worker() : WinThread(L"worker") {}
    const std::shared_ptr<Runs> runs = std::make_shared<Runs>();

protected:
    void ThreadStart() override {
        const std::shared_ptr<Runs> mine = runs;
        mine->thread.reset(
            OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId()));
        mine->returned = false;
        ++mine->count;
        while (!mine->obey || !StopRequested()) {
            Sleep(10);
        }
        Sleep(mine->linger);
        mine->returned = true;
    }
};

TEST(Threads, StartsOnceAndAStopWaitsForTheBody) {
    Worker worker;
    Runs& runs = *worker.runs;
    runs.linger = 300;
    bool terminated = true;
    EXPECT_TRUE(worker.Stop(0, &terminated) && !worker.WaitStarted(0)) << "never started";
    ASSERT_TRUE(worker.Start() && worker.WaitStarted(30000));
    ASSERT_TRUE(WaitFor([&] { return runs.count == 1; }));
    const DWORD id = worker.ThreadId();
    EXPECT_TRUE(worker.Start() && worker.ThreadId() == id) << "a second start while it runs";
    worker.RequestStop();
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(worker.Stop(30000, &terminated) && GetLastError() == 0 && !terminated &&
                runs.returned && runs.count == 1 && worker.ThreadId() == 0);

    // A body that ended by itself: Start runs it anew, and Stop finds it ended.
    for (int run = 2; run <= 3; ++run) {
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitFor([&] { return runs.count == run && runs.returned; }));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(runs.thread.get(), 30000));
    }
    EXPECT_TRUE(worker.Stop(0, &terminated) && !terminated);
}

TEST(Threads, AThreadThatWillNotStopIsTerminatedAndTheDestructorStopsOne) {
    Worker worker;
    const std::shared_ptr<Runs> runs = worker.runs;
    runs->obey = false;
    ASSERT_TRUE(worker.Start() && WaitFor([&] { return runs->count == 1; }));
    worker.RequestStop();
    bool terminated = false;
    EXPECT_FALSE(worker.Stop(200, &terminated));
    EXPECT_TRUE(terminated && GetLastError() == 0 && worker.ThreadId() == 0);
    // Gone by the time Stop returns, with exit code 0.
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(WaitForSingleObject(runs->thread.get(), 0) == WAIT_OBJECT_0 && !runs->returned);
    EXPECT_TRUE(GetExitCodeThread(runs->thread.get(), &exitCode) && exitCode == 0);

    auto obeying = std::make_unique<Worker>();
    const std::shared_ptr<Runs> obeyed = obeying->runs;
    ASSERT_TRUE(obeying->Start() && WaitFor([&] { return obeyed->count == 1; }));
    obeying.reset();
    EXPECT_TRUE(obeyed->returned) << "the body was cut off or left running";
}

} // namespace
