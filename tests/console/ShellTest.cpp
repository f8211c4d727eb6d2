// The console's start-up pieces in-process (the directory texts, one console per machine, what
// becomes of an exception that escapes a dialog handler) and a mechanical check of its
// resources: every string has a text in every language set.
#include "console/AboutDlg.h"
#include "console/AppPaths.h"
#include "console/BrantelApp.h"
#include "console/framework/MessageBox.h"
#include "console/framework/ResourceStrings.h"
#include "console/res/resource.h"
#include "corvanelib/Win32/Synchronization/Lock.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <process.h>
#include <regex>
#include <stdexcept>

using namespace corvane::tests::support;
namespace framework = corvane::console::framework;

namespace {

// English (United States), Chinese (Simplified) and Chinese (Traditional).
constexpr LANGID kLanguages[] = {0x0409, 0x0804, 0x0404};

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

// Every string id of resource.h has a text in every language set: a text missing from one set
// would show as an empty label or box in that language.
TEST(ConsoleResources, EveryStringHasATextInEveryLanguageSet) {
    // Under Wine the host's paths are Z: paths.
    const std::string dir = CONSOLE_SOURCE_DIR;
    const std::string text = Get((dir[0] == '/' ? "Z:" : "") + dir + "/res/resource.h");
    const std::regex define(R"(#define\s+(IDS_\w+)\s+(\d+))");
    size_t ids = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), define), end; it != end; ++it, ++ids) {
        for (LANGID language : kLanguages) {
            EXPECT_NE(L"", FindString(static_cast<UINT>(std::stoul((*it)[2].str())), language))
                << (*it)[1].str() << " " << language;
        }
    }
    EXPECT_GE(ids, 10u) << "resource.h not read";
}

TEST(AppPaths, DirectoriesEndWithABackslashAndAMissingDataFolderIsAnError) {
    ASSERT_EQ(0u, corvane::console::FillAppPaths());
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    EXPECT_EQ(std::string(program),
              corvane::console::g_programDirectory + "console_shell_test.exe");
    const std::string data = corvane::console::g_dataDirectory;
    EXPECT_EQ("\\Corvane\\", data.substr(data.size() - 9));
    EXPECT_TRUE(CreateDirectoryA(data.c_str(), nullptr) == FALSE &&
                GetLastError() == ERROR_ALREADY_EXISTS);

    // A folder the system cannot find: its error, and no data directory to put files in.
    EXPECT_TRUE(corvane::console::FillAppPaths(0x7F) != 0 &&
                corvane::console::g_dataDirectory.empty());
}

TEST(SingleInstance, AnEventThatExistsMeansASecondStartEvenWhenItCannotBeOpened) {
    // Another user's console (a second start beside a first is the end-to-end test's): the
    // event exists and grants this user no access at all. Once it is gone, the claim holds.
    PSECURITY_DESCRIPTOR denyAll = nullptr; // an empty access list
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &denyAll, nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), denyAll, FALSE};
    corvanelib::UniqueKernelHandle foreign(
        CreateEventW(&attributes, FALSE, FALSE, L"Global\\OrvexCorvaneClientMonitor"));
    LocalFree(denyAll);
    ASSERT_TRUE(foreign);
    ASSERT_EQ(nullptr, OpenEventW(EVENT_ALL_ACCESS, TRUE, L"Global\\OrvexCorvaneClientMonitor"));
    corvanelib::UniqueKernelHandle second;
    EXPECT_FALSE(corvane::console::ClaimSingleInstance(second) || second);
    foreign.reset();
    EXPECT_TRUE(corvane::console::ClaimSingleInstance(second) && second);
}

// An exception that escapes a dialog handler must not unwind through the system's dialog code:
// the console shows it in an error box before the process ends. The test runs this child in a
// process of its own; the child's box answers with an exit code of its own. A lock the platform
// refused is shown with its place, its code and the system's text for it (Windows' or Wine's).
constexpr UINT kRightBox = 40;
const wchar_t kLockBox[] = LR"(Corvane Common Lib: Mutex::Lock Error! We dont support a timeout )"
                           LR"(lock! \(Win32\\Synchronization\\Lock:\d+, error 50\)\r\n)"
                           LR"((The request is not supported\.|Request not supported\.)\r\n)";

TEST(UncaughtException, DISABLED_ThrowingChild) {
    static const bool lock = GetEnvironmentVariableW(L"CORVANE_THROW_LOCK", nullptr, 0) != 0;
    CBrantelApp app;
    framework::SetMessageBoxHook([](const framework::MessageBoxRequest& box) {
        ExitProcess(
            box.caption == framework::LoadText(IDS_ERROR_CAPTION) &&
                    std::regex_match(box.text, std::wregex(lock ? kLockBox : L"handler failed"))
                ? kRightBox
                : kRightBox + 1);
        return IDOK;
    });
    struct Throwing : CAboutDlg {
        BOOL OnInitDialog() override {
            corvanelib::Mutex mutex;
            if (lock) {
                corvanelib::Lock guard(mutex, DWORD(0));
            }
            throw std::runtime_error("handler failed");
        }
    } dialog;
    dialog.RunModal();
}

TEST(UncaughtException, EscapingAHandlerShowsAnErrorBox) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (const wchar_t* lock : {L"", L"1"}) {
        SetEnvironmentVariableW(L"CORVANE_THROW_LOCK", *lock != 0 ? lock : nullptr);
        EXPECT_EQ(static_cast<intptr_t>(kRightBox),
                  _wspawnl(_P_WAIT, self, L"child", L"--gtest_also_run_disabled_tests",
                           L"--gtest_filter=UncaughtException.DISABLED_*", nullptr))
            << "a lock exception: " << (*lock != 0);
    }
}

} // namespace
