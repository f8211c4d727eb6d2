// The INI engine, built natively (under ASan and UBSan) and for Windows (under Wine).
#include "AtomicFile.h"
#include "IniFile.h"
#include "TempDir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using corvane::ini::LastError;

// The system's code for memory running out, which no file operation leaves.
int NoMemoryError() {
    corvane::ini::SetOutOfMemoryError();
    return LastError();
}

// Noon UTC on Friday, 4 December 2026: the same local date in every time zone up to +-11 h.
CIniFile Parsed(const std::string& bytes) {
    CIniFile ini;
    ini.SetClock([]() -> std::time_t { return 1796385600; });
    ini.Parse(bytes.data(), bytes.size());
    return ini;
}

using IniFileTest = TempDirTest;

// Every line rule, line ends mixed, the last line without a line end. Written back, pairs are
// "name = value", comment lines stand as read, and every key ends in one blank line.
TEST_F(IniFileTest, ReadsEveryLineRuleAndWritesBackTheSameBytes) {
    const std::string messy = "; by hand\r\ntop = level\n[ Gate way ]\r\na = b = c\r\n   name   =  "
                              " \r\n=starts with equals\r\nno equals sign\r\n [Indented]\r\n[]\r\n"
                              "\r\n[A]trailing text\nx = 1\n[A]\nx = 2\ny=  spaced value\t";
    const std::string first = Parsed(messy).Serialize();
    EXPECT_EQ(first,
              "; by hand\r\ntop = level\r\n[ Gate way ]\r\na = b = c\r\nname = \r\n=starts "
              "with equals\r\nno equals sign\r\n [Indented]\r\n[]\r\n\r\n[A]\r\nx = 1\r\n\r\n"
              "[A]\r\nx = 2\r\ny = spaced value\r\n\r\n");
    // Through files, which hold CRLF on every platform: read and written again, same bytes.
    const std::string path = PathOf("messy.ini");
    Put(path, messy);
    CIniFile ini;
    const int noMemory = NoMemoryError();
    EXPECT_FALSE(ini.ReadFile() || ini.WriteFile()); // no path: a failure with its own code
    EXPECT_NE(LastError(), noMemory);
    ini.SetPath(path.c_str());
    ASSERT_TRUE(ini.ReadFile() && ini.WriteFile());
    EXPECT_EQ(Get(path), first);
    ini.SetPath(dir_.string().c_str()); // a directory: the image stays as it was
    EXPECT_FALSE(ini.ReadFile());
    EXPECT_EQ(ini.GetNumKeys(), 3);
    EXPECT_FALSE(ini.WriteFile(PathOf("no-such-dir/x.ini").c_str()));
}

// Texts that the file could not hold as they are.
TEST_F(IniFileTest, SetValuePlacesPairsAndRefusesWhatWouldNotReadBack) {
    CIniFile ini = Parsed("[K]\r\na = 1\r\n; tail comment\r\n\r\n[L]\r\nb = 2\r\n");
    EXPECT_FALSE(ini.SetValue("M", "c", "3", false) || ini.SetValue("K", "c", "3", false));
    EXPECT_FALSE(ini.SetValue("K", "user", "bob\r\n[GatewayIp]\r\nspecify = 1"));
    // "key|name" pairs that are refused.
    for (const std::string pair :
         {"K|a\nb", "K\n|a", "|a", "[note]|v", "K]x|a", "K|a=b", "K| a", "K|a\t"}) {
        const std::size_t bar = pair.find('|');
        EXPECT_FALSE(ini.SetValue(pair.substr(0, bar).c_str(), pair.substr(bar + 1).c_str(), "1"))
            << pair;
    }
    EXPECT_TRUE(ini.SetValue("K", "a", "one", false));     // in place
    EXPECT_TRUE(ini.SetValue("K", "c", "3"));              // behind the trailing lines
    EXPECT_TRUE(ini.SetValue("M", "d", "4"));              // a new key at the end
    EXPECT_TRUE(ini.SetValue("K", "; tail comment", "y")); // never on a comment line
    EXPECT_EQ(ini.Serialize(), "// write by Friday, December 04, 2026\r\n[K]\r\na = one\r\n; tail "
                               "comment\r\n\r\nc = 3\r\n; tail comment = y\r\n\r\n"
                               "[L]\r\nb = 2\r\n\r\n[M]\r\nd = 4\r\n\r\n");
}

