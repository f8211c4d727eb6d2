#include "console/logview/LogViewCodec.h"

#include <cstring>

namespace corvane::console::logview {

namespace {

void PutU32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

} // namespace

Key MakeKey(const KeyRule& rule) {
    Key key{};
    for (std::size_t i = 0; i < kKeySize; ++i) {
        // 64-bit arithmetic: no overflow for any 32-bit constants; the subtraction may go
        // below zero, and the cut to 8 bits keeps the low byte of the two's complement.
        const std::int64_t reduced =
            rule.modulus == 0
                ? 0
                : static_cast<std::int64_t>((static_cast<std::uint64_t>(rule.start) +
                                             static_cast<std::uint64_t>(i) * rule.step) %
                                            rule.modulus);
        key[i] = static_cast<std::uint8_t>(
            static_cast<std::uint64_t>(reduced - static_cast<std::int64_t>(rule.offset)) & 0xFF);
    }
    return key;
}

void Scramble(std::uint8_t* data, std::size_t length, const Key& key) {
    for (std::size_t i = 0; i < length; ++i) {
        data[i] ^= key[i % kKeySize];
    }
}

std::vector<std::uint8_t> EncodeStatus(std::uint32_t status, const Key& key) {
    std::vector<std::uint8_t> datagram(kStatusSize);
    PutU32(&datagram[0], kMagic);
    PutU32(&datagram[4], kTypeStatus);
    PutU32(&datagram[8], status);
    Scramble(datagram.data(), datagram.size(), key);
    return datagram;
}

std::vector<std::uint8_t> EncodeLogLine(std::string_view text, const Key& key) {
    if (text.size() > kMaxText) {
        text = text.substr(0, kMaxText);
    }
    std::vector<std::uint8_t> datagram(kLogHeaderSize + text.size());
    PutU32(&datagram[0], kMagic);
    PutU32(&datagram[4], kTypeLogLine);
    PutU32(&datagram[8], 0);
    PutU32(&datagram[12], static_cast<std::uint32_t>(text.size()));
    if (!text.empty()) {
        std::memcpy(&datagram[kLogHeaderSize], text.data(), text.size());
    }
    Scramble(datagram.data(), datagram.size(), key);
    return datagram;
}

Packet DecodePacket(const std::uint8_t* data, std::size_t length) {
    Packet packet;
    if (data == nullptr || length < 8 || GetU32(data) != kMagic) {
        return packet;
    }
    const std::uint32_t type = GetU32(data + 4);
    if (type == kTypeStatus) {
        if (length >= kStatusSize) {
            packet.kind = Packet::Kind::Status;
            packet.status = GetU32(data + 8);
        }
    } else if (type == kTypeLogLine) {
        if (length >= kLogHeaderSize) {
            const std::uint32_t textLength = GetU32(data + 12);
            if (textLength <= length - kLogHeaderSize) {
                packet.kind = Packet::Kind::LogLine;
                packet.text = std::string_view(reinterpret_cast<const char*>(data + kLogHeaderSize),
                                               textLength);
            }
        }
    }
    return packet;
}

} // namespace corvane::console::logview
