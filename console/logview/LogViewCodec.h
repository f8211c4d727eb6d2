// The log-view datagrams that the admission service sends to the console: status reports and
// log lines, scrambled with a key both sides derive from the same constants. Windows-free: the
// console decodes with it, the stand-in service encodes with it, and the fuzzer drives the
// decoder natively.
//
// Layout after unscrambling (all numbers unsigned 32-bit little-endian):
//   0 magic 0x26581946 | 4 type (100 status, 101 log line) | 8 status (type 100)
//   12 text length (type 101) | 16 text (type 101, 8-bit, no terminator)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace corvane::console::logview {

constexpr std::uint32_t kMagic = 0x26581946;
constexpr std::uint32_t kTypeStatus = 100;
constexpr std::uint32_t kTypeLogLine = 101;

constexpr std::uint32_t kStatusRunning = 1;
constexpr std::uint32_t kStatusStopped = 2;
constexpr std::uint32_t kStatusTrouble = 3;

// The console binds the first free port of this range; senders reach it by sending to all.
constexpr std::uint16_t kFirstPort = 461;
constexpr std::uint16_t kPortCount = 1000;

constexpr std::size_t kMaxDatagram = 8192;
constexpr std::size_t kStatusSize = 12;
constexpr std::size_t kLogHeaderSize = 16;
constexpr std::size_t kMaxText = kMaxDatagram - kLogHeaderSize;

constexpr std::size_t kKeySize = 32;
using Key = std::array<std::uint8_t, kKeySize>;

// The constants of the key rule: byte i = ((start + i * step) mod modulus) - offset, cut to
// 8 bits. Sender and receiver must use the same four values; these are the only definition.
struct KeyRule {
    std::uint32_t start;
    std::uint32_t step;
    std::uint32_t modulus;
    std::uint32_t offset;
};
constexpr KeyRule kKeyRule{0x2F1B, 0x3D7, 0x1E5, 0x29};

// The key of `rule` (by default the shared one). Another rule gives the key of a foreign
// sender, which the receiver must reject.
Key MakeKey(const KeyRule& rule = kKeyRule);

// Byte i is combined by exclusive-or with key byte i mod 32; the same call unscrambles.
void Scramble(std::uint8_t* data, std::size_t length, const Key& key);

// Scrambled datagrams ready to send. A log text longer than kMaxText is cut to it.
std::vector<std::uint8_t> EncodeStatus(std::uint32_t status, const Key& key);
std::vector<std::uint8_t> EncodeLogLine(std::string_view text, const Key& key);

// What an unscrambled datagram says. `text` points into the decoded data and is valid as long
// as that data is; it is not terminated.
struct Packet {
    enum class Kind { Ignored, Status, LogLine };
    Kind kind = Kind::Ignored;
    std::uint32_t status = 0;
    std::string_view text;
};

// Reads an unscrambled datagram of `length` bytes and never looks past them. Ignored: a wrong
// magic, an unknown type, a datagram shorter than its fields, and a log line whose text length
// runs past the datagram's end. Any status value is passed on as it came.
Packet DecodePacket(const std::uint8_t* data, std::size_t length);

} // namespace corvane::console::logview
