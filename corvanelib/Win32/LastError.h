// Keeps the calling thread's last error across clean-up calls, so that a caller may still read
// why the call before them failed. Built on Windows and elsewhere: there the last error is
// errno.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#else
#include <cerrno>
#endif

namespace corvanelib {

// Reads the last error when made and puts it back when it goes.
class LastErrorKeeper {
public:
    LastErrorKeeper() noexcept : m_code(Read()) {}
    ~LastErrorKeeper() { Write(m_code); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
#ifdef _WIN32
    using Code = DWORD;
    static Code Read() noexcept {
        return GetLastError();
    }
    static void Write(Code code) noexcept {
        SetLastError(code);
    }
#else
    using Code = int;
    static Code Read() noexcept {
        return errno;
    }
    static void Write(Code code) noexcept {
        errno = code;
    }
#endif

    Code m_code;
};

} // namespace corvanelib
