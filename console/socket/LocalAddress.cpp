#include "console/socket/LocalAddress.h"

#include <ws2tcpip.h>

#include <vector>

namespace corvane::console::socket {

bool IsThisMachineAddress(const in_addr& sender, SOCKET s) {
    if ((ntohl(sender.s_addr) >> 24) == 127) {
        return true;
    }
    // Asked afresh for every sender that is not loopback: interfaces come and go (a network
    // cable, a VPN), and the service sends from loopback in the usual case.
    std::vector<char> buffer(2048);
    DWORD cbReturned = 0;
    while (WSAIoctl(s, SIO_ADDRESS_LIST_QUERY, nullptr, 0, buffer.data(),
                    static_cast<DWORD>(buffer.size()), &cbReturned, nullptr,
                    nullptr) == SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEFAULT || buffer.size() >= 65536) {
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    // SOCKET_ADDRESS_LIST ends in a flexible array; the vector's storage is suitably aligned.
    const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(buffer.data());
    for (INT i = 0; i < list->iAddressCount; ++i) {
        const SOCKET_ADDRESS& entry = list->Address[i];
        if (entry.lpSockaddr != nullptr && entry.lpSockaddr->sa_family == AF_INET &&
            entry.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in))) {
            const auto* local = reinterpret_cast<const sockaddr_in*>(entry.lpSockaddr);
            if (local->sin_addr.s_addr == sender.s_addr) {
                return true;
            }
        }
    }
    return false;
}

} // namespace corvane::console::socket
