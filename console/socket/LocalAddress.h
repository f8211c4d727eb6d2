#pragma once

#include <winsock2.h>

// True when `address` (dotted IPv4 text) is one of this machine's own: a loopback address
// (127.0.0.0/8) or an address of one of its interfaces, as the socket layer lists them for
// socket `s`. Text that is no IPv4 address is not this machine's.
bool IsThisMachineAddress(const char* address, SOCKET s);
