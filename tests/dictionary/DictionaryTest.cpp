#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace corvanelib;
namespace fs = std::filesystem;

namespace {

using Keys = std::vector<std::string>;

// The case's own file, written in binary mode (the bytes read are the bytes given on every
// platform) and removed afterwards.
class ConfigDictionaryTest : public ::testing::Test {
protected:
    ~ConfigDictionaryTest() override { fs::remove(path, ignored); }
    const char* Write(const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
        return path.c_str();
    }
    const std::string path = (fs::temp_directory_path() / "cvn_dict_test.ini").string();
    std::error_code ignored;
};

std::string Value(const ConfigDictionary& d, const char* section, const char* key) {
    const ConfigKeyEntry* entry = FindEntry(FindSection(d, section), key);
    return entry != nullptr ? entry->value : "<missing>";
}

TEST_F(ConfigDictionaryTest, ReadsAMessyFileByTheLineRules) {
    BlockAllocator allocator; // sections and entries from chunks, in one of two rounds
    for (BlockAllocator* attached : {static_cast<BlockAllocator*>(nullptr), &allocator}) {
        ConfigDictionary d;
        d.allocator = attached;
        ASSERT_EQ(LoadIfChanged(d, Write("; head\n# more\norphan = x\n[General]\nSiZe = first\n"
                                         "size = second\n \v Spaced  =  both  \n=no key\nno eq\n"
                                         "Path=C:\\d\\f.txt \t \nEmpty =\nTight=x=y\n; tail\n"
                                         "[general]\nEXTRA = again\n\t# more tail\n[Open\nin = o\n"
                                         "[Closed] ; n\nin = c\n[Last]\r\nKey = v\r\n; dropped\n"
                                         "[S]\na=" +
                                         std::string(65532, 'y') + "b=c\n[Tail]")),
                  kLoadOk);
        // Case-insensitive names, stored as first written; the first key wins.
        EXPECT_STREQ(FindSection(d, "GENERAL")->name, "General");
        EXPECT_STREQ(FindEntry(FindSection(d, "general"), "SIZE")->Text(), "SiZe = first");
        // One blank dropped on each side of "=", no more; other trailing blanks stay.
        EXPECT_EQ(ListKeys(d, "general"),
                  (Keys{"size", "spaced ", "path", "empty", "tight", "extra"}));
        EXPECT_EQ(Value(d, "general", "spaced "), " both  ");
        EXPECT_EQ(Value(d, "General", "path"), "C:\\d\\f.txt \t ");
        EXPECT_EQ(Value(d, "General", "empty") + Value(d, "General", "tight"), "x=y");
        // Header quirks; CR LF reads as LF; a long line arrives in pieces of 65,534 bytes.
        EXPECT_EQ(Value(d, "open\n", "in") + Value(d, "closed] ; n\n", "in") +
                      Value(d, "last", "key"),
                  "ocv");
        EXPECT_EQ(Value(d, "s", "a").size(), 65532u);
        EXPECT_EQ(Value(d, "s", "b"), "c");
        EXPECT_EQ(FindSection(d, "tail"), nullptr);
        EXPECT_NE(FindSection(d, "tail]"), nullptr);
        // Comments attach to the section above, from both places of a section opened twice.
        EXPECT_STREQ(d.headerComment, "; head\n# more\n");
        EXPECT_STREQ(FindSection(d, "general")->comment, "; tail\n\t# more tail\n");
        // GetString: the capacity cuts and 0 copies nothing; a miss copies the default (or
        // empties the destination) and returns the empty constant, not the destination.
        char buffer[8] = "same";
        EXPECT_STREQ(GetString(d, "general", "size", buffer, 0, "dflt"), "first");
        EXPECT_EQ(GetString(d, "GENERAL", "SIZE", buffer, 4, "dflt"), buffer);
        EXPECT_STREQ(buffer, "fir");
        EXPECT_STREQ(GetString(d, "none", "size", buffer, 4, "default"), "");
        EXPECT_STREQ(buffer, "def");
        GetString(d, "general", "missing", buffer, 8, nullptr);
        EXPECT_STREQ(buffer, "");
    }
    EXPECT_EQ(allocator.ChunkCount(), 0u); // released by Clear
}

TEST_F(ConfigDictionaryTest, ReloadsOnlyWhenTheWriteTimeMovesAndForgetsEverythingOnClear) {
    ConfigDictionary d(Write("[s]\nk = old\nj = 1\n; the file's last comment is dropped\n"));
    EXPECT_EQ(FindSection(d, "s")->comment, nullptr);
    const fs::file_time_type stamp = fs::last_write_time(path);
    Write("[s]\nk = new\n");
    fs::last_write_time(path, stamp);
    EXPECT_EQ(LoadIfChanged(d, path.c_str()), kLoadOk);
    EXPECT_EQ(Value(d, "s", "k"), "old"); // same write time: current
    fs::last_write_time(path, stamp + std::chrono::seconds(10));
    EXPECT_EQ(LoadIfChanged(d, nullptr), kLoadOk); // through the stored path
    EXPECT_EQ(ListKeys(d, "s"), Keys{"k"});
    Clear(d);
    EXPECT_EQ(ListKeys(d, "s"), Keys{});
    EXPECT_EQ(LoadIfChanged(d, d.path), kLoadOk); // cleared: not current; its own path buffer
    EXPECT_EQ(Value(d, "s", "k"), "new");
    fs::remove(path);
    EXPECT_EQ(LoadIfChanged(d, path.c_str()), kLoadCannotOpen);
    EXPECT_EQ(FindSection(d, "s"), nullptr);
    EXPECT_EQ(std::string(d.path), path);
    ConfigDictionary never;
    EXPECT_EQ(LoadIfChanged(never, nullptr), kLoadCannotOpen);
}

TEST(ConfigHashTable, HashesGrowsKeepsOrderAndMendsChainsOnRemoval) {
    EXPECT_EQ(ElfHash("abc", 3), 26499u);
    EXPECT_EQ(ElfHash("\xE4", 1), 0x0FFFFF14u); // signed bytes; top bits folded back
    ConfigHashTable table{};
    EXPECT_EQ(table.Insert("a", 1, &table), kHashNoTable);
    EXPECT_EQ(table.Find("a", 1, nullptr, nullptr), kHashLookupNoTable);
    ASSERT_EQ(table.Create(53), kHashOk);
    Keys keys;
    for (int i = 0; i < 54; ++i) {
        keys.push_back("k" + std::to_string(i));
        ASSERT_EQ(table.Insert(keys[i].data(), std::uint32_t(keys[i].size()), &keys[i]), kHashOk);
        EXPECT_EQ(table.bucketCount, i < 53 ? 53u : 107u);
    }
    EXPECT_EQ(table.Insert("k7", 2, nullptr), kHashDuplicate);
    void* found = nullptr;
    EXPECT_EQ(table.Find("k53", 3, nullptr, &found), kHashOk);
    EXPECT_EQ(found, &keys[53]);
    EXPECT_EQ(table.Find("k", 1, nullptr, nullptr), kHashNotFound);
    table.Destroy();

    // One bucket for every key: each removal mends the chain as well as the order list.
    ASSERT_EQ(table.Create(5, nullptr, [](const void*, std::uint32_t) { return 7u; }), kHashOk);
    for (const char* key : {"k1", "k2", "k3", "k4", "k5"}) {
        ASSERT_EQ(table.Insert(key, 2, const_cast<char*>(key)), kHashOk);
    }
    for (const char* key : {"k5", "k1", "k3"}) { // bucket head, bucket tail, middle
        EXPECT_STREQ(static_cast<const char*>(table.Remove(key, 2)), key);
    }
    EXPECT_EQ(table.Remove("k3", 2), nullptr);
    EXPECT_STREQ(static_cast<const char*>(table.Lookup("k4", 2)), "k4");
    auto text = [](const ConfigHashEntry* e) { return static_cast<const char*>(e->value); };
    EXPECT_EQ(std::string(text(table.first)) + text(table.last) + text(table.last->previousInOrder),
              "k2k4k2");
    table.Destroy();
    // A match function with a cookie keeps two entries under one key.
    ASSERT_EQ(table.Create(
                  5, [](const void*, void* stored, void* cookie) { return int(stored != cookie); }),
              kHashOk);
    ASSERT_EQ(table.Insert("k", 1, &found) + table.Insert("k", 1, &keys), kHashOk);
    EXPECT_EQ(table.Insert("k", 1, &keys), kHashDuplicate);
    EXPECT_EQ(table.Lookup("k", 1, &keys), &keys);
    EXPECT_EQ(table.Lookup("k", 1, &table), nullptr);
    table.Destroy();
    BlockAllocator allocator;
    EXPECT_EQ(allocator.Allocate(BlockAllocator::kChunkSize + 1), nullptr);
    EXPECT_NE(allocator.Allocate(BlockAllocator::kChunkSize), nullptr);
}

} // namespace
