#include "corvanelib/log/dictionary/BlockAllocator.h"
#include "corvanelib/log/dictionary/ConfigHashTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace corvanelib;

namespace {

void* Value(std::uintptr_t n) {
    return reinterpret_cast<void*>(n);
}

std::vector<std::string> KeysInOrder(const ConfigHashTable& table) {
    std::vector<std::string> keys;
    for (const ConfigHashEntry* e = table.first; e != nullptr; e = e->nextInOrder) {
        keys.emplace_back(reinterpret_cast<const char*>(e->Key()), e->length);
    }
    return keys;
}

// Walks the list backwards too, so a broken previous link or tail shows.
std::vector<std::string> KeysReversed(const ConfigHashTable& table) {
    std::vector<std::string> keys;
    for (const ConfigHashEntry* e = table.last; e != nullptr; e = e->previousInOrder) {
        keys.emplace_back(reinterpret_cast<const char*>(e->Key()), e->length);
    }
    return keys;
}

int Insert(ConfigHashTable& table, const std::string& key, std::uintptr_t value) {
    return table.Insert(key.data(), static_cast<std::uint32_t>(key.size()), Value(value));
}

void* Lookup(const ConfigHashTable& table, const std::string& key, void* cookie = nullptr) {
    return table.Lookup(key.data(), static_cast<std::uint32_t>(key.size()), cookie);
}

std::uint32_t SameBucket(const void*, std::uint32_t) {
    return 7;
}

// Accepts a stored value only when it equals the cookie.
int SameValue(const void*, void* stored, void* cookie) {
    return stored == cookie ? 0 : 1;
}

} // namespace

TEST(ConfigHashTable, ElfHashTakesBytesAsSigned) {
    EXPECT_EQ(ElfHash("", 0), 0u);
    EXPECT_EQ(ElfHash("abc", 3), 26499u);
    // 0xE4 counts as -28: h = 0xFFFFFFE4, whose top bits are folded back and cleared.
    EXPECT_EQ(ElfHash("\xE4", 1), 0x0FFFFF14u);
    // A long key keeps the top four bits clear.
    const std::string longKey(200, 'z');
    EXPECT_EQ(ElfHash(longKey.data(), 200) & 0xF0000000u, 0u);
}

TEST(ConfigHashTable, CreateRoundsUpToPrimeAndReportsMissingTable) {
    ConfigHashTable table{};
    EXPECT_EQ(Insert(table, "a", 1), kHashNoTable);
    void* value = nullptr;
    EXPECT_EQ(table.Find("a", 1, nullptr, &value), kHashLookupNoTable);
    EXPECT_EQ(Lookup(table, "a"), nullptr);
    EXPECT_EQ(table.Remove("a", 1), nullptr);

    ASSERT_EQ(table.Create(50), kHashOk);
    EXPECT_EQ(table.bucketCount, 53u);
    EXPECT_EQ(table.primeIndex, 3);
    table.Destroy();
    EXPECT_FALSE(table.IsCreated());

    ASSERT_EQ(table.Create(0), kHashOk);
    EXPECT_EQ(table.bucketCount, 5u);
    table.Destroy();
    ASSERT_EQ(table.Create(107), kHashOk);
    EXPECT_EQ(table.bucketCount, 107u);
    table.Destroy();
}

