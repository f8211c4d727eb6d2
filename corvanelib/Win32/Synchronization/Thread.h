// Base class of the library's threads.
//
// A derived class supplies ThreadStart(), the body, which is expected to poll StopRequested()
// and return once it is true. Stop() waits for the body and terminates it when it does not end
// within the given time.
//
// The destructor asks the thread to stop and waits for it (1000 ms), but by then the derived
// part of the object is gone. A derived class whose body touches its own members must stop the
// thread in its own destructor (RequestStop(), then Stop()).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "corvanelib/Win32/Synchronization/Lock.h"
#include "corvanelib/Win32/UniqueHandle.h"

namespace corvanelib {

class WinThread {
public:
    // Told by Start, in the starting thread, about each thread it creates (its id, before the
    // body runs) or fails to create (0). This layer does not log: the process-wide log installs
    // the observer that records thread starts.
    using StartObserver = void (*)(DWORD threadId);
    // Installs `observer` for every WinThread of the process (null removes it).
    static void SetStartObserver(StartObserver observer);

    // Announces `name` to an attached debugger as the name of the calling thread; without a
    // debugger that has no visible effect. Null, empty or over-long names are not announced.
    explicit WinThread(const wchar_t* name);
    virtual ~WinThread();

    WinThread(const WinThread&) = delete;
    WinThread& operator=(const WinThread&) = delete;

    // Creates the thread and lets it run the body. Returns true without starting anything when
    // the previous thread still runs; false when creation fails.
    virtual bool Start();
    // Polls every 100 ms while the thread has not yet entered and less than timeoutMs has
    // passed; returns whether it has entered. With 0 it does not sleep at all.
    virtual bool WaitStarted(DWORD timeoutMs);
    virtual void RequestStop();
    // Same as StopRequested(); the argument is not used.
    virtual bool IsStopRequested(DWORD unused);

    bool StopRequested();

    // Waits at most timeoutMs for the body to return, and terminates the thread when it does not.
    // Returns true when the thread ended by itself (or none was started); false when it had to
    // be terminated (*terminated is then true) or the platform failed (the last error tells
    // why). On return the object is idle and the last error is 0 unless the platform failed.
    bool Stop(DWORD timeoutMs, bool* terminated = nullptr);

    // Id of the running (or last, until Stop) thread; 0 while none.
    DWORD ThreadId() const { return m_threadId; }

    // Where every thread of this class starts: marks the object started, then runs the body.
    static unsigned __stdcall ThreadEntry(void* object);

protected:
    virtual void ThreadStart() = 0;

private:
    UniqueKernelHandle m_thread;
    DWORD m_threadId = 0;
    bool m_stopOnDestruction = true;
    bool m_stopRequested = false; // guarded by m_stopLock
    Mutex m_stopLock;
    volatile LONG m_started = 0; // set once by the new thread before the body runs
};

} // namespace corvanelib
