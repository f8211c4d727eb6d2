// The Advanced button of the main dialog: the user's authentication options.
#include "console/BrantelDlg.h"

#include "console/AppPaths.h"
#include "console/AuthOptionDlg.h"
#include "console/config/FileCorvane.h"

void CBrantelDlg::OnButtonAdvanced() {
    // A fresh record for each press: the file is read again every time, so changes that the
    // service or the user made meanwhile are shown.
    CFileCorvane record(corvane::g_programDirectory);
    RunAdvancedOptions(
        record, corvane::g_dataDirectory + "userconfig.ini", Handle(),
        [this](CAuthOptiondlg& dialog) { return dialog.RunModal(Handle()); },
        [this] { return m_shareMem.NotifyService(); });
}
