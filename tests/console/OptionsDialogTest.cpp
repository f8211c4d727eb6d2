// The Advanced options dialog and its flow in-process: the real dialog runs on a thread of its
// own while the test works its controls, and the flow works on a real userconfig.ini in a
// temporary folder.
#include "console/AdvancedOptions.h"
#include "console/config/FileCorvane.h"
#include "console/config/IniFile.h"
#include "console/framework/ResourceStrings.h"
#include "console/res/resource.h"
#include "console/SystemErrorText.h"
#include "tests/console/DialogHands.h"
#include "tests/support/TempDir.h"

#include <commctrl.h>

#include "corvanelib/Win32/UniqueHandle.h"

using namespace corvane::tests::support;

namespace {

using corvane::console::framework::DefaultCaption;
using corvane::console::framework::LoadText;
using corvane::tests::console::DialogThread;

LRESULT Address(const DialogThread& d, UINT message, LPARAM address = 0) {
    DWORD shown = 0;
    address = message == IPM_GETADDRESS ? reinterpret_cast<LPARAM>(&shown) : address;
    const LRESULT result = SendMessageW(d.Item(IDC_GATEWAY_ADDRESS), message, 0, address);
    return message == IPM_GETADDRESS ? static_cast<LRESULT>(shown) : result;
}

class OptionsDialogTest : public TempDirTest, corvane::console::config::IProgramLauncher {
protected:
    void SetUp() override {
        Put(path_, "[GatewayIp]\r\nspecify = 1\r\nipaddr = 192.168.1.10\r\n[LastConnect]\r\n"
                   "gateway = 10.1.1.1\r\n[AutoAuthen]\r\nenable = 1\r\nusername = alice\r\n"
                   "password = pw\r\n");
    }
    // The helper a save starts (the record's own test follows it) is not started here.
    void Launch(const std::string&, const char*, const std::string&) override {}

    // One press of the Advanced button with a fresh record; `hands` work the dialog and close
    // it.
    INT_PTR Press(const std::function<void(const DialogThread&)>& hands) {
        INT_PTR result = 0;
        DialogThread dialog([&] {
            CFileCorvane record("C:\\Program Files\\Corvane\\", this);
            result = corvane::console::RunAdvancedOptions(
                record, path_, nullptr, [](CAuthOptiondlg& d) { return d.RunModal(); },
                [this] { return ++notified_; });
        });
        hands(dialog);
        EXPECT_TRUE(corvane::peers::support::WaitFor([&] { return dialog.Ended(); }))
            << "left open";
        return result;
    }
    std::string Value(const char* key, const char* name) const {
        CIniFile ini;
        ini.SetPath(path_.c_str());
        EXPECT_TRUE(ini.ReadFile());
        return ini.GetValue(key, name);
    }

