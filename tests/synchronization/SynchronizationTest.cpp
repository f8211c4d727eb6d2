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

const char kLockSource[] = "Win32\\Synchronization\\Lock";
const char kModule[] = "Corvane Common Lib";

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Whether another thread gets `target` within the bound (it releases it again at once). A
// thread that is still waiting when the bound passes is left behind, blocked.
bool TakenElsewhere(corvanelib::Lockable& target) {
    auto taken = std::make_shared<std::atomic<bool>>(false);
    std::thread([&target, taken] {
        target.Lock();
        target.Unlock();
        *taken = true;
    }).detach();
    return WaitFor([&] { return taken->load(); }, std::chrono::seconds(10));
}

// Manual-reset event the tests signal between threads.
struct Event {
    corvanelib::UniqueKernelHandle handle{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    void Set() { SetEvent(handle.get()); }
    bool Wait() { return WaitForSingleObject(handle.get(), 30000) == WAIT_OBJECT_0; }
};

// Takes `mutex` on a thread of its own, tells `held`, and waits for `release` before it ends:
// releasing the mutex when `unlock` is true, abandoning it otherwise.
std::thread Holder(corvanelib::WinMutex& mutex, Event& held, Event& release, bool unlock) {
    return std::thread([&mutex, &held, &release, unlock] {
        mutex.Lock();
        held.Set();
        release.Wait();
        if (unlock) {
            mutex.Unlock();
        }
    });
}

void ExpectLockException(const CorvaneLibLockException& e, const char* message, DWORD code) {
    EXPECT_EQ(message, e.Message());
    EXPECT_EQ(code, e.ErrorCode());
    EXPECT_EQ(kLockSource, e.File());
    EXPECT_NE(0u, e.Line());
    EXPECT_STREQ(kModule, e.GetModuleName());
    // Thrown by value and copied whole.
    const CorvaneLibLockException copy(e);
    EXPECT_EQ(e.Message() + e.File() + std::to_string(e.Line()) + copy.GetModuleName(),
              copy.Message() + copy.File() + std::to_string(copy.Line()) + kModule);
}

TEST(Locks, ACriticalSectionIsReentrantAndRefusesEveryTimedLock) {
    corvanelib::Mutex mutex;
    {
        corvanelib::Lock outer(mutex);
        corvanelib::Lock inner(mutex, corvanelib::LockMode::Mode2);
        EXPECT_TRUE(outer.Taken() && inner.Taken());
    }
    EXPECT_TRUE(TakenElsewhere(mutex)) << "nested guards left the critical section held";

    for (DWORD timeout : {DWORD(0), DWORD(15000), DWORD(INFINITE)}) {
        try {
            corvanelib::Lock guard(mutex, timeout);
            ADD_FAILURE() << "a timed lock on a critical section was taken, " << timeout;
        } catch (const CorvaneLibLockException& e) {
            ExpectLockException(e, "Mutex::Lock Error! We dont support a timeout lock!",
                                ERROR_NOT_SUPPORTED);
        }
    }
    EXPECT_TRUE(TakenElsewhere(mutex));
}

// A guard's mode picks how it takes the lock; it releases once, also after a timed wait that
// ran out.
TEST(Locks, TheGuardTakesByItsModeAndAlwaysReleases) {
    struct Recorder : corvanelib::Lockable {
        bool Lock(DWORD timeoutMs) override {
            calls += "t" + std::to_string(timeoutMs);
            return false;
        }
        void Lock() override { calls += "L"; }
        void Unlock() override { calls += "U"; }
        void LockMode1() override { calls += "1"; }
        std::string calls;
    } recorder;
    corvanelib::Lock(recorder, corvanelib::LockMode::Plain);
    corvanelib::Lock(recorder, corvanelib::LockMode::Mode1);
    EXPECT_TRUE(corvanelib::Lock(recorder, corvanelib::LockMode::Mode2).Taken());
    EXPECT_FALSE(corvanelib::Lock(recorder, DWORD(7)).Taken());
    EXPECT_EQ("LU1ULUt7U", recorder.calls);
}

TEST(Locks, AKernelMutexTimesOutKeepsItsHolderAndIsTakenWhenAbandoned) {
    corvanelib::WinMutex mutex;
    Event held, release;
    std::thread holder = Holder(mutex, held, release, true);
    ASSERT_TRUE(held.Wait());
    const auto start = Clock::now();
    {
        corvanelib::Lock guard(mutex, DWORD(300));
        EXPECT_FALSE(guard.Taken());
    }
    EXPECT_GE(MsSince(start), 250);
    // The guard's release of a mutex it does not hold changed nothing.
    EXPECT_FALSE(mutex.Lock(0));
    release.Set();
    holder.join();
    ASSERT_TRUE(mutex.Lock(0));
    mutex.Unlock();

    // An owner that ends without releasing: the next waiter gets the mutex, both ways.
    for (bool timed : {true, false}) {
        Event abandonedHeld, abandonedRelease;
        abandonedRelease.Set();
        Holder(mutex, abandonedHeld, abandonedRelease, false).join();
        if (timed) {
            EXPECT_TRUE(mutex.Lock(30000));
        } else {
            mutex.Lock();
        }
        EXPECT_TRUE(mutex.Lock(0)) << "re-entrant for its owner";
        mutex.Unlock();
        mutex.Unlock();
        EXPECT_TRUE(TakenElsewhere(mutex));
    }
}

TEST(Locks, AKernelMutexThePlatformRefusesThrowsItsError) {
    const wchar_t name[] = L"CorvaneSynchronizationTestClash";
    const corvanelib::UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, name));
    ASSERT_TRUE(event);
    try {
        corvanelib::WinMutex mutex(name);
        ADD_FAILURE() << "a mutex was made under an event's name";
    } catch (const CorvaneLibLockException& e) {
        ExpectLockException(e, "WinMutex::WinMutex Error! Can not create mutex!",
                            ERROR_INVALID_HANDLE);
    }

    // A named mutex made twice is one mutex.
    corvanelib::WinMutex first(L"CorvaneSynchronizationTestMutex");
    corvanelib::WinMutex second(L"CorvaneSynchronizationTestMutex");
    Event held, release;
    std::thread holder = Holder(first, held, release, true);
    ASSERT_TRUE(held.Wait());
    EXPECT_FALSE(second.Lock(0));
    release.Set();
    holder.join();
}

