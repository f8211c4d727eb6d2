// The console's main dialog: the status of the admission service, the Start/Stop and
// Advanced buttons, and the log pane that lies collapsed below the window.
#pragma once

#include "console/framework/ModalDialog.h"
#include "console/servicelink/ShareMem.h"
#include "console/ServiceTasks.h"
#include "console/socket/ClientSocket.h"

#include "corvanelib/Win32/UniqueHandle.h"

#include <cstdint>
#include <string>

class CBrantelDlg : public corvane::console::framework::ModalDialog,
                    public corvane::console::socket::ILogViewOwner {
public:
    // Timer 1: the status-report time-out; timer 2: the service poll.
    static constexpr UINT_PTR kReportTimer = 1;
    static constexpr UINT_PTR kPollTimer = 2;

    // `tasks` starts and queries the admission service; tests pass their own.
    explicit CBrantelDlg(
        corvane::console::IServiceTasks& tasks = corvane::console::CorvaneServiceTasks());

    // Shows a service state by status string id: IDS_STATE_RUNNING, IDS_STATE_STOPPED or
    // IDS_STATE_TROUBLE set the status line, the Start/Stop label and the running flag and
    // enable the button; any other id (IDS_STATE_SEARCHING) changes none of them. Then pushes
    // the members to the controls.
    void UpdateServiceStatus(int statusId);
    // A report from the service: shows the state it names (an unknown status shows nothing)
    // and stops the report time-out (timer 1).
    void OnStatusReport(std::uint32_t status) override;
    // Appends `text` and "\r\n" to the log text, emptying it first once it holds 1,024
    // characters or more.
    void AppendLog(const char* text) override;

protected:
    void DoDataExchange(corvane::console::framework::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode, HWND control) override;
    void OnTimer(UINT_PTR timerId) override;
    bool OnSysCommand(UINT command, LPARAM lParam) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;
    void OnDestroy() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void AddAboutItem();
    // Loads the button images and, when `windowIcons`, the window icons at the sizes of `dpi`.
    void LoadImagesForDpi(UINT dpi, bool windowIcons);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void CollapseLogPane();
    void OnShowWindowRequest();
    void OnButtonLog() {}
    // Edits the user's authentication options (AdvancedOptions.cpp).
    void OnButtonAdvanced();

    // The live part of the dialog (service link, service state, Start/Stop, log view).
    void OpenServiceLink();
    BOOL StartLogView();
    void OnButtonStartStop();
    void WaitForServiceToStop();
    void ServeUntilServiceStops();
    void OnButtonTrayIcon();
    void OnLogEditChange();
    void ShowErrorBox(DWORD code);

    // ---- members, in the order the dialog's parts rely on ----
    CClientSocket m_socket;      // its owner is set at dialog start
    CShareMem m_shareMem;        // opened at dialog start
    std::wstring m_errorCaption; // caption of every error box of this dialog
    HWND m_logButton = nullptr;
    HWND m_advancedButton = nullptr;
    HWND m_startStopButton = nullptr;
    HWND m_logEdit = nullptr;
    std::string m_logText; // bound to the log edit control
    HICON m_icon;          // program icon, shared: the system frees it
    int m_running = 0;     // 1: the service counts as running, the button acts as Stop
    int m_statusId = 0;    // string id of the state last shown
    HWND m_trayButton = nullptr;

    // Button images; the buttons do not own the icons they show.
    corvanelib::UniqueIcon m_startStopImage;
    corvanelib::UniqueIcon m_advancedImage;
    corvanelib::UniqueIcon m_logImage;
    // Window icons loaded for a DPI other than the one the process started with.
    corvanelib::UniqueIcon m_bigIcon;
    corvanelib::UniqueIcon m_smallIcon;
    bool m_stopWaiting = false; // the Stop wait runs: the app-starting cursor shows

    corvane::console::IServiceTasks& m_tasks;
};
