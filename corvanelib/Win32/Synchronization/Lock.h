// Lockable objects and the scope guard that holds them.
//
// Mutex is an in-process critical section without time-out; WinMutex a kernel mutex, optionally
// named, with time-out. Both are re-entrant for the thread that holds them. A lock the platform
// refuses throws CorvaneLibLockException; nothing in the library catches it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "corvanelib/Win32/Synchronization/CorvaneException.h"
#include "corvanelib/Win32/UniqueHandle.h"

namespace corvanelib {

class Lockable {
public:
    virtual ~Lockable();

    // Takes the lock, waiting at most timeoutMs; false when the time ran out.
    virtual bool Lock(DWORD timeoutMs) = 0;
    // Takes the lock, waiting as long as needed.
    virtual void Lock() = 0;
    // Releases one hold of the calling thread.
    virtual void Unlock() = 0;
    // Alternative ways to take the lock chosen through the guard's mode; both wait as long as
    // needed unless a lockable says otherwise.
    virtual void LockMode1();
    virtual void LockMode2();

protected:
    Lockable() = default;
    Lockable(const Lockable&) = delete;
    Lockable& operator=(const Lockable&) = delete;
};

// Critical section: cheap, in-process, re-entrant, without time-out.
class Mutex : public Lockable {
public:
    Mutex();
    ~Mutex() override;

    // Always throws CorvaneLibLockException with ERROR_NOT_SUPPORTED: a critical section has no
    // time-out, and silently waiting forever would break the caller's bound.
    bool Lock(DWORD timeoutMs) override;
    void Lock() override;
    void Unlock() override;

private:
    CRITICAL_SECTION m_section;
};

// Kernel mutex. A mutex whose owner thread ended without releasing it (abandoned) counts as
// taken by the next waiter.
class WinMutex : public Lockable {
public:
    // CreateMutexW(securityAttributes, initialOwner, name); a null name makes an unnamed mutex,
    // an existing named one is opened. Throws CorvaneLibLockException with the last error when
    // the platform refuses.
    explicit WinMutex(const wchar_t* name = nullptr,
                      SECURITY_ATTRIBUTES* securityAttributes = nullptr, BOOL initialOwner = FALSE);
    ~WinMutex() override;

    bool Lock(DWORD timeoutMs) override;
    void Lock() override;
    // Releasing a mutex the calling thread does not own fails without effect.
    void Unlock() override;

    HANDLE Handle() const { return m_handle.get(); }

private:
    UniqueKernelHandle m_handle;
};

// How a plain guard takes its target.
enum class LockMode : int { Plain = 0, Mode1 = 1, Mode2 = 2 };

// Holds a Lockable from construction to destruction, so the lock is released on every way out
// of the scope, exceptions included.
//
// The destructor releases the target in every case, also after a timed wait that ran out: on a
// WinMutex the thread does not own that release fails without effect, so the holder keeps it.
// Callers of the timed form must read Taken() before touching what the lock guards.
class Lock {
public:
    // Mode1 calls the target's LockMode1, Mode2 its LockMode2, anything else its Lock().
    explicit Lock(Lockable& target, LockMode mode = LockMode::Plain);
    // Waits at most timeoutMs; Taken() tells whether the lock is held.
    Lock(Lockable& target, DWORD timeoutMs);
    virtual ~Lock();

    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    bool Taken() const { return m_taken; }

private:
    Lockable* m_target;
    bool m_taken;
};

} // namespace corvanelib
