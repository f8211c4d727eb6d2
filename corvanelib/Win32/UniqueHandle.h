// One owner for every kind of Windows handle: move-only, closes exactly once, knows its own
// empty value. Each handle kind is one line at the bottom of this file.
#pragma once

#include "corvanelib/Win32/LastError.h"

#include <winsock2.h>
#include <windows.h>
#include <utility>

namespace corvanelib {

template <typename Traits> class UniqueHandle {
public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer value) noexcept : m_value(value) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::invalid(); }

    // Gives up ownership without closing.
    pointer release() noexcept { return std::exchange(m_value, Traits::invalid()); }

    // Closes the held handle (if any) and takes `value`. The last error survives the close, so
    // a caller may reset right after a failing call and still read why it failed.
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(m_value, value);
        if (old != Traits::invalid()) {
            const LastErrorKeeper kept;
            Traits::close(old);
        }
    }

private:
    pointer m_value = Traits::invalid();
};

namespace handle_traits {
template <typename T, T Invalid, typename Ret, Ret(WINAPI* Close)(T)> struct Closer {
    using pointer = T;
    static pointer invalid() noexcept { return Invalid; }
    static void close(pointer value) noexcept { Close(value); }
};

// INVALID_HANDLE_VALUE is not a constant expression; files carry it as their empty value.
struct File {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { CloseHandle(value); }
};

// FindFirstFile searches: INVALID_HANDLE_VALUE when empty, closed by FindClose.
struct Find {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { FindClose(value); }
};

struct MapView {
    using pointer = void*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { UnmapViewOfFile(value); }
};

struct Socket {
    using pointer = SOCKET;
    static pointer invalid() noexcept { return INVALID_SOCKET; }
    static void close(pointer value) noexcept { closesocket(value); }
};
} // namespace handle_traits

// Events, mutexes, file mappings, threads, processes: null when empty.
using UniqueKernelHandle = UniqueHandle<handle_traits::Closer<HANDLE, nullptr, BOOL, &CloseHandle>>;
// CreateFile results: INVALID_HANDLE_VALUE when empty.
using UniqueFileHandle = UniqueHandle<handle_traits::File>;
using UniqueFindHandle = UniqueHandle<handle_traits::Find>;
using UniqueMapView = UniqueHandle<handle_traits::MapView>;
using UniqueServiceHandle =
    UniqueHandle<handle_traits::Closer<SC_HANDLE, nullptr, BOOL, &CloseServiceHandle>>;
using UniqueServiceLock =
    UniqueHandle<handle_traits::Closer<SC_LOCK, nullptr, BOOL, &UnlockServiceDatabase>>;
using UniqueRegKey = UniqueHandle<handle_traits::Closer<HKEY, nullptr, LONG, &RegCloseKey>>;
using UniqueIcon = UniqueHandle<handle_traits::Closer<HICON, nullptr, BOOL, &DestroyIcon>>;
using UniqueSocket = UniqueHandle<handle_traits::Socket>;
// Memory the system allocated for the caller with LocalAlloc (FormatMessage, SDDL conversion).
using UniqueLocalMemory = UniqueHandle<handle_traits::Closer<HLOCAL, nullptr, HLOCAL, &LocalFree>>;

} // namespace corvanelib
