// The service's way of reaching the console's log view: one datagram to every port the console
// may have bound on 127.0.0.1.
#pragma once

#include "console/logview/LogViewCodec.h"

#include <winsock2.h>

namespace corvane::peers::support {

inline void SendToLogView(SOCKET sender, const std::vector<std::uint8_t>& datagram) {
    sockaddr_in to{AF_INET, 0, {}, {}};
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (unsigned port = console::logview::kFirstPort;
         port < console::logview::kFirstPort + console::logview::kPortCount; ++port) {
        to.sin_port = htons(static_cast<u_short>(port));
        sendto(sender, reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }
}

} // namespace corvane::peers::support
