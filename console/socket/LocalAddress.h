#pragma once

#include <winsock2.h>

namespace corvane::console::socket {

// True when `address` is one of this machine's own: a loopback address (127.0.0.0/8) or an
// address of one of its interfaces, as the socket layer lists them for socket `s`.
bool IsThisMachineAddress(const in_addr& address, SOCKET s);

} // namespace corvane::console::socket