// Counts its runs and ends when asked (after `linger`), or never when `obey` is false.
class Worker : public corvanelib::WinThread {
public:
    explicit Worker(bool obey = true, DWORD linger = 0)
        : WinThread(L"synchronization test worker"), m_obey(obey), m_linger(linger) {}
    ~Worker() override { Stop(30000); }

    std::atomic<int> runs{0};
    std::atomic<bool> returned{false};
    std::atomic<DWORD> bodyThreadId{0};
    corvanelib::UniqueKernelHandle thread; // the last run's thread, duplicated by the body

protected:
    void ThreadStart() override {
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        thread.reset(self);
        bodyThreadId = GetCurrentThreadId();
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

TEST(Threads, AnIdleThreadStopsAtOnceAndIsNotStarted) {
    Worker worker;
    bool terminated = true;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(worker.Stop(0, &terminated));
    EXPECT_EQ(0u, worker.ThreadId());
    EXPECT_FALSE(worker.WaitStarted(0));
    const auto start = Clock::now();
    EXPECT_FALSE(worker.WaitStarted(250));
    EXPECT_GE(MsSince(start), 250) << "it sleeps in steps of 100 ms up to the time-out";
    EXPECT_FALSE(worker.StopRequested());
    worker.RequestStop();
    EXPECT_TRUE(worker.StopRequested() && worker.IsStopRequested(0));
}

TEST(Threads, StartsOnceRunsTheBodyAndStopsWhenItEnds) {
    Worker worker(true, 300);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(worker.WaitStarted(30000));
    ASSERT_TRUE(WaitFor([&] { return worker.runs == 1; }));
    EXPECT_EQ(worker.bodyThreadId.load(), worker.ThreadId());
    const DWORD id = worker.ThreadId();
    EXPECT_TRUE(worker.Start()) << "while it runs";
    EXPECT_EQ(id, worker.ThreadId());

    // Asked to stop, the body lingers: Stop waits for it.
    worker.RequestStop();
    bool terminated = true;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(worker.Stop(30000, &terminated));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_FALSE(terminated);
    EXPECT_TRUE(worker.returned);
    EXPECT_EQ(1, worker.runs);
    EXPECT_EQ(0u, worker.ThreadId());

    // A body that ended by itself: Start runs it anew, and Stop finds it ended.
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.returned && worker.runs == 2; }));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.thread.get(), 30000));
    ASSERT_TRUE(WaitFor([&] { return worker.Start() && worker.runs == 3; }));
    ASSERT_TRUE(WaitFor([&] { return worker.returned.load(); }));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.thread.get(), 30000));
    EXPECT_TRUE(worker.Stop(0, &terminated));
    EXPECT_FALSE(terminated);
}

TEST(Threads, AThreadThatWillNotStopIsTerminated) {
    Worker worker(false);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.runs == 1; }));
    worker.RequestStop();
    bool terminated = false;
    const auto start = Clock::now();
    EXPECT_FALSE(worker.Stop(200, &terminated));
    EXPECT_GE(MsSince(start), 150);
    EXPECT_TRUE(terminated);
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(0u, worker.ThreadId());
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
            // The flag outlives the derived part, which is gone while the base stops the thread.
            const auto flag = ended;
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
