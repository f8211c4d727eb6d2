// Mechanical checks of the console's resources, read from the compiled resource sets: every
// string id the console's code loads exists in every language set, and every set holds the
// same dialogs, strings and icons.
#include "resource.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr LANGID kLanguages[] = {
    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
    MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
    MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL),
};

fs::path SourcePath(const char* path) {
    std::string text = path;
    if (!text.empty() && text[0] == '/') {
        text = "Z:" + text; // a build-tree path seen from Wine
    }
    return fs::path(text);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The string ids named in resource.h: IDS_NAME -> number.
std::map<std::string, UINT> StringIds() {
    std::map<std::string, UINT> ids;
    const std::string header = ReadFile(SourcePath(CONSOLE_SOURCE_DIR) / "res" / "resource.h");
    const std::regex define(R"(#define\s+(IDS_\w+)\s+(\d+))");
    for (std::sregex_iterator it(header.begin(), header.end(), define), end; it != end; ++it) {
        ids[(*it)[1].str()] = static_cast<UINT>(std::stoul((*it)[2].str()));
    }
    return ids;
}

// String `id` of the given language set, or null when that set lacks it.
const wchar_t* FindString(UINT id, LANGID language, size_t& cch) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (block == nullptr) {
        return nullptr;
    }
    const auto* entry = static_cast<const WCHAR*>(LockResource(LoadResource(module, block)));
    for (UINT i = 0; i < id % 16; ++i) {
        entry += 1 + *entry;
    }
    cch = *entry;
    return cch == 0 ? nullptr : entry + 1;
}

// Every set holds the same strings, dialogs and icons, and every string id the console's code
// names is defined and present.
TEST(ConsoleResources, TheLanguageSetsHoldTheSameResourcesAndAllTheCodeLoads) {
    const std::map<std::string, UINT> ids = StringIds();
    ASSERT_GE(ids.size(), 10u) << "resource.h not read";
    size_t cch = 0;
    for (const auto& [name, id] : ids) {
        const bool inFirst = FindString(id, kLanguages[0], cch) != nullptr;
        for (LANGID language : kLanguages) {
            EXPECT_EQ(FindString(id, language, cch) != nullptr, inFirst) << name << " " << language;
        }
    }

    std::set<std::string> used;
    const std::regex name(R"(\bIDS_\w+)");
    for (const auto& file : fs::recursive_directory_iterator(SourcePath(CONSOLE_SOURCE_DIR))) {
        const fs::path& path = file.path();
        if (path.parent_path().filename() == "res" ||
            (path.extension() != ".cpp" && path.extension() != ".h")) {
            continue;
        }
        const std::string text = ReadFile(path);
        for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) {
            used.insert(it->str());
        }
    }
    EXPECT_TRUE(used.count("IDS_ERROR_CAPTION")) << "the sources were not scanned";
    for (const std::string& id : used) {
        ASSERT_TRUE(ids.count(id)) << id << " is used but not defined in resource.h";
        EXPECT_NE(FindString(ids.at(id), kLanguages[0], cch), nullptr) << id << " missing";
    }

    HMODULE module = GetModuleHandleW(nullptr);
    for (UINT dialog : {IDD_ABOUTBOX, IDD_BRANTEL_DIALOG, IDD_AUTH_OPTION}) {
        for (LANGID language : kLanguages) {
            EXPECT_NE(FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(dialog), language),
                      nullptr)
                << "dialog " << dialog << " language " << language;
        }
    }
    for (UINT icon : {IDR_MAINFRAME, IDI_START_STOP, IDI_START_STOP_ALT, IDI_ADVANCED, IDI_LOG,
                      IDI_STATE_RUNNING, IDI_STATE_STOPPED, IDI_STATE_TROUBLE}) {
        EXPECT_NE(LoadImageW(module, MAKEINTRESOURCEW(icon), IMAGE_ICON, 16, 16, LR_SHARED),
                  nullptr)
            << "icon " << icon;
    }
}

TEST(ConsoleResources, ChineseTextsComeOutOfTheUtf8Sources) {
    size_t cch = 0;
    const wchar_t* text = FindString(IDS_CREDENTIALS_TOO_LONG,
                                     MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), cch);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text, cch),
              L"\x5BF9\x4E0D\x8D77\xFF0C\x60A8\x8F93\x5165\x7684\x7528\x6237\x540D\x6216\x5BC6"
              L"\x7801\x957F\x5EA6\x8FC7\x957F");
}

} // namespace
