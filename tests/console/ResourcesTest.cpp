// Mechanical checks of the console's resources, read from the compiled resource sets: every
// language set holds the same strings, dialogs and icons, and every string id the console's
// code names exists in them.
#include "resource.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

constexpr LANGID kLanguages[] = {
    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
    MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
    MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL),
};

std::string ReadFile(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// String `id` of the given language set; empty when that set lacks it.
std::wstring FindString(UINT id, LANGID language) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (block == nullptr) {
        return std::wstring();
    }
    const auto* entry = static_cast<const WCHAR*>(LockResource(LoadResource(module, block)));
    for (UINT i = 0; i < id % 16; ++i) {
        entry += 1 + *entry;
    }
    return std::wstring(entry + 1, *entry);
}

TEST(ConsoleResources, TheLanguageSetsHoldTheSameResourcesAndAllTheCodeLoads) {
    // The sources seen from Wine: a build-tree path is a Z: path.
    const fs::path sources = std::string("Z:") + CONSOLE_SOURCE_DIR;
    const std::string header = ReadFile(sources / "res" / "resource.h");
    std::map<std::string, UINT> ids;
    const std::regex define(R"(#define\s+(IDS_\w+)\s+(\d+))");
    for (std::sregex_iterator it(header.begin(), header.end(), define), end; it != end; ++it) {
        ids[(*it)[1].str()] = static_cast<UINT>(std::stoul((*it)[2].str()));
    }
    ASSERT_GE(ids.size(), 10u) << "resource.h not read";
    for (const auto& [name, id] : ids) {
        for (LANGID language : kLanguages) {
            EXPECT_EQ(FindString(id, kLanguages[0]).empty(), FindString(id, language).empty())
                << name << " " << language;
        }
    }
    size_t scanned = 0;
    const std::regex name(R"(\bIDS_\w+)");
    for (const auto& file : fs::recursive_directory_iterator(sources)) {
        const fs::path& path = file.path();
        if (path.parent_path().filename() == "res" ||
            (path.extension() != ".cpp" && path.extension() != ".h")) {
            continue;
        }
        const std::string text = ReadFile(path);
        for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) {
            ++scanned;
            ASSERT_TRUE(ids.count(it->str())) << it->str() << " is used but not defined";
            EXPECT_NE(L"", FindString(ids.at(it->str()), kLanguages[0])) << it->str();
        }
    }
    EXPECT_GT(scanned, 10u) << "the sources were not scanned";

    // Texts come out of the UTF-8 sources as the right characters.
    EXPECT_EQ(L"\x5BF9\x4E0D\x8D77\xFF0C\x60A8\x8F93\x5165\x7684\x7528\x6237\x540D\x6216\x5BC6"
              L"\x7801\x957F\x5EA6\x8FC7\x957F",
              FindString(IDS_CREDENTIALS_TOO_LONG, kLanguages[1]));
}

} // namespace
