// The INI engine, built natively (under ASan and UBSan) and for Windows (under Wine).
#include "AtomicFile.h"
#include "IniFile.h"
#include "TempDir.h"

#include <cstdio>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// Noon UTC on Friday, 4 December 2026: the same local date in every time zone up to +-11 h.
std::time_t FixedClock() {
    return 1796385600;
}
const std::string kStamp = "// write by Friday, December 04, 2026\r\n";

CIniFile Parsed(const std::string& bytes) {
    CIniFile ini;
    ini.SetClock(FixedClock);
    ini.Parse(bytes.data(), bytes.size());
    return ini;
}

// The image, one line per key: name, then its lines as #comment or name=value.
std::string Dump(const CIniFile& ini) {
    std::string out;
    for (const CIniFile::s_key& key : ini.Keys()) {
        out += "{" + std::string(key.name) + "}";
        for (const CIniFile::s_ident& ident : key.idents) {
            out += ident.comment ? " #" + std::string(ident.name)
                                 : " " + std::string(ident.name) + "=" + std::string(ident.value);
        }
        out += "\n";
    }
    return out;
}

using IniFileTest = TempDirTest;

// Every line rule, line ends mixed, the last line without a line end.
const char kMessy[] = "; written by hand\r\ntop = level\n"
                      "[ Gate way ]\r\na = b = c\r\n   name   =   \r\n=starts with equals\r\n"
                      "no equals sign\r\n [Indented]\r\n[]\r\n\r\n"
                      "[A]trailing text\nx = 1\n"
                      "[A]\nx = 2\ny=  spaced value\t";

TEST_F(IniFileTest, ReadsEveryLineRuleAndWritesBackTheSameBytes) {
    const CIniFile ini = Parsed(kMessy);
    EXPECT_EQ(Dump(ini), "{[note]} #; written by hand top=level\n"
                         "{ Gate way } a=b = c name= #=starts with equals #no equals sign "
                         "# [Indented] #[] #\n"
                         "{A} x=1\n"
                         "{A} x=2 y=spaced value\n");
    // Two keys of one name: lookups take the first.
    EXPECT_EQ(ini.GetValue("A", "x"), "1");
    EXPECT_EQ(ini.GetValue("A", "y"), "");
    EXPECT_EQ(ini.FindKey("Gate way"), -1);

    const std::string first = ini.Serialize();
    EXPECT_EQ(first, "; written by hand\r\ntop = level\r\n"
                     "[ Gate way ]\r\na = b = c\r\nname = \r\n=starts with equals\r\n"
                     "no equals sign\r\n [Indented]\r\n[]\r\n\r\n"
                     "[A]\r\nx = 1\r\n\r\n"
                     "[A]\r\nx = 2\r\ny = spaced value\r\n\r\n");
    // Through files, which hold CRLF on every platform: read and written twice, same bytes.
    const std::string path = PathOf("messy.ini");
    Put(path, kMessy);
    CIniFile disk;
    disk.SetPath(path.c_str());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(disk.ReadFile());
        ASSERT_TRUE(disk.WriteFile());
        EXPECT_EQ(Get(path), first);
    }
}

TEST_F(IniFileTest, StampLineOnlyWhenTheNoteKeyIsEmpty) {
    CIniFile ini = Parsed("[GatewayIp]\r\nspecify = 0\r\n");
    EXPECT_EQ(Dump(ini), "{[note]}\n{GatewayIp} specify=0\n");
    const std::string written = ini.Serialize();
    EXPECT_EQ(written, kStamp + "[GatewayIp]\r\nspecify = 0\r\n\r\n");

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
    EXPECT_EQ(ini.Serialize(), kStamp + "[K]\r\na = one\r\n; tail comment\r\n\r\nc = 3\r\n\r\n"
                                        "[L]\r\nb = 2\r\n\r\n[M]\r\nd = 4\r\n\r\n");

    // The note key is never found by name; setting it appends an ordinary key.
    CIniFile note = Parsed("// stamp\r\n");
    EXPECT_EQ(note.FindKey("[note]"), -1);
    EXPECT_EQ(note.FindValue(0, "// stamp"), -1);
    EXPECT_TRUE(note.SetValue("[note]", "v", "1"));
    EXPECT_EQ(note.Serialize(), "// stamp\r\n[[note]]\r\nv = 1\r\n\r\n");
    EXPECT_EQ(note.FindKey("[note]"), 1);
}