TEST(ConfigHashTable, InsertLookupDuplicatesAndGrowthKeepOrder) {
    ConfigHashTable table{};
    ASSERT_EQ(table.Create(50), kHashOk);
    std::vector<std::string> expected;
    for (int i = 0; i < 53; ++i) {
        expected.push_back("section" + std::to_string(i));
        ASSERT_EQ(Insert(table, expected.back(), i + 1), kHashOk);
    }
    EXPECT_EQ(table.bucketCount, 53u);
    EXPECT_EQ(Insert(table, "section7", 99), kHashDuplicate);
    EXPECT_EQ(Lookup(table, "section7"), Value(8));

    // The 54th entry outnumbers the buckets: the table grows to the next prime.
    expected.push_back("section53");
    ASSERT_EQ(Insert(table, expected.back(), 54), kHashOk);
    EXPECT_EQ(table.bucketCount, 107u);
    EXPECT_EQ(table.primeIndex, 4);
    EXPECT_EQ(table.count, 54u);
    EXPECT_EQ(KeysInOrder(table), expected);
    for (int i = 0; i < 54; ++i) {
        void* value = nullptr;
        ASSERT_EQ(table.Find(expected[i].data(), static_cast<std::uint32_t>(expected[i].size()),
                             nullptr, &value),
                  kHashOk);
        EXPECT_EQ(value, Value(i + 1));
    }
    void* value = nullptr;
    EXPECT_EQ(table.Find("missing", 7, nullptr, &value), kHashNotFound);
    // Keys are compared as bytes with their length: a prefix or an empty key is another key.
    EXPECT_EQ(Lookup(table, "section1"), Value(2));
    EXPECT_EQ(Lookup(table, "section"), nullptr);
    EXPECT_EQ(Insert(table, "", 500), kHashOk);
    EXPECT_EQ(Lookup(table, ""), Value(500));
    table.Destroy();
}

TEST(ConfigHashTable, RemoveFixesBucketHeadsAndListEnds) {
    ConfigHashTable table{};
    // One bucket for every key: each removal must mend the chain as well as the list.
    ASSERT_EQ(table.Create(5, nullptr, &SameBucket), kHashOk);
    for (std::uintptr_t i = 1; i <= 5; ++i) {
        ASSERT_EQ(Insert(table, "k" + std::to_string(i), i), kHashOk);
    }
    // The bucket's head is the newest entry, the list's head the oldest.
    EXPECT_EQ(table.Remove("k5", 2), Value(5)); // bucket head and list tail
    EXPECT_EQ(table.Remove("k1", 2), Value(1)); // bucket tail and list head
    EXPECT_EQ(table.Remove("k3", 2), Value(3)); // in the middle of both
    EXPECT_EQ(table.Remove("k3", 2), nullptr);
    EXPECT_EQ(table.count, 2u);
    EXPECT_EQ(KeysInOrder(table), (std::vector<std::string>{"k2", "k4"}));
    EXPECT_EQ(KeysReversed(table), (std::vector<std::string>{"k4", "k2"}));
    EXPECT_EQ(Lookup(table, "k2"), Value(2));
    EXPECT_EQ(Lookup(table, "k4"), Value(4));

    EXPECT_EQ(table.Remove("k2", 2), Value(2));
    EXPECT_EQ(table.Remove("k4", 2), Value(4));
    EXPECT_EQ(table.first, nullptr);
    EXPECT_EQ(table.last, nullptr);
    EXPECT_EQ(Insert(table, "k9", 9), kHashOk);
    EXPECT_EQ(KeysReversed(table), (std::vector<std::string>{"k9"}));
    table.Destroy();
}

TEST(ConfigHashTable, MatchFunctionSeparatesEqualKeys) {
    ConfigHashTable table{};
    ASSERT_EQ(table.Create(5, &SameValue), kHashOk);
    ASSERT_EQ(Insert(table, "k", 1), kHashOk);
    // Same key, but the match function tells the values apart: both are stored.
    ASSERT_EQ(Insert(table, "k", 2), kHashOk);
    // Same key and a value the match function accepts: a duplicate.
    EXPECT_EQ(Insert(table, "k", 2), kHashDuplicate);
    EXPECT_EQ(Lookup(table, "k", Value(1)), Value(1));
    EXPECT_EQ(Lookup(table, "k", Value(2)), Value(2));
    EXPECT_EQ(Lookup(table, "k", Value(3)), nullptr);
    // Without a cookie the first candidate in the bucket is taken.
    EXPECT_NE(Lookup(table, "k"), nullptr);
    EXPECT_EQ(table.Remove("k", 1, Value(1)), Value(1));
    EXPECT_EQ(Lookup(table, "k"), Value(2));
    table.Destroy();
}

