#pragma once

#include "console/framework/ModalDialog.h"

// The About box: the program icon, two lines of product text and OK.
class CAboutDlg : public corvane::console::framework::ModalDialog {
public:
    CAboutDlg();
};
