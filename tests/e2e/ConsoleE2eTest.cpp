// End-to-end tests of Brantel.exe: the real program, started and driven from outside, with the
// stand-in service in the service control manager. One scenario per user flow; the language
// test runs in one ctest entry per user-interface language.
#include "console/res/resource.h"
#include "corvanelib/Win32/UniqueHandle.h"
#include "peers/standin/StandinService.h"
#include "peers/uidriver/UiDriver.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cerrno>
#include <cstdio>
#include <process.h>
#include <string>

namespace {

namespace ui = corvane::peers::uidriver;

using corvane::peers::standin::StandinService;

const wchar_t kEnglishCaption[] = L"Corvane Client Console";
const wchar_t kBrantel[] = L"" BRANTEL_EXE;

// Starts a console; its process, none when it did not start.
corvanelib::UniqueKernelHandle StartBrantel() {
    const intptr_t process = _wspawnl(_P_NOWAIT, kBrantel, kBrantel, nullptr);
    return corvanelib::UniqueKernelHandle(process == -1 ? nullptr
                                                        : reinterpret_cast<HANDLE>(process));
}

class Console : public testing::Test {
protected:
    void StartConsole(const std::wstring& caption = kEnglishCaption) {
        m_console = StartBrantel();
        ASSERT_TRUE(m_console) << "error " << errno;
        m_window = ui::WaitForWindow(caption, Id());
        ASSERT_NE(m_window, nullptr) << "no window captioned as expected";
        // The dialog's start is over once its Log button carries its run-time text, and the
        // modal loop then waits for input: commands sent from now on find the dialog up.
        ASSERT_TRUE(
            ui::WaitFor([&] { return Text(IDC_LOG) != L"&Log" && IsWindowVisible(m_window); }));
        WaitForInputIdle(m_console.get(), 30000);
    }
    // Closes the console as the user does (message boxes too); it must end, and end well.
    void TearDown() override {
        if (m_console) {
            for (HWND window : ui::TopLevelWindows(Id())) {
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
            EXPECT_EQ(WaitForSingleObject(m_console.get(), 30000), WAIT_OBJECT_0)
                << "the console did not end when closed";
            DWORD code = STILL_ACTIVE;
            EXPECT_TRUE(GetExitCodeProcess(m_console.get(), &code) && code == 0) << code;
            TerminateProcess(m_console.get(), 1);
        }
    }
    DWORD Id() const { return GetProcessId(m_console.get()); }
    HWND Item(int id) const { return GetDlgItem(m_window, id); }
    std::wstring Text(int id) const { return ui::Text(Item(id)); }

    corvanelib::UniqueKernelHandle m_console;
    HWND m_window = nullptr;
};

// Start repairs a disabled service's start type and starts it; the options the user then
// confirms reach userconfig.ini, and the service, told by the notify command, reads them back
// and reports them in the console's log. (Stopping is the live console test's.)
TEST_F(Console, StartTheServiceAndItHearsTheAdvancedOptions) {
    char folder[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    const std::string config = std::string(folder) + "\\Corvane\\userconfig.ini";
    DeleteFileA(config.c_str());
    StandinService service(L"", SERVICE_DISABLED);
    ASSERT_EQ(service.InstallError(), 0u);
    StartConsole();
    ASSERT_TRUE(ui::WaitFor(
        [&] { return Text(IDC_START_STOP) == L"Start" && IsWindowEnabled(Item(IDC_START_STOP)); }));
    ASSERT_TRUE(ui::Click(Item(IDC_START_STOP)));
    ASSERT_TRUE(ui::WaitFor([&] { return Text(IDC_STATUS) == L"running..."; }));
    EXPECT_EQ(StandinService::StartType(), static_cast<DWORD>(SERVICE_AUTO_START));

    ASSERT_TRUE(ui::Click(Item(IDC_ADVANCED)));
    HWND options = ui::WaitForWindow(L"Advanced", Id());
    ASSERT_NE(options, nullptr);
    HWND userName = GetDlgItem(options, IDC_USER_NAME);
    // A click as the user makes it, handled by the check box itself in the console's thread.
    PostMessageW(GetDlgItem(options, IDC_AUTO_AUTH), BM_CLICK, 0, 0);
    ASSERT_TRUE(ui::WaitFor([&] { return IsWindowEnabled(userName) != FALSE; }));
    SendMessageW(userName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"carol"));
    PostMessageW(GetDlgItem(options, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(ui::WaitFor([&] {
        return Text(IDC_LOG_EDIT).find(L"AutoAuthen enable=1 username=carol") != std::wstring::npos;
    }));
    DeleteFileA(config.c_str());
}

// A second start ends at once and brings the first forward.
TEST_F(Console, OneConsolePerMachine) {
    StartConsole();
    ShowWindow(m_window, SW_HIDE);
    ASSERT_TRUE(ui::WaitFor([&] { return !IsWindowVisible(m_window); }));
    const corvanelib::UniqueKernelHandle second = StartBrantel();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.get(), 30000)) << "the second start ran on";
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeProcess(second.get(), &code) && code == 0) << code;
    EXPECT_TRUE(ui::WaitFor([&] { return IsWindowVisible(m_window) != FALSE; }))
        << "the hidden console did not come back";
}

// The set the user-interface language chooses; the set under the Traditional Chinese id holds
// English texts. The ctest entry of each language checks that its language was in use.
TEST_F(Console, LanguageOfTheUserInterface) {
    const LANGID language = GetUserDefaultUILanguage();
    std::printf("user-interface language %u\n", language);
    const bool chinese = language == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    StartConsole(chinese ? L"Corvane Client" : kEnglishCaption);
    EXPECT_EQ(Text(IDC_ADVANCED),
              chinese                                                             ? L"高级配置"
              : language == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL) ? L"&Advance"
                                                                                  : L"&Advanced");
}

} // namespace
