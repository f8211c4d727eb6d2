#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include "tests/support/TempDir.h"

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

using namespace corvane::tests::support;

using namespace corvanelib;
namespace fs = std::filesystem;

namespace {

using Keys = std::vector<std::string>;

using ConfigDictionaryTest = TempDirTest;

std::string Value(const ConfigDictionary& d, const char* section, const char* key) {
    const ConfigKeyEntry* entry = FindEntry(FindSection(d, section), key);
    return entry != nullptr ? entry->value : FindSection(d, section) ? "<none>" : "<missing>";
}

TEST_F(ConfigDictionaryTest, ReadsAMessyFileByTheLineRules) {
    // Written in binary mode: the bytes read are the bytes given on every platform.
    const std::string path = PathOf("config.ini");
    ConfigDictionary d;
    Put(path, "; head\n# more\norphan = x\n[General]\nSiZe = first\n"
              "size = second\n \v Spaced  =  both  \n=no key\nno eq\n"
              "Path=C:\\d\\f.txt \t \nEmpty =\nTight=x=y\n; tail\n"
              "[general]\nEXTRA = again\n\t# more tail\n[Open\nin = o\n"
              "[Closed] ; n\nin = c\n[Last]\r\nKey = v\r\n; dropped\n[S]\na=" +
                  std::string(65532, 'y') + "b=c\n[Tail]");
    ASSERT_EQ(LoadIfChanged(d, path.c_str()), kLoadOk);
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
    // GetString: the stored text itself without a destination; the capacity cuts what is
    // copied, found or defaulted; a miss without a default leaves the destination alone.
    char buffer[8] = "same";
    EXPECT_STREQ(GetString(d, "general", "size", nullptr, 0, nullptr), "first");
    std::string copies = GetString(d, "GENERAL", "SIZE", buffer, 4, "dflt");
    GetString(d, "none", "size", buffer, 4, "default");
    copies += std::string("|") + buffer;
    GetString(d, "general", "missing", buffer, 8, nullptr);
    EXPECT_EQ(copies + "|" + buffer, "fir|def|def");
    // A file that cannot be opened empties the dictionary.
    fs::remove(path);
    EXPECT_TRUE(LoadIfChanged(d, path.c_str()) == kLoadCannotOpen &&
                FindSection(d, "s") == nullptr);
}

// One large section, then many small ones (0.4 MB). Each key table starts small and grows with
// its own keys, so the file loads in full in a child process whose address space is limited to
// 64 MB more than it uses: tables sized for the large section would take about 1 GB.
bool LoadsUnderAMemoryLimit(const std::string& path) {
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

TEST_F(ConfigDictionaryTest, FailsALoadBeyondItsMemory) {
    const std::string path = PathOf("config.ini");
    ConfigDictionary d;
    std::string large = "[large]\n", small;
    for (int i = 0; i < 40000; ++i) {
        large += "k" + std::to_string(i) + "=1\n";
        small += i < 2000 ? "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n" : "";
    }
    Put(path, large + small);
    EXPECT_EXIT(std::exit(LoadsUnderAMemoryLimit(path) ? 0 : 1), testing::ExitedWithCode(0), "");
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

int g_destroyed = 0;

// Keys of one hash that differ in length or content stay apart, and the table grows through the
// primes keeping insertion order; destroying it hands every value to the destructor once (the
// dictionary frees its keys so).
TEST(ConfigHashTable, GrowsKeepsOrderAndTellsKeysApart) {
    EXPECT_EQ(ElfHash("\xE4", 1), 0x0FFFFF14u); // signed bytes; top bits folded back
    ConfigHashTable table{};
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
    table.Destroy([](void*) { ++g_destroyed; });
    EXPECT_EQ(g_destroyed, 58);
}

} // namespace
