#include "console/BrantelDlg.h"

#include "console/AboutDlg.h"
#include "console/ConsoleMessages.h"
#include "console/framework/MessageBox.h"
#include "console/framework/ResourceStrings.h"
#include "console/res/resource.h"
#include "console/SystemErrorText.h"

using namespace corvane::console;

using framework::DataExchange;

namespace {

// The DPI the process started with; it does not change while the process runs.
int SystemDpi() {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int caps = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        return caps;
    }();
    return dpi;
}

// The DPI of the monitor the window opened on, where the system tells it; the system DPI
// otherwise. Looked up at run time: older systems lack the call.
UINT WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = getDpi != nullptr ? getDpi(window) : 0;
    return dpi != 0 ? dpi : static_cast<UINT>(SystemDpi());
}

// A system metric at `dpi`: the metrics hold for the system DPI.
int MetricForDpi(int metric, UINT dpi) {
    return MulDiv(GetSystemMetrics(metric), static_cast<int>(dpi), SystemDpi());
}

corvanelib::UniqueIcon LoadIconForDpi(UINT id, int widthMetric, int heightMetric, UINT dpi) {
    return corvanelib::UniqueIcon(static_cast<HICON>(
        LoadImageW(framework::ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                   MetricForDpi(widthMetric, dpi), MetricForDpi(heightMetric, dpi), 0)));
}

} // namespace

CBrantelDlg::CBrantelDlg(IServiceTasks& tasks)
    : ModalDialog(IDD_BRANTEL_DIALOG),
      m_icon(LoadIconW(framework::ResourceModule(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_tasks(tasks) {}

void CBrantelDlg::DoDataExchange(DataExchange& exchange) {
    exchange.Control(IDC_LOG, m_logButton);
    exchange.Control(IDC_ADVANCED, m_advancedButton);
    exchange.Control(IDC_START_STOP, m_startStopButton);
    exchange.Control(IDC_LOG_EDIT, m_logEdit);
    exchange.Text(IDC_LOG_EDIT, m_logText);
    exchange.Control(IDC_TRAY_ICON, m_trayButton);
}

BOOL CBrantelDlg::OnInitDialog() {
    ModalDialog::OnInitDialog();

    AddAboutItem();
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    ShowWindow(m_trayButton, SW_HIDE);
    m_errorCaption = framework::LoadText(IDS_ERROR_CAPTION);

    OpenServiceLink();

    // At the system DPI the window keeps the program icon it was given above.
    const UINT dpi = WindowDpi(Handle());
    LoadImagesForDpi(dpi, dpi != static_cast<UINT>(SystemDpi()));
    CollapseLogPane();
    SetWindowTextW(m_logButton, framework::LoadText(IDS_LOG_SHOW).c_str());

    return StartLogView();
}

void CBrantelDlg::AddAboutItem() {
    const std::wstring about = framework::LoadText(IDS_ABOUTBOX);
    HMENU menu = GetSystemMenu(Handle(), FALSE);
    if (menu == nullptr || about.empty()) {
        return;
    }
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
}

void CBrantelDlg::LoadImagesForDpi(UINT dpi, bool windowIcons) {
    // Small icons: the images sit beside the button texts.
    auto load = [dpi](UINT id) { return LoadIconForDpi(id, SM_CXSMICON, SM_CYSMICON, dpi); };
    m_startStopImage = load(IDI_START_STOP);
    m_advancedImage = load(IDI_ADVANCED);
    m_logImage = load(IDI_LOG);
    SendMessageW(m_startStopButton, BM_SETIMAGE, IMAGE_ICON,
                 reinterpret_cast<LPARAM>(m_startStopImage.get()));
    SendMessageW(m_advancedButton, BM_SETIMAGE, IMAGE_ICON,
                 reinterpret_cast<LPARAM>(m_advancedImage.get()));
    SendMessageW(m_logButton, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(m_logImage.get()));
    if (windowIcons) {
        m_bigIcon = LoadIconForDpi(IDR_MAINFRAME, SM_CXICON, SM_CYICON, dpi);
        m_smallIcon = load(IDR_MAINFRAME);
        SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon.get()));
        SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.get()));
    }
}

void CBrantelDlg::OnDpiChanged(UINT dpi, const RECT& suggested) {
    // The system scales the dialog's font and controls; the window takes the rectangle it
    // suggests, which keeps the log pane collapsed.
    SetWindowPos(Handle(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LoadImagesForDpi(dpi, true);
}

void CBrantelDlg::CollapseLogPane() {
    // The window ends just above the log edit control, which then lies outside it.
    RECT dialog = {};
    RECT edit = {};
    GetWindowRect(Handle(), &dialog);
    GetWindowRect(m_logEdit, &edit);
    MoveWindow(Handle(), dialog.left, dialog.top, dialog.right - dialog.left, edit.top - dialog.top,
               TRUE);
}

bool CBrantelDlg::OnCommand(int id, int notifyCode, HWND control) {
    if (id == IDC_LOG && notifyCode == BN_CLICKED) {
        OnButtonLog();
        return true;
    }
    if (id == IDC_START_STOP && notifyCode == BN_CLICKED) {
        OnButtonStartStop();
        return true;
    }
    if (id == IDC_TRAY_ICON && notifyCode == BN_CLICKED) {
        OnButtonTrayIcon();
        return true;
    }
    if (id == IDC_LOG_EDIT && notifyCode == EN_CHANGE) {
        OnLogEditChange();
        return true;
    }
    if (id == IDC_ADVANCED && notifyCode == BN_CLICKED) {
        OnButtonAdvanced();
        return true;
    }
    return ModalDialog::OnCommand(id, notifyCode, control);
}

bool CBrantelDlg::OnSysCommand(UINT command, LPARAM) {
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.RunModal(Handle());
        return true;
    }
    return false;
}

bool CBrantelDlg::OnPaint() {
    if (!IsIconic(Handle())) {
        return false;
    }
    PAINTSTRUCT paint = {};
    HDC dc = BeginPaint(Handle(), &paint);
    SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client = {};
    GetClientRect(Handle(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_icon);
    EndPaint(Handle(), &paint);
    return true;
}

HICON CBrantelDlg::OnQueryDragIcon() {
    return m_icon;
}

void CBrantelDlg::OnDestroy() {
    ModalDialog::OnDestroy();
    KillTimer(Handle(), kPollTimer);
}

bool CBrantelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == g_showWindowMessage && message != 0) {
        OnShowWindowRequest();
        result = 0;
        return true;
    }
    if (message == WM_DPICHANGED) {
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return false; // the system's own handling follows
    }
    if (message == WM_SETCURSOR && m_stopWaiting && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
        result = TRUE;
        return true;
    }
    if (message == kLogViewSocketMessage) {
        m_socket.OnSocketMessage(wParam, lParam);
        result = 0;
        return true;
    }
    return false;
}

void CBrantelDlg::OnShowWindowRequest() {
    // SW_SHOW keeps the current size and position: a minimized console stays minimized.
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}
