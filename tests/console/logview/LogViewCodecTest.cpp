#include "console/logview/LogViewCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace logview = corvane::console::logview;

using Kind = logview::Packet::Kind;

namespace {

const logview::Key kKey = logview::MakeKey();

// Unscrambles and decodes a copy of the first `length` bytes, of exactly that size, so that
// any read past them is a heap overflow the sanitizer reports.
logview::Packet Decode(std::vector<std::uint8_t> bytes, std::size_t length, bool scrambled = true) {
    static std::vector<std::uint8_t> copy; // holds the text the packet points into
    copy.assign(bytes.begin(), bytes.begin() + length);
    copy.shrink_to_fit();
    logview::Scramble(copy.data(), scrambled ? copy.size() : 0, kKey);
    return logview::DecodePacket(copy.data(), copy.size());
}

} // namespace

// The key's arithmetic (wrapping at the modulus, going below zero) is pinned by the literal
// datagram below; here its place and its period.
TEST(LogViewCodec, KeyStaysInItsRoomAndRepeatsEvery32Bytes) {
    const logview::Key key = logview::MakeKey();
    std::vector<std::uint8_t> data(70, 0x5A);
    logview::Scramble(data.data(), data.size(), key);
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i], 0x5A ^ key[i % 32]) << "byte " << i;
    }
}

TEST(LogViewCodec, RoundTripsAndRefusesEverythingElse) {
    // A status report "trouble" as it comes off the wire from the service.
    const std::vector<std::uint8_t> wire = {0x3C, 0x9E, 0xCC, 0x87, 0xCA, 0xBB,
                                            0xE3, 0xF0, 0xFE, 0x0A, 0x17, 0x24};
    EXPECT_EQ(logview::EncodeStatus(logview::kStatusTrouble, kKey), wire);
    const logview::Packet trouble = Decode(wire, wire.size());
    EXPECT_TRUE(trouble.kind == Kind::Status && trouble.status == 3);
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (std::uint32_t status : {1u, 0xFFFFFFFFu}) { // unknown values are the receiver's to judge
        datagrams.push_back(logview::EncodeStatus(status, kKey));
        EXPECT_EQ(Decode(datagrams.back(), 12).status, status);
    }
    // The longest text fits exactly; a longer one is cut and still decodes.
    for (const std::string& text : {std::string(), std::string("a\0b", 3),
                                    std::string(logview::kMaxText, 'x'), std::string(9000, 'y')}) {
        datagrams.push_back(logview::EncodeLogLine(text, kKey));
        ASSERT_EQ(datagrams.back().size(), 16 + std::min(text.size(), logview::kMaxText));
        const logview::Packet packet = Decode(datagrams.back(), datagrams.back().size());
        EXPECT_TRUE(packet.kind == Kind::LogLine &&
                    packet.text == text.substr(0, logview::kMaxText));
    }
    for (const auto& datagram : datagrams) { // every shorter datagram is ignored
        for (std::size_t n = 0; n < datagram.size() && n < 40; ++n) {
            EXPECT_EQ(Decode(datagram, n).kind, Kind::Ignored) << n << " bytes";
        }
    }
    EXPECT_EQ(logview::DecodePacket(nullptr, 100).kind, Kind::Ignored);
    // A foreign key.
    const logview::Key theirs = logview::MakeKey({0x2F1B, 0x3D7, 0x1E5, 0x2A});
    EXPECT_EQ(Decode(logview::EncodeStatus(1, theirs), 12).kind, Kind::Ignored);

    // The log line "hello", unscrambled, with one header word (magic, type, status, text length)
    // replaced: another magic, unknown types, text lengths past the end (also ones that would
    // overflow an addition) are ignored; a shorter length ends the text where it says; a status
    // report may have more bytes after it.
    const std::pair<int, std::uint32_t> patches[] = {
        {0, 0x46195826}, {1, 0}, {1, 102},        {3, 6},  {3, 100},
        {3, 0xFFFFFFF0}, {3, 2}, {3, 0xFFFFFFFF}, {1, 100}};
    std::string seen;
    for (const auto& [word, value] : patches) {
        auto bytes = logview::EncodeLogLine("hello", kKey);
        logview::Scramble(bytes.data(), bytes.size(), kKey);
        for (int b = 0; b < 4; ++b) {
            bytes[word * 4 + b] = static_cast<std::uint8_t>(value >> (8 * b));
        }
        const logview::Packet packet = Decode(bytes, bytes.size(), false);
        seen += std::to_string(static_cast<int>(packet.kind)) + std::string(packet.text) + " ";
    }
    EXPECT_EQ(seen, "0 0 0 0 0 0 2he 0 1 ");
}
