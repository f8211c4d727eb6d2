// The main dialog's log-view socket: status reports drive the service display, log lines go to
// the log text. Only datagrams sent from this machine are taken.
#pragma once

#include "console/socket/LogViewOwner.h"
#include "console/socket/MySocket.h"

class CClientSocket : public CMySocket {
public:
    // Datagrams are ignored until an owner is set.
    void SetOwner(corvane::console::socket::ILogViewOwner* owner) noexcept { m_owner = owner; }

    void OnPacket(char* data, int length, const sockaddr_in& sender) override;

private:
    corvane::console::socket::ILogViewOwner* m_owner = nullptr;
};
