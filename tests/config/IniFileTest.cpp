// The INI engine, built natively (under ASan and UBSan) and for Windows (under Wine).
#include "AtomicFile.h"
#include "IniFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Noon UTC on Friday, 4 December 2026: the same local date in every time zone up to +-11 h.
std::time_t FixedClock() {
    return 1796385600;
}
const char kStamp[] = "// write by Friday, December 04, 2026\r\n";

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               (std::string("inifile-") + info->name() + "-" + std::to_string(serial++));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string PathOf(const char* name) const { return (dir_ / name).string(); }

    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static CIniFile Parsed(const std::string& bytes) {
        CIniFile ini;
        ini.SetClock(FixedClock);
        ini.Parse(bytes.data(), bytes.size());
        return ini;
    }
    // Names of the files in the test directory.
    std::string Listing() const {
        std::string names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names += entry.path().filename().string() + ";";
        }
        return names;
    }

    fs::path dir_;
};

// One messy file with every line rule, line ends mixed, the last line without a line end.
const char kMessy[] = "; written by hand\r\n"
                      "top = level\n"
                      "[ Gate way ]\r\n"
                      "a = b = c\r\n"
                      "   name   =   \r\n"
                      "=starts with equals\r\n"
                      "no equals sign\r\n"
                      " [Indented]\r\n"
                      "[]\r\n"
                      "\r\n"
                      "[A]trailing text\n"
                      "x = 1\n"
                      "[A]\n"
                      "x = 2\n"
                      "y=  spaced value\t";

TEST_F(IniFileTest, ReadingRulesForHeadersCommentsAndPairs) {
    const CIniFile ini = Parsed(kMessy);
    const auto& keys = ini.Keys();
    ASSERT_EQ(keys.size(), 4u);

    // The note key holds what stands before the first header.
    EXPECT_EQ(keys[0].name, "[note]");
    ASSERT_EQ(keys[0].idents.size(), 2u);
    EXPECT_EQ(keys[0].idents[0].name, "; written by hand");
    EXPECT_EQ(keys[0].idents[0].comment, 1);
    EXPECT_EQ(keys[0].idents[1].name, "top");
    EXPECT_EQ(keys[0].idents[1].value, "level");

    // Blanks inside the brackets stay; text after "]" is ignored.
    EXPECT_EQ(keys[1].name, " Gate way ");
    EXPECT_EQ(keys[2].name, "A");
    EXPECT_EQ(keys[3].name, "A");

    const auto& lines = keys[1].idents;
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].name, "a");
    EXPECT_EQ(lines[0].value, "b = c");
    EXPECT_EQ(lines[0].comment, 0);
    EXPECT_EQ(lines[1].name, "name");
    EXPECT_EQ(lines[1].value, "");
    EXPECT_EQ(lines[1].comment, 0);
    for (std::size_t i = 2; i < 7; ++i) {
        EXPECT_EQ(lines[i].comment, 1) << i;
        EXPECT_EQ(lines[i].value, "") << i;
    }
    EXPECT_EQ(lines[2].name, "=starts with equals");
    EXPECT_EQ(lines[3].name, "no equals sign");
    EXPECT_EQ(lines[4].name, " [Indented]");
    EXPECT_EQ(lines[5].name, "[]");
    EXPECT_EQ(lines[6].name, "");

    // Two keys of one name: both kept, lookups take the first.
    EXPECT_EQ(ini.GetValue("A", "x"), "1");
    EXPECT_EQ(ini.FindValue(3, "y"), 1);
    EXPECT_EQ(ini.GetValue("A", "y"), "");
    EXPECT_EQ(ini.GetValue(" Gate way ", "a"), "b = c");
    EXPECT_EQ(ini.FindKey("Gate way"), -1);
}

