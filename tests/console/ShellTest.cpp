// The console's start-up pieces in-process: the directory texts, one console per machine and
// what becomes of an exception that escapes a dialog handler.
#include "AboutDlg.h"
#include "AppPaths.h"
#include "BrantelApp.h"
#include "MessageBox.h"
#include "Strings.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(AppPaths, DirectoriesEndWithABackslashAndAMissingDataFolderIsAnError) {
    ASSERT_EQ(0u, corvane::FillAppPaths());
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    EXPECT_EQ(std::string(program), corvane::g_programDirectory + "console_shell_test.exe");
    const std::string data = corvane::g_dataDirectory;
    EXPECT_EQ("\\Corvane\\", data.substr(data.size() - 9));
    EXPECT_TRUE(CreateDirectoryA(data.c_str(), nullptr) == FALSE &&
                GetLastError() == ERROR_ALREADY_EXISTS);

    // A folder the system cannot find: its error, and no data directory to put files in.
    EXPECT_NE(0u, corvane::FillAppPaths(0x7F));
    EXPECT_EQ("", corvane::g_dataDirectory);
}

TEST(SingleInstance, AnEventThatExistsMeansASecondStartEvenWhenItCannotBeOpened) {
    corvanelib::UniqueKernelHandle first, second;
    ASSERT_TRUE(ClaimSingleInstance(first));
    EXPECT_TRUE(first);
    EXPECT_FALSE(ClaimSingleInstance(second));
    EXPECT_FALSE(second);
    first.reset();

    // Another user's console: the event exists and grants this user no access at all.
    ACL empty;
    InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
    SECURITY_DESCRIPTOR denyAll;
    InitializeSecurityDescriptor(&denyAll, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&denyAll, TRUE, &empty, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &denyAll, FALSE};
    corvanelib::UniqueKernelHandle foreign(
        CreateEventW(&attributes, FALSE, FALSE, L"Global\\OrvexCorvaneClientMonitor"));
    ASSERT_TRUE(foreign);
    ASSERT_EQ(nullptr, OpenEventW(EVENT_ALL_ACCESS, TRUE, L"Global\\OrvexCorvaneClientMonitor"));
    EXPECT_FALSE(ClaimSingleInstance(second));
    EXPECT_FALSE(second);
}

// An exception that escapes a dialog handler must not unwind through the system's dialog code:
// the console shows it in an error box before the process ends. The test runs itself again as
// the child that throws; the child's box answers with an exit code of its own.
TEST(UncaughtException, EscapingAHandlerShowsAnErrorBox) {
    constexpr UINT kRightBox = 40;
    if (GetEnvironmentVariableW(L"SHELL_TEST_THROWING_CHILD", nullptr, 0) != 0) {
        CBrantelApp app;
        corvane::ui::SetMessageBoxHook([](const corvane::ui::MessageBoxRequest& box) {
            ExitProcess(box.caption == corvane::ui::LoadText(IDS_ERROR_CAPTION) &&
                                box.text == L"handler failed"
                            ? kRightBox
                            : kRightBox + 1);
            return IDOK;
        });
        struct Throwing : CAboutDlg {
            BOOL OnInitDialog() override { throw std::runtime_error("handler failed"); }
        } dialog;
        dialog.RunModal();
        ExitProcess(kRightBox + 2);
    }
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=UncaughtException.*";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    SetEnvironmentVariableW(L"SHELL_TEST_THROWING_CHILD", L"1");
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    SetEnvironmentVariableW(L"SHELL_TEST_THROWING_CHILD", nullptr);
    corvanelib::UniqueKernelHandle process(child.hProcess), thread(child.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 60000));
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(kRightBox, code);
}

} // namespace
