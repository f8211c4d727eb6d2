// The Advanced button of the main dialog: a fresh user configuration record for each press,
// shown in the Advanced options dialog, saved after OK and announced to the service.
#include "console/AdvancedOptions.h"

#include "console/AppPaths.h"
#include "console/BrantelDlg.h"
#include "console/config/FileCorvane.h"
#include "console/framework/MessageBox.h"
#include "console/framework/ResourceStrings.h"
#include "console/res/resource.h"
#include "console/SystemErrorText.h"

#include <cstring>

static_assert(CAuthOptiondlg::kMaxCredentialBytes < CFileCorvane::kTextBytes,
              "a user name or password the dialog takes fits the record's buffer whole");

namespace corvane::console {

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
    std::wstring text = framework::LoadText(IDS_CONFIG_WRITE_ERROR);
    const std::wstring code = std::to_wstring(error);
    const std::size_t at = text.find(L"%d");
    if (at != std::wstring::npos) {
        text.replace(at, 2, code);
    } else {
        text += code;
    }
    framework::ShowMessageBox(owner, text, framework::LoadText(IDS_ERROR_CAPTION), MB_OK);
}

} // namespace

INT_PTR RunAdvancedOptions(CFileCorvane& record, const std::string& path, HWND owner,
                           const AuthOptionRunner& run, const ServiceNotifier& notify) {
    CAuthOptiondlg dialog;
    // A missing file leaves the record as it was: for a fresh one, automatic search, no
    // automatic authentication and empty texts. A file that exists but cannot be read is not
    // shown as empty options, which OK would then write over the stored ones.
    if (record.LoadUserConfig(path.c_str()) != 0) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            framework::ShowMessageBox(owner, SystemErrorText(error),
                                      framework::LoadText(IDS_ERROR_CAPTION), MB_OK);
            return -1;
        }
    }

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
    // The last gateway is the service's: it is written as the file holds it when saved, unless
    // the user asked to forget it.
    auto last = CFileCorvane::LastGateway::AsInFile;
    if (dialog.m_clearLastGateway == 1) {
        record.m_lastGateway = 0;
        last = CFileCorvane::LastGateway::FromRecord;
    }
    if (record.SaveUserConfig(path.c_str(), last) != 0) {
        // The options did not reach the file: the service has nothing new to read.
        ShowSaveError(owner, GetLastError());
        return result;
    }
    if (notify) {
        notify();
    }
    return result;
}

} // namespace corvane::console

void CBrantelDlg::OnButtonAdvanced() {
    // A fresh record for each press: the file is read again every time, so changes that the
    // service or the user made meanwhile are shown.
    CFileCorvane record(corvane::console::g_programDirectory);
    corvane::console::RunAdvancedOptions(
        record, corvane::console::g_dataDirectory + "userconfig.ini", Handle(),
        [this](CAuthOptiondlg& dialog) { return dialog.RunModal(Handle()); },
        [this] { return m_shareMem.NotifyService(); });
}
