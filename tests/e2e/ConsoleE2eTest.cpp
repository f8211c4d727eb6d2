// End-to-end tests of Brantel.exe: the real program, started and driven from outside.
// The language tests run in their own ctest entries, under the locale they need.
#include "UiDriver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int kStatus = 1008;
constexpr int kStartStop = 1004;
constexpr int kAdvanced = 1003;
constexpr int kTrayIcon = 1024;
constexpr int kLog = 1005;
constexpr int kLogEdit = 1006;
constexpr UINT kAboutCommand = 16;

// Build-tree paths come as the build system spells them; under Wine a Unix path is reached
// through drive Z:.
std::wstring WindowsPath(const char* path) {
    std::wstring out;
    if (path[0] == '/') {
        out = L"Z:";
    }
    for (const char* p = path; *p != '\0'; ++p) {
        out += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return out;
}

std::wstring ConsoleCommand() {
    return L"\"" + WindowsPath(BRANTEL_EXE) + L"\"";
}

void Screenshot(HWND window, const std::wstring& name) {
    const std::wstring dir = WindowsPath(SCREENSHOT_DIR);
    CreateDirectoryW(dir.c_str(), nullptr);
    uidriver::SaveWindowScreenshot(window, dir + L"\\" + name + L".bmp");
}

// The user-interface language decides which resource set the console shows; each test runs
// under the one it checks and is skipped under the others (ctest runs it once per language).
bool UiLanguageIs(LANGID language) {
    return GetUserDefaultUILanguage() == language;
}

// One console, started for a test and ended by it.
class Console : public ::testing::Test {
protected:
    void StartConsole(const std::wstring& caption) {
        m_console = std::make_unique<uidriver::Program>(ConsoleCommand());
        ASSERT_TRUE(m_console->Started()) << "error " << GetLastError();
        m_window = uidriver::WaitForWindow(caption, m_console->Id());
        ASSERT_NE(m_window, nullptr) << "no window captioned as expected";
        // The dialog's start is over once its Log button carries its run-time text.
        ASSERT_TRUE(uidriver::WaitUntil([&] {
            return uidriver::Text(uidriver::Control(m_window, kLog)) != L"&Log" &&
                   IsWindowVisible(m_window);
        }));
        // And the modal loop waits for input: commands sent from now on find the dialog up.
        WaitForInputIdle(m_console->Process(), 30000);
    }

    void TearDown() override {
        if (m_console) {
            EXPECT_TRUE(m_console->Close()) << "the console did not end when closed";
            EXPECT_EQ(m_console->ExitCode(), 0u);
        }
    }

    std::unique_ptr<uidriver::Program> m_console;
    HWND m_window = nullptr;
};

// A plain window of the test's own, to take the foreground away from the console.
class OtherWindow {
public:
    OtherWindow() {
        m_window = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 600, 600, 100, 50,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~OtherWindow() { DestroyWindow(m_window); }
    HWND Get() const { return m_window; }

private:
    HWND m_window;
};

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

// Starts a second console and checks that it ends at once without a window of its own.
void RunSecondStart() {
    uidriver::Program second(ConsoleCommand());
    ASSERT_TRUE(second.Started());
    bool sawWindow = false;
    const bool ended = uidriver::WaitUntil([&] {
        for (HWND window : uidriver::TopLevelWindows(second.Id())) {
            sawWindow = sawWindow || IsWindowVisible(window);
        }
        return WaitForSingleObject(second.Process(), 0) == WAIT_OBJECT_0;
    });
    ASSERT_TRUE(ended) << "the second start did not end";
    EXPECT_FALSE(sawWindow) << "the second start showed a window";
    EXPECT_EQ(second.ExitCode(), 0u);
}

#define REQUIRE_UI_LANGUAGE(language)                                                              \
    if (!UiLanguageIs(language)) {                                                                 \
        GTEST_SKIP() << "user-interface language " << GetUserDefaultUILanguage();                  \
    }

constexpr LANGID kEnglish = 0x0409;
constexpr LANGID kSimplifiedChinese = 0x0804;
constexpr LANGID kTraditionalChinese = 0x0404;

TEST_F(Console, StartShowsOnlyTheStatusAndTwoButtons) {
    REQUIRE_UI_LANGUAGE(kEnglish);
    StartConsole(L"Corvane Client Console");
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
    EXPECT_EQ(uidriver::Text(uidriver::Control(m_window, kLog)), L"log>");
    EXPECT_EQ(uidriver::Text(uidriver::Control(m_window, kAdvanced)), L"&Advanced");
    Screenshot(m_window, L"main-en");
}

TEST_F(Console, SecondStartShowsAndActivatesTheFirst) {
    REQUIRE_UI_LANGUAGE(kEnglish);
    StartConsole(L"Corvane Client Console");
    OtherWindow other;
    ShowWindow(m_window, SW_HIDE);
    SetForegroundWindow(other.Get());
    PumpMessages();
    ASSERT_TRUE(uidriver::WaitUntil([&] { return !IsWindowVisible(m_window); }));

    RunSecondStart();
    EXPECT_TRUE(uidriver::WaitUntil([&] {
        PumpMessages();
        return IsWindowVisible(m_window) && GetForegroundWindow() == m_window;
    })) << "the first console did not come to the front";
    EXPECT_FALSE(IsIconic(m_window));
    EXPECT_EQ(uidriver::FindWindowByCaption(L"Corvane Client Console"), m_window);
}

TEST_F(Console, SecondStartLeavesAMinimizedConsoleMinimized) {
    REQUIRE_UI_LANGUAGE(kEnglish);
    StartConsole(L"Corvane Client Console");
    // The display may still be mapping the fresh window; ask again until it is minimized.
    ASSERT_TRUE(uidriver::WaitUntil(
        [&] {
            if (IsIconic(m_window)) {
                return true;
            }
            uidriver::SendSysCommand(m_window, SC_MINIMIZE);
            return false;
        },
        uidriver::kDefaultWait, std::chrono::milliseconds(500)));
    OtherWindow other;
    SetForegroundWindow(other.Get());
    PumpMessages();

    RunSecondStart();
    EXPECT_TRUE(uidriver::WaitUntil([&] {
        PumpMessages();
        return GetForegroundWindow() == m_window;
    })) << "the first console was not made the active window";
    EXPECT_TRUE(IsIconic(m_window));
    EXPECT_TRUE(IsWindowVisible(m_window));
}

TEST_F(Console, AboutItemOpensTheAboutBox) {
    REQUIRE_UI_LANGUAGE(kEnglish);
    StartConsole(L"Corvane Client Console");
    uidriver::SendSysCommand(m_window, kAboutCommand);
    HWND about = uidriver::WaitForWindow(L"About Brantel", m_console->Id());
    ASSERT_NE(about, nullptr);
    Screenshot(about, L"about-en");
    uidriver::PressOk(about);
    EXPECT_TRUE(uidriver::WaitUntil([&] { return !IsWindow(about); }));
    // Only the About command opens it: another system command changes nothing of the sort.
    uidriver::SendSysCommand(m_window, kAboutCommand | 0x000F);
    about = uidriver::WaitForWindow(L"About Brantel", m_console->Id());
    ASSERT_NE(about, nullptr) << "the low four bits of the command must be ignored";
    uidriver::PressOk(about);
    EXPECT_TRUE(uidriver::WaitUntil([&] { return !IsWindow(about); }));
}

TEST_F(Console, ChineseUi) {
    REQUIRE_UI_LANGUAGE(kSimplifiedChinese);
    StartConsole(L"Corvane Client");
    // The Start/Stop label is the template's until the first service state replaces it.
    const std::wstring startStop = uidriver::Text(uidriver::Control(m_window, kStartStop));
    EXPECT_TRUE(startStop == L"停止服务" || startStop == L"启动服务") << startStop.size();
    EXPECT_EQ(uidriver::Text(uidriver::Control(m_window, kAdvanced)), L"高级配置");
    EXPECT_EQ(uidriver::Text(uidriver::Control(m_window, kTrayIcon)), L"显示托盘图标");
    EXPECT_EQ(uidriver::Text(uidriver::Control(m_window, kLog)), L"日志>");
    Screenshot(m_window, L"main-zh_CN");
}

// The set under the Traditional Chinese id holds the English texts.
TEST_F(Console, TraditionalIdUi) {
    REQUIRE_UI_LANGUAGE(kTraditionalChinese);
    StartConsole(L"Corvane Client Console");
    EXPECT_EQ(uidriver::Text(uidriver::Control(m_window, kAdvanced)), L"&Advance");
    const std::wstring startStop = uidriver::Text(uidriver::Control(m_window, kStartStop));
    EXPECT_TRUE(startStop == L"&Stop" || startStop == L"Start" || startStop == L"Stop");
    Screenshot(m_window, L"main-zh_TW");
}

} // namespace
