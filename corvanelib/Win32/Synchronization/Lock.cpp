#include "corvanelib/Win32/Synchronization/Lock.h"

namespace corvanelib {

namespace {
// Source named in the exceptions the lock classes throw.
const char kLockSource[] = "Win32\\Synchronization\\Lock";
} // namespace

CorvaneException::CorvaneException(const char* message, const char* file, std::uint32_t line)
    : m_message(message != nullptr ? message : ""), m_file(file != nullptr ? file : ""),
      m_line(line) {}

CorvaneException::~CorvaneException() = default;

LibException::LibException(const char* message, const char* file, std::uint32_t line)
    : CorvaneException(message, file, line), m_moduleName("Corvane Common Lib") {}

const char* LibException::GetModuleName() const {
    return m_moduleName.c_str();
}

CorvaneLibLockException::CorvaneLibLockException(std::uint32_t errorCode, const char* message,
                                                 const char* file, std::uint32_t line)
    : LibException(message, file, line), m_errorCode(errorCode) {}

Lockable::~Lockable() = default;

void Lockable::LockMode1() {
    Lock();
}

void Lockable::LockMode2() {
    Lock();
}

Mutex::Mutex() {
    InitializeCriticalSection(&m_section);
}

Mutex::~Mutex() {
    DeleteCriticalSection(&m_section);
}

bool Mutex::Lock(DWORD /*timeoutMs*/) {
    throw CorvaneLibLockException(ERROR_NOT_SUPPORTED,
                                  "Mutex::Lock Error! We dont support a timeout lock!", kLockSource,
                                  __LINE__);
}

void Mutex::Lock() {
    EnterCriticalSection(&m_section);
}

void Mutex::Unlock() {
    LeaveCriticalSection(&m_section);
}

WinMutex::WinMutex(const wchar_t* name, SECURITY_ATTRIBUTES* securityAttributes, BOOL initialOwner)
    : m_handle(CreateMutexW(securityAttributes, initialOwner, name)) {
    if (!m_handle) {
        throw CorvaneLibLockException(GetLastError(),
                                      "WinMutex::WinMutex Error! Can not create mutex!",
                                      kLockSource, __LINE__);
    }
}

WinMutex::~WinMutex() = default;

void WinMutex::Lock() {
    const DWORD result = WaitForSingleObject(m_handle.get(), INFINITE);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        throw CorvaneLibLockException(GetLastError(), "WinMutex::Lock Error!", kLockSource,
                                      __LINE__);
    }
}

bool WinMutex::Lock(DWORD timeoutMs) {
    const DWORD result = WaitForSingleObject(m_handle.get(), timeoutMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        return true;
    }
    if (result == WAIT_TIMEOUT) {
        return false;
    }
    throw CorvaneLibLockException(GetLastError(), "WinMutex::Lock Error!", kLockSource, __LINE__);
}

void WinMutex::Unlock() {
    ReleaseMutex(m_handle.get());
}

Lock::Lock(Lockable& target, LockMode mode) : m_target(&target), m_taken(false) {
    switch (mode) {
    case LockMode::Mode1:
        target.LockMode1();
        break;
    case LockMode::Mode2:
        target.LockMode2();
        break;
    default:
        target.Lock();
        break;
    }
    m_taken = true;
}

Lock::Lock(Lockable& target, DWORD timeoutMs)
    : m_target(&target), m_taken(target.Lock(timeoutMs)) {}

Lock::~Lock() {
    m_target->Unlock();
}

} // namespace corvanelib