    const std::string path_ = PathOf("userconfig.ini");
    corvane::tests::console::BoxRecorder boxes_;
    int notified_ = 0;
};

// Credentials of up to 191 characters are taken; the check box enables the texts, which are
// saved either way; the gateway choice drives the address control, whose address is saved only
// for a fixed gateway.
TEST_F(OptionsDialogTest, ChoicesDriveTheirControlsAndAreSavedWithOk) {
    EXPECT_EQ(IDOK, Press([](const DialogThread& d) {
                  const LRESULT icon = SendMessageW(d.Window(), WM_GETICON, ICON_BIG, 0);
                  EXPECT_TRUE(icon != 0 &&
                              icon == SendMessageW(d.Window(), WM_GETICON, ICON_SMALL, 0));
                  EXPECT_TRUE(d.Checked(IDC_AUTO_AUTH) && d.Enabled(IDC_PASSWORD));
                  EXPECT_TRUE(d.Text(IDC_USER_NAME) == L"alice" && d.Text(IDC_PASSWORD) == L"pw");
                  // Refused twice with the message, the dialog open with the user's text.
                  const std::pair<size_t, size_t> lengths[] = {{192, 6}, {191, 192}, {191, 191}};
                  for (const auto& [user, password] : lengths) {
                      SetDlgItemTextA(d.Window(), IDC_USER_NAME, std::string(user, 'u').c_str());
                      SetDlgItemTextA(d.Window(), IDC_PASSWORD, std::string(password, 'p').c_str());
                      if (password != 191) {
                          d.Click(IDOK);
                      }
                  }
                  d.Click(IDC_AUTO_AUTH);
                  EXPECT_FALSE(d.Enabled(IDC_USER_NAME) || d.Enabled(IDC_PASSWORD));
                  // A fixed gateway from the file, in the right byte order, and editable.
                  EXPECT_TRUE(d.Checked(IDC_FIXED_GATEWAY) && !d.Checked(IDC_SEARCH_GATEWAY));
                  EXPECT_EQ(MAKEIPADDRESS(192, 168, 1, 10), Address(d, IPM_GETADDRESS));
                  d.Click(IDC_SEARCH_GATEWAY);
                  EXPECT_FALSE(d.Enabled(IDC_GATEWAY_ADDRESS));
                  d.Click(IDC_FIXED_GATEWAY);
                  EXPECT_TRUE(d.Enabled(IDC_GATEWAY_ADDRESS));
                  Address(d, IPM_SETADDRESS, MAKEIPADDRESS(10, 20, 30, 250));
                  d.Click(IDOK);
              }));
    ASSERT_EQ(2u, boxes_.Boxes().size());
    EXPECT_EQ(LoadText(IDS_CREDENTIALS_TOO_LONG), boxes_.Boxes()[1].text);
    EXPECT_EQ("0", Value("AutoAuthen", "enable"));
    EXPECT_EQ(std::string(191, 'u'), Value("AutoAuthen", "username"));
    EXPECT_EQ(std::string(191, 'p'), Value("AutoAuthen", "password"));
    EXPECT_EQ("1", Value("GatewayIp", "specify"));
    EXPECT_EQ("10.20.30.250", Value("GatewayIp", "ipaddr"));
    // Saved unchecked: the texts open disabled. Back to automatic search: the address is
    // dropped though the control still holds it.
    Press([](const DialogThread& d) {
        EXPECT_FALSE(d.Enabled(IDC_USER_NAME) || d.Enabled(IDC_PASSWORD));
        d.Click(IDC_AUTO_AUTH);
        EXPECT_TRUE(d.Enabled(IDC_USER_NAME) && d.Enabled(IDC_PASSWORD));
        EXPECT_EQ(MAKEIPADDRESS(10, 20, 30, 250), Address(d, IPM_GETADDRESS));
        d.Click(IDC_SEARCH_GATEWAY);
        d.Click(IDOK);
    });
    EXPECT_EQ("", Value("GatewayIp", "ipaddr"));
    // Automatic search opens with the control disabled and empty; the fixed address left empty
    // saves automatic search.
    Press([](const DialogThread& d) {
        EXPECT_TRUE(d.Checked(IDC_SEARCH_GATEWAY) && !d.Enabled(IDC_GATEWAY_ADDRESS));
        EXPECT_NE(0, Address(d, IPM_ISBLANK));
        d.Click(IDC_FIXED_GATEWAY);
        d.Click(IDOK);
    });
    EXPECT_EQ("0", Value("GatewayIp", "specify"));
}

// Each OK tells the service. The service records another gateway while the dialog is open: OK
// keeps the service's unless the user cleared it.
TEST_F(OptionsDialogTest, OkKeepsTheServicesLastGatewayUnlessClearedAndTellsTheService) {
    Press([this](const DialogThread& d) {
        std::string text = Get(path_);
        Put(path_, text.replace(text.find("10.1.1.1"), 8, "10.2.2.2"));
        d.Click(IDOK);
    });
    EXPECT_EQ("10.2.2.2", Value("LastConnect", "gateway"));
    Press([](const DialogThread& d) {
        d.Click(IDC_CLEAR_LAST_GATEWAY);
        d.Click(IDOK);
    });
    EXPECT_EQ("0.0.0.0", Value("LastConnect", "gateway"));
    EXPECT_TRUE(Value("GatewayIp", "ipaddr") == "192.168.1.10" && notified_ == 2);
}

// Refusals, Cancel and failures leave the file as it was and the service unaware; a cleared
// last gateway is only announced until OK. A user name or password that would come back changed
// (characters the code page lacks or would replace by a look-alike, white space at either end,
// which the file's reader trims) is refused at OK with the field focused. A file held by another
// program: held so that it cannot be read, its error is shown and no dialog opens (empty options
// would write over the stored ones); held so that it can be read but not written, the failed
// save is shown.
TEST_F(OptionsDialogTest, RefusalsCancelAndAHeldFileLeaveTheFileAsItWas) {
    const std::string before = Get(path_);
    const std::pair<int, const wchar_t*> refused[] = {{IDC_USER_NAME, L"\u738b\u5c0f\u660e"},
                                                      {IDC_PASSWORD, L"p\u0101ss"},
                                                      {IDC_PASSWORD, L" pw"},
                                                      {IDC_USER_NAME, L"alice\t"}};
    EXPECT_EQ(IDCANCEL, Press([&](const DialogThread& d) {
                  for (const auto& [field, text] : refused) {
                      SetDlgItemTextW(d.Window(), field, text);
                      d.Click(IDOK);
                      GUITHREADINFO focus = {};
                      focus.cbSize = sizeof focus;
                      GetGUIThreadInfo(GetWindowThreadProcessId(d.Window(), nullptr), &focus);
                      EXPECT_TRUE(!d.Ended() && focus.hwndFocus == d.Item(field)) << text;
                      SetDlgItemTextW(d.Window(), field, field == IDC_PASSWORD ? L"pw" : L"al ice");
                  }
                  d.Click(IDC_CLEAR_LAST_GATEWAY);
                  d.Click(IDCANCEL);
              }));
    for (const DWORD sharing : {0ul, static_cast<DWORD>(FILE_SHARE_READ)}) {
        const corvanelib::UniqueFileHandle holder(
            CreateFileA(path_.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(sharing == 0 ? -1 : IDOK, Press([](const DialogThread& d) {
                      if (!d.Ended()) {
                          d.Click(IDOK);
                      }
                  }));
    }
    std::vector<std::pair<std::wstring, std::wstring>> boxes(
        std::size(refused), {LoadText(IDS_CREDENTIALS_NOT_STORED), DefaultCaption()});
    boxes.push_back({LoadText(IDS_CLEAR_GATEWAY_NOTICE), DefaultCaption()});
    boxes.push_back({SystemErrorText(ERROR_SHARING_VIOLATION), LoadText(IDS_ERROR_CAPTION)});
    boxes.push_back({L"writing to the user's config file error:32", boxes.back().second});
    ASSERT_EQ(boxes.size(), boxes_.Boxes().size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i], std::make_pair(boxes_.Boxes()[i].text, boxes_.Boxes()[i].caption));
    }
    EXPECT_TRUE(Get(path_) == before && notified_ == 0);
}

} // namespace
