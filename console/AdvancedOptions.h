// The Advanced button of the main dialog: the user's authentication options move from
// userconfig.ini into the Advanced options dialog and, after OK, back into the file, and the
// admission service is told about the change.
#pragma once

#include "console/AuthOptionDlg.h"

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>

class CFileCorvane;

namespace corvane::console {

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

} // namespace corvane::console
