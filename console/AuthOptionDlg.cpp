#include "console/AuthOptionDlg.h"

#include "console/framework/MessageBox.h"
#include "console/framework/ResourceStrings.h"
#include "console/res/resource.h"

#include <commctrl.h>

#include <cstring>
#include <cwchar>

using namespace corvane::console;

using framework::DataExchange;
using framework::Exchange;

namespace {

// Host and network byte order of an IPv4 address. Network order keeps the first octet in the
// lowest-addressed byte; host order is the number the address control works with, the first
// octet in the most significant byte.
std::uint32_t NetworkToHost(std::uint32_t address) {
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return (static_cast<std::uint32_t>(bytes[0]) << 24) |
           (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

std::uint32_t HostToNetwork(std::uint32_t address) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16),
        static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    std::uint32_t network;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}

// Whether the text of `edit` is stored as typed: every character has its own code in the
// system code page (no default character, no look-alike) and no white space stands at either
// end (the file's reader trims it).
bool StoresAsTyped(HWND edit) {
    const std::wstring text = framework::WindowText(edit);
    if (text.empty()) {
        return true;
    }
    const wchar_t* blanks = L" \t\r\n\v\f";
    if (std::wcschr(blanks, text.front()) != nullptr ||
        std::wcschr(blanks, text.back()) != nullptr) {
        return false;
    }
    // UTF-8 has a code for every character but takes neither the flag nor the question.
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    const int cb = WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                       text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, utf8 ? nullptr : &usedDefault);
    return cb > 0 && !usedDefault;
}

} // namespace

CAuthOptiondlg::CAuthOptiondlg()
    : ModalDialog(IDD_AUTH_OPTION),
      m_icon(LoadIconW(framework::ResourceModule(), MAKEINTRESOURCEW(IDI_ADVANCED))) {}

void CAuthOptiondlg::DoDataExchange(DataExchange& exchange) {
    exchange.Control(IDC_GATEWAY_ADDRESS, m_gatewayAddressControl);
    exchange.Control(IDC_PASSWORD, m_passwordEdit);
    exchange.Control(IDC_USER_NAME, m_userNameEdit);
    exchange.Text(IDC_USER_NAME, m_userName);
    exchange.Text(IDC_PASSWORD, m_password);
    exchange.Check(IDC_AUTO_AUTH, m_autoAuthen);
    exchange.Radio(IDC_SEARCH_GATEWAY, m_gatewayChoice);
}

BOOL CAuthOptiondlg::OnInitDialog() {
    ModalDialog::OnInitDialog();

    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    if (m_gatewayChoice == 1) {
        m_gatewayAddress = NetworkToHost(m_gatewayAddress);
        SendMessageW(m_gatewayAddressControl, IPM_SETADDRESS, 0,
                     static_cast<LPARAM>(m_gatewayAddress));
        EnableWindow(m_gatewayAddressControl, TRUE);
    } else {
        EnableWindow(m_gatewayAddressControl, FALSE);
    }

    ApplyAutoAuthenRule();
    return TRUE;
}

bool CAuthOptiondlg::OnCommand(int id, int notifyCode, HWND control) {
    if (notifyCode == BN_CLICKED) {
        switch (id) {
        case IDC_AUTO_AUTH:
            OnCheckAutoAuthen();
            return true;
        case IDC_SEARCH_GATEWAY:
            OnRadioSearchGateway();
            return true;
        case IDC_FIXED_GATEWAY:
            OnRadioFixedGateway();
            return true;
        case IDC_CLEAR_LAST_GATEWAY:
            OnButtonClearLastGateway();
            return true;
        default:
            break;
        }
    }
    return ModalDialog::OnCommand(id, notifyCode, control);
}

void CAuthOptiondlg::ApplyAutoAuthenRule() {
    // The texts stay in the controls while they are disabled: they are saved either way.
    ExchangeData(Exchange::FromControls);
    const BOOL enable = m_autoAuthen == 1 ? TRUE : FALSE;
    EnableWindow(m_userNameEdit, enable);
    EnableWindow(m_passwordEdit, enable);
    ExchangeData(Exchange::ToControls);
}

void CAuthOptiondlg::OnCheckAutoAuthen() {
    ApplyAutoAuthenRule();
}

void CAuthOptiondlg::OnRadioSearchGateway() {
    EnableWindow(m_gatewayAddressControl, FALSE);
}

void CAuthOptiondlg::OnRadioFixedGateway() {
    EnableWindow(m_gatewayAddressControl, TRUE);
}

void CAuthOptiondlg::OnButtonClearLastGateway() {
    // Takes effect only when the dialog ends with OK, and in the service after its restart.
    m_clearLastGateway = 1;
    framework::ShowMessageBox(Handle(), framework::LoadText(IDS_CLEAR_GATEWAY_NOTICE), MB_OK);
}

void CAuthOptiondlg::OnOK() {
    if (!ExchangeData(Exchange::FromControls)) {
        return;
    }
    // A user name or password that would come back changed is refused, not stored as
    // something else: automatic authentication would then fail without a word.
    for (HWND edit : {m_userNameEdit, m_passwordEdit}) {
        if (!StoresAsTyped(edit)) {
            framework::ShowMessageBox(Handle(), framework::LoadText(IDS_CREDENTIALS_NOT_STORED),
                                      MB_OK);
            SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
            return;
        }
    }
    if (m_userName.size() > kMaxCredentialBytes || m_password.size() > kMaxCredentialBytes) {
        framework::ShowMessageBox(Handle(), framework::LoadText(IDS_CREDENTIALS_TOO_LONG), MB_OK);
        return;
    }
    if (m_gatewayChoice != 0) {
        // A blank control gives 0, and so does every blank field of a partly filled one.
        DWORD host = 0;
        if (SendMessageW(m_gatewayAddressControl, IPM_ISBLANK, 0, 0) == 0) {
            SendMessageW(m_gatewayAddressControl, IPM_GETADDRESS, 0,
                         reinterpret_cast<LPARAM>(&host));
        }
        m_gatewayAddress = HostToNetwork(host);
    } else {
        m_gatewayAddress = 0;
    }
    EndDialog(IDOK);
}
