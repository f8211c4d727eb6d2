// The main dialog's live part: the service link, the service state display with its two
// timers, the Start/Stop and tray-icon buttons, and the log-view socket with the log text.
#include "console/BrantelDlg.h"

#include "console/ConsoleMessages.h"
#include "console/framework/MessageBox.h"
#include "console/framework/ResourceStrings.h"
#include "console/logview/LogViewCodec.h"
#include "console/res/resource.h"
#include "console/SystemErrorText.h"

#include "corvanelib/log/CorvaneLog.h"

using namespace corvane::console;

using corvanelib::UniqueKernelHandle;

namespace {

constexpr UINT kReportTimeoutAtStartMs = 300;
constexpr UINT kReportTimeoutAfterPressMs = 200;
constexpr UINT kPollPeriodMs = 200;
// The Stop wait serves at most one message per step.
constexpr DWORD kStopWaitStepMs = 200;
// Start pressed while the service already runs: the pause before command 104.
constexpr DWORD kAlreadyRunningPauseMs = 500;
constexpr DWORD kStartTimeoutMs = 5000;
constexpr size_t kLogTextLimit = 1024;

// Shows a cursor while the dialog's thread is busy, and the one before afterwards.
class BusyCursor {
public:
    explicit BusyCursor(LPCWSTR cursorId) : m_previous(SetCursor(LoadCursorW(nullptr, cursorId))) {}
    ~BusyCursor() { SetCursor(m_previous); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    HCURSOR m_previous;
};

const wchar_t kSourceFile[] = L"" __FILE__;

const wchar_t kTrayIconFailedText[] = L"显示托盘图标失败,请检查准入客户端是否已经启动!";
const wchar_t kTrayIconFailedCaption[] = L"Corvane Client";

// The service holds its stop event while it runs: that it can be opened is the only proof that
// the service runs. The console never signals it.
UniqueKernelHandle OpenStopEvent() {
    return UniqueKernelHandle(OpenEventA(EVENT_ALL_ACCESS, FALSE, servicelink::kStopEventNameA));
}

// Writes `code` into the status-change command word and signals the service. False (with
// the last error set) when the service's event cannot be opened; the word is written only
// while the service link is open.
bool SendStatusChange(CommonShareMemory* block, std::uint32_t code) {
    if (block != nullptr) {
        block->statusChangeCommand = code;
    }
    UniqueKernelHandle statusChange(
        OpenEventW(EVENT_ALL_ACCESS, FALSE, servicelink::kStatusChangeEventName));
    if (!statusChange) {
        return false;
    }
    SetEvent(statusChange.get());
    return true;
}

} // namespace

void CBrantelDlg::ShowErrorBox(DWORD code) {
    framework::ShowMessageBox(Handle(), SystemErrorText(code), m_errorCaption, MB_OK);
}

void CBrantelDlg::OpenServiceLink() {
    // Without the link the dialog still runs; the handlers then skip their writes to the block.
    const DWORD error = m_shareMem.Create();
    if (error != 0) {
        ShowErrorBox(error);
    }
}

BOOL CBrantelDlg::StartLogView() {
    const DWORD error = m_socket.Create(Handle(), kLogViewSocketMessage);
    if (error != 0) {
        // Any local program can hold the ports, or a security product refuse the bind. The
        // dialog then goes without reports: the poll and the report time-out still follow the
        // service, so the display and the button stay true to it.
        ShowErrorBox(error);
    } else {
        m_socket.SetOwner(this);
    }
    EnableWindow(m_startStopButton, FALSE);
    SetTimer(Handle(), kReportTimer, kReportTimeoutAtStartMs, nullptr);
    SetTimer(Handle(), kPollTimer, kPollPeriodMs, nullptr);
    return error == 0 ? TRUE : FALSE;
}

void CBrantelDlg::UpdateServiceStatus(int statusId) {
    UINT label = 0;
    if (statusId == IDS_STATE_STOPPED) {
        m_running = 0;
        m_statusId = IDS_STATE_STOPPED;
        label = IDS_BUTTON_START;
    } else if (statusId == IDS_STATE_RUNNING || statusId == IDS_STATE_TROUBLE) {
        // "trouble" is a running service: it is stored as running and the button stops it.
        m_running = 1;
        m_statusId = IDS_STATE_RUNNING;
        label = IDS_BUTTON_STOP;
    }
    if (label != 0) {
        SetWindowTextW(m_startStopButton, framework::LoadText(label).c_str());
        SetDlgItemTextW(Handle(), IDC_STATUS,
                        framework::LoadText(static_cast<UINT>(statusId)).c_str());
        EnableWindow(m_startStopButton, TRUE);
    }
    ExchangeData(framework::Exchange::ToControls);
}

void CBrantelDlg::OnStatusReport(std::uint32_t status) {
    switch (status) {
    case logview::kStatusRunning:
        UpdateServiceStatus(IDS_STATE_RUNNING);
        break;
    case logview::kStatusStopped:
        UpdateServiceStatus(IDS_STATE_STOPPED);
        break;
    case logview::kStatusTrouble:
        UpdateServiceStatus(IDS_STATE_TROUBLE);
        break;
    default:
        // An unknown status changes no display; it still ends the wait for a report.
        break;
    }
    KillTimer(Handle(), kReportTimer);
}

void CBrantelDlg::OnTimer(UINT_PTR timerId) {
    if (timerId == kReportTimer) {
        // No report came in time: the service counts as stopped.
        UpdateServiceStatus(IDS_STATE_STOPPED);
        KillTimer(Handle(), kReportTimer);
    } else if (timerId == kPollTimer) {
        // While a press is under way (searching) the poll leaves the display alone.
        UniqueKernelHandle stopEvent = OpenStopEvent();
        if (stopEvent) {
            if (m_statusId == IDS_STATE_STOPPED) {
                UpdateServiceStatus(IDS_STATE_RUNNING);
            }
        } else if (m_statusId == IDS_STATE_RUNNING) {
            if (CommonShareMemory* block = m_shareMem.View()) {
                block->serviceState = 0;
            }
            UpdateServiceStatus(IDS_STATE_STOPPED);
        }
    }
    ModalDialog::OnTimer(timerId);
}

void CBrantelDlg::OnButtonStartStop() {
    if (m_running == 1) {
        if (!SendStatusChange(m_shareMem.View(), servicelink::kStatusChangeStop)) {
            ShowErrorBox(GetLastError());
        } else {
            m_running = 0;
            m_statusId = IDS_STATE_SEARCHING;
            EnableWindow(m_startStopButton, FALSE);
            WaitForServiceToStop();
        }
    } else {
        const BusyCursor waiting(IDC_WAIT); // the service tasks below block for up to 5 s
        SERVICE_STATUS status = {};
        const DWORD checked = m_tasks.CheckServiceStatus(status);
        bool starting = false;
        if (checked != 0) {
            ShowErrorBox(checked);
        } else if (status.dwCurrentState == SERVICE_RUNNING) {
            // Already running: only tell the service that Start was pressed.
            Sleep(kAlreadyRunningPauseMs);
            if (!SendStatusChange(m_shareMem.View(), servicelink::kStatusChangeStartPressed)) {
                ShowErrorBox(GetLastError());
            } else {
                starting = true;
            }
        } else {
            const DWORD repaired = m_tasks.TryRepairCorvaneMgr();
            const DWORD repairError = GetLastError();
            // 1 with ERROR_INSUFFICIENT_BUFFER is the quiet case: the start type was already
            // automatic.
            if (!(repaired == 1 && repairError == ERROR_INSUFFICIENT_BUFFER)) {
                corvanelib::g_commonLog.WriteLogA(5, kSourceFile, L"CBrantelDlg::OnButtonStartStop",
                                                  __LINE__, "TryRepairCorvaneMgr()=%u,errno=%u",
                                                  static_cast<unsigned>(repaired),
                                                  static_cast<unsigned>(repairError));
            }
            const DWORD started = m_tasks.StartCorvaneMgr(kStartTimeoutMs);
            if (started != 0) {
                ShowErrorBox(started);
            } else {
                starting = true;
            }
        }
        if (starting) {
            m_running = 1;
            m_statusId = IDS_STATE_SEARCHING;
            EnableWindow(m_startStopButton, FALSE);
        }
    }
    // After every press the next state comes from a status report or, failing that, from
    // the report time-out.
    UpdateServiceStatus(IDS_STATE_SEARCHING);
    SetTimer(Handle(), kReportTimer, kReportTimeoutAfterPressMs, nullptr);
}

void CBrantelDlg::WaitForServiceToStop() {
    // The app-starting cursor over the dialog while it waits but still answers.
    const BusyCursor busy(IDC_APPSTARTING);
    m_stopWaiting = true;
    ServeUntilServiceStops();
    m_stopWaiting = false;
}

void CBrantelDlg::ServeUntilServiceStops() {
    // No time limit while the dialog is up: the service decides when it has gone. The dialog
    // keeps answering at one message per step; handlers run as usual, timers and socket reports
    // included. Once the dialog has been ended (closed) or a quit request came, nobody is
    // left to wait for: the wait ends, and the quit request is posted again for the dialog's own
    // loop.
    for (;;) {
        UniqueKernelHandle stopEvent = OpenStopEvent();
        if (!stopEvent) {
            return;
        }
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (Ended()) {
                return;
            }
        }
        stopEvent.reset();
        Sleep(kStopWaitStepMs);
    }
}

void CBrantelDlg::OnButtonTrayIcon() {
    CommonShareMemory* block = m_shareMem.View();
    if (block == nullptr) {
        return;
    }
    UniqueKernelHandle notify(
        OpenEventA(EVENT_MODIFY_STATE, FALSE, servicelink::kNotifyEventNameA));
    if (notify) {
        block->notifyCommand = servicelink::kNotifyShowTrayIcon;
        if (SetEvent(notify.get())) {
            return;
        }
    }
    framework::ShowMessageBox(Handle(), kTrayIconFailedText, kTrayIconFailedCaption,
                              MB_ICONERROR | MB_OK);
}

void CBrantelDlg::AppendLog(const char* text) {
    if (m_logText.size() >= kLogTextLimit) {
        m_logText.clear();
    }
    m_logText += text;
    m_logText += "\r\n";
    ExchangeData(framework::Exchange::ToControls);
}

void CBrantelDlg::OnLogEditChange() {
    // Whatever the user typed becomes the log text.
    ExchangeData(framework::Exchange::FromControls);
}