TEST_F(IniFileTest, TypedValuesAndBinary) {
    // Numbers as the 32-bit C library reads them, and truth in any case: "text|int|unsigned|bool".
    CIniFile ini;
    for (const std::string row :
         {"12abc|12|12|0", "99999999999999|2147483647|4294967295|0", "-5|-5|4294967291|0",
          "-4294967296|-2147483648|4294967295|0", "+7|7|7|0", "- 5|0|0|0", "TRUE|0|0|1",
          "Yes|0|0|1", "oK|0|0|1", "on|0|0|0", "|0|0|0"}) {
        const std::string text = row.substr(0, row.find('|'));
        ini.SetValue("N", "n", text.c_str());
        EXPECT_EQ(text + "|" + std::to_string(ini.GetValueI("N", "n")) + "|" +
                      std::to_string(ini.GetValueUL("N", "n")) + "|" +
                      std::to_string(ini.GetValueB("N", "n")),
                  row);
    }

    const unsigned char bytes[] = {0x01, 0xab};
    ini.SetValueI("U", "i", -42);
    ini.SetValueB("U", "b", false);
    ini.SetValueBinary("U", "v", bytes, 2);
    // Through the file the binary value's trailing blank is trimmed; both bytes still come back.
    const std::string text = ini.Serialize() + "[C]\r\nbad = 0x01 1xab\r\nshort = 0x1\r\n";
    EXPECT_NE(text.find("[U]\r\ni = -42\r\nb = false\r\nv = 0x01 0xab \r\n"), std::string::npos);
    // "result count bytes" for a read into three bytes, of which `count` may be written.
    auto binary = [back = Parsed(text)](const char* key, const char* name, std::size_t count) {
        unsigned char got[3] = {};
        const bool ok = back.GetValueBinary(key, name, got, count);
        return std::to_string(ok) + " " + std::to_string(count) + " " + std::string(got, got + 3);
    };
    EXPECT_EQ(binary("U", "v", 3) + binary("U", "v", 1) + binary("C", "short", 3),
              std::string("1 2 \x01\xab\0"
                          "1 1 \x01\0\0"
                          "1 0 \0\0\0",
                          21));
    EXPECT_EQ(binary("C", "bad", 3).substr(0, 3) + binary("U", "gone", 3).substr(0, 3), "0 30 3");
}

TEST_F(IniFileTest, NavigationStaysInBounds) {
    // Key names skip the note key; value indexes count it.
    CIniFile ini = Parsed("n\r\n[K]\r\na = 1\r\n; c\r\n[L]\r\n[M]\r\nd = 4\r\ne = 5\r\n");
    EXPECT_EQ(ini.GetKeyName(0) + ini.GetKeyName(2) + ini.GetValueName(0, 0) +
                  ini.GetValueName(1, 1) + ini.GetValueAt(3, 1) + ini.GetValueName(3, 1),
              "KMn; c5e");
    // Comment lines are found by their text; the note key never.
    EXPECT_EQ(ini.FindValue(1, "; c") + ini.FindValue(0, "n") + ini.FindKey("[note]"), -1);
    EXPECT_EQ(ini.GetNumValues("K") * 10 + ini.GetNumValues("X") + ini.FindKey(nullptr), 18);
    // Past the end of the lists, also where the deleted last key's lines lay.
    EXPECT_FALSE(ini.DeleteKey("X"));
    EXPECT_TRUE(ini.DeleteKey("M"));
    EXPECT_EQ(ini.GetKeyName(2) + ini.GetKeyName(-1) + ini.GetValueName(1, 2) +
                  ini.GetValueName(3, 1) + ini.GetValueName(-1, 0) + ini.GetValueName(1, -1) +
                  ini.GetValueAt(1, 2) + ini.GetValueAt(3, 1) + ini.GetValueAt(-1, 0) +
                  ini.GetValueAt(1, -1),
              "");
    EXPECT_EQ(ini.FindValue(3, "e"), -1);
    EXPECT_TRUE(ini.DeleteKey("K"));
    EXPECT_EQ(ini.Serialize(), "n\r\n[L]\r\n\r\n");
    const std::string longPath(300, 'p');
    ini.SetPath(longPath.c_str());
    EXPECT_EQ(std::string(ini.GetPath()), longPath.substr(0, 255));
}

TEST_F(IniFileTest, ReplacingIsAllOrNothing) {
    const std::string path = PathOf("user.ini");
    const std::string oldBytes = "[K]\r\nold = 1\r\n\r\n";
    const std::string newBytes(300000, 'n'); // 5 chunks
    Put(path, oldBytes);
    // The write fails part-way: in the new file, or over the old one in place (on Windows a
    // reader holding the file keeps it from being replaced). Either way the old file stays, and
    // the failure's code is left after the clean-up.
    static int calls;
    static int failAt;
    auto failing = [](corvane::ini::File& file, const void* data, std::size_t size) {
        return ++calls == failAt ? NoMemoryError() == 0
                                 : corvane::ini::WriteChunk(file, data, size);
    };
    for (int fail : {2, 7, 0}) {
        std::ifstream reader(path, std::ios::binary);
        calls = 0;
        failAt = fail;
        const bool replaced = corvane::ini::ReplaceFileContents(path.c_str(), newBytes, failing);
        const int error = LastError();
#ifdef _WIN32
        EXPECT_EQ(replaced, fail == 0);
#else
        EXPECT_EQ(replaced, fail != 2);
#endif
        EXPECT_TRUE(Get(path) == (replaced ? newBytes : oldBytes)) << fail;
        EXPECT_TRUE(replaced || error == NoMemoryError()) << fail;
        Put(path, oldBytes);
    }
#ifdef _WIN32
    // Held so that it can be neither replaced nor read: not overwritten in place either.
    const HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_FALSE(corvane::ini::ReplaceFileContents(path.c_str(), newBytes));
    CloseHandle(holder);
    EXPECT_EQ(Get(path), oldBytes);
#endif
    // A folder's path too long for the system: refused, the temporary name kept in its bounds.
    EXPECT_FALSE(corvane::ini::ReplaceFileContents((std::string(300, 'd') + "/x").c_str(), "x"));
    // No temporary file is left behind.
    using It = std::filesystem::directory_iterator;
    EXPECT_EQ(std::distance(It(dir_), It()), 1);
}

} // namespace
