// The main dialog's shell in-process: system menu, icons, collapsed layout, the Log button and
// the show-window request. The checks run inside the dialog's modal loop.
#include "AppPaths.h"
#include "BrantelApp.h"
#include "BrantelDlg.h"
#include "MessageBox.h"
#include "Strings.h"
#include "SystemErrorText.h"
#include "resource.h"

#include "corvanelib/Win32/Synchronization/Lock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

constexpr UINT kRunChecks = WM_APP + 40;

class ShellProbe : public CBrantelDlg {
public:
    explicit ShellProbe(std::function<void(ShellProbe&)> checks) : m_checks(std::move(checks)) {}

protected:
    BOOL OnInitDialog() override {
        const BOOL result = CBrantelDlg::OnInitDialog();
        PostMessageW(Handle(), kRunChecks, 0, 0);
        return result;
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (message == kRunChecks) {
            m_checks(*this);
            EndDialog(IDCANCEL);
            return true;
        }
        return CBrantelDlg::OnMessage(message, wParam, lParam, result);
    }

private:
    std::function<void(ShellProbe&)> m_checks;
};

std::wstring ItemText(HWND item) {
    wchar_t buffer[256] = {};
    GetWindowTextW(item, buffer, 256);
    return buffer;
}

std::wstring MenuText(HMENU menu, int position) {
    wchar_t buffer[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(position), buffer, 128, MF_BYPOSITION);
    return buffer;
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        // Boxes of the dialog's live parts (no service here) are answered at once.
        corvane::ui::SetMessageBoxHook([](const corvane::ui::MessageBoxRequest&) { return IDOK; });
    }
    void TearDown() override { corvane::ui::SetMessageBoxHook({}); }
};

TEST_F(Shell, MenuIconsLayoutLogButtonAndShowRequest) {
    ShellProbe dialog([](ShellProbe& d) {
        HMENU menu = GetSystemMenu(d.Handle(), FALSE);
        const int count = GetMenuItemCount(menu);
        ASSERT_GE(count, 2);
        EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
        EXPECT_EQ(MenuText(menu, count - 1), L"about brantel(&A)...");
        EXPECT_TRUE(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR);

        EXPECT_NE(d.WindowIcon(), nullptr);
        EXPECT_EQ(SendMessageW(d.Handle(), WM_GETICON, ICON_BIG, 0),
                  reinterpret_cast<LRESULT>(d.WindowIcon()));
        EXPECT_EQ(SendMessageW(d.Handle(), WM_GETICON, ICON_SMALL, 0),
                  reinterpret_cast<LRESULT>(d.WindowIcon()));
        EXPECT_EQ(SendMessageW(d.Handle(), WM_QUERYDRAGICON, 0, 0),
                  reinterpret_cast<LRESULT>(d.WindowIcon()));
        EXPECT_NE(SendMessageW(d.Item(IDC_START_STOP), BM_GETIMAGE, IMAGE_ICON, 0), 0);
        EXPECT_NE(SendMessageW(d.Item(IDC_ADVANCED), BM_GETIMAGE, IMAGE_ICON, 0), 0);

        EXPECT_FALSE(IsWindowVisible(d.Item(IDC_TRAY_ICON)));
        EXPECT_FALSE(IsWindowVisible(d.Item(IDC_LOG)));
        EXPECT_EQ(ItemText(d.Item(IDC_LOG)), L"log>");
        EXPECT_EQ(d.ErrorCaption(), L"error");

        RECT window = {}, edit = {}, status = {};
        GetWindowRect(d.Handle(), &window);
        GetWindowRect(d.Item(IDC_LOG_EDIT), &edit);
        GetWindowRect(d.Item(IDC_STATUS), &status);
        EXPECT_EQ(window.bottom, edit.top) << "the window ends right above the log pane";
        EXPECT_LT(status.bottom, window.bottom);

        // The Log button changes nothing: neither the layout nor the texts.
        const std::wstring logText = ItemText(d.Item(IDC_LOG_EDIT));
        SendMessageW(d.Handle(), WM_COMMAND, MAKEWPARAM(IDC_LOG, BN_CLICKED),
                     reinterpret_cast<LPARAM>(d.Item(IDC_LOG)));
        RECT after = {};
        GetWindowRect(d.Handle(), &after);
        EXPECT_TRUE(EqualRect(&window, &after));
        EXPECT_EQ(ItemText(d.Item(IDC_LOG)), L"log>");
        EXPECT_EQ(ItemText(d.Item(IDC_LOG_EDIT)), logText);

        // A move to a monitor of 192 DPI (the session's is 96): the button images come at the
        // size for it.
        SendMessageW(d.Handle(), WM_DPICHANGED, MAKEWPARAM(192, 192),
                     reinterpret_cast<LPARAM>(&window));
        for (int id : {IDC_START_STOP, IDC_ADVANCED}) {
            ICONINFO info = {};
            BITMAP bitmap = {};
            ASSERT_TRUE(GetIconInfo(
                reinterpret_cast<HICON>(SendMessageW(d.Item(id), BM_GETIMAGE, IMAGE_ICON, 0)),
                &info));
            GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            EXPECT_EQ(bitmap.bmWidth, 2 * GetSystemMetrics(SM_CXSMICON));
        }

        // The show-window request shows a hidden dialog and leaves a minimized one minimized.
        ShowWindow(d.Handle(), SW_HIDE);
        EXPECT_EQ(SendMessageW(d.Handle(), g_showWindowMessage, 0, 0), 0);
        EXPECT_TRUE(IsWindowVisible(d.Handle()));
        EXPECT_FALSE(IsIconic(d.Handle()));
        ShowWindow(d.Handle(), SW_MINIMIZE);
        SendMessageW(d.Handle(), g_showWindowMessage, 0, 0);
        EXPECT_TRUE(IsIconic(d.Handle()));
        EXPECT_TRUE(IsWindowVisible(d.Handle()));
    });
    dialog.RunModal();
}

