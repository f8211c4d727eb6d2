// The INI engine, built natively (under ASan and UBSan) and for Windows (under Wine).
#include "console/config/AtomicFile.h"
#include "console/config/IniFile.h"
#include "tests/support/TempDir.h"

#include <climits>

#ifdef _WIN32
#include "corvanelib/Win32/UniqueHandle.h"
#endif

using namespace corvane::tests::support;
namespace config = corvane::console::config;

namespace {

using config::LastError;

// The system's code for memory running out, which no file operation leaves.
int NoMemoryError() {
    config::SetOutOfMemoryError();
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
    ini.SetPath(path.c_str());
    ASSERT_TRUE(ini.ReadFile() && ini.WriteFile());
    EXPECT_EQ(Get(path), first);
    // A "[" line without its "]" is no header, though the next line starts with one; at the
    // end of the bytes the scan for "]" stops there.
    EXPECT_EQ(Parsed("[ab\n]\n; padding past the short-string room\n[xyz").GetNumKeys(), 0);
    ini.SetPath(dir_.string().c_str()); // a directory cannot be read
    EXPECT_FALSE(ini.ReadFile() || ini.WriteFile(PathOf("no-such-dir/x.ini").c_str()));
}

// Texts that the file could not hold as they are.
TEST_F(IniFileTest, SetValuePlacesPairsAndRefusesWhatWouldNotReadBack) {
    CIniFile ini = Parsed("[K]\r\na = 1\r\n; tail comment\r\n\r\n[L]\r\nb = 2\r\n");
    // "key|name" pairs that are refused.
    for (const std::string pair :
         {"K|a\nb", "K\n|a", "|a", "[note]|v", "K]x|a", "K|a=b", "K| a", "K|a\t"}) {
        const std::size_t bar = pair.find('|');
        EXPECT_FALSE(ini.SetValue(pair.substr(0, bar).c_str(), pair.substr(bar + 1).c_str(), "1"))
            << pair;
    }
    // In place; behind the trailing lines; a new key at the end; never on a comment line.
    EXPECT_TRUE(ini.SetValue("K", "a", "one", false) && ini.SetValue("K", "c", "3") &&
                ini.SetValue("M", "d", "4") && ini.SetValue("K", "; tail comment", "y"));
    EXPECT_EQ(ini.Serialize(), "// write by Friday, December 04, 2026\r\n[K]\r\na = one\r\n; tail "
                               "comment\r\n\r\nc = 3\r\n; tail comment = y\r\n\r\n"
                               "[L]\r\nb = 2\r\n\r\n[M]\r\nd = 4\r\n\r\n");
}

TEST_F(IniFileTest, NumbersNavigationAndThePathStayInBounds) {
    // Numbers past 32 bits are held at the ends of the range: "text|value".
    CIniFile ini;
    for (const std::string row :
         {"99999999999999|2147483647", "-4294967296|-2147483648", "-5|-5", "|0"}) {
        const std::string text = row.substr(0, row.find('|'));
        ini.SetValue("N", "n", text.c_str());
        EXPECT_EQ(text + "|" + std::to_string(ini.GetValueI("N", "n")), row);
    }
    EXPECT_TRUE(ini.SetValueI("N", "n", INT_MIN) && ini.GetValue("N", "n") == "-2147483648");
    // The navigation readers stay inside their lists.
    EXPECT_EQ(ini.GetKeyName(1) + ini.GetKeyName(-1) + ini.GetValueName(1, 1) +
                  ini.GetValueName(2, 0) + ini.GetValueName(-1, 0) + ini.GetValueName(1, -1) +
                  ini.GetValueAt(1, 1) + ini.GetValueAt(2, 0) + ini.GetValueAt(-1, 0) +
                  ini.GetValueAt(1, -1),
              "");
    // The path is held in a fixed room.
    const std::string longPath(300, 'p');
    ini.SetPath(longPath.c_str());
    EXPECT_EQ(std::string(ini.GetPath()), longPath.substr(0, 255));
}

// What the writer below sees and does: the call that fails, the call that takes the new file
// away from under it (natively; its move over the old one then fails, as on Windows while a
// reader holds the old file), and the name of the new file in the folder it watches.
struct Fault {
    static inline int calls, failAt, snatchAt;
    static inline std::filesystem::path folder;
    static inline std::string newName;
    static bool Write(config::File& file, const void* data, std::size_t size) {
        ++calls;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '~') {
                newName = name;
#ifndef _WIN32
                if (calls == snatchAt) {
                    std::filesystem::remove(entry.path());
                }
#endif
            }
        }
        return calls == failAt ? NoMemoryError() == 0 : config::WriteChunk(file, data, size);
    }
};