TEST_F(IniFileTest, WritingLayoutAndStableRoundTrip) {
    CIniFile ini = Parsed(kMessy);
    const std::string first = ini.Serialize();
    EXPECT_EQ(first, "; written by hand\r\n"
                     "top = level\r\n"
                     "[ Gate way ]\r\n"
                     "a = b = c\r\n"
                     "name = \r\n"
                     "=starts with equals\r\n"
                     "no equals sign\r\n"
                     " [Indented]\r\n"
                     "[]\r\n"
                     "\r\n"
                     "[A]\r\n"
                     "x = 1\r\n"
                     "\r\n"
                     "[A]\r\n"
                     "x = 2\r\n"
                     "y = spaced value\r\n"
                     "\r\n");
    // Read and written again: the same bytes.
    EXPECT_EQ(Parsed(first).Serialize(), first);

    // The same through files, which hold CRLF on every platform.
    const std::string path = PathOf("messy.ini");
    Put(path, kMessy);
    CIniFile disk;
    disk.SetClock(FixedClock);
    disk.SetPath(path.c_str());
    ASSERT_TRUE(disk.ReadFile());
    ASSERT_TRUE(disk.WriteFile());
    EXPECT_EQ(Get(path), first);
    ASSERT_TRUE(disk.ReadFile());
    ASSERT_TRUE(disk.WriteFile());
    EXPECT_EQ(Get(path), first);
}

TEST_F(IniFileTest, StampLineOnlyWhenTheNoteKeyIsEmpty) {
    CIniFile ini = Parsed("[GatewayIp]\r\nspecify = 0\r\n");
    ASSERT_EQ(ini.Keys().size(), 2u);
    EXPECT_TRUE(ini.Keys()[0].idents.empty());
    EXPECT_EQ(ini.Keys()[1].name, "GatewayIp");
    const std::string written = ini.Serialize();
    EXPECT_EQ(written, std::string(kStamp) + "[GatewayIp]\r\nspecify = 0\r\n\r\n");

    // Read back, the stamp is the note key's line and is carried unchanged, whatever the date.
    CIniFile again = Parsed(written);
    again.SetClock([]() -> std::time_t { return 0; });
    EXPECT_EQ(again.Serialize(), written);

    // Every line of a longer note block is written back.
    EXPECT_EQ(Parsed("// one\r\n// two\r\n[K]\r\n").Serialize(), "// one\r\n// two\r\n[K]\r\n\r\n");
}

TEST_F(IniFileTest, SetValuePlacesNewKeysAndValues) {
    CIniFile ini = Parsed("[K]\r\na = 1\r\n; tail comment\r\n\r\n[L]\r\nb = 2\r\n");
    const std::string before = ini.Serialize();

    EXPECT_FALSE(ini.SetValue("M", "c", "3", false));
    EXPECT_FALSE(ini.SetValue("K", "c", "3", false));
    EXPECT_EQ(ini.Serialize(), before);

    EXPECT_TRUE(ini.SetValue("K", "a", "one", false)); // in place
    EXPECT_TRUE(ini.SetValue("K", "c", "3"));          // behind the trailing lines
    EXPECT_TRUE(ini.SetValue("M", "d", "4"));          // a new key at the end
    EXPECT_EQ(ini.Serialize(), std::string(kStamp) +
                                   "[K]\r\na = one\r\n; tail comment\r\n\r\nc = 3\r\n\r\n"
                                   "[L]\r\nb = 2\r\n\r\n"
                                   "[M]\r\nd = 4\r\n\r\n");
}

TEST_F(IniFileTest, NoteKeyIsNeverFoundByName) {
    CIniFile ini = Parsed("// stamp\r\n");
    EXPECT_EQ(ini.FindKey("[note]"), -1);
    EXPECT_EQ(ini.FindValue(0, "// stamp"), -1);
    EXPECT_EQ(ini.GetNumValues("[note]"), -1);
    EXPECT_TRUE(ini.SetValue("[note]", "v", "1"));
    EXPECT_EQ(ini.Serialize(), "// stamp\r\n[[note]]\r\nv = 1\r\n\r\n");
    // The appended key is an ordinary one: found at index 1 from now on.
    EXPECT_EQ(ini.FindKey("[note]"), 1);
    EXPECT_EQ(ini.GetValue("[note]", "v"), "1");
}

