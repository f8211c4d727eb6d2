#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

using namespace corvanelib;
namespace fs = std::filesystem;

namespace {

using Keys = std::vector<std::string>;

const std::string path = (fs::temp_directory_path() / "cvn_dict_test.ini").string();

// The test file, written in binary mode: the bytes read are the bytes given on every platform.
const char* Write(const std::string& content) {
    Put(path, content);
    return path.c_str();
}

std::string Value(const ConfigDictionary& d, const char* section, const char* key) {
    const ConfigKeyEntry* entry = FindEntry(FindSection(d, section), key);
    return entry != nullptr ? entry->value : FindSection(d, section) ? "<none>" : "<missing>";
}

TEST(ConfigDictionary, ReadsAMessyFileByTheLineRules) {
    ConfigDictionary d;
    ASSERT_EQ(
        LoadIfChanged(d, Write("; head\n# more\norphan = x\n[General]\nSiZe = first\n"
                               "size = second\n \v Spaced  =  both  \n=no key\nno eq\n"
                               "Path=C:\\d\\f.txt \t \nEmpty =\nTight=x=y\n; tail\n"
                               "[general]\nEXTRA = again\n\t# more tail\n[Open\nin = o\n"
                               "[Closed] ; n\nin = c\n[Last]\r\nKey = v\r\n; dropped\n[S]\na=" +
                               std::string(65532, 'y') + "b=c\n[Tail]")),
        kLoadOk);
    // Case-insensitive names, stored as first written; the first key wins; one blank dropped
    // on each side of "=", no more; other trailing blanks stay.
    EXPECT_EQ(std::string(FindSection(d, "GENERAL")->name) + "|" +
                  FindEntry(FindSection(d, "general"), "SIZE")->Text() + "|" +
                  Value(d, "general", "spaced ") + "|" + Value(d, "General", "path") + "|" +
                  Value(d, "General", "empty") + Value(d, "General", "tight"),
              "General|SiZe = first| both  |C:\\d\\f.txt \t |x=y");
    EXPECT_EQ(ListKeys(d, "general"), (Keys{"size", "spaced ", "path", "empty", "tight", "extra"}));
    // Header quirks; CR LF reads as LF; a long line arrives in pieces of 65,534 bytes.
    EXPECT_EQ(Value(d, "open\n", "in") + Value(d, "closed] ; n\n", "in") + Value(d, "last", "key") +
                  Value(d, "s", "b") + Value(d, "tail]", "x") + Value(d, "tail", "x"),
              "ocvc<none><missing>");
    EXPECT_EQ(Value(d, "s", "a").size(), 65532u);
    // Comments attach to the section above, from both places of a section opened twice.
    EXPECT_EQ(std::string(d.headerComment) + FindSection(d, "general")->comment,
              "; head\n# more\n; tail\n\t# more tail\n");
    // GetString: the capacity cuts and 0 copies nothing; a miss copies the default (without
    // one the destination stays as it was) and returns the empty constant, not the destination.
    char buffer[8] = "same";
    EXPECT_STREQ(GetString(d, "general", "size", buffer, 0, "dflt"), "first");
    EXPECT_EQ(GetString(d, "GENERAL", "SIZE", buffer, 4, "dflt"), buffer);
    std::string copies = buffer;
    copies += GetString(d, "none", "size", buffer, 4, "default") + std::string("|") + buffer;
    GetString(d, "general", "missing", buffer, 8, nullptr);
    EXPECT_EQ(copies + "|" + buffer, "fir|def|def");
}

// One large section, then many small ones (0.4 MB). Each key table starts small and grows with
// its own keys, so the file loads in full in a child process whose address space is limited to
// 64 MB more than it uses: tables sized for the large section would take about 1 GB.
bool LoadsUnderAMemoryLimit() {
#ifdef __linux__
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (64u << 20), RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
#endif
    ConfigDictionary d;
    return LoadIfChanged(d, path.c_str()) == kLoadOk && Value(d, "s1999", "k") == "1999";
}

int g_chunksLeft = 0;

// The write-time check before a reload is the caller's (the log configuration loads a fresh
// dictionary when the file's time moves); the dictionary's part is its path and Clear.
TEST(ConfigDictionary, ClearsReloadsAndFailsALoadBeyondItsMemory) {
    ConfigDictionary d(Write("[s]\nk = old\nj = 1\n"));
    EXPECT_EQ(ListKeys(d, "s"), (Keys{"k", "j"}));
    Clear(d);
    EXPECT_EQ(ListKeys(d, "s"), Keys{});
    Write("[s]\nk = new\n");
    EXPECT_EQ(LoadIfChanged(d, d.path), kLoadOk); // its own path buffer
    EXPECT_EQ(ListKeys(d, "s"), Keys{"k"});
    fs::remove(path);
    EXPECT_EQ(LoadIfChanged(d, path.c_str()), kLoadCannotOpen);
    EXPECT_EQ(FindSection(d, "s") == nullptr && d.path == path, true);
    std::string large = "[large]\n", small;
    for (int i = 0; i < 40000; ++i) {
        large += "k" + std::to_string(i) + "=1\n";
        small += i < 2000 ? "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n" : "";
    }
    Write(large + small);
    EXPECT_EXIT(std::exit(LoadsUnderAMemoryLimit() ? 0 : 1), testing::ExitedWithCode(0), "");
    // Out of memory (the allocator's chunks run out, a later one, then the first one): the load
    // fails rather than leave lines out, and the allocator's message tells which chunk failed.
    g_chunksLeft = 2; // one for a block of a whole chunk, the largest there is
    BlockAllocator allocator(
        [](std::size_t bytes) { return g_chunksLeft-- > 0 ? std::malloc(bytes) : nullptr; });
    const std::size_t chunk = BlockAllocator::kChunkSize;
    EXPECT_TRUE(allocator.Allocate(chunk + 1) == nullptr && allocator.Allocate(chunk) != nullptr);
    d.allocator = &allocator; // sections and entries come from it
    testing::internal::CaptureStdout();
    EXPECT_TRUE(LoadIfChanged(d, path.c_str()) == kLoadNoMemory &&
                LoadIfChanged(d, path.c_str()) == kLoadNoSection);
    EXPECT_TRUE(
        std::regex_match(testing::internal::GetCapturedStdout(),
                         std::regex("file:.*Allocator.cpp, line:53, malloc failed !!!!!\n"
                                    "file:.*Allocator.cpp, line:39, malloc failed !!!!!\n")));
    d.allocator = nullptr; // goes before the dictionary
}

// Keys of one hash that differ in length or content stay apart, the table grows through the
// primes keeping insertion order, and a match function tells entries of one key apart by their
// values (0 accepts): lookup, find and removal take the value to match as their cookie.
TEST(ConfigHashTable, GrowsKeepsOrderAndTellsEntriesApartByTheMatchFunction) {
    EXPECT_EQ(ElfHash("\xE4", 1), 0x0FFFFF14u); // signed bytes; top bits folded back
    ConfigHashTable table{};
    EXPECT_EQ(table.Insert("a", 1, &table), kHashNoTable);
    ASSERT_EQ(table.Create(53), kHashOk);
    Keys keys(54);
    for (std::uint32_t i = 0; i < 54; ++i) {
        keys[i] = "k" + std::to_string(i);
        ASSERT_EQ(table.Insert(keys[i].data(), std::uint32_t(keys[i].size()), &keys[i]), kHashOk);
        EXPECT_EQ(table.bucketCount, i < 53 ? 53u : 107u);
    }
    EXPECT_EQ(table.Insert("k7", 2, nullptr), kHashDuplicate);
    EXPECT_EQ(table.Insert("a", 1, &keys[0]) + table.Insert("\0a", 2, &keys[1]) +
                  table.Insert("\1\0", 2, &keys[2]) + table.Insert("\0\x10", 2, &keys[3]),
              kHashOk);
    for (const ConfigHashEntry* e = table.first; e != table.last; e = e->nextInOrder) {
        EXPECT_EQ(table.Lookup(e->Key(), e->length), e->value); // in insertion order
    }
    table.Destroy();

    ASSERT_EQ(table.Create(
                  3, [](const void*, void* stored, void* cookie) { return int(stored != cookie); }),
              kHashOk);
    int x = 0, y = 0;
    EXPECT_EQ(table.Insert("k", 1, &x) + table.Insert("k", 1, &y) + table.Insert("k", 1, &x),
              kHashDuplicate);
    EXPECT_TRUE(table.Lookup("k", 1, &y) == &y && table.Remove("k", 1, &x) == &x &&
                table.Find("k", 1, &x, nullptr) == kHashNotFound);
    table.Clear([](void* value) { ++*static_cast<int*>(value); });
    EXPECT_TRUE(x == 0 && y == 1 && table.count == 0 && table.Insert("k", 1, &x) == kHashOk);
    table.Destroy();
}

} // namespace
