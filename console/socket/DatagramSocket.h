// A datagram socket whose network events arrive as window messages on the thread that owns the
// chosen window, so a dialog can serve its socket from its own message loop without threads.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "corvanelib/Win32/UniqueHandle.h"

namespace corvane::console::socket {

class DatagramSocket {
public:
    DatagramSocket() = default;
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;
    virtual ~DatagramSocket();

    // Makes an IPv4 datagram socket bound to `port` on all local addresses and asks for its
    // network events to be posted to `window` as `message` (wParam: the socket, lParam: event
    // and error as WSAAsyncSelect packs them). Returns 0, or the socket layer's error code with
    // nothing held. A socket already held is closed first.
    DWORD Open(unsigned short port, HWND window, UINT message);

    // Cancels the notifications, then closes the socket. Safe to call when nothing is held.
    void Close() noexcept;

    // The owner's window procedure passes every `message` it receives here. Notifications for
    // a socket other than the one held (left in the queue by an earlier socket) are ignored. A
    // read notification that carries an error still receives, and drops, what is queued, so
    // that notifications keep coming.
    void OnSocketMessage(WPARAM wParam, LPARAM lParam);

    SOCKET Handle() const noexcept { return m_socket.get(); }

protected:
    // A datagram is waiting. Called once per read notification; the socket asks for the next
    // notification again as soon as a receive is made.
    virtual void OnReceive() {}

    // Receives one datagram without blocking. Returns its byte count (0 for an empty datagram)
    // or SOCKET_ERROR with the socket layer's error left for WSAGetLastError.
    int ReceiveFrom(char* buffer, int cbBuffer, sockaddr_in& sender);

private:
    corvanelib::UniqueSocket m_socket;
    HWND m_window = nullptr;
};

} // namespace corvane::console::socket
