// The Advanced options dialog: how the admission service finds its access gateway, whether it
// authenticates the user by itself when it starts and with which user name and password, and
// whether it forgets the gateway that answered last. The dialog takes and returns plain values;
// the caller owns the file and the service (console/AdvancedOptions.h).
#pragma once

#include "console/framework/ModalDialog.h"

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CAuthOptiondlg : public corvane::console::framework::ModalDialog {
public:
    // The longest user name or password accepted, in bytes of system code page text; the
    // caller stores what the dialog takes whole, so nothing is ever cut.
    static constexpr std::size_t kMaxCredentialBytes = 191;

    CAuthOptiondlg();

    // ---- members, in the order the dialog's parts rely on ----
    HICON m_icon; // icon 141, shared: the system frees it
    HWND m_gatewayAddressControl = nullptr;
    HWND m_passwordEdit = nullptr;
    HWND m_userNameEdit = nullptr;
    std::string m_userName; // system code page text
    std::string m_password;
    int m_autoAuthen = 0;     // 1: the service authenticates the user when it starts
    int m_gatewayChoice = -1; // 0: search the gateway automatically; 1: use m_gatewayAddress
    // The caller sets it in network byte order; the dialog holds it in host byte order while it
    // runs; after OK it is in network byte order again, 0 when no address was given.
    std::uint32_t m_gatewayAddress = 0;
    int m_clearLastGateway = 0; // 1 once the user asked to forget the last gateway

protected:
    void DoDataExchange(corvane::console::framework::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode, HWND control) override;
    // Refuses a user name or password that would not be stored as typed or is too long (a
    // message; the dialog stays open, the refused field focused); otherwise takes the gateway
    // address and ends the dialog with IDOK.
    void OnOK() override;

private:
    void ApplyAutoAuthenRule();
    void OnCheckAutoAuthen();
    void OnRadioSearchGateway();
    void OnRadioFixedGateway();
    void OnButtonClearLastGateway();
};
