#include "LogViewCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using logview::Packet;
using Kind = logview::Packet::Kind;

namespace {

// Decodes a copy of exactly the given bytes, so that any read past them is a heap overflow the
// sanitizer reports. With a key, the copy is unscrambled first.
Packet Decode(const std::vector<std::uint8_t>& bytes, std::size_t length,
              const logview::Key* key = nullptr) {
    static std::vector<std::uint8_t> copy; // holds the text the packet points into
    copy.assign(bytes.begin(), bytes.begin() + length);
    copy.shrink_to_fit();
    if (key != nullptr) {
        logview::Scramble(copy.data(), copy.size(), *key);
    }
    return logview::DecodePacket(copy.data(), copy.size());
}

} // namespace

TEST(LogViewCodec, KeyRuleAndScrambling) {
    const logview::Key key = logview::MakeKey({10, 7, 50, 20});
    EXPECT_EQ(key[0], static_cast<std::uint8_t>(10 - 20)); // below zero, cut to 8 bits
    EXPECT_EQ(key[6], static_cast<std::uint8_t>((52 % 50) - 20));

    // The key repeats every 32 bytes over the whole datagram.
    std::vector<std::uint8_t> data(70, 0x5A);
    logview::Scramble(data.data(), data.size(), key);
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i], 0x5A ^ key[i % 32]) << "byte " << i;
    }
}

TEST(LogViewCodec, RoundTripsAndForeignKeysFail) {
    const logview::Key key = logview::MakeKey();
    for (std::uint32_t status : {1u, 3u, 0xFFFFFFFFu}) {
        const auto datagram = logview::EncodeStatus(status, key);
        const Packet packet = Decode(datagram, datagram.size(), &key);
        EXPECT_EQ(packet.kind, Kind::Status);
        EXPECT_EQ(packet.status, status); // unknown values are the receiver's to judge
    }
    // The longest text fits exactly; a longer one is cut and still decodes.
    const std::string texts[] = {"", "service started", std::string(logview::kMaxText, 'x'),
                                 std::string("a\0b", 3), std::string(9000, 'y')};
    for (const std::string& text : texts) {
        const std::string expected = text.substr(0, logview::kMaxText);
        const auto datagram = logview::EncodeLogLine(text, key);
        ASSERT_EQ(datagram.size(), 16 + expected.size());
        const Packet packet = Decode(datagram, datagram.size(), &key);
        EXPECT_EQ(packet.kind, Kind::LogLine);
        EXPECT_EQ(packet.text, expected);
    }

    const logview::Key theirs = logview::MakeKey({0x2F1B, 0x3D7, 0x1E5, 0x2A});
    for (const auto& foreign :
         {logview::EncodeStatus(1, theirs), logview::EncodeLogLine("hello", theirs)}) {
        EXPECT_EQ(Decode(foreign, foreign.size(), &key).kind, Kind::Ignored);
    }
}

TEST(LogViewCodec, TruncatedOrLyingDatagramsAreIgnored) {
    const logview::Key key = logview::MakeKey();
    for (const auto& datagram : {logview::EncodeStatus(1, key),
                                 logview::EncodeLogLine("a log line of some length", key)}) {
        for (std::size_t n = 0; n < datagram.size(); ++n) {
            EXPECT_EQ(Decode(datagram, n, &key).kind, Kind::Ignored) << n << " bytes";
        }
    }
    EXPECT_EQ(logview::DecodePacket(nullptr, 100).kind, Kind::Ignored);

    // The log line "hello", unscrambled, with one header word (magic, type, status, text
    // length) replaced.
    const auto decodePatched = [&key](int word, std::uint32_t value) {
        auto bytes = logview::EncodeLogLine("hello", key);
        logview::Scramble(bytes.data(), bytes.size(), key);
        for (int b = 0; b < 4; ++b) {
            bytes[word * 4 + b] = static_cast<std::uint8_t>(value >> (8 * b));
        }
        return Decode(bytes, bytes.size());
    };
    // Another magic, unknown types, text lengths past the end (also ones that would overflow
    // an addition).
    const std::pair<int, std::uint32_t> ignored[] = {
        {0, 0x46195826}, {1, 0}, {1, 102}, {3, 6}, {3, 100}, {3, 0xFFFFFFF0u}, {3, 0xFFFFFFFFu}};
    for (const auto& [word, value] : ignored) {
        EXPECT_EQ(decodePatched(word, value).kind, Kind::Ignored) << word << ": " << value;
    }
    // A shorter length: the text ends where it says. A status report with more bytes after it.
    EXPECT_EQ(decodePatched(3, 2).text, "he");
    EXPECT_EQ(decodePatched(1, 100).kind, Kind::Status);
}
