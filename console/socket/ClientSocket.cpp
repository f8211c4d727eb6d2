#include "ClientSocket.h"

#include "LocalAddress.h"
#include "LogViewCodec.h"

#include <string>

namespace {
// Status string ids of the service display.
constexpr int kIdsRunning = 106;
constexpr int kIdsStopped = 107;
constexpr int kIdsTrouble = 108;
} // namespace

void CClientSocket::OnPacket(char* data, int length, const char* senderAddress, unsigned) {
    if (m_owner == nullptr || data == nullptr || length <= 0) {
        return;
    }
    // The service sends from this machine only. A host elsewhere on the network could
    // otherwise drive the status display, so its datagrams are dropped unread.
    if (!IsThisMachineAddress(senderAddress, Handle())) {
        return;
    }
    const logview::Packet packet = logview::DecodePacket(
        reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length));
    switch (packet.kind) {
    case logview::Packet::Kind::Status:
        switch (packet.status) {
        case logview::kStatusRunning:
            m_owner->UpdateServiceStatus(kIdsRunning);
            break;
        case logview::kStatusStopped:
            m_owner->UpdateServiceStatus(kIdsStopped);
            break;
        case logview::kStatusTrouble:
            m_owner->UpdateServiceStatus(kIdsTrouble);
            break;
        default:
            // An unknown status still proves the service is talking: only the time-out goes.
            break;
        }
        m_owner->CancelReportTimeout();
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