TEST(AppPaths, ProgramAndDataDirectoriesEndWithABackslash) {
    corvane::FillAppPaths();
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    EXPECT_EQ(std::string(program), corvane::g_programDirectory + "console_shell_test.exe");

    const std::string& data = corvane::g_dataDirectory;
    ASSERT_GT(data.size(), 9u);
    EXPECT_EQ(data.substr(data.size() - 9), "\\Corvane\\");
    const DWORD attributes = GetFileAttributesA(data.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(SystemErrorText, GivesTheSystemTextOrNothing) {
    EXPECT_NE(corvane::SystemErrorText(ERROR_FILE_NOT_FOUND), L"");
    EXPECT_NE(corvane::SystemErrorText(ERROR_TIMEOUT),
              corvane::SystemErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(corvane::SystemErrorText(0x2000FFFFu), L"");
}

TEST(UncaughtException, ARefusedLockIsDescribedWithItsCodeAndSystemText) {
    corvanelib::Mutex mutex;
    std::wstring text;
    try {
        corvanelib::Lock guard(mutex, DWORD{0});
    } catch (...) {
        text = DescribeCurrentException();
    }
    EXPECT_NE(std::wstring::npos,
              text.find(L"Corvane Common Lib: Mutex::Lock Error! We dont support a timeout lock! "
                        L"(Win32\\Synchronization\\Lock:"))
        << text;
    EXPECT_NE(std::wstring::npos, text.find(L", error 50)\r\n" + corvane::SystemErrorText(50)));
}

// An exception that escapes a dialog handler must not unwind through the system's dialog code:
// the console reports it in an error box and the process ends with its own exit code. The
// test runs itself again as the child that throws.
TEST(UncaughtException, EscapingAHandlerShowsABoxAndEndsTheProcess) {
    wchar_t boxFile[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"SHELL_TEST_THROWING_CHILD", boxFile, MAX_PATH) != 0) {
        CBrantelApp app;
        corvane::ui::SetMessageBoxHook([&](const corvane::ui::MessageBoxRequest& box) {
            if (FILE* out = _wfopen(boxFile, L"wb")) {
                std::fputws((box.caption + L"|" + box.text).c_str(), out);
                std::fclose(out);
            }
            return IDOK;
        });
        ShellProbe dialog([](ShellProbe&) { throw std::runtime_error("handler failed"); });
        dialog.RunModal();
        ADD_FAILURE() << "the dialog run returned";
        return;
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring box = std::wstring(temp) + L"shell-test-box.txt";
    DeleteFileW(box.c_str());
    SetEnvironmentVariableW(L"SHELL_TEST_THROWING_CHILD", box.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=UncaughtException.EscapingAHandler*";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    SetEnvironmentVariableW(L"SHELL_TEST_THROWING_CHILD", nullptr);
    corvanelib::UniqueKernelHandle process(child.hProcess), thread(child.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 60000));
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(static_cast<DWORD>(corvane::ui::kUncaughtExceptionExitCode), code);

    std::wstring seen(256, L'\0');
    if (FILE* in = _wfopen(box.c_str(), L"rb")) {
        seen.resize(std::fread(&seen[0], sizeof(wchar_t), seen.size(), in));
        std::fclose(in);
    }
    DeleteFileW(box.c_str());
    EXPECT_EQ(corvane::ui::LoadText(IDS_ERROR_CAPTION) + L"|handler failed", seen);
}

} // namespace
