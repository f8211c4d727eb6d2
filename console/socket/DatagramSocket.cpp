#include "console/socket/DatagramSocket.h"

namespace corvane::console::socket {

DatagramSocket::~DatagramSocket() {
    Close();
}

DWORD DatagramSocket::Open(unsigned short port, HWND window, UINT message) {
    Close();
    corvanelib::UniqueSocket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!s) {
        return static_cast<DWORD>(WSAGetLastError());
    }
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
        return static_cast<DWORD>(WSAGetLastError());
    }
    // The full event set a notifying socket asks for; a datagram socket only ever reports
    // reads (and one write-ready event), and only reads are acted on.
    const long events = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
    if (WSAAsyncSelect(s.get(), window, message, events) == SOCKET_ERROR) {
        return static_cast<DWORD>(WSAGetLastError());
    }
    m_socket = std::move(s);
    m_window = window;
    return 0;
}

void DatagramSocket::Close() noexcept {
    if (m_socket) {
        // Stop the notifications first, so no event is posted for a handle value that the
        // system may hand out again after closesocket.
        WSAAsyncSelect(m_socket.get(), m_window, 0, 0);
        m_socket.reset();
    }
    m_window = nullptr;
}

void DatagramSocket::OnSocketMessage(WPARAM wParam, LPARAM lParam) {
    if (!m_socket || static_cast<SOCKET>(wParam) != m_socket.get()) {
        return;
    }
    if (WSAGETSELECTEVENT(lParam) != FD_READ) {
        return;
    }
    if (WSAGETSELECTERROR(lParam) != 0) {
        // The next read notification comes only after a receive: whatever is queued is taken
        // and dropped (a datagram longer than the byte fails, and is dropped all the same).
        char discarded = 0;
        sockaddr_in sender = {};
        ReceiveFrom(&discarded, 1, sender);
        return;
    }
    OnReceive();
}

int DatagramSocket::ReceiveFrom(char* buffer, int cbBuffer, sockaddr_in& sender) {
    int cbSender = sizeof(sender);
    return recvfrom(m_socket.get(), buffer, cbBuffer, 0, reinterpret_cast<sockaddr*>(&sender),
                    &cbSender);
}

} // namespace corvane::console::socket