TEST_F(IniFileTest, TypedValuesCaseAndBinary) {
    CIniFile ini = Parsed("[T]\r\nUserName = bob\r\nt1 = TRUE\r\nt2 = Yes\r\nt3 = oK\r\n"
                          "f1 = 1\r\nf2 = on\r\npartial = 12abc\r\nhuge = 99999999999999\r\n");
    // Names are case-sensitive; GetValueB is not.
    EXPECT_EQ(ini.GetValue("T", "username") + ini.GetValue("t", "UserName"), "");
    std::string truths;
    for (const char* name : {"t1", "t2", "t3", "f1", "f2", "missing"}) {
        truths += ini.GetValueB("T", name) ? '1' : '0';
    }
    EXPECT_EQ(truths, "111000");
    EXPECT_EQ(ini.GetValueI("T", "partial"), 12);
    EXPECT_EQ(ini.GetValueI("T", "huge"), 2147483647);
    EXPECT_EQ(ini.GetValueUL("T", "huge"), 0xFFFFFFFFul);
    EXPECT_EQ(ini.GetValueI("T", "missing"), 0);
    // The out-argument form trims the left end and reports emptiness.
    ini.SetValue("T", "padded", "  v ");
    ini.SetValue("T", "blank", "   ");
    std::string out = "untouched";
    EXPECT_FALSE(ini.GetValue("T", "missing", out));
    EXPECT_EQ(out, "untouched");
    EXPECT_TRUE(ini.GetValue("T", "padded", out));
    EXPECT_EQ(out, "v ");
    EXPECT_FALSE(ini.GetValue("T", "blank", out));

    const unsigned char bytes[] = {0x01, 0xab};
    ini.SetValueI("U", "i", -42);
    ini.SetValueUL("U", "u", 4000000000ul);
    ini.SetValueF("U", "f", 2.5);
    ini.SetValueB("U", "b", false);
    ASSERT_TRUE(ini.SetValueBinary("U", "v", bytes, 2));
    EXPECT_EQ(ini.GetValue("U", "v"), "0x01 0xab ");
    // Through the file the binary value's trailing blank is trimmed; both bytes still come back.
    CIniFile back = Parsed(ini.Serialize() + "[C]\r\nbad = 0x01 1xab\r\nshort = 0x1\r\n");
    const std::string dump = Dump(back);
    EXPECT_EQ(dump.substr(dump.find("{U}")),
              "{U} i=-42 u=4000000000 f=2.500000 b=false v=0x01 0xab #\n"
              "{C} bad=0x01 1xab short=0x1\n");
    // "result count bytes" for a read into three bytes, of which `count` may be written.
    auto binary = [&](const char* key, const char* name, std::size_t count) {
        unsigned char got[3] = {};
        const bool ok = back.GetValueBinary(key, name, got, count);
        return std::to_string(ok) + " " + std::to_string(count) + " " + std::string(got, got + 3);
    };
    EXPECT_EQ(binary("U", "v", 3), std::string("1 2 \x01\xab\0", 7));
    EXPECT_EQ(binary("U", "v", 1), std::string("1 1 \x01\0\0", 7));
    EXPECT_EQ(binary("C", "bad", 3).substr(0, 3), "0 3");
    EXPECT_EQ(binary("U", "missing", 3), std::string("0 3 \0\0\0", 7));
    EXPECT_EQ(binary("C", "short", 3), std::string("1 0 \0\0\0", 7));
}

