// The Advanced options dialog: how the admission service finds its access gateway, whether it
// authenticates the user by itself when it starts and with which user name and password, and
// whether it forgets the gateway that answered last. The dialog takes and returns plain values;
// RunAdvancedOptions moves them between the user configuration record and the dialog.
#pragma once

#include "console/framework/ModalDialog.h"

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CFileCorvane;

class CAuthOptiondlg : public corvane::console::framework::ModalDialog {
public:
    // The longest user name or password accepted, in bytes of system code page text: with its
    // terminator it fits the record's buffer with room to spare, so nothing is ever cut.
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

// Runs the dialog modally for the caller; returns its result (IDOK, IDCANCEL, -1).
using AuthOptionRunner = std::function<INT_PTR(CAuthOptiondlg&)>;
// Tells the admission service that the options were saved; returns its result, which the flow
// does not look at.
using ServiceNotifier = std::function<int()>;

// One use of the Advanced button: loads `record` from `path` (a missing file leaves the record
// as it was), shows its options in a fresh dialog through `run` and, only when the dialog ends
// with OK, copies them back and saves the record to `path`, with the last gateway as the file
// then holds it unless the user cleared it. A saved record is followed by `notify`; a failed
// save shows an error box with the system error code, owned by `owner`, and the service is not
// told. Returns the dialog's result; -1 when the file exists but cannot be read: that error is
// shown (the system's text, captioned "error") and no dialog opens. A failed notice is not
// reported: the user has nothing to act on.
INT_PTR RunAdvancedOptions(CFileCorvane& record, const std::string& path, HWND owner,
                           const AuthOptionRunner& run, const ServiceNotifier& notify);
