// The support library's locks, scope guard, thread base and exceptions: what callers rely on
// when another thread holds a lock, ends without releasing it, or will not stop.
#include "corvanelib/Win32/Synchronization/Lock.h"
#include "corvanelib/Win32/Synchronization/Thread.h"
#include "WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

using corvane::test::WaitFor;
using corvanelib::CorvaneLibLockException;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Whether another thread gets `target` within the bound; one that does not stays blocked.
bool TakenElsewhere(corvanelib::Lockable& target) {
    auto taken = std::make_shared<std::atomic<bool>>(false);
    std::thread([&target, taken] {
        corvanelib::Lock guard(target);
        *taken = true;
    }).detach();
    return WaitFor([&] { return taken->load(); }, std::chrono::seconds(10));
}

// Runs `hold` on a thread that owns `mutex` meanwhile, then ends it without releasing it.
void HoldAndAbandon(corvanelib::WinMutex& mutex, void (*hold)(corvanelib::WinMutex&)) {
    std::thread([&mutex, hold] {
        mutex.Lock();
        hold(mutex);
    }).join();
}

// "<module>|<message>|<file>|<error>" of the lock exception `call` throws.
template <typename Call> std::string Thrown(Call call) {
    try {
        call();
    } catch (const CorvaneLibLockException& e) {
        EXPECT_NE(0u, e.Line());
        return std::string(e.GetModuleName()) + "|" + e.Message() + "|" + e.File() + "|" +
               std::to_string(e.ErrorCode());
    }
    return "nothing thrown";
}

TEST(Locks, ACriticalSectionIsReentrantAndRefusesEveryTimedLock) {
    corvanelib::Mutex mutex;
    {
        corvanelib::Lock outer(mutex, corvanelib::LockMode::Mode1);
        corvanelib::Lock inner(mutex, corvanelib::LockMode::Mode2);
        EXPECT_TRUE(outer.Taken() && inner.Taken());
    }
    EXPECT_TRUE(TakenElsewhere(mutex)) << "nested guards left the critical section held";
    for (DWORD timeout : {DWORD(0), DWORD(INFINITE)}) {
        EXPECT_EQ("Corvane Common Lib|Mutex::Lock Error! We dont support a timeout lock!|"
                  "Win32\\Synchronization\\Lock|50",
                  Thrown([&] { corvanelib::Lock guard(mutex, timeout); }));
    }
    EXPECT_TRUE(TakenElsewhere(mutex));
}

TEST(Locks, AKernelMutexTimesOutKeepsItsHolderAndIsTakenWhenAbandoned) {
    corvanelib::WinMutex mutex;
    HoldAndAbandon(mutex, [](corvanelib::WinMutex& held) {
        const auto start = Clock::now();
        std::thread([&held] {
            corvanelib::Lock guard(held, DWORD(300));
            EXPECT_FALSE(guard.Taken());
        }).join();
        EXPECT_GE(MsSince(start), 250);
        // The failed guard's release left this thread's ownership alone.
        std::thread([&held] { EXPECT_FALSE(held.Lock(0)); }).join();
    });
    EXPECT_TRUE(mutex.Lock(30000)) << "abandoned by its owner";
    mutex.Unlock();
    HoldAndAbandon(mutex, [](corvanelib::WinMutex&) {});
    mutex.Lock();
    EXPECT_TRUE(mutex.Lock(0)) << "re-entrant for its owner";
    mutex.Unlock();
    mutex.Unlock();
    EXPECT_TRUE(TakenElsewhere(mutex));

    // A mutex the platform refuses: the name is an event's.
    const corvanelib::UniqueKernelHandle event(CreateEventW(nullptr, 1, 0, L"CorvaneSyncClash"));
    EXPECT_EQ("Corvane Common Lib|WinMutex::WinMutex Error! Can not create mutex!|"
              "Win32\\Synchronization\\Lock|6",
              Thrown([] { corvanelib::WinMutex clash(L"CorvaneSyncClash"); }));
}

// Counts its runs; ends when asked, after `linger` ms, or never when `obey` is false.
class Worker : public corvanelib::WinThread {
public:
    Worker(bool obey, DWORD linger) : WinThread(L"worker"), m_obey(obey), m_linger(linger) {}
    ~Worker() override { Stop(30000); }

    std::atomic<int> runs{0};
    std::atomic<bool> returned{false};
    corvanelib::UniqueKernelHandle thread; // the last run's thread

protected:
    void ThreadStart() override {
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        thread.reset(self);
        returned = false;
        ++runs;
        while (!m_obey || !StopRequested()) {
            Sleep(10);
        }
        Sleep(m_linger);
        returned = true;
    }

private:
    const bool m_obey;
    const DWORD m_linger;
};

TEST(Threads, StartsOnceAndAStopWaitsForTheBody) {
    Worker worker(true, 300);
    bool terminated = true;
    EXPECT_TRUE(worker.Stop(0, &terminated)) << "never started";
    const auto start = Clock::now();
    EXPECT_FALSE(worker.WaitStarted(0) || worker.WaitStarted(250));
    EXPECT_GE(MsSince(start), 250);

    ASSERT_TRUE(worker.Start() && worker.WaitStarted(30000));
    ASSERT_TRUE(WaitFor([&] { return worker.runs == 1; }));
    const DWORD id = worker.ThreadId();
    EXPECT_TRUE(worker.Start() && worker.ThreadId() == id) << "a second start while it runs";
    EXPECT_FALSE(worker.StopRequested() || worker.IsStopRequested(0));
    worker.RequestStop();
    EXPECT_TRUE(worker.StopRequested() && worker.IsStopRequested(0));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(worker.Stop(30000, &terminated));
    EXPECT_TRUE(GetLastError() == 0 && !terminated && worker.returned && worker.runs == 1);
    EXPECT_EQ(0u, worker.ThreadId());

    // A body that ended by itself: Start runs it anew, and Stop finds it ended.
    for (int run = 2; run <= 3; ++run) {
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitFor([&] { return worker.runs == run && worker.returned; }));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.thread.get(), 30000));
    }
    EXPECT_TRUE(worker.Stop(0, &terminated) && !terminated);
}

TEST(Threads, AThreadThatWillNotStopIsTerminated) {
    Worker worker(false, 0);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.runs == 1; }));
    worker.RequestStop();
    bool terminated = false;
    EXPECT_FALSE(worker.Stop(200, &terminated));
    EXPECT_TRUE(terminated && GetLastError() == 0 && worker.ThreadId() == 0);
    // Gone by the time Stop returns, with exit code 0.
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.thread.get(), 0));
    EXPECT_TRUE(GetExitCodeThread(worker.thread.get(), &exitCode) && exitCode == 0);
    EXPECT_FALSE(worker.returned);
}

// The base's destructor asks the thread to stop and waits for it.
TEST(Threads, DestroyingAStartedThreadStopsIt) {
    struct Plain : corvanelib::WinThread {
        Plain() : WinThread(nullptr) {}
        void ThreadStart() override {
            const auto flag = ended; // the derived part is gone while the base stops the thread
            while (!StopRequested()) {
                Sleep(10);
            }
            *flag = true;
        }
        std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
    };
    auto plain = std::make_unique<Plain>();
    const auto ended = plain->ended;
    ASSERT_TRUE(plain->Start() && plain->WaitStarted(30000));
    plain.reset();
    EXPECT_TRUE(*ended) << "the body was cut off or left running";
}

} // namespace
