// The console's main dialog: the status of the admission service, the Start/Stop and
// Advanced buttons, and the log pane that lies collapsed below the window.
#pragma once

#include "ModalDialog.h"

#include "corvanelib/Win32/UniqueHandle.h"

#include <string>

class CBrantelDlg : public corvane::ui::ModalDialog {
public:
    // Timer 1: the status-report time-out; timer 2: the service poll.
    static constexpr UINT_PTR kReportTimer = 1;
    static constexpr UINT_PTR kPollTimer = 2;

    CBrantelDlg();

    // Pushes the members' values to the controls (false when the dialog is not up).
    bool PushToControls() { return ExchangeData(corvane::ui::Exchange::ToControls); }
    // Takes the controls' values into the members.
    bool TakeFromControls() { return ExchangeData(corvane::ui::Exchange::FromControls); }

    const std::wstring& ErrorCaption() const { return m_errorCaption; }
    HICON WindowIcon() const { return m_icon; }

protected:
    void DoDataExchange(corvane::ui::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode, HWND control) override;
    bool OnSysCommand(UINT command, LPARAM lParam) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;
    void OnDestroy() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void AddAboutItem();
    void SetButtonImages();
    void CollapseLogPane();
    void OnShowWindowRequest();
    void OnButtonLog() {}

    // ---- members, in the order the dialog's parts rely on ----
    // [log-view socket] CClientSocket m_socket; goes here (its owner is set at dialog start).
    // [service link] CShareMem m_shareMem; goes here (opened at dialog start).
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
};
