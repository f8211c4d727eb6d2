#include "console/AboutDlg.h"

#include "console/res/resource.h"

CAboutDlg::CAboutDlg() : ModalDialog(IDD_ABOUTBOX) {}