TEST(ConfigHashTable, ClearCallsDestructorInOrderAndKeepsBuckets) {
    static std::vector<std::uintptr_t> destroyed;
    destroyed.clear();
    ConfigHashTable table{};
    ASSERT_EQ(table.Create(5), kHashOk);
    for (std::uintptr_t i = 1; i <= 12; ++i) {
        ASSERT_EQ(Insert(table, "key" + std::to_string(i), i), kHashOk);
    }
    EXPECT_EQ(table.bucketCount, 19u);
    table.Clear([](void* value) { destroyed.push_back(reinterpret_cast<std::uintptr_t>(value)); });
    EXPECT_EQ(destroyed.size(), 12u);
    EXPECT_EQ(destroyed.front(), 1u);
    EXPECT_EQ(destroyed.back(), 12u);
    EXPECT_TRUE(table.IsCreated());
    EXPECT_EQ(table.count, 0u);
    EXPECT_EQ(Lookup(table, "key3"), nullptr);
    EXPECT_EQ(Insert(table, "key3", 3), kHashOk);
    table.Destroy();
}

TEST(BlockAllocator, ChunkBoundariesAndOversizeRequests) {
    BlockAllocator allocator;
    EXPECT_EQ(allocator.Allocate(BlockAllocator::kChunkSize + 1), nullptr);
    EXPECT_EQ(allocator.ChunkCount(), 0u);

    auto* first = static_cast<unsigned char*>(allocator.Allocate(1000));
    ASSERT_NE(first, nullptr);
    std::memset(first, 0xAB, 1000);
    // Requests are rounded to the alignment; the next block follows directly.
    auto* second = static_cast<unsigned char*>(allocator.Allocate(1));
    EXPECT_EQ(second, first + 1008);
    EXPECT_EQ(allocator.Used(), 1008u + BlockAllocator::kAlignment);

    // Exactly the rest of the chunk still fits.
    const std::size_t rest = BlockAllocator::kChunkSize - allocator.Used();
    auto* tail = static_cast<unsigned char*>(allocator.Allocate(rest));
    ASSERT_NE(tail, nullptr);
    std::memset(tail, 0xCD, rest);
    EXPECT_EQ(allocator.ChunkCount(), 1u);
    EXPECT_EQ(allocator.Used(), BlockAllocator::kChunkSize);

    // One more byte starts a new chunk; a whole chunk's worth then needs a third.
    ASSERT_NE(allocator.Allocate(1), nullptr);
    EXPECT_EQ(allocator.ChunkCount(), 2u);
    auto* whole = static_cast<unsigned char*>(allocator.Allocate(BlockAllocator::kChunkSize));
    ASSERT_NE(whole, nullptr);
    std::memset(whole, 0xEF, BlockAllocator::kChunkSize);
    EXPECT_EQ(allocator.ChunkCount(), 3u);
    EXPECT_EQ(first[999], 0xAB);

    allocator.Release();
    EXPECT_EQ(allocator.ChunkCount(), 0u);
    EXPECT_NE(allocator.Allocate(8), nullptr);
}

TEST(BlockAllocator, ReportsChunkFailureOnStandardOutput) {
    static int calls;
    calls = 0;
    // The first chunk is granted, the second refused.
    BlockAllocator allocator(
        [](std::size_t bytes) -> void* { return ++calls == 1 ? std::malloc(bytes) : nullptr; });
    ASSERT_NE(allocator.Allocate(BlockAllocator::kChunkSize), nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(allocator.Allocate(16), nullptr);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("file:", 0), 0u) << output;
    EXPECT_NE(output.find("BlockAllocator.cpp, line:"), std::string::npos) << output;
    EXPECT_NE(output.find(", malloc failed !!!!!\n"), std::string::npos) << output;
    EXPECT_EQ(allocator.ChunkCount(), 1u);

    BlockAllocator refused([](std::size_t) -> void* { return nullptr; });
    testing::internal::CaptureStdout();
    EXPECT_EQ(refused.Allocate(1), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("malloc failed"), std::string::npos);
}
