// The Advanced button of the main dialog: the user's authentication options.
#include "console/BrantelDlg.h"

#include "console/AppPaths.h"
#include "console/AuthOptionDlg.h"
#include "console/config/FileCorvane.h"

using namespace corvane::console;

void CBrantelDlg::OnButtonAdvanced() {
    // A fresh record for each press: the file is read again every time, so changes that the
    // service or the user made meanwhile are shown.
    CFileCorvane record(g_programDirectory);
    RunAdvancedOptions(
        record, g_dataDirectory + "userconfig.ini", Handle(),
        [this](CAuthOptiondlg& dialog) { return dialog.RunModal(Handle()); },
        [this] { return m_shareMem.NotifyService(); });
}
