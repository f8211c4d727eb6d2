// End-to-end tests of Brantel.exe: the real program, started and driven from outside.
// The language tests run in their own ctest entries, under the locale they need.
#include "UiDriver.h"
#include "WindowsPath.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

constexpr int kStatus = 1008;
constexpr int kStartStop = 1004;
constexpr int kAdvanced = 1003;
constexpr int kTrayIcon = 1024;
constexpr int kLog = 1005;
constexpr int kLogEdit = 1006;
constexpr UINT kAboutCommand = 16;
const wchar_t kEnglishCaption[] = L"Corvane Client Console";

std::wstring ConsoleCommand() {
    return L"\"" + corvane_test::WindowsPath(BRANTEL_EXE) + L"\"";
}

void Screenshot(HWND window, const std::wstring& name) {
    const std::wstring dir = corvane_test::WindowsPath(SCREENSHOT_DIR);
    CreateDirectoryW(dir.c_str(), nullptr);
    uidriver::SaveWindowScreenshot(window, dir + L"\\" + name + L".bmp");
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

// Each test checks one user-interface language and is skipped under the others.
#define REQUIRE_UI_LANGUAGE(language)                                                              \
    if (GetUserDefaultUILanguage() != (language)) {                                                \
        GTEST_SKIP() << "user-interface language " << GetUserDefaultUILanguage();                  \
    }

// One console, started for a test and ended by it.
class Console : public ::testing::Test {
protected:
    void StartConsole(const std::wstring& caption) {
        m_console = std::make_unique<uidriver::Program>(ConsoleCommand());
        ASSERT_TRUE(m_console->Started()) << "error " << GetLastError();
        m_window = uidriver::WaitForWindow(caption, m_console->Id());
        ASSERT_NE(m_window, nullptr) << "no window captioned as expected";
        // The dialog's start is over once its Log button carries its run-time text, and the
        // modal loop then waits for input: commands sent from now on find the dialog up.
        ASSERT_TRUE(uidriver::WaitUntil(
            [&] { return Text(kLog) != L"&Log" && IsWindowVisible(m_window); }));
        WaitForInputIdle(m_console->Process(), 30000);
    }
    void TearDown() override {
        if (m_console) {
            EXPECT_TRUE(m_console->Close()) << "the console did not end when closed";
            EXPECT_EQ(m_console->ExitCode(), 0u);
        }
    }
    std::wstring Text(int id) const { return uidriver::Text(uidriver::Control(m_window, id)); }

    // A second console must end at once without showing a window of its own.
    static void RunSecondStart() {
        uidriver::Program second(ConsoleCommand());
        ASSERT_TRUE(second.Started());
        bool sawWindow = false;
        ASSERT_TRUE(uidriver::WaitUntil([&] {
            for (HWND window : uidriver::TopLevelWindows(second.Id())) {
                sawWindow = sawWindow || IsWindowVisible(window);
            }
            return WaitForSingleObject(second.Process(), 0) == WAIT_OBJECT_0;
        })) << "the second start did not end";
        EXPECT_FALSE(sawWindow) << "the second start showed a window";
        EXPECT_EQ(second.ExitCode(), 0u);
    }

    std::unique_ptr<uidriver::Program> m_console;
    HWND m_window = nullptr;
};

TEST_F(Console, StartsCollapsedAndOpensTheAboutBox) {
    REQUIRE_UI_LANGUAGE(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    StartConsole(kEnglishCaption);
    const RECT window = uidriver::ScreenRect(m_window);
    for (int id : {kStatus, kStartStop, kAdvanced}) {
        HWND control = uidriver::Control(m_window, id);
        EXPECT_TRUE(uidriver::IsVisible(control)) << id;
        EXPECT_TRUE(uidriver::Contains(window, uidriver::ScreenRect(control))) << id;
    }
    EXPECT_FALSE(
        uidriver::Intersects(window, uidriver::ScreenRect(uidriver::Control(m_window, kLogEdit))))
        << "the log pane must lie below the collapsed window";
    EXPECT_FALSE(uidriver::IsVisible(uidriver::Control(m_window, kTrayIcon)));
    EXPECT_FALSE(uidriver::IsVisible(uidriver::Control(m_window, kLog)));
    EXPECT_EQ(Text(kLog), L"log>");
    EXPECT_EQ(Text(kAdvanced), L"&Advanced");
    Screenshot(m_window, L"main-en");

    // The About item opens the box; the low four bits of the command do not matter.
    for (UINT command : {kAboutCommand, kAboutCommand | 0x000F}) {
        uidriver::SendSysCommand(m_window, command);
        HWND about = uidriver::WaitForWindow(L"About Brantel", m_console->Id());
        ASSERT_NE(about, nullptr) << command;
        Screenshot(about, L"about-en");
        uidriver::PressOk(about);
        EXPECT_TRUE(uidriver::WaitUntil([&] { return !IsWindow(about); }));
    }
}

TEST_F(Console, SecondStartBringsTheFirstForwardAsItWas) {
    REQUIRE_UI_LANGUAGE(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    StartConsole(kEnglishCaption);
    // A plain window of the test's own takes the foreground away from the console.
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 600, 600, 100, 50,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(m_window, SW_HIDE);
    SetForegroundWindow(other);
    PumpMessages();
    ASSERT_TRUE(uidriver::WaitUntil([&] { return !IsWindowVisible(m_window); }));
    RunSecondStart();
    EXPECT_TRUE(uidriver::WaitUntil([&] {
        PumpMessages();
        return IsWindowVisible(m_window) && GetForegroundWindow() == m_window;
    })) << "a hidden console did not come to the front";
    EXPECT_FALSE(IsIconic(m_window));
    EXPECT_EQ(uidriver::FindWindowByCaption(kEnglishCaption), m_window);

    // A minimized console is made the active window and stays minimized. The display may
    // still be mapping the window; ask again until it is minimized.
    ASSERT_TRUE(uidriver::WaitUntil(
        [&] {
            const bool iconic = IsIconic(m_window) != FALSE;
            if (!iconic) {
                uidriver::SendSysCommand(m_window, SC_MINIMIZE);
            }
            return iconic;
        },
        uidriver::kDefaultWait, std::chrono::milliseconds(500)));
    SetForegroundWindow(other);
    PumpMessages();
    RunSecondStart();
    EXPECT_TRUE(uidriver::WaitUntil([&] {
        PumpMessages();
        return GetForegroundWindow() == m_window;
    })) << "a minimized console was not made the active window";
    EXPECT_TRUE(IsIconic(m_window));
    EXPECT_TRUE(IsWindowVisible(m_window));
    DestroyWindow(other);
}

TEST_F(Console, ChineseUi) {
    REQUIRE_UI_LANGUAGE(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    StartConsole(L"Corvane Client");
    // The Start/Stop label is the template's until the first service state replaces it.
    const std::wstring startStop = Text(kStartStop);
    EXPECT_TRUE(startStop == L"停止服务" || startStop == L"启动服务") << startStop.size();
    EXPECT_EQ(Text(kAdvanced), L"高级配置");
    EXPECT_EQ(Text(kTrayIcon), L"显示托盘图标");
    EXPECT_EQ(Text(kLog), L"日志>");
    Screenshot(m_window, L"main-zh_CN");
}

// The set under the Traditional Chinese id holds the English texts.
TEST_F(Console, TraditionalIdUi) {
    REQUIRE_UI_LANGUAGE(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL));
    StartConsole(kEnglishCaption);
    EXPECT_EQ(Text(kAdvanced), L"&Advance");
    const std::wstring startStop = Text(kStartStop);
    EXPECT_TRUE(startStop == L"&Stop" || startStop == L"Start" || startStop == L"Stop");
    Screenshot(m_window, L"main-zh_TW");
}

} // namespace
