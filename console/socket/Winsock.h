// Windows Sockets for the process: started (version 2.2) when a session is made and cleaned up
// when it goes, only if the start succeeded. Sockets must be closed before their session ends.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace corvane::console::socket {

class WinsockSession {
public:
    WinsockSession() noexcept {
        WSADATA data;
        m_error = WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() {
        if (m_error == 0) {
            WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    // 0 when the start succeeded, otherwise the error code the start returned.
    int Error() const noexcept { return m_error; }

private:
    int m_error;
};

} // namespace corvane::console::socket
