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

// The case's own file in the temporary directory, written in binary mode (the bytes read are the
// bytes given, on every platform) and removed afterwards.
class ConfigDictionaryTest : public ::testing::Test {
protected:
    ~ConfigDictionaryTest() override {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    const char* Write(const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
        return path.c_str();
    }
    const std::string path = (fs::temp_directory_path() / "cvn_dict_test.ini").string();
};

std::string Value(const ConfigDictionary& d, const char* section, const char* key) {
    const ConfigKeyEntry* entry = FindEntry(FindSection(d, section), key);
    return entry != nullptr ? entry->value : "<missing>";
}

TEST_F(ConfigDictionaryTest, ReadsMessyFileByTheLineRules) {
    ConfigDictionary d;
    ASSERT_EQ(LoadIfChanged(d, Write("; header comment line\n# second header comment\n"
                                     "orphan = before any section\n"
                                     "[General]\nName = first\nname = second\n"
                                     "   Spaced  =  both  \n=starts with equals\nno equals here\n\n"
                                     "Path=C:\\dir\\file.txt \t \nEmpty =\nTight=x=y\n"
                                     "; belongs to General\n"
                                     "[general]\nEXTRA = from the second header\n"
                                     "\t# more about General\n"
                                     "[Open\nin = open\n[Closed] ; note\nin = closed\n"
                                     "[Last]\r\nKey = v\r\n; dropped with the end of the file\n")),
              kLoadOk);

    // Sections and keys: case-insensitive, stored as first written, first key wins.
    const ConfigSection* general = FindSection(d, "GENERAL");
    ASSERT_NE(general, nullptr);
    EXPECT_STREQ(general->name, "General");
    EXPECT_EQ(Value(d, "general", "NAME"), "first");
    EXPECT_STREQ(FindEntry(general, "name")->Text(), "Name = first");
    EXPECT_EQ(Value(d, "General", "extra"), "from the second header");

    // One blank is dropped on each side of "=", no more; other trailing blanks stay.
    EXPECT_EQ(Value(d, "General", "Spaced"), "<missing>");
    EXPECT_EQ(Value(d, "General", "spaced "), " both  ");
    EXPECT_EQ(Value(d, "General", "path"), "C:\\dir\\file.txt \t ");
    EXPECT_EQ(Value(d, "General", "empty"), "");
    EXPECT_EQ(Value(d, "General", "tight"), "x=y");

    // Ignored lines leave no key; lines before the first header belong to no section.
    EXPECT_EQ(ListKeys(d, "general"),
              (std::vector<std::string>{"name", "spaced ", "path", "empty", "tight", "extra"}));
    EXPECT_EQ(FindSection(d, "orphan = before any section\n"), nullptr);

    // Header quirks: no "]" before the line end keeps the line end; a "]" followed by text is
    // part of the name. CR LF line ends read the same as LF.
    EXPECT_EQ(Value(d, "open\n", "in"), "open");
    EXPECT_EQ(Value(d, "closed] ; note\n", "in"), "closed");
    EXPECT_EQ(Value(d, "last", "key"), "v");

    // Comments attach to the section above; the file's trailing comment is dropped.
    EXPECT_STREQ(d.headerComment, "; header comment line\n# second header comment\n");
    EXPECT_STREQ(general->comment, "; belongs to General\n\t# more about General\n");
    EXPECT_EQ(FindSection(d, "last")->comment, nullptr);

    // GetString: the capacity cuts, 0 writes nothing; a miss copies the default (or empties
    // the destination) and returns the empty constant.
    char buffer[16] = "unchanged";
    EXPECT_STREQ(GetString(d, "general", "name", nullptr, 0, "dflt"), "first");
    EXPECT_STREQ(GetString(d, "general", "name", buffer, 0, nullptr), "first");
    EXPECT_STREQ(GetString(d, "general", "missing", buffer, 0, "dflt"), "");
    EXPECT_STREQ(buffer, "unchanged");
    EXPECT_EQ(GetString(d, "GENERAL", "NAME", buffer, 4, "dflt"), buffer);
    EXPECT_STREQ(buffer, "fir");
    const char* result = GetString(d, "nosection", "name", buffer, 5, "default");
    EXPECT_NE(result, buffer);
    EXPECT_STREQ(result, "");
    EXPECT_STREQ(buffer, "defa");
    EXPECT_STREQ(GetString(d, "general", "missing", buffer, 16, nullptr), "");
    EXPECT_STREQ(buffer, "");
}

TEST_F(ConfigDictionaryTest, LongLinesArriveInPiecesAndALastHeaderKeepsItsBracket) {
    // The first piece holds 65,534 bytes; the rest of the line is read as a line of its own.
    const std::string value(65532, 'y');
    ConfigDictionary d(Write("[S]\na=" + value + "b=c\n[Tail]"));
    EXPECT_EQ(Value(d, "s", "a"), value);
    EXPECT_EQ(Value(d, "s", "b"), "c");
    EXPECT_EQ(FindSection(d, "tail"), nullptr);
    EXPECT_NE(FindSection(d, "tail]"), nullptr);
}

TEST_F(ConfigDictionaryTest, ReloadsOnlyWhenTheWriteTimeMoves) {
    ConfigDictionary d;
    ASSERT_EQ(LoadIfChanged(d, Write("[s]\nk = old\n")), kLoadOk);
    const fs::file_time_type stamp = fs::last_write_time(path);

    // New content, old write time: current, nothing reread.
    Write("[s]\nk = new\n");
    fs::last_write_time(path, stamp);
    EXPECT_EQ(LoadIfChanged(d, path.c_str()), kLoadOk);
    EXPECT_EQ(LoadIfChanged(d, nullptr), kLoadOk);
    EXPECT_EQ(Value(d, "s", "k"), "old");

    // The write time moved: reread, also through the stored path.
    fs::last_write_time(path, stamp + std::chrono::seconds(10));
    EXPECT_EQ(LoadIfChanged(d, nullptr), kLoadOk);
    EXPECT_EQ(Value(d, "s", "k"), "new");

    // A dictionary cleared by hand is not current; its own path buffer may be passed.
    Clear(d);
    EXPECT_EQ(FindSection(d, "s"), nullptr);
    EXPECT_EQ(LoadIfChanged(d, d.path), kLoadOk);
    EXPECT_EQ(Value(d, "s", "k"), "new");

    // A file that is gone: -1, empty, the path kept.
    fs::remove(path);
    EXPECT_EQ(LoadIfChanged(d, path.c_str()), kLoadCannotOpen);
    EXPECT_EQ(FindSection(d, "s"), nullptr);
    EXPECT_EQ(std::string(d.path), path);
    ConfigDictionary never;
    EXPECT_EQ(LoadIfChanged(never, nullptr), kLoadCannotOpen);
}

} // namespace
