// The Advanced button of the real Brantel.exe with the stand-in service running: the options
// the user confirms reach userconfig.ini in the data directory, and the service, told by the
// notify command, reads them back and reports them in the console's log.
#include "StandinService.h"
#include "UiDriver.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>

#include <memory>
#include <string>

namespace {

using corvane_test::StandinService;

constexpr int kAdvanced = 1003;
constexpr int kLog = 1005;
constexpr int kLogEdit = 1006;
constexpr int kUserName = 1010;
constexpr int kPassword = 1011;
constexpr int kAutoAuthen = 1012;
constexpr int kFixedGateway = 1014;
constexpr int kGatewayAddress = 1016;

std::string UserConfigPath() {
    char folder[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::string(folder) + "\\Corvane\\userconfig.ini";
}

// A click as the user makes it, handled by the button itself in the console's thread.
void Press(HWND button) {
    ASSERT_NE(button, nullptr);
    PostMessageW(button, BM_CLICK, 0, 0);
}

TEST(AdvancedE2e, SavedOptionsReachTheService) {
    const std::string config = UserConfigPath();
    DeleteFileA(config.c_str());

    StandinService service(L"--report-period=500");
    ASSERT_EQ(service.InstallError(), 0u);
    ASSERT_EQ(StandinService::Start(), 0u);
    ASSERT_TRUE(StandinService::WaitForState(SERVICE_RUNNING));

    uidriver::Program console(L"\"" + corvane_test::WindowsPath(BRANTEL_EXE) + L"\"");
    ASSERT_TRUE(console.Started());
    HWND main = uidriver::WaitForWindow(L"Corvane Client Console", console.Id());
    ASSERT_NE(main, nullptr);
    // The main dialog's start is over once its Log button carries its run-time text.
    ASSERT_TRUE(uidriver::WaitUntil(
        [&] { return uidriver::Text(uidriver::Control(main, kLog)) != L"&Log"; }));

    ASSERT_TRUE(uidriver::Click(uidriver::Control(main, kAdvanced)));
    HWND options = uidriver::WaitForWindow(L"Advanced", console.Id());
    ASSERT_NE(options, nullptr);
    HWND userName = uidriver::Control(options, kUserName);
    HWND address = uidriver::Control(options, kGatewayAddress);
    // A missing file: automatic search, no automatic authentication.
    EXPECT_FALSE(uidriver::IsEnabled(userName));
    EXPECT_FALSE(uidriver::IsEnabled(address));

    Press(uidriver::Control(options, kAutoAuthen));
    Press(uidriver::Control(options, kFixedGateway));
    ASSERT_TRUE(uidriver::WaitUntil(
        [&] { return uidriver::IsEnabled(userName) && uidriver::IsEnabled(address); }));
    SendMessageW(userName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"carol"));
    SendMessageW(uidriver::Control(options, kPassword), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L"s3cret"));
    SendMessageW(address, IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 20, 30, 40));
    Press(uidriver::Control(options, IDOK));
    ASSERT_TRUE(uidriver::WaitUntil([&] { return !IsWindow(options); }));

    const std::wstring expected =
        L"notify 108: userconfig.ini GatewayIp specify=1 ipaddr=10.20.30.40; LastConnect "
        L"gateway=0.0.0.0; AutoAuthen enable=1 username=carol password=(set)";
    HWND log = uidriver::Control(main, kLogEdit);
    EXPECT_TRUE(uidriver::WaitUntil([&] {
        return uidriver::Text(log).find(expected) != std::wstring::npos;
    })) << "log: "
        << ::testing::PrintToString(uidriver::Text(log));

    EXPECT_TRUE(console.Close());
    DeleteFileA(config.c_str());
}

} // namespace