TEST_F(IniFileTest, ReplacingIsAllOrNothing) {
    const std::string path = PathOf("user.ini");
    const std::string oldBytes = "[K]\r\nold = 1\r\n\r\n";
    const std::string newBytes(300000, 'n'); // 5 chunks
    Put(path, oldBytes);
    Fault::folder = dir_;
    // The write fails part-way: in the new file, or over the old one in place. Either way the old
    // file stays, and the failure's code is left after the clean-up. "fail snatch" rows.
    const std::pair<int, int> rows[] = {{2, 0}, {7, 1}, {0, 1}, {0, 0}};
    for (const auto& [fail, snatch] : rows) {
#ifdef _WIN32
        std::ifstream reader(path, std::ios::binary); // the old file can only be overwritten
        const bool inPlace = true;
#else
        const bool inPlace = snatch != 0;
#endif
        Fault::calls = 0;
        Fault::failAt = fail;
        Fault::snatchAt = snatch;
        Fault::newName.clear();
        const bool replaced = config::ReplaceFileContents(path.c_str(), newBytes, Fault::Write);
        const int error = LastError();
        EXPECT_EQ(replaced, fail == 0) << fail << snatch;
        // Written once into the new file, and again over the old one only when it stays.
        EXPECT_EQ(Fault::calls, fail != 0 ? fail : inPlace ? 10 : 5) << fail << snatch;
        EXPECT_TRUE(Get(path) == (replaced ? newBytes : oldBytes)) << fail << snatch;
        EXPECT_TRUE(replaced || error == NoMemoryError()) << fail << snatch;
        // The new file lay beside the old one, named "~" and 16 hex digits.
        EXPECT_EQ(Fault::newName.find_first_not_of("0123456789abcdef", 1), std::string::npos);
        EXPECT_EQ(Fault::newName.size(), 17u);
        Put(path, oldBytes);
    }
#ifdef _WIN32
    // Held so that it can be neither replaced nor read: not overwritten in place either.
    {
        const corvanelib::UniqueFileHandle holder(CreateFileA(
            path.c_str(), GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(config::ReplaceFileContents(path.c_str(), newBytes));
    }
    EXPECT_EQ(Get(path), oldBytes);
#endif
    // A folder's path that leaves room for 10 digits only (the longest path the system takes
    // is 259); one too long for the system is refused. A folder is never replaced by a file.
    Fault::folder = dir_ / std::string(247 - dir_.string().size() - 1, 'd');
    ASSERT_TRUE(std::filesystem::create_directory(Fault::folder));
    Fault::failAt = 0;
    EXPECT_TRUE(
        config::ReplaceFileContents((Fault::folder / "x.ini").string().c_str(), "x", Fault::Write));
    EXPECT_EQ(Fault::newName.size(), 11u);
    EXPECT_FALSE(config::ReplaceFileContents((std::string(300, 'd') + "/x").c_str(), "x"));
    EXPECT_FALSE(config::ReplaceFileContents(Fault::folder.string().c_str(), "x"));
    // No temporary file is left behind.
    using It = std::filesystem::directory_iterator;
    EXPECT_EQ(std::distance(It(dir_), It()), 2);
}

} // namespace
