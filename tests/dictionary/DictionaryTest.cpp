#include "corvanelib/log/dictionary/ConfigDictionary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace corvanelib;
namespace fs = std::filesystem;

namespace {

// A file of the test's own in the temporary directory, written in binary mode (the bytes read
// are the bytes given, on every platform) and removed afterwards.
struct TempFile {
    explicit TempFile(const char* name)
        : path((fs::temp_directory_path() / (std::string("cvn_dict_") + name)).string()) {}
    ~TempFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    const char* Path() const { return path.c_str(); }
    void Write(const std::string& content) const {
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string path;
};

std::string Value(const ConfigDictionary& d, const char* section, const char* key) {
    const ConfigKeyEntry* entry = FindEntry(FindSection(d, section), key);
    return entry != nullptr ? entry->value : "<missing>";
}

const char kMessyFile[] = "; header comment line\n"
                          "# second header comment\n"
                          "orphan = before any section\n"
                          "[General]\n"
                          "Name = first\n"
                          "name = second\n"
                          "   Spaced  =  both  \n"
                          "=starts with equals\n"
                          "no equals here\n"
                          "\n"
                          "Path=C:\\dir\\file.txt \t \n"
                          "Empty =\n"
                          "Tight=x=y\n"
                          "; belongs to General\n"
                          "[general]\n"
                          "EXTRA = from the second header\n"
                          "\t# more about General\n"
                          "[Open\n"
                          "in = open\n"
                          "[Closed] ; note\n"
                          "in = closed\n"
                          "[Last]\r\n"
                          "Key = v\r\n"
                          "; dropped with the end of the file\n";

} // namespace

TEST(ConfigDictionary, ReadsMessyFileByTheLineRules) {
    TempFile file("messy.ini");
    file.Write(kMessyFile);
    ConfigDictionary d;
    ASSERT_EQ(LoadIfChanged(d, file.Path()), kLoadOk);

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
    // part of the name.
    EXPECT_EQ(FindSection(d, "Open"), nullptr);
    EXPECT_EQ(Value(d, "open\n", "in"), "open");
    EXPECT_EQ(FindSection(d, "Closed"), nullptr);
    EXPECT_EQ(Value(d, "closed] ; note\n", "in"), "closed");
    // CR LF line ends read the same as LF.
    EXPECT_EQ(Value(d, "last", "key"), "v");

    // Comments attach to the section above; the file's trailing comment is dropped.
    EXPECT_STREQ(d.headerComment, "; header comment line\n# second header comment\n");
    EXPECT_STREQ(general->comment, "; belongs to General\n\t# more about General\n");
    EXPECT_EQ(FindSection(d, "last")->comment, nullptr);

    Clear(d);
    EXPECT_EQ(d.dirty, 1);
    EXPECT_EQ(FindSection(d, "general"), nullptr);
}

TEST(ConfigDictionary, LongLinesArriveInPiecesAndALastHeaderKeepsItsBracket) {
    TempFile file("long.ini");
    // The first piece holds 65,534 bytes; the rest of the line is read as a line of its own.
    const std::string value(65532, 'y');
    file.Write("[S]\na=" + value + "b=c\n[Tail]");
    ConfigDictionary d(file.Path());
    EXPECT_EQ(Value(d, "s", "a"), value);
    EXPECT_EQ(Value(d, "s", "b"), "c");
    EXPECT_EQ(FindSection(d, "tail"), nullptr);
    EXPECT_NE(FindSection(d, "tail]"), nullptr);
}

TEST(ConfigDictionary, ReloadsOnlyWhenTheWriteTimeMoves) {
    TempFile file("reload.ini");
    file.Write("[s]\nk = old\n");
    ConfigDictionary d;
    ASSERT_EQ(LoadIfChanged(d, file.Path()), kLoadOk);
    const fs::file_time_type stamp = fs::last_write_time(file.Path());

    // New content, old write time: current, nothing reread.
    file.Write("[s]\nk = new\n");
    fs::last_write_time(file.Path(), stamp);
    EXPECT_EQ(LoadIfChanged(d, file.Path()), kLoadOk);
    EXPECT_EQ(LoadIfChanged(d, nullptr), kLoadOk);
    EXPECT_EQ(Value(d, "s", "k"), "old");

    // The write time moved: reread, also through the stored path.
    fs::last_write_time(file.Path(), stamp + std::chrono::seconds(10));
    EXPECT_EQ(LoadIfChanged(d, nullptr), kLoadOk);
    EXPECT_EQ(Value(d, "s", "k"), "new");

    // A dictionary cleared by hand is not current; its own path buffer may be passed.
    Clear(d);
    EXPECT_EQ(LoadIfChanged(d, d.path), kLoadOk);
    EXPECT_EQ(Value(d, "s", "k"), "new");

    // A file that is gone: -1, empty, the path kept.
    const std::string path = file.Path();
    fs::remove(path);
    EXPECT_EQ(LoadIfChanged(d, file.Path()), kLoadCannotOpen);
    EXPECT_EQ(FindSection(d, "s"), nullptr);
    EXPECT_EQ(std::string(d.path), path);
    ConfigDictionary never;
    EXPECT_EQ(LoadIfChanged(never, nullptr), kLoadCannotOpen);
}

TEST(ConfigDictionary, GetStringCapacitiesAndDefaults) {
    TempFile file("getstring.ini");
    file.Write("[s]\nsix = abcdef\n");
    ConfigDictionary d(file.Path());
    char buffer[16] = "unchanged";
    EXPECT_STREQ(GetString(d, "s", "six", nullptr, 0, "dflt"), "abcdef");
    EXPECT_EQ(GetString(d, "S", "SIX", buffer, 4, "dflt"), buffer);
    EXPECT_STREQ(buffer, "abc");

    // Capacity 0: nothing is written, whatever is found.
    std::strcpy(buffer, "unchanged");
    EXPECT_STREQ(GetString(d, "s", "six", buffer, 0, nullptr), "abcdef");
    EXPECT_STREQ(GetString(d, "s", "missing", buffer, 0, "dflt"), "");
    EXPECT_STREQ(buffer, "unchanged");

    // Missing: the default lands in the destination; the result is the empty constant.
    const char* result = GetString(d, "nosection", "six", buffer, 5, "default");
    EXPECT_NE(result, buffer);
    EXPECT_STREQ(result, "");
    EXPECT_STREQ(buffer, "defa");
    // Without a default the destination is emptied rather than left as it was.
    EXPECT_STREQ(GetString(d, "s", "missing", buffer, 16, nullptr), "");
    EXPECT_STREQ(buffer, "");
}

TEST(ConfigDictionary, TablesGrowAndKeepFileOrder) {
    TempFile file("many.ini");
    std::string content = "[Big]\n";
    for (int i = 0; i < 30; ++i) {
        content += "key" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    }
    std::vector<std::string> names{"Big"};
    for (int i = 0; i < 54; ++i) {
        names.push_back("sec" + std::to_string(i));
        content += "[" + names.back() + "]\nk = " + std::to_string(i) + "\n";
    }
    file.Write(content);
    ConfigDictionary d(file.Path());

    // 55 sections outnumber 53 buckets: the table grew and still walks in file order.
    EXPECT_EQ(d.sections.bucketCount, 107u);
    std::vector<std::string> order;
    for (const ConfigHashEntry* e = d.sections.first; e != nullptr; e = e->nextInOrder) {
        order.push_back(static_cast<const ConfigSection*>(e->value)->name);
    }
    EXPECT_EQ(order, names);
    // The largest section seen sizes the key tables made after it.
    EXPECT_EQ(d.keyTableHint, 30u);
    EXPECT_EQ(FindSection(d, "sec0")->keys.bucketCount, 53u);
    EXPECT_EQ(ListKeys(d, "BIG").back(), "key29");
}
