#include "console/socket/ClientSocket.h"

#include "console/logview/LogViewCodec.h"
#include "console/socket/LocalAddress.h"

#include <string>

using namespace corvane::console;

void CClientSocket::OnPacket(char* data, int length, const sockaddr_in& sender) {
    if (m_owner == nullptr || data == nullptr || length <= 0) {
        return;
    }
    // The service sends from this machine only. A host elsewhere on the network could
    // otherwise drive the status display, so its datagrams are dropped unread.
    if (!socket::IsThisMachineAddress(sender.sin_addr, Handle())) {
        return;
    }
    const logview::Packet packet = logview::DecodePacket(
        reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length));
    switch (packet.kind) {
    case logview::Packet::Kind::Status:
        m_owner->OnStatusReport(packet.status);
        break;
    case logview::Packet::Kind::LogLine: {
        // The text carries no terminator of its own; a zero byte inside it ends the line.
        const std::string line(packet.text);
        m_owner->AppendLog(line.c_str());
        break;
    }
    case logview::Packet::Kind::Ignored:
        break;
    }
}
