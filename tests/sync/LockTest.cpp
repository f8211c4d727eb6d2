#include "corvanelib/Win32/Synchronization/Lock.h"

#include "WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using corvane_test::WaitFor;
using corvanelib::CorvaneLibLockException;
using corvanelib::Lockable;
using corvanelib::LockMode;
using corvanelib::Mutex;
using corvanelib::WinMutex;

namespace {

// Whether another thread can take the mutex right now (it releases it again at once).
bool FreeForOtherThread(WinMutex& mutex) {
    bool taken = false;
    std::thread other([&] {
        taken = mutex.Lock(DWORD{0});
        if (taken) {
            mutex.Unlock();
        }
    });
    other.join();
    return taken;
}

// Takes the mutex on its own thread and holds it until Release(); ends without releasing it
// when told to abandon it.
class Holder {
public:
    Holder(WinMutex& mutex, bool abandon)
        : m_thread([this, &mutex, abandon] {
              mutex.Lock();
              m_holding = true;
              if (abandon) {
                  return;
              }
              while (!m_release) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
              mutex.Unlock();
          }) {
        EXPECT_TRUE(WaitFor([this] { return m_holding.load(); }));
    }
    ~Holder() { Release(); }
    void Release() {
        m_release = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_release{false};
    std::thread m_thread;
};

TEST(MutexTest, TimedLockIsRefusedWithNotSupportedForEveryTimeout) {
    Mutex mutex;
    for (DWORD timeout : {DWORD{0}, DWORD{1}, DWORD{15000}, DWORD{INFINITE}}) {
        SCOPED_TRACE(timeout);
        try {
            mutex.Lock(timeout);
            ADD_FAILURE() << "no exception";
        } catch (const CorvaneLibLockException& e) {
            const CorvaneLibLockException copy = e; // thrown by value: the copy keeps every field
            EXPECT_EQ(copy.ErrorCode(), 50u);
            EXPECT_EQ(copy.Message(), "Mutex::Lock Error! We dont support a timeout lock!");
            EXPECT_EQ(copy.File(), "Win32\\Synchronization\\Lock");
            EXPECT_GT(copy.Line(), 0u);
            EXPECT_STREQ(copy.GetModuleName(), "Corvane Common Lib");
        }
    }
    // The timed guard throws before it holds anything, so nothing is released either.
    EXPECT_THROW(corvanelib::Lock guard(mutex, DWORD{0}), CorvaneLibLockException);
}

TEST(MutexTest, NestedGuardsReleaseOnlyAfterBoth) {
    Mutex mutex;
    std::atomic<bool> otherHolds{false};
    std::thread other;
    {
        corvanelib::Lock outer(mutex);
        {
            corvanelib::Lock inner(mutex); // re-entered by the holding thread
            EXPECT_TRUE(inner.Taken());
        }
        other = std::thread([&] {
            corvanelib::Lock guard(mutex);
            otherHolds = true;
        });
        // The other thread must still be waiting while the outer guard holds the section.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(otherHolds.load());
    }
    EXPECT_TRUE(WaitFor([&] { return otherHolds.load(); }));
    other.join();
}

TEST(WinMutexTest, AbandonedMutexIsTakenByTheNextWaiter) {
    WinMutex mutex;
    { Holder abandoning(mutex, true); }
    EXPECT_NO_THROW(mutex.Lock());
    EXPECT_FALSE(FreeForOtherThread(mutex)); // this thread owns it now
    mutex.Unlock();
    EXPECT_TRUE(FreeForOtherThread(mutex));

    { Holder abandoning(mutex, true); }
    EXPECT_TRUE(mutex.Lock(DWORD{5000}));
    EXPECT_FALSE(FreeForOtherThread(mutex));
    mutex.Unlock();
    EXPECT_TRUE(FreeForOtherThread(mutex));
}

TEST(WinMutexTest, TimedGuardThatRunsOutLeavesTheHolderOwning) {
    WinMutex mutex;
    Holder holder(mutex, false);
    const auto start = std::chrono::steady_clock::now();
    {
        corvanelib::Lock guard(mutex, DWORD{100});
        EXPECT_FALSE(guard.Taken());
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    // The guard's release did not take the mutex from its holder.
    EXPECT_FALSE(mutex.Lock(DWORD{0}));
    holder.Release();
    EXPECT_TRUE(mutex.Lock(DWORD{0}));
    mutex.Unlock();

    {
        corvanelib::Lock guard(mutex, DWORD{1000});
        EXPECT_TRUE(guard.Taken());
        EXPECT_FALSE(FreeForOtherThread(mutex));
    }
    EXPECT_TRUE(FreeForOtherThread(mutex));
}

TEST(WinMutexTest, RefusedCreationThrowsWithTheLastError) {
    const std::wstring name = L"Local\\corvane-sync-test-" + std::to_wstring(GetCurrentProcessId());
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    try {
        WinMutex clash(name.c_str()); // the name belongs to an event
        ADD_FAILURE() << "no exception";
    } catch (const CorvaneLibLockException& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(e.Message(), "WinMutex::WinMutex Error! Can not create mutex!");
    }
    CloseHandle(event);
}

// Records which of its operations the guard called.
class CallRecorder : public Lockable {
public:
    bool Lock(DWORD timeoutMs) override {
        calls.push_back("timed " + std::to_string(timeoutMs));
        return timedResult;
    }
    void Lock() override { calls.push_back("lock"); }
    void Unlock() override { calls.push_back("unlock"); }
    void LockMode1() override { calls.push_back("mode1"); }

    std::vector<std::string> calls;
    bool timedResult = false;
};

TEST(LockTest, GuardTakesByModeOrTimeAndAlwaysReleases) {
    using Calls = std::vector<std::string>;
    CallRecorder target;
    {
        corvanelib::Lock guard(target, LockMode::Mode1);
        EXPECT_TRUE(guard.Taken());
    }
    { corvanelib::Lock guard(target, LockMode::Mode2); } // default LockMode2 calls Lock()
    { corvanelib::Lock guard(target, static_cast<LockMode>(7)); }
    { corvanelib::Lock guard(target); }
    EXPECT_EQ(target.calls,
              (Calls{"mode1", "unlock", "lock", "unlock", "lock", "unlock", "lock", "unlock"}));

    target.calls.clear();
    {
        corvanelib::Lock guard(target, 15000); // a plain number is a time-out, never a mode
        EXPECT_FALSE(guard.Taken());
    }
    target.timedResult = true;
    {
        corvanelib::Lock guard(target, DWORD{0});
        EXPECT_TRUE(guard.Taken());
    }
    EXPECT_EQ(target.calls, (Calls{"timed 15000", "unlock", "timed 0", "unlock"}));
}

} // namespace
