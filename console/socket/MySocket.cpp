#include "console/socket/MySocket.h"

#include "console/logview/LogViewCodec.h"

using namespace corvane::console;

static_assert(CMySocket::kFirstPort == logview::kFirstPort &&
                  CMySocket::kPortCount == logview::kPortCount,
              "the console binds where the service sends");
static_assert(CMySocket::kReceiveSize == logview::kMaxDatagram, "one whole datagram");

CMySocket::CMySocket() : m_key(logview::MakeKey()) {}

DWORD CMySocket::Create(HWND window, UINT message) {
    DWORD error = WSAEADDRINUSE;
    for (unsigned port = kFirstPort; port < kFirstPort + kPortCount; ++port) {
        error = Open(static_cast<unsigned short>(port), window, message);
        if (error == 0) {
            return 0;
        }
    }
    return error;
}

void CMySocket::OnPacket(char*, int, const sockaddr_in&) {}

void CMySocket::OnReceive() {
    sockaddr_in sender = {};
    // A datagram longer than the buffer fails with WSAEMSGSIZE and is dropped like any
    // failed receive.
    const int received = ReceiveFrom(m_receiveBuffer, kReceiveSize, sender);
    if (received <= 0) {
        return;
    }
    logview::Scramble(reinterpret_cast<std::uint8_t*>(m_receiveBuffer),
                      static_cast<std::size_t>(received), m_key);
    m_receiveBuffer[received] = '\0';
    OnPacket(m_receiveBuffer, received, sender);
}
