#include "corvanelib/Win32/Synchronization/Thread.h"

#include "corvanelib/Win32/Text.h"

#include <process.h>

#include <atomic>
#include <cwchar>
#include <string>

namespace corvanelib {

namespace {

// How long Stop waits for a terminated thread to be gone.
const DWORD kTerminationWaitMs = 5000;

std::atomic<WinThread::StartObserver> g_startObserver{nullptr};

void NotifyStart(DWORD threadId) {
    const WinThread::StartObserver observer = g_startObserver.load();
    if (observer != nullptr) {
        observer(threadId);
    }
}

// Exception code a debugger takes as "name this thread".
const DWORD kThreadNameException = 0x406D1388;

#pragma pack(push, 8)
struct ThreadNameInfo {
    DWORD type;       // 0x1000
    const char* name; // ANSI text
    DWORD threadId;   // thread to name
    DWORD flags;      // 0
};
#pragma pack(pop)

// Set while this thread raises the naming exception, so that the handler below swallows only
// that one exception and nothing another thread or another module raises.
thread_local bool t_announcingName = false;

// Swallows the naming exception when no debugger took it. Installed only for the length of one
// announcement: MinGW has no __try/__except, and a vectored handler works the same with both
// compilers.
LONG CALLBACK SwallowThreadNameException(EXCEPTION_POINTERS* info) {
    if (t_announcingName && info->ExceptionRecord->ExceptionCode == kThreadNameException) {
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void AnnounceThreadName(const wchar_t* name) {
    const size_t kBufferBytes = 260;
    if (name == nullptr) {
        return;
    }
    const size_t length = wcsnlen(name, kBufferBytes);
    if (length == 0 || length >= kBufferBytes) {
        return;
    }
    // A text that does not fit the debugger's buffer with its terminating zero is not announced.
    const std::string converted = WideToCodePage(name, length);
    if (converted.empty() || converted.size() >= kBufferBytes) {
        return;
    }
    Sleep(10);

    ThreadNameInfo info;
    info.type = 0x1000;
    info.name = converted.c_str();
    info.threadId = GetCurrentThreadId();
    info.flags = 0;

    // Called last, so handlers registered by the program (and any debugger) see it first.
    void* handler = AddVectoredExceptionHandler(0, &SwallowThreadNameException);
    if (handler == nullptr) {
        return; // raising without a handler would end the process
    }
    t_announcingName = true;
    RaiseException(kThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
    t_announcingName = false;
    RemoveVectoredExceptionHandler(handler);
}

} // namespace

void WinThread::SetStartObserver(StartObserver observer) {
    g_startObserver.store(observer);
}

WinThread::WinThread(const wchar_t* name) {
    AnnounceThreadName(name);
}

WinThread::~WinThread() {
    if (m_stopOnDestruction) {
        RequestStop();
        Stop(1000, nullptr);
    }
}

bool WinThread::Start() {
    if (m_thread) {
        DWORD exitCode = 0;
        if (GetExitCodeThread(m_thread.get(), &exitCode) && exitCode == STILL_ACTIVE) {
            return true;
        }
        m_thread.reset();
        m_threadId = 0;
    }
    unsigned threadId = 0;
    const uintptr_t created =
        _beginthreadex(nullptr, 0, &WinThread::ThreadEntry, this, CREATE_SUSPENDED, &threadId);
    m_thread.reset(reinterpret_cast<HANDLE>(created));
    if (!m_thread) {
        NotifyStart(0);
        return false;
    }
    m_threadId = threadId;
    NotifyStart(m_threadId);
    ResumeThread(m_thread.get());
    return true;
}

bool WinThread::WaitStarted(DWORD timeoutMs) {
    const auto started = [this] { return InterlockedCompareExchange(&m_started, 0, 0) == 1; };
    DWORD slept = 0;
    while (!started() && slept < timeoutMs) {
        Sleep(100);
        slept += 100;
    }
    return started();
}

void WinThread::RequestStop() {
    corvanelib::Lock guard(m_stopLock);
    m_stopRequested = true;
}

bool WinThread::IsStopRequested(DWORD /*unused*/) {
    return StopRequested();
}

bool WinThread::StopRequested() {
    corvanelib::Lock guard(m_stopLock);
    return m_stopRequested;
}

bool WinThread::Stop(DWORD timeoutMs, bool* terminated) {
    if (m_threadId == 0) {
        m_thread.reset();
        return true;
    }
    if (terminated != nullptr) {
        *terminated = false;
    }
    DWORD error = 0;
    bool result = true;

    DWORD exitCode = 0;
    if (!GetExitCodeThread(m_thread.get(), &exitCode)) {
        error = GetLastError();
        result = false;
    } else if (exitCode == STILL_ACTIVE &&
               WaitForSingleObject(m_thread.get(), timeoutMs) != WAIT_OBJECT_0) {
        if (TerminateThread(m_thread.get(), 0)) {
            // Termination completes asynchronously; the caller may free what the body used as
            // soon as this returns.
            WaitForSingleObject(m_thread.get(), kTerminationWaitMs);
            if (terminated != nullptr) {
                *terminated = true;
            }
        } else {
            error = GetLastError();
        }
        result = false;
    }

    m_thread.reset();
    m_threadId = 0;
    SetLastError(error);
    return result;
}

unsigned __stdcall WinThread::ThreadEntry(void* object) {
    if (object == nullptr) {
        return 0;
    }
    auto* self = static_cast<WinThread*>(object);
    InterlockedExchange(&self->m_started, 1);
    self->ThreadStart();
    return 0;
}

} // namespace corvanelib
