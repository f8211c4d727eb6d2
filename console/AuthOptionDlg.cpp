#include "AuthOptionDlg.h"

#include "FileCorvane.h"
#include "console/framework/MessageBox.h"
#include "console/framework/ResourceStrings.h"
#include "res/resource.h"

#include <commctrl.h>

#include <cstring>

using corvane::ui::DataExchange;
using corvane::ui::Exchange;

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

} // namespace

CAuthOptiondlg::CAuthOptiondlg()
    : ModalDialog(IDD_AUTH_OPTION),
      m_icon(LoadIconW(corvane::ui::ResourceModule(), MAKEINTRESOURCEW(IDI_ADVANCED))) {}

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
    corvane::ui::ShowMessageBox(Handle(), corvane::ui::LoadText(IDS_CLEAR_GATEWAY_NOTICE), MB_OK);
}

void CAuthOptiondlg::OnOK() {
    if (!ExchangeData(Exchange::FromControls)) {
        return;
    }
    if (m_userName.size() > kMaxCredentialBytes || m_password.size() > kMaxCredentialBytes) {
        corvane::ui::ShowMessageBox(Handle(), corvane::ui::LoadText(IDS_CREDENTIALS_TOO_LONG),
                                    MB_OK);
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

namespace {

// The text of a record buffer, up to its terminator or its end.
std::string BufferText(const char (&buffer)[CFileCorvane::kTextBytes]) {
    const void* end = std::memchr(buffer, '\0', sizeof buffer);
    return std::string(buffer,
                       end != nullptr ? static_cast<const char*>(end) : buffer + sizeof buffer);
}

// "writing to the user's config file error:%d" with the save's system error code, captioned
// like every error box of the console.
void ShowSaveError(HWND owner, DWORD error) {
    std::wstring text = corvane::ui::LoadText(IDS_CONFIG_WRITE_ERROR);
    const std::wstring code = std::to_wstring(error);
    const std::size_t at = text.find(L"%d");
    if (at != std::wstring::npos) {
        text.replace(at, 2, code);
    } else {
        text += code;
    }
    corvane::ui::ShowMessageBox(owner, text, corvane::ui::LoadText(IDS_ERROR_CAPTION), MB_OK);
}

} // namespace

INT_PTR RunAdvancedOptions(CFileCorvane& record, const std::string& path, HWND owner,
                           const AuthOptionRunner& run, const ServiceNotifier& notify) {
    CAuthOptiondlg dialog;
    // A file that is missing or unreadable leaves the record as it was: for a fresh one,
    // automatic search, no automatic authentication and empty texts.
    record.LoadUserConfig(path.c_str());

    dialog.m_userName = BufferText(record.m_userName);
    dialog.m_password = BufferText(record.m_password);
    dialog.m_autoAuthen = record.m_autoAuthen;
    dialog.m_gatewayChoice = 0;
    if (record.m_fixedGateway != 0) {
        dialog.m_gatewayChoice = 1;
        dialog.m_gatewayAddress = record.m_fixedGateway;
    }

    const INT_PTR result = run(dialog);
    if (result != IDOK) {
        return result;
    }

    record.SetUserName(dialog.m_userName.c_str());
    record.SetPassword(dialog.m_password.c_str());
    record.m_autoAuthen = dialog.m_autoAuthen;
    record.m_fixedGateway = dialog.m_gatewayAddress;
    if (dialog.m_clearLastGateway == 1) {
        record.m_lastGateway = 0;
    }
    if (record.SaveUserConfig(path.c_str()) != 0) {
        // The options did not reach the file: the service has nothing new to read.
        ShowSaveError(owner, GetLastError());
        return result;
    }
    if (notify) {
        notify();
    }
    return result;
}
