// The Advanced options dialog and its flow, in-process under Wine: the real dialog runs
// modally while a script drives its controls, message boxes go to the seam, and the flow
// works on a real userconfig.ini in a temporary folder.
#include "AuthOptionDlg.h"
#include "CommonShareMemory.h"
#include "FileCorvane.h"
#include "IniFile.h"
#include "MessageBox.h"
#include "ShareMem.h"
#include "Strings.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Step = std::function<void(CAuthOptiondlg&)>;

// Runs a dialog modally and plays `steps` into it, one per tick of a thread timer. A timer
// message comes only when the dialog's queue is empty, so each step sees everything the one
// before it caused. A dialog still open when the steps are used up is cancelled and noted, so
// a wrong script fails the test instead of hanging it.
class DialogScript {
public:
    explicit DialogScript(std::vector<Step> steps) : m_steps(std::move(steps)) {}

    INT_PTR Run(CAuthOptiondlg& dialog) {
        m_dialog = &dialog;
        s_current = this;
        const UINT_PTR timer = SetTimer(nullptr, 0, 10, &DialogScript::Tick);
        EXPECT_NE(timer, 0u);
        const INT_PTR result = dialog.RunModal(nullptr);
        KillTimer(nullptr, timer);
        s_current = nullptr;
        m_dialog = nullptr;
        return result;
    }

    bool LeftOpen() const { return m_leftOpen; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        DialogScript* self = s_current;
        if (self == nullptr || self->m_dialog == nullptr || self->m_dialog->Handle() == nullptr) {
            return;
        }
        if (self->m_next < self->m_steps.size()) {
            self->m_steps[self->m_next++](*self->m_dialog);
        } else if (!self->m_leftOpen) {
            self->m_leftOpen = true;
            self->m_dialog->EndDialog(IDCANCEL);
        }
    }

    static inline DialogScript* s_current = nullptr;
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    bool m_leftOpen = false;
    CAuthOptiondlg* m_dialog = nullptr;
};

class RecordingLauncher : public IProgramLauncher {
public:
    void Launch(const std::string& program, const char* parameters, const std::string&) override {
        launches.push_back(program + " " + parameters);
    }
    std::vector<std::string> launches;
};

// ---- the user's hands ----

HWND Item(CAuthOptiondlg& dialog, int id) {
    return GetDlgItem(dialog.Handle(), id);
}

bool Enabled(CAuthOptiondlg& dialog, int id) {
    return IsWindowEnabled(Item(dialog, id)) != FALSE;
}

