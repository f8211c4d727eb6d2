// Drives the receiver's parsing with arbitrary datagrams: the bytes as they would lie in the
// receive buffer after unscrambling, and the same bytes as received (unscrambled first). The
// input is copied to a buffer of exactly its size, so a read past it is caught.
#include "console/logview/LogViewCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace logview = corvane::console::logview;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > logview::kMaxDatagram) {
        return 0;
    }
    static const logview::Key key = logview::MakeKey();
    std::vector<std::uint8_t> buffer(data, data + size);
    for (int pass = 0; pass < 2; ++pass) {
        const logview::Packet packet = logview::DecodePacket(buffer.data(), buffer.size());
        if (packet.kind == logview::Packet::Kind::LogLine) {
            // The text lies inside the datagram, after its header.
            const auto* begin = reinterpret_cast<const std::uint8_t*>(packet.text.data());
            if (begin < buffer.data() + logview::kLogHeaderSize ||
                begin + packet.text.size() > buffer.data() + buffer.size()) {
                std::abort();
            }
            volatile std::uint8_t sink = 0;
            for (char c : packet.text) {
                sink = sink ^ static_cast<std::uint8_t>(c);
            }
        }
        logview::Scramble(buffer.data(), buffer.size(), key);
    }
    return 0;
}