TEST_F(IniFileTest, NamesAreCaseSensitiveBooleansAreNot) {
    CIniFile ini = Parsed("[AutoAuthen]\r\nUserName = bob\r\n"
                          "t1 = TRUE\r\nt2 = Yes\r\nt3 = oK\r\nf1 = 1\r\nf2 = on\r\nf3 = \r\n");
    EXPECT_EQ(ini.GetValue("AutoAuthen", "UserName"), "bob");
    EXPECT_EQ(ini.GetValue("AutoAuthen", "username"), "");
    EXPECT_EQ(ini.GetValue("autoauthen", "UserName"), "");
    EXPECT_TRUE(ini.GetValueB("AutoAuthen", "t1"));
    EXPECT_TRUE(ini.GetValueB("AutoAuthen", "t2"));
    EXPECT_TRUE(ini.GetValueB("AutoAuthen", "t3"));
    EXPECT_FALSE(ini.GetValueB("AutoAuthen", "f1"));
    EXPECT_FALSE(ini.GetValueB("AutoAuthen", "f2"));
    EXPECT_FALSE(ini.GetValueB("AutoAuthen", "f3"));
    EXPECT_FALSE(ini.GetValueB("AutoAuthen", "missing"));
}

TEST_F(IniFileTest, TypedValues) {
    CIniFile ini;
    EXPECT_TRUE(ini.SetValueI("T", "i", -42));
    EXPECT_TRUE(ini.SetValueUL("T", "u", 4000000000ul));
    EXPECT_TRUE(ini.SetValueF("T", "f", 2.5));
    EXPECT_TRUE(ini.SetValueB("T", "b", true));
    EXPECT_FALSE(ini.SetValueB("U", "b", true, false));
    EXPECT_EQ(ini.GetValue("T", "f"), "2.500000");
    EXPECT_EQ(ini.GetValueI("T", "i"), -42);
    EXPECT_EQ(ini.GetValueUL("T", "u"), 4000000000ul);
    EXPECT_DOUBLE_EQ(ini.GetValueF("T", "f"), 2.5);
    EXPECT_TRUE(ini.GetValueB("T", "b"));

    // Leading digits count; empty, missing and out-of-range values stay defined.
    ini.SetValue("T", "partial", "12abc");
    ini.SetValue("T", "huge", "99999999999999");
    EXPECT_EQ(ini.GetValueI("T", "partial"), 12);
    EXPECT_EQ(ini.GetValueI("T", "huge"), 2147483647);
    EXPECT_EQ(ini.GetValueUL("T", "huge"), 0xFFFFFFFFul);
    EXPECT_EQ(ini.GetValueI("T", "missing"), 0);
    EXPECT_EQ(ini.GetValueUL("X", "u"), 0ul);
    EXPECT_EQ(ini.GetValueF("T", "missing"), 0.0);

    // The out-argument form trims the left end and reports emptiness.
    ini.SetValue("T", "padded", "  v ");
    ini.SetValue("T", "blank", "   ");
    std::string out = "untouched";
    EXPECT_FALSE(ini.GetValue("T", "missing", out));
    EXPECT_EQ(out, "untouched");
    EXPECT_TRUE(ini.GetValue("T", "padded", out));
    EXPECT_EQ(out, "v ");
    EXPECT_FALSE(ini.GetValue("T", "blank", out));
    EXPECT_EQ(out, "");
}