TEST_F(IniFileTest, NavigationAndPath) {
    // Key names skip the note key; value indexes count it.
    CIniFile ini = Parsed("n\r\n[K]\r\na = 1\r\n; c\r\n[L]\r\n");
    EXPECT_EQ(ini.GetKeyName(0) + "|" + ini.GetKeyName(2), "K|");
    EXPECT_EQ(ini.GetValueName(0, 0) + "|" + ini.GetValueAt(1, 0), "n|1");
    EXPECT_EQ(ini.GetValueAt(1, 5) + ini.GetValueAt(-1, 0), "");
    EXPECT_EQ(ini.GetNumValues("K"), 2);
    EXPECT_EQ(ini.GetNumValues("M"), -1);
    EXPECT_EQ(ini.FindValue(1, "; c"), 1); // comment lines are found by their text
    EXPECT_FALSE(ini.DeleteKey("M"));
    EXPECT_TRUE(ini.DeleteKey("K"));
    EXPECT_EQ(ini.Serialize(), "n\r\n[L]\r\n\r\n");

    const std::string longPath(300, 'p');
    ini.SetPath(longPath.c_str());
    EXPECT_EQ(std::string(ini.GetPath()), longPath.substr(0, 255));
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
    EXPECT_EQ(Dump(ini), "{[note]}\n{K} a=1\n");

    EXPECT_FALSE(ini.WriteFile(PathOf("no-such-dir/x.ini").c_str()));
}

// Texts that the file could not hold as they are.
TEST_F(IniFileTest, TextsThatWouldNotReadBackAreHandled) {
    // Setting a value never lands on a comment line, where it would not be written.
    CIniFile ini = Parsed("[K]\r\n\r\n; note\r\n");
    EXPECT_TRUE(ini.SetValue("K", "", "x"));
    EXPECT_TRUE(ini.SetValue("K", "; note", "y"));
    EXPECT_EQ(Dump(Parsed(ini.Serialize())), "{[note]} #// write by Friday, December 04, 2026\n"
                                             "{K} # #; note =x ; note=y #\n");

    // Line breaks would add lines, and keys, to the file.
    EXPECT_FALSE(ini.SetValue("K", "user", "bob\r\n[GatewayIp]\r\nspecify = 1"));
    EXPECT_FALSE(ini.SetValue("K", "a\nb", "1"));
    EXPECT_FALSE(ini.SetValue("K\n", "a", "1"));
    EXPECT_EQ(ini.GetNumValues("K"), 4);

    // A pair whose text looks like a header is written so that it stays a pair.
    const std::string once = Parsed("[K]\r\n [x] = 1\r\n [ = y]\r\n").Serialize();
    EXPECT_EQ(Dump(Parsed(once)), "{[note]} #// write by Friday, December 04, 2026\n"
                                  "{K} [x]=1 [=y] #\n");
    EXPECT_EQ(Parsed(once).Serialize(), once);
}

TEST_F(IniFileTest, ReplacingIsAllOrNothing) {
    const std::string path = PathOf("user.ini");
    const std::string oldBytes = "[K]\r\nold = 1\r\n\r\n";
    Put(path, oldBytes);
    const std::string newBytes(300000, 'n'); // several chunks
    // Only the file itself: no temporary file is left behind.
    auto entries = [&] {
        using It = std::filesystem::directory_iterator;
        return std::distance(It(dir_), It());
    };

    // The write fails part-way: the old file stays.
    static int calls;
    calls = 0;
    auto failSecond = [](const void* data, std::size_t size, std::FILE* file) -> std::size_t {
        return ++calls == 2 ? size / 2 : std::fwrite(data, 1, size, file);
    };
    EXPECT_FALSE(inifile::ReplaceFileContents(path.c_str(), newBytes, failSecond));
    EXPECT_EQ(Get(path), oldBytes);
    EXPECT_EQ(entries(), 1);

    ASSERT_TRUE(inifile::ReplaceFileContents(path.c_str(), newBytes));
    EXPECT_EQ(Get(path), newBytes);
    EXPECT_EQ(entries(), 1);

    // A reader holding the file open does not stop the save.
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
        EXPECT_TRUE(now == a.Serialize() || now == b.Serialize()) << round << ": " << now.size();
    }
}
#endif

} // namespace
