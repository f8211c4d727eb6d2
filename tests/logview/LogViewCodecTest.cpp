#include "LogViewCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using logview::DecodePacket;
using logview::Packet;

namespace {

// Unscrambles a copy of exactly `length` bytes, so that any read past them is a heap overflow
// the sanitizer reports.
Packet DecodeFirst(const std::vector<std::uint8_t>& scrambled, std::size_t length,
                   const logview::Key& key, std::string* text = nullptr) {
    std::vector<std::uint8_t> copy(scrambled.begin(), scrambled.begin() + length);
    logview::Scramble(copy.data(), copy.size(), key);
    const Packet packet = DecodePacket(copy.data(), copy.size());
    if (text != nullptr) {
        text->assign(packet.text.data(), packet.text.size());
    }
    return packet;
}

std::vector<std::uint8_t> Plain(std::uint32_t magic, std::uint32_t type, std::uint32_t status,
                                std::uint32_t textLength, const std::string& text) {
    std::vector<std::uint8_t> bytes(16 + text.size());
    const std::uint32_t words[4] = {magic, type, status, textLength};
    for (int w = 0; w < 4; ++w) {
        for (int b = 0; b < 4; ++b) {
            bytes[w * 4 + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
        }
    }
    std::memcpy(bytes.data() + 16, text.data(), text.size());
    return bytes;
}

} // namespace

TEST(LogViewKey, FollowsTheRuleAndWrapsBelowZero) {
    const logview::KeyRule rule{10, 7, 50, 20};
    const logview::Key key = logview::MakeKey(rule);
    EXPECT_EQ(key[0], static_cast<std::uint8_t>(10 - 20)); // 0xF6: below zero, cut to 8 bits
    EXPECT_EQ(key[3], 31 - 20);
    EXPECT_EQ(key[6], static_cast<std::uint8_t>((52 % 50) - 20));
    EXPECT_EQ(key[31], static_cast<std::uint8_t>(((10 + 31 * 7) % 50) - 20));

    // The shared key is the same for every caller and not trivially weak.
    const logview::Key shared = logview::MakeKey();
    EXPECT_EQ(shared, logview::MakeKey(logview::kKeyRule));
    int distinct = 0;
    for (std::size_t i = 1; i < shared.size(); ++i) {
        distinct += shared[i] != shared[0];
    }
    EXPECT_GT(distinct, 16);
}

TEST(LogViewScramble, CoversEveryByteAndUndoesItself) {
    const logview::Key key = logview::MakeKey();
    std::vector<std::uint8_t> data(70);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 3);
    }
    const std::vector<std::uint8_t> original = data;
    logview::Scramble(data.data(), data.size(), key);
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i], original[i] ^ key[i % 32]) << "byte " << i;
    }
    logview::Scramble(data.data(), data.size(), key);
    EXPECT_EQ(data, original);
}

TEST(LogViewCodec, RoundTrips) {
    const logview::Key key = logview::MakeKey();
    for (std::uint32_t status : {1u, 2u, 3u, 5u, 0xFFFFFFFFu}) {
        const auto datagram = logview::EncodeStatus(status, key);
        ASSERT_EQ(datagram.size(), 12u);
        const Packet packet = DecodeFirst(datagram, datagram.size(), key);
        EXPECT_EQ(packet.kind, Packet::Kind::Status);
        EXPECT_EQ(packet.status, status); // unknown values are the receiver's to judge
    }

    const std::string texts[] = {"", "service started", std::string(logview::kMaxText, 'x'),
                                 std::string("a\0b", 3)};
    for (const std::string& text : texts) {
        const auto datagram = logview::EncodeLogLine(text, key);
        ASSERT_EQ(datagram.size(), 16 + text.size());
        std::string decoded;
        const Packet packet = DecodeFirst(datagram, datagram.size(), key, &decoded);
        EXPECT_EQ(packet.kind, Packet::Kind::LogLine);
        EXPECT_EQ(decoded, text);
    }

    // Longer than a datagram can carry: cut, still decodable.
    const auto longest = logview::EncodeLogLine(std::string(9000, 'y'), key);
    ASSERT_EQ(longest.size(), logview::kMaxDatagram);
    std::string decoded;
    EXPECT_EQ(DecodeFirst(longest, longest.size(), key, &decoded).kind, Packet::Kind::LogLine);
    EXPECT_EQ(decoded, std::string(logview::kMaxText, 'y'));
}

TEST(LogViewCodec, ForeignKeyFailsTheMagicTest) {
    const logview::Key ours = logview::MakeKey();
    const logview::Key theirs = logview::MakeKey({0x2F1B, 0x3D7, 0x1E5, 0x2A});
    ASSERT_NE(ours, theirs);
    EXPECT_EQ(DecodeFirst(logview::EncodeStatus(1, theirs), 12, ours).kind, Packet::Kind::Ignored);
    const auto line = logview::EncodeLogLine("hello", theirs);
    EXPECT_EQ(DecodeFirst(line, line.size(), ours).kind, Packet::Kind::Ignored);
}

TEST(LogViewCodec, EveryTruncationIsIgnored) {
    const logview::Key key = logview::MakeKey();
    const auto status = logview::EncodeStatus(1, key);
    for (std::size_t n = 0; n < status.size(); ++n) {
        EXPECT_EQ(DecodeFirst(status, n, key).kind, Packet::Kind::Ignored) << n << " bytes";
    }
    const auto line = logview::EncodeLogLine("a log line of some length", key);
    for (std::size_t n = 0; n < line.size(); ++n) {
        EXPECT_EQ(DecodeFirst(line, n, key).kind, Packet::Kind::Ignored) << n << " bytes";
    }
    EXPECT_EQ(DecodePacket(nullptr, 100).kind, Packet::Kind::Ignored);
}

TEST(LogViewCodec, DistrustsHeaderFields) {
    std::vector<std::uint8_t> copy; // exact size for the sanitizer; holds the decoded text
    const auto decode = [&copy](const std::vector<std::uint8_t>& plain) {
        copy = plain;
        copy.shrink_to_fit();
        return DecodePacket(copy.data(), copy.size());
    };
    // A text length past the end, including ones that would overflow an addition.
    for (std::uint32_t claimed : {6u, 100u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        EXPECT_EQ(decode(Plain(logview::kMagic, 101, 0, claimed, "hello")).kind,
                  Packet::Kind::Ignored)
            << claimed;
    }
    // A shorter length than the datagram holds: the text ends where the length says.
    const Packet shorter = decode(Plain(logview::kMagic, 101, 0, 2, "hello"));
    EXPECT_EQ(shorter.kind, Packet::Kind::LogLine);
    EXPECT_EQ(shorter.text, "he");
    // Types other than 100 and 101, and another magic.
    EXPECT_EQ(decode(Plain(logview::kMagic, 102, 1, 0, "")).kind, Packet::Kind::Ignored);
    EXPECT_EQ(decode(Plain(logview::kMagic, 0, 1, 0, "")).kind, Packet::Kind::Ignored);
    EXPECT_EQ(decode(Plain(0x46195826, 100, 1, 0, "")).kind, Packet::Kind::Ignored);
    // A status report followed by more bytes is still a status report.
    const Packet status = decode(Plain(logview::kMagic, 100, 3, 77, "trailing"));
    EXPECT_EQ(status.kind, Packet::Kind::Status);
    EXPECT_EQ(status.status, 3u);
}
