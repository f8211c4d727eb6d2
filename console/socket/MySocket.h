// The log-view socket: a datagram socket on the first free port from 461 that unscrambles each
// datagram it receives and hands it to OnPacket.
#pragma once

#include "console/logview/LogViewCodec.h"
#include "console/socket/DatagramSocket.h"

class CMySocket : public corvane::console::socket::DatagramSocket {
public:
    static constexpr unsigned kFirstPort = 461;
    static constexpr unsigned kPortCount = 1000;
    static constexpr int kReceiveSize = 8192;

    CMySocket();

    // Binds the first free port from 461 to 1460 on all local addresses, with notifications
    // posted to `window` as `message`. Returns 0 when bound, otherwise the socket layer's
    // error code of the last port tried.
    DWORD Create(HWND window, UINT message);

    // One unscrambled datagram: `data` points into the receive buffer and is followed by a
    // zero byte at data[length].
    virtual void OnPacket(char* data, int length, const sockaddr_in& sender);

protected:
    void OnReceive() override;

private:
    char m_receiveBuffer[kReceiveSize + 1] = {};
    corvane::console::logview::Key m_key;
};
