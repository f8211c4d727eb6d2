// The dialog framework in-process: a probe dialog runs modally on the test's thread and the
// test body runs inside its modal loop.
#include "FrameworkTestRes.h"

#include "MessageBox.h"
#include "ModalDialog.h"
#include "Strings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using corvane::ui::DataExchange;
using corvane::ui::Exchange;

constexpr UINT kRunBody = WM_APP + 7;

class ProbeDialog : public corvane::ui::ModalDialog {
public:
    explicit ProbeDialog(std::function<void(ProbeDialog&)> body)
        : ModalDialog(IDD_PROBE), m_body(std::move(body)) {}

    std::wstring text = L"first";
    std::string text8 = "eight";
    int number = 7;
    int check = 1;
    int radio = 2;
    std::vector<std::string> calls;

protected:
    void DoDataExchange(DataExchange& exchange) override {
        exchange.Text(IDC_PROBE_TEXT, text);
        exchange.Int(IDC_PROBE_INT, number);
        exchange.Check(IDC_PROBE_CHECK, check);
        exchange.Radio(IDC_PROBE_RADIO_A, radio);
    }
    BOOL OnInitDialog() override {
        const BOOL result = ModalDialog::OnInitDialog();
        PostMessageW(Handle(), kRunBody, 0, 0);
        return result;
    }
    void OnDestroy() override { calls.push_back(Item(IDC_PROBE_TEXT) ? "destroy" : "late"); }
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
        if (message == kRunBody) {
            m_body(*this);
            result = 0;
            return true;
        }
        return false;
    }

private:
    std::function<void(ProbeDialog&)> m_body;
};

std::wstring ItemText(HWND item) {
    wchar_t buffer[256] = {};
    GetWindowTextW(item, buffer, 256);
    return buffer;
}

TEST(DataExchange, MovesMembersBothWaysAndRefusesBadIntegers) {
    ProbeDialog dialog([](ProbeDialog& d) {
        EXPECT_EQ(ItemText(d.Item(IDC_PROBE_TEXT)), L"first");
        EXPECT_EQ(ItemText(d.Item(IDC_PROBE_INT)), L"7");
        EXPECT_EQ(IsDlgButtonChecked(d.Handle(), IDC_PROBE_CHECK), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d.Handle(), IDC_PROBE_RADIO_A), BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d.Handle(), IDC_PROBE_RADIO_C), BST_CHECKED);

        SetWindowTextW(d.Item(IDC_PROBE_TEXT), L"second \x4F60");
        SetWindowTextW(d.Item(IDC_PROBE_INT), L"  -2147483648 ");
        CheckDlgButton(d.Handle(), IDC_PROBE_CHECK, BST_INDETERMINATE);
        CheckRadioButton(d.Handle(), IDC_PROBE_RADIO_A, IDC_PROBE_RADIO_C, IDC_PROBE_RADIO_B);
        // A radio button of the next group is not part of this one.
        CheckDlgButton(d.Handle(), IDC_PROBE_OTHER_RADIO, BST_CHECKED);
        ASSERT_TRUE(d.ExchangeData(Exchange::FromControls));
        EXPECT_EQ(d.text, L"second \x4F60");
        EXPECT_EQ(d.number, -2147483647 - 1);
        EXPECT_EQ(d.check, BST_INDETERMINATE);
        EXPECT_EQ(d.radio, 1);

        // No button of the group checked reads as -1; 0 put back checks only the first.
        CheckDlgButton(d.Handle(), IDC_PROBE_RADIO_B, BST_UNCHECKED);
        ASSERT_TRUE(d.ExchangeData(Exchange::FromControls));
        EXPECT_EQ(d.radio, -1);
        d.radio = 0;
        ASSERT_TRUE(d.ExchangeData(Exchange::ToControls));
        EXPECT_EQ(IsDlgButtonChecked(d.Handle(), IDC_PROBE_RADIO_A), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d.Handle(), IDC_PROBE_RADIO_B), BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d.Handle(), IDC_PROBE_OTHER_RADIO), BST_CHECKED);

        // An integer that is not one fails the exchange, keeps the member, takes the focus.
        for (const wchar_t* bad : {L"12x", L"", L"-", L"2147483648", L"99999999999999999999"}) {
            SetWindowTextW(d.Item(IDC_PROBE_INT), bad);
            d.number = 5;
            EXPECT_FALSE(d.ExchangeData(Exchange::FromControls)) << bad;
            EXPECT_EQ(d.number, 5) << bad;
            EXPECT_EQ(GetFocus(), d.Item(IDC_PROBE_INT)) << bad;
        }
        // OK with a bad value keeps the dialog open.
        SendMessageW(d.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_NE(d.Handle(), nullptr);
        SendMessageW(d.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    EXPECT_EQ(dialog.RunModal(), IDCANCEL);
    // OnDestroy runs while the controls are still there.
    EXPECT_EQ(dialog.calls, std::vector<std::string>{"destroy"});
    EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST(ModalDialog, MissingTemplateFailsTheRun) {
    class Missing : public corvane::ui::ModalDialog {
    public:
        Missing() : ModalDialog(999) {}
    } missing;
    EXPECT_EQ(missing.RunModal(), -1);
}

TEST(MessageBox, TheHookSeesAndAnswersEveryBox) {
    std::vector<corvane::ui::MessageBoxRequest> seen;
    auto previous = corvane::ui::SetMessageBoxHook([&](const corvane::ui::MessageBoxRequest& r) {
        seen.push_back(r);
        return IDCANCEL;
    });
    corvane::ui::SetDefaultCaption(L"Probe caption");
    EXPECT_EQ(corvane::ui::ShowMessageBox(nullptr, L"text", L"caption", MB_OK | MB_ICONERROR),
              IDCANCEL);
    EXPECT_EQ(corvane::ui::ShowMessageBox(nullptr, L"plain"), IDCANCEL);
    corvane::ui::SetMessageBoxHook(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, L"text");
    EXPECT_EQ(seen[0].caption, L"caption");
    EXPECT_EQ(seen[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(seen[1].caption, L"Probe caption");
    EXPECT_EQ(seen[1].type, static_cast<UINT>(MB_OK));
}

TEST(Strings, LoadsWholeTextsAndEmptyForMissingIds) {
    EXPECT_EQ(corvane::ui::LoadText(IDS_PROBE_TEXT), L"Gr\x00FC\x00DF"
                                                     L"e, \x4F60\x597D");
    EXPECT_EQ(corvane::ui::LoadText(IDS_PROBE_TEXT + 1), L"");
    EXPECT_EQ(corvane::ui::LoadText8(IDS_PROBE_TEXT + 1), "");
    EXPECT_EQ(corvane::ui::LoadText8(IDS_PROBE_TEXT),
              corvane::ui::ToCodePage(corvane::ui::LoadText(IDS_PROBE_TEXT)));
    EXPECT_EQ(corvane::ui::ProgramName(), L"console_framework_test");
}

} // namespace
