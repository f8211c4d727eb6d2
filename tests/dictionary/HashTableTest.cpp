#include "corvanelib/log/dictionary/BlockAllocator.h"
#include "corvanelib/log/dictionary/ConfigHashTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace corvanelib;

namespace {

void* Value(std::uintptr_t n) {
    return reinterpret_cast<void*>(n);
}

// Keys in insertion order; walked backwards too when asked, so a broken tail shows.
std::vector<std::string> Keys(const ConfigHashTable& table, bool backwards = false) {
    std::vector<std::string> keys;
    for (const ConfigHashEntry* e = backwards ? table.last : table.first; e != nullptr;
         e = backwards ? e->previousInOrder : e->nextInOrder) {
        keys.emplace_back(reinterpret_cast<const char*>(e->Key()), e->length);
    }
    return keys;
}

} // namespace

TEST(ConfigHashTable, HashesSignedBytesGrowsThroughPrimesAndKeepsOrder) {
    EXPECT_EQ(ElfHash("abc", 3), 26499u);
    // 0xE4 counts as -28: h = 0xFFFFFFE4, whose top bits are folded back and cleared.
    EXPECT_EQ(ElfHash("\xE4", 1), 0x0FFFFF14u);

    ConfigHashTable table{};
    void* value = nullptr;
    EXPECT_EQ(table.Insert("a", 1, Value(1)), kHashNoTable);
    EXPECT_EQ(table.Find("a", 1, nullptr, &value), kHashLookupNoTable);
    ASSERT_EQ(table.Create(50), kHashOk);
    std::vector<std::string> keys;
    for (std::uintptr_t i = 0; i < 54; ++i) {
        keys.push_back("section" + std::to_string(i));
        ASSERT_EQ(table.Insert(keys[i].data(), std::uint32_t(keys[i].size()), Value(i + 1)),
                  kHashOk);
        EXPECT_EQ(table.bucketCount, i < 53 ? 53u : 107u);
    }
    EXPECT_EQ(table.Insert("section7", 8, Value(99)), kHashDuplicate);
    EXPECT_EQ(Keys(table), keys);
    for (std::uintptr_t i = 0; i < 54; ++i) {
        ASSERT_EQ(table.Lookup(keys[i].data(), std::uint32_t(keys[i].size())), Value(i + 1));
    }
    EXPECT_EQ(table.Find("section", 7, nullptr, &value), kHashNotFound);
    table.Destroy();
}

TEST(ConfigHashTable, RemoveMendsChainsAndListEndsAndMatchTellsEqualKeysApart) {
    ConfigHashTable table{};
    // One bucket for every key: each removal must mend the chain as well as the list.
    auto oneBucket = [](const void*, std::uint32_t) -> std::uint32_t { return 7; };
    ASSERT_EQ(table.Create(5, nullptr, oneBucket), kHashOk);
    for (std::uintptr_t i = 1; i <= 5; ++i) {
        ASSERT_EQ(table.Insert(("k" + std::to_string(i)).c_str(), 2, Value(i)), kHashOk);
    }
    EXPECT_EQ(table.Remove("k5", 2), Value(5)); // bucket head, list tail
    EXPECT_EQ(table.Remove("k1", 2), Value(1)); // bucket tail, list head
    EXPECT_EQ(table.Remove("k3", 2), Value(3)); // middle of both
    EXPECT_EQ(table.Remove("k3", 2), nullptr);
    EXPECT_EQ(Keys(table), (std::vector<std::string>{"k2", "k4"}));
    EXPECT_EQ(Keys(table, true), (std::vector<std::string>{"k4", "k2"}));
    EXPECT_EQ(table.Lookup("k4", 2), Value(4));
    table.Remove("k2", 2);
    table.Remove("k4", 2);
    EXPECT_EQ(table.first, nullptr);
    EXPECT_EQ(table.last, nullptr);
    table.Destroy();

    // A match function with a cookie keeps two entries under one key.
    auto sameValue = [](const void*, void* stored, void* cookie) {
        return stored == cookie ? 0 : 1;
    };
    ASSERT_EQ(table.Create(5, sameValue), kHashOk);
    ASSERT_EQ(table.Insert("k", 1, Value(1)), kHashOk);
    ASSERT_EQ(table.Insert("k", 1, Value(2)), kHashOk);
    EXPECT_EQ(table.Insert("k", 1, Value(2)), kHashDuplicate);
    EXPECT_EQ(table.Lookup("k", 1, Value(1)), Value(1));
    EXPECT_EQ(table.Lookup("k", 1, Value(2)), Value(2));
    EXPECT_EQ(table.Lookup("k", 1, Value(3)), nullptr);
    table.Destroy();
}

TEST(BlockAllocator, ChunkBoundariesOversizeRequestsAndFailureMessage) {
    BlockAllocator allocator;
    EXPECT_EQ(allocator.Allocate(BlockAllocator::kChunkSize + 1), nullptr);
    auto* first = static_cast<unsigned char*>(allocator.Allocate(1000));
    // Rounded to the alignment; the rest of the chunk still fits exactly.
    EXPECT_EQ(allocator.Allocate(1), first + 1008);
    ASSERT_NE(allocator.Allocate(BlockAllocator::kChunkSize - allocator.Used()), nullptr);
    EXPECT_EQ(allocator.ChunkCount(), 1u);
    ASSERT_NE(allocator.Allocate(1), nullptr); // one more byte: a new chunk
    ASSERT_NE(allocator.Allocate(BlockAllocator::kChunkSize), nullptr);
    EXPECT_EQ(allocator.ChunkCount(), 3u);
    allocator.Release();
    EXPECT_EQ(allocator.ChunkCount(), 0u);

    BlockAllocator refused([](std::size_t) -> void* { return nullptr; });
    testing::internal::CaptureStdout();
    EXPECT_EQ(refused.Allocate(1), nullptr);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("file:", 0), 0u) << output;
    EXPECT_NE(output.find("BlockAllocator.cpp, line:"), std::string::npos) << output;
    EXPECT_NE(output.find(", malloc failed !!!!!\n"), std::string::npos) << output;
}