TEST_F(IniFileTest, BinaryValues) {
    CIniFile ini;
    const unsigned char bytes[] = {0x01, 0xab};
    ASSERT_TRUE(ini.SetValueBinary("B", "v", bytes, 2));
    EXPECT_EQ(ini.GetValue("B", "v"), "0x01 0xab ");

    // Through the file: the trailing blank is trimmed and both bytes still come back.
    CIniFile back = Parsed(ini.Serialize());
    EXPECT_EQ(back.GetValue("B", "v"), "0x01 0xab");
    unsigned char out[4] = {};
    std::size_t count = sizeof out;
    ASSERT_TRUE(back.GetValueBinary("B", "v", out, count));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[1], 0xab);

    unsigned char one[4] = {};
    count = 1;
    ASSERT_TRUE(back.GetValueBinary("B", "v", one, count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(one[0], 0x01);
    EXPECT_EQ(one[1], 0);

    back.SetValue("B", "bad", "0x01 1xab");
    back.SetValue("B", "short", "0x1");
    count = 4;
    EXPECT_FALSE(back.GetValueBinary("B", "bad", out, count));
    EXPECT_EQ(count, 4u);
    EXPECT_FALSE(back.GetValueBinary("B", "missing", out, count));
    EXPECT_TRUE(back.GetValueBinary("B", "short", out, count));
    EXPECT_EQ(count, 0u);
}

TEST_F(IniFileTest, NavigationAndDeletion) {
    CIniFile ini = Parsed("n\r\n[K]\r\na = 1\r\n; c\r\n[L]\r\n");
    EXPECT_EQ(ini.GetNumKeys(), 2);
    EXPECT_EQ(ini.GetKeyName(0), "K");
    EXPECT_EQ(ini.GetKeyName(1), "L");
    EXPECT_EQ(ini.GetKeyName(2), "");
    EXPECT_EQ(ini.GetKeyName(-1), "");
    EXPECT_EQ(ini.GetValueName(0, 0), "n");
    EXPECT_EQ(ini.GetValueName(1, 1), "; c");
    EXPECT_EQ(ini.GetValueAt(1, 0), "1");
    EXPECT_EQ(ini.GetValueAt(1, 5), "");
    EXPECT_EQ(ini.GetValueAt(9, 0), "");
    EXPECT_EQ(ini.GetNumValues("K"), 2);
    EXPECT_EQ(ini.GetNumValues("L"), 0);
    EXPECT_EQ(ini.GetNumValues("M"), -1);
    EXPECT_EQ(ini.FindValue(1, "; c"), 1); // comment lines are found by their text
    EXPECT_EQ(ini.FindValue(5, "a"), -1);

    EXPECT_FALSE(ini.DeleteKey("M"));
    EXPECT_TRUE(ini.DeleteKey("K"));
    EXPECT_EQ(ini.GetKeyName(0), "L");
    EXPECT_EQ(ini.Serialize(), "n\r\n[L]\r\n\r\n");
}

TEST_F(IniFileTest, PathIsCutAt255) {
    CIniFile ini;
    const std::string longPath(300, 'p');
    ini.SetPath(longPath.c_str());
    EXPECT_EQ(std::string(ini.GetPath()), longPath.substr(0, 255));
    ini.SetPath("short");
    EXPECT_EQ(std::string(ini.GetPath()), "short");
}

TEST_F(IniFileTest, MissingOrUnreadableFileKeepsTheImage) {
    CIniFile ini;
    ini.SetClock(FixedClock);
    EXPECT_FALSE(ini.ReadFile()); // no path
    ini.SetValue("K", "a", "1");

    const std::string path = PathOf("missing.ini");
    ini.SetPath(path.c_str());
    EXPECT_FALSE(ini.ReadFile());
    ini.SetPath(dir_.string().c_str()); // a directory: opening or reading fails
    EXPECT_FALSE(ini.ReadFile());
    EXPECT_EQ(ini.GetValue("K", "a"), "1");
    ASSERT_EQ(ini.Keys().size(), 2u);

    ASSERT_TRUE(ini.WriteFile(path.c_str()));
    EXPECT_EQ(Get(path), std::string(kStamp) + "[K]\r\na = 1\r\n\r\n");

    // Into a folder that does not exist: false, and nothing is created.
    EXPECT_FALSE(ini.WriteFile(PathOf("no-such-dir/x.ini").c_str()));
    EXPECT_FALSE(CIniFile().WriteFile()); // no path at all
}

// Faults of the original design, mended.
TEST_F(IniFileTest, TextsThatWouldNotReadBackAreHandled) {
    // Setting a value never lands on a comment line, where it would not be written.
    CIniFile ini = Parsed("[K]\r\n\r\n; note\r\n");
    EXPECT_TRUE(ini.SetValue("K", "", "x"));
    EXPECT_TRUE(ini.SetValue("K", "; note", "y"));
    EXPECT_EQ(Parsed(ini.Serialize()).GetValue("K", "; note"), "y");
    EXPECT_EQ(Parsed(ini.Serialize()).GetValue("K", ""), "x");

    // Line breaks would add lines (and keys) to the file.
    EXPECT_FALSE(ini.SetValue("K", "user", "bob\r\n[GatewayIp]\r\nspecify = 1"));
    EXPECT_FALSE(ini.SetValue("K", "a\nb", "1"));
    EXPECT_FALSE(ini.SetValue("K\n", "a", "1"));
    EXPECT_EQ(ini.GetNumValues("K"), 4);
    EXPECT_EQ(ini.FindKey("GatewayIp"), -1);

    // A pair whose text looks like a header is written so that it stays a pair.
    CIniFile odd = Parsed("[K]\r\n [x] = 1\r\n [ = y]\r\n");
    const std::string once = odd.Serialize();
    CIniFile back = Parsed(once);
    EXPECT_EQ(back.Keys().size(), 2u);
    EXPECT_EQ(back.GetValue("K", "[x]"), "1");
    EXPECT_EQ(back.GetValue("K", "["), "y]");
    EXPECT_EQ(back.Serialize(), once);
}

TEST_F(IniFileTest, ReplacingIsAllOrNothing) {
    const std::string path = PathOf("user.ini");
    const std::string oldBytes = "[K]\r\nold = 1\r\n\r\n";
    Put(path, oldBytes);
    const std::string newBytes(300000, 'n'); // several chunks

    // The write fails part-way: the old file stays, no temporary file is left.
    static int calls;
    calls = 0;
    auto failSecond = [](const void* data, std::size_t size, std::FILE* file) -> std::size_t {
        return ++calls == 2 ? size / 2 : std::fwrite(data, 1, size, file);
    };
    EXPECT_FALSE(inifile::ReplaceFileContents(path.c_str(), newBytes, failSecond));
    EXPECT_GE(calls, 2);
    EXPECT_EQ(Get(path), oldBytes);
    EXPECT_EQ(Listing(), "user.ini;");

    ASSERT_TRUE(inifile::ReplaceFileContents(path.c_str(), newBytes));
    EXPECT_EQ(Get(path), newBytes);
    EXPECT_EQ(Listing(), "user.ini;");

    // A reader that holds the file open does not stop the save.
    {
        std::ifstream reader(path, std::ios::binary);
        ASSERT_TRUE(reader.is_open());
        ASSERT_TRUE(inifile::ReplaceFileContents(path.c_str(), oldBytes));
    }
    EXPECT_EQ(Get(path), oldBytes);
}

#ifndef _WIN32
// A writer killed at any moment leaves one whole version of the file.
TEST_F(IniFileTest, KilledWriterLeavesOldOrNewFile) {
    const std::string path = PathOf("user.ini");
    CIniFile a;
    CIniFile b;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "v" + std::to_string(i);
        a.SetValue("K", name.c_str(), "aaaaaaaa");
        b.SetValue("K", name.c_str(), "bbbbbbbb");
    }
    a.SetClock(FixedClock);
    b.SetClock(FixedClock);
    const std::string bytesA = a.Serialize();
    const std::string bytesB = b.Serialize();
    ASSERT_TRUE(a.WriteFile(path.c_str()));

    for (int round = 0; round < 6; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                b.WriteFile(path.c_str());
                a.WriteFile(path.c_str());
            }
        }
        usleep(5000 + round * 3000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = Get(path);
        EXPECT_TRUE(now == bytesA || now == bytesB) << "round " << round << ": " << now.size();
    }
}
#endif

} // namespace