bool Checked(CAuthOptiondlg& dialog, int id) {
    return SendMessageW(Item(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// A click the user could make: only on an enabled control, and the button's own behaviour
// (check box toggling, radio group) comes with it.
void Click(CAuthOptiondlg& dialog, int id) {
    HWND button = Item(dialog, id);
    ASSERT_NE(button, nullptr) << id;
    ASSERT_TRUE(IsWindowEnabled(button)) << "control " << id << " is disabled";
    SendMessageW(button, BM_CLICK, 0, 0);
}

void Type(CAuthOptiondlg& dialog, int id, const std::string& text) {
    ASSERT_TRUE(Enabled(dialog, id)) << "control " << id << " is disabled";
    SetDlgItemTextA(dialog.Handle(), id, text.c_str());
}

std::string TextOf(CAuthOptiondlg& dialog, int id) {
    char buffer[1024] = {};
    GetDlgItemTextA(dialog.Handle(), id, buffer, sizeof buffer);
    return buffer;
}

void TypeAddress(CAuthOptiondlg& dialog, BYTE a, BYTE b, BYTE c, BYTE d) {
    ASSERT_TRUE(Enabled(dialog, IDC_GATEWAY_ADDRESS));
    SendMessageW(Item(dialog, IDC_GATEWAY_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

DWORD AddressShown(CAuthOptiondlg& dialog) {
    DWORD address = 0;
    SendMessageW(Item(dialog, IDC_GATEWAY_ADDRESS), IPM_GETADDRESS, 0,
                 reinterpret_cast<LPARAM>(&address));
    return address;
}

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("options-") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "userconfig.ini").string();
        corvane::ui::SetMessageBoxHook([this](const corvane::ui::MessageBoxRequest& box) {
            boxes_.push_back(box);
            return IDOK;
        });
        // The service's side of the link: the notify event it creates and the block.
        SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
        notifyEvent_.reset(CreateEventW(&security, TRUE, FALSE, kNotifyEventName));
        ASSERT_TRUE(notifyEvent_);
        ASSERT_EQ(link_.Create(), 0u);
        link_.View()->notifyCommand = 0;
    }
    void TearDown() override {
        corvane::ui::SetMessageBoxHook(nullptr);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // One press of the Advanced button with a fresh record, driven by `steps`.
    INT_PTR Press(std::vector<Step> steps) {
        CFileCorvane record("C:\\Program Files\\Corvane\\", &launcher_);
        DialogScript script(std::move(steps));
        const INT_PTR result = RunAdvancedOptions(
            record, path_, [&](CAuthOptiondlg& dialog) { return script.Run(dialog); },
            [this] {
                ++notified_;
                return link_.NotifyService();
            });
        EXPECT_FALSE(script.LeftOpen()) << "the dialog was still open after the script";
        return result;
    }

    void Put(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string Value(const char* key, const char* name) const {
        CIniFile ini;
        ini.SetPath(path_.c_str());
        EXPECT_TRUE(ini.ReadFile());
        return ini.GetValue(key, name);
    }

    fs::path dir_;
    std::string path_;
    RecordingLauncher launcher_;
    std::vector<corvane::ui::MessageBoxRequest> boxes_;
    int notified_ = 0;
    corvanelib::UniqueKernelHandle notifyEvent_;
    CShareMem link_;
};

const char kFixedGatewayFile[] = "[GatewayIp]\r\nspecify = 1\r\nipaddr = 192.168.1.10\r\n"
                                 "[LastConnect]\r\ngateway = 10.1.1.1\r\n"
                                 "[AutoAuthen]\r\nenable = 1\r\nusername = alice\r\n"
                                 "password = pw\r\n";

TEST_F(OptionsDialogTest, LongestAcceptedCredentialsAre191Characters) {
    const std::wstring tooLong = corvane::ui::LoadText(IDS_CREDENTIALS_TOO_LONG);
    ASSERT_FALSE(tooLong.empty());

    const INT_PTR result = Press({
        [](CAuthOptiondlg& d) {
            Click(d, IDC_AUTO_AUTH);
            Type(d, IDC_USER_NAME, std::string(192, 'u'));
            Type(d, IDC_PASSWORD, "secret");
            Click(d, IDOK);
        },
        [&](CAuthOptiondlg& d) {
            // Refused, and the dialog is still there with the user's text.
            ASSERT_EQ(boxes_.size(), 1u);
            EXPECT_EQ(boxes_[0].text, tooLong);
            EXPECT_EQ(boxes_[0].caption, corvane::ui::DefaultCaption());
            EXPECT_EQ(boxes_[0].type & 0xF, static_cast<UINT>(MB_OK));
            EXPECT_EQ(TextOf(d, IDC_USER_NAME), std::string(192, 'u'));
            Type(d, IDC_USER_NAME, std::string(191, 'u'));
            Type(d, IDC_PASSWORD, std::string(192, 'p'));
            Click(d, IDOK);
        },
        [&](CAuthOptiondlg& d) {
            ASSERT_EQ(boxes_.size(), 2u);
            EXPECT_EQ(boxes_[1].text, tooLong);
            Type(d, IDC_PASSWORD, std::string(191, 'p'));
            Click(d, IDOK);
        },
    });

    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(Value("AutoAuthen", "username"), std::string(191, 'u'));
    EXPECT_EQ(Value("AutoAuthen", "password"), std::string(191, 'p'));
    EXPECT_EQ(Value("AutoAuthen", "enable"), "1");
    EXPECT_EQ(notified_, 1);
    EXPECT_EQ(launcher_.launches.size(), 1u);
}

TEST_F(OptionsDialogTest, AutoAuthenCheckBoxEnablesTheTextsWhichAreSavedEitherWay) {
    Put(kFixedGatewayFile);
    const INT_PTR result = Press({
        [](CAuthOptiondlg& d) {
            EXPECT_TRUE(Checked(d, IDC_AUTO_AUTH));
            EXPECT_TRUE(Enabled(d, IDC_USER_NAME));
            EXPECT_TRUE(Enabled(d, IDC_PASSWORD));
            EXPECT_EQ(TextOf(d, IDC_USER_NAME), "alice");
            EXPECT_EQ(TextOf(d, IDC_PASSWORD), "pw");
            Type(d, IDC_USER_NAME, "bob");
            Click(d, IDC_AUTO_AUTH);
        },
        [](CAuthOptiondlg& d) {
            EXPECT_FALSE(Checked(d, IDC_AUTO_AUTH));
            EXPECT_FALSE(Enabled(d, IDC_USER_NAME));
            EXPECT_FALSE(Enabled(d, IDC_PASSWORD));
            EXPECT_EQ(TextOf(d, IDC_USER_NAME), "bob");
            Click(d, IDOK);
        },
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(Value("AutoAuthen", "enable"), "0");
    EXPECT_EQ(Value("AutoAuthen", "username"), "bob");
    EXPECT_EQ(Value("AutoAuthen", "password"), "pw");

    // Saved unchecked: the next press opens with the texts disabled; checking enables them.
    EXPECT_EQ(Press({
                  [](CAuthOptiondlg& d) {
                      EXPECT_FALSE(Enabled(d, IDC_USER_NAME));
                      EXPECT_FALSE(Enabled(d, IDC_PASSWORD));
                      Click(d, IDC_AUTO_AUTH);
                      EXPECT_TRUE(Enabled(d, IDC_USER_NAME));
                      EXPECT_TRUE(Enabled(d, IDC_PASSWORD));
                      EXPECT_EQ(TextOf(d, IDC_USER_NAME), "bob");
                      Click(d, IDCANCEL);
                  },
              }),
              IDCANCEL);
}

TEST_F(OptionsDialogTest, GatewayChoiceDrivesTheAddressControl) {
    Put(kFixedGatewayFile);
    // A fixed gateway from the file is shown, in the right byte order, and editable.
    EXPECT_EQ(Press({
                  [](CAuthOptiondlg& d) {
                      EXPECT_TRUE(Checked(d, IDC_FIXED_GATEWAY));
                      EXPECT_FALSE(Checked(d, IDC_SEARCH_GATEWAY));
                      EXPECT_TRUE(Enabled(d, IDC_GATEWAY_ADDRESS));
                      EXPECT_EQ(AddressShown(d),
                                static_cast<DWORD>(MAKEIPADDRESS(192, 168, 1, 10)));
                      Click(d, IDC_SEARCH_GATEWAY);
                      EXPECT_FALSE(Enabled(d, IDC_GATEWAY_ADDRESS));
                      Click(d, IDC_FIXED_GATEWAY);
                      EXPECT_TRUE(Enabled(d, IDC_GATEWAY_ADDRESS));
                      TypeAddress(d, 10, 20, 30, 250);
                      Click(d, IDOK);
                  },
              }),
              IDOK);
    EXPECT_EQ(Value("GatewayIp", "specify"), "1");
    EXPECT_EQ(Value("GatewayIp", "ipaddr"), "10.20.30.250");
    EXPECT_EQ(Value("LastConnect", "gateway"), "10.1.1.1");

    // Back to automatic search: the address is dropped even though the control still holds it.
    EXPECT_EQ(Press({
                  [](CAuthOptiondlg& d) {
                      EXPECT_EQ(AddressShown(d),
                                static_cast<DWORD>(MAKEIPADDRESS(10, 20, 30, 250)));
                      Click(d, IDC_SEARCH_GATEWAY);
                      Click(d, IDOK);
                  },
              }),
              IDOK);
    EXPECT_EQ(Value("GatewayIp", "specify"), "0");
    EXPECT_EQ(Value("GatewayIp", "ipaddr"), "");

    // With automatic search the control opens disabled and empty; choosing the fixed address
    // and leaving it empty saves automatic search.
    EXPECT_EQ(Press({
                  [](CAuthOptiondlg& d) {
                      EXPECT_TRUE(Checked(d, IDC_SEARCH_GATEWAY));
                      EXPECT_FALSE(Enabled(d, IDC_GATEWAY_ADDRESS));
                      EXPECT_NE(SendMessageW(Item(d, IDC_GATEWAY_ADDRESS), IPM_ISBLANK, 0, 0), 0);
                      Click(d, IDC_FIXED_GATEWAY);
                      Click(d, IDOK);
                  },
              }),
              IDOK);
    EXPECT_EQ(Value("GatewayIp", "specify"), "0");
    EXPECT_EQ(Value("GatewayIp", "ipaddr"), "");
}

TEST_F(OptionsDialogTest, ClearLastGatewayAndTheServiceNoticeTakeEffectOnlyWithOk) {
    Put(kFixedGatewayFile);
    const std::string before = Get();
    const std::wstring notice = corvane::ui::LoadText(IDS_CLEAR_GATEWAY_NOTICE);
    ASSERT_FALSE(notice.empty());

    EXPECT_EQ(Press({
                  [&](CAuthOptiondlg& d) {
                      Click(d, IDC_CLEAR_LAST_GATEWAY);
                      ASSERT_EQ(boxes_.size(), 1u);
                      EXPECT_EQ(boxes_[0].text, notice);
                      EXPECT_EQ(boxes_[0].type & 0xF, static_cast<UINT>(MB_OK));
                      Type(d, IDC_USER_NAME, "mallory");
                      Click(d, IDCANCEL);
                  },
              }),
              IDCANCEL);
    EXPECT_EQ(Get(), before);
    EXPECT_EQ(notified_, 0);
    EXPECT_EQ(WaitForSingleObject(notifyEvent_.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(link_.View()->notifyCommand, 0u);
    EXPECT_TRUE(launcher_.launches.empty());

    EXPECT_EQ(Press({
                  [](CAuthOptiondlg& d) {
                      Click(d, IDC_CLEAR_LAST_GATEWAY);
                      Click(d, IDOK);
                  },
              }),
              IDOK);
    EXPECT_EQ(Value("LastConnect", "gateway"), "0.0.0.0");
    // Everything else stays as it was.
    EXPECT_EQ(Value("GatewayIp", "ipaddr"), "192.168.1.10");
    EXPECT_EQ(Value("AutoAuthen", "username"), "alice");
    // OK tells the service (108) and starts the helper once.
    EXPECT_EQ(notified_, 1);
    EXPECT_EQ(WaitForSingleObject(notifyEvent_.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(link_.View()->notifyCommand, kNotifyUserConfigSaved);
    ASSERT_EQ(launcher_.launches.size(), 1u);
    EXPECT_EQ(launcher_.launches[0], "C:\\Program Files\\Corvane\\vedevaru.exe -pnotify");
}

} // namespace
