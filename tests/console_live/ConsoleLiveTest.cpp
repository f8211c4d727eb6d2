// The main dialog's service display, Start/Stop and log view, in-process: the real dialog runs
// modally on a thread of its own, the service tasks are faked, message boxes are answered by
// the test, and the service's named objects are made by the test itself.
#include "BrantelDlg.h"
#include "LogCapture.h"
#include "LogViewCodec.h"
#include "MessageBox.h"
#include "Strings.h"
#include "SystemErrorText.h"
#include "WaitFor.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using corvane::SystemErrorText;
using corvane_test::WaitFor;
using corvanelib::UniqueKernelHandle;
using namespace std::chrono_literals;

struct FakeTasks : IServiceTasks {
    DWORD CheckServiceStatus(SERVICE_STATUS& status) override {
        ++checks;
        status.dwCurrentState = currentState;
        return checkResult;
    }
    DWORD TryRepairCorvaneMgr() override {
        ++repairs;
        SetLastError(repairError);
        return repairResult;
    }
    DWORD StartCorvaneMgr(DWORD timeoutMs) override {
        ++starts;
        startTimeout = timeoutMs;
        if (onStart) {
            onStart();
        }
        return startResult;
    }
    std::atomic<DWORD> checkResult{0}, currentState{SERVICE_STOPPED};
    std::atomic<DWORD> repairResult{1}, repairError{ERROR_INSUFFICIENT_BUFFER};
    std::atomic<DWORD> startResult{0}, startTimeout{0};
    std::atomic<int> checks{0}, repairs{0}, starts{0};
    std::function<void()> onStart; // runs on the dialog's thread, inside the press
};

// The dialog, run modally on its own thread as the program runs it on its main thread.
class LiveDialog {
public:
    explicit LiveDialog(IServiceTasks& tasks) {
        m_thread = std::thread([this, &tasks] {
            CBrantelDlg dialog(tasks);
            m_dialog = &dialog;
            m_threadId = GetCurrentThreadId();
            dialog.RunModal();
            m_dialog = nullptr;
            m_ended = true;
        });
        WaitFor([this] {
            EnumThreadWindows(
                m_threadId,
                [](HWND window, LPARAM out) -> BOOL {
                    if (!IsWindowVisible(window)) {
                        return TRUE;
                    }
                    *reinterpret_cast<HWND*>(out) = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&m_window));
            return m_window != nullptr;
        });
    }
    ~LiveDialog() {
        if (!m_ended) {
            PostMessageW(m_window, WM_CLOSE, 0, 0);
        }
        m_thread.join();
    }
    HWND Window() const { return m_window; }
    DWORD ThreadId() const { return m_threadId; }
    bool Ended() const { return m_ended; }
    unsigned Port() const { return m_dialog.load()->LogViewPort(); }

    std::wstring Text(int id) const {
        wchar_t text[2048] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(GetDlgItem(m_window, id), WM_GETTEXT, 2048,
                            reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 10000, &copied);
        return text;
    }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(m_window, id)) != FALSE; }
    void Click(int id) const {
        PostMessageW(m_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(m_window, id)));
    }
    // The status line, the button's label and whether it is enabled.
    bool Shows(UINT statusId, UINT labelId, bool enabled = true) const {
        return Text(IDC_STATUS) == corvane::ui::LoadText(statusId) &&
               Text(IDC_START_STOP) == corvane::ui::LoadText(labelId) &&
               Enabled(IDC_START_STOP) == enabled;
    }
    bool ShowsStopped() const {
        return WaitFor([&] { return Shows(IDS_STATE_STOPPED, IDS_BUTTON_START); });
    }
    bool ShowsRunning() const {
        return WaitFor([&] { return Shows(IDS_STATE_RUNNING, IDS_BUTTON_STOP); });
    }

private:
    std::thread m_thread;
    std::atomic<CBrantelDlg*> m_dialog{nullptr};
    std::atomic<DWORD> m_threadId{0};
    std::atomic<bool> m_ended{false};
    HWND m_window = nullptr;
};

// The service's side: its named events, a view of the shared block and its datagrams.
class FakeService {
public:
    void Run() { m_stop.reset(CreateEventW(nullptr, TRUE, FALSE, kStopEventName)); }
    void Exit() { m_stop.reset(); }
    HANDLE MakeEvent(UniqueKernelHandle& event, const wchar_t* name) {
        event.reset(CreateEventW(nullptr, FALSE, FALSE, name));
        return event.get();
    }
    HANDLE MakeStatusChangeEvent() { return MakeEvent(m_statusChange, kStatusChangeEventName); }
    HANDLE MakeNotifyEvent() { return MakeEvent(m_notify, kNotifyEventName); }
    CommonShareMemory* Block() {
        if (!m_view) {
            m_mapping.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kShareMemoryName));
            m_view.reset(MapViewOfFile(m_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        }
        return static_cast<CommonShareMemory*>(m_view.get());
    }
    void Report(unsigned port, std::uint32_t status) {
        Send(port, logview::EncodeStatus(status, m_key));
    }
    void Log(unsigned port, const std::string& line) {
        Send(port, logview::EncodeLogLine(line, m_key));
    }

private:
    void Send(unsigned port, const std::vector<std::uint8_t>& datagram) {
        if (!m_socket) {
            m_socket.reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        }
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<unsigned short>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(m_socket.get(), reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }
    const logview::Key m_key = logview::MakeKey();
    corvanelib::UniqueSocket m_socket;
    UniqueKernelHandle m_stop, m_statusChange, m_notify, m_mapping;
    corvanelib::UniqueMapView m_view;
};

class ConsoleLive : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        // Every message box is answered with OK and kept.
        corvane::ui::SetMessageBoxHook([this](const corvane::ui::MessageBoxRequest& box) {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_boxes.push_back(box);
            return IDOK;
        });
    }
    void TearDown() override {
        dialog.reset();
        corvane::ui::SetMessageBoxHook({});
        WSACleanup();
    }
    // Opens the dialog; without a service its time-out shows "stop" with Start enabled.
    void OpenStopped() {
        dialog = std::make_unique<LiveDialog>(tasks);
        ASSERT_TRUE(dialog->ShowsStopped());
    }
    std::vector<corvane::ui::MessageBoxRequest> Boxes() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_boxes;
    }

    FakeTasks tasks;
    FakeService service;
    std::unique_ptr<LiveDialog> dialog;

private:
    std::mutex m_mutex;
    std::vector<corvane::ui::MessageBoxRequest> m_boxes;
};

TEST_F(ConsoleLive, TimersReportsAndStartDriveTheDisplay) {
    corvane_test::LogCapture log;
    OpenStopped();
    service.Run();
    ASSERT_TRUE(dialog->ShowsRunning());

    // "trouble" counts as running: polls that find the service leave it shown.
    service.Report(dialog->Port(), logview::kStatusTrouble);
    ASSERT_TRUE(WaitFor([&] { return dialog->Shows(IDS_STATE_TROUBLE, IDS_BUTTON_STOP); }));
    Sleep(700);
    EXPECT_TRUE(dialog->Shows(IDS_STATE_TROUBLE, IDS_BUTTON_STOP));

    // The service gone from under it: the poll shows "stop" and clears the state word.
    service.Block()->serviceState = 5;
    service.Exit();
    ASSERT_TRUE(dialog->ShowsStopped());
    EXPECT_EQ(0u, service.Block()->serviceState);

    // Start runs check, repair and start; the service's report then shows it.
    const unsigned port = dialog->Port();
    tasks.onStart = [&] {
        service.Run();
        service.Report(port, logview::kStatusRunning);
    };
    dialog->Click(IDC_START_STOP);
    ASSERT_TRUE(dialog->ShowsRunning());
    EXPECT_EQ(1, tasks.checks);
    EXPECT_EQ(1, tasks.repairs);
    EXPECT_EQ(1, tasks.starts);
    EXPECT_EQ(5000u, tasks.startTimeout);
    // Repair result 1 with last error 122 is the quiet case.
    EXPECT_TRUE(log.RecordsOf(L"CBrantelDlg::OnButtonStartStop").empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ConsoleLive, StartWhileRunningSends104AndAnUnknownReportOnlyCancelsTheTimeout) {
    HANDLE statusChange = service.MakeStatusChangeEvent();
    tasks.currentState = SERVICE_RUNNING;
    OpenStopped();
    const auto pressed = std::chrono::steady_clock::now();
    dialog->Click(IDC_START_STOP);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(statusChange, 20000));
    EXPECT_GE(std::chrono::steady_clock::now() - pressed, 480ms);
    EXPECT_EQ(kStatusChangeStartPressed, service.Block()->statusChangeCommand);
    EXPECT_EQ(0, tasks.repairs);
    EXPECT_EQ(0, tasks.starts);
    // No report follows: the time-out brings "stop" back.
    ASSERT_TRUE(dialog->ShowsStopped());
    EXPECT_TRUE(Boxes().empty());

    // A report of status 5, sent inside the press and held there until its notification is
    // queued: posted messages are served before any timer, so it comes before the time-out.
    tasks.currentState = SERVICE_STOPPED;
    const unsigned port = dialog->Port();
    const HWND window = dialog->Window();
    tasks.onStart = [this, port, window] {
        service.Report(port, 5);
        MSG queued;
        WaitFor([&] {
            return PeekMessageW(&queued, window, CBrantelDlg::kSocketMessage,
                                CBrantelDlg::kSocketMessage, PM_NOREMOVE) != FALSE;
        });
    };
    dialog->Click(IDC_START_STOP);
    ASSERT_TRUE(WaitFor([&] { return tasks.starts == 1 && !dialog->Enabled(IDC_START_STOP); }));
    Sleep(800);
    // Searching, with no time-out left to end it.
    EXPECT_TRUE(dialog->Shows(IDS_STATE_STOPPED, IDS_BUTTON_START, false));
}

TEST_F(ConsoleLive, StopSignalsTheServiceAndWaitsUntilItHasGoneEvenWhenAskedToQuit) {
    HANDLE statusChange = service.MakeStatusChangeEvent();
    service.Run();
    dialog = std::make_unique<LiveDialog>(tasks);
    ASSERT_TRUE(dialog->ShowsRunning());
    dialog->Click(IDC_START_STOP);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(statusChange, 20000));
    EXPECT_EQ(kStatusChangeStop, service.Block()->statusChangeCommand);
    // Waiting: the button is disabled and the display unchanged; a quit request taken by the
    // wait is passed on only once the service has gone.
    ASSERT_TRUE(WaitFor([&] { return !dialog->Enabled(IDC_START_STOP); }));
    PostThreadMessageW(dialog->ThreadId(), WM_QUIT, 0, 0);
    Sleep(700);
    EXPECT_FALSE(dialog->Ended());
    EXPECT_TRUE(dialog->Shows(IDS_STATE_RUNNING, IDS_BUTTON_STOP, false));
    service.Exit();
    EXPECT_TRUE(WaitFor([&] { return dialog->Ended(); }));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ConsoleLive, ErrorBoxesShowTheSystemTextOfTheRightCode) {
    corvane_test::LogCapture log;
    OpenStopped();
    const std::wstring caption = corvane::ui::LoadText(IDS_ERROR_CAPTION);
    // One press, one more box with the error caption, and the button enabled again.
    auto press = [&] {
        const size_t before = Boxes().size();
        dialog->Click(IDC_START_STOP);
        EXPECT_TRUE(WaitFor([&] { return Boxes().size() == before + 1; }));
        EXPECT_TRUE(WaitFor([&] { return dialog->Enabled(IDC_START_STOP); }));
        const auto box = Boxes().back();
        EXPECT_EQ(caption, box.caption);
        return box;
    };

    tasks.checkResult = ERROR_SERVICE_DOES_NOT_EXIST;
    auto box = press();
    EXPECT_EQ(SystemErrorText(ERROR_SERVICE_DOES_NOT_EXIST), box.text);
    EXPECT_EQ(static_cast<UINT>(MB_OK), box.type);
    EXPECT_EQ(0, tasks.starts);

    // A failed start shows its code; the repair result is logged unless it is 1 with 122.
    tasks.checkResult = 0;
    tasks.startResult = ERROR_TIMEOUT;
    const std::pair<DWORD, DWORD> repairs[] = {{1, ERROR_SERVICE_DOES_NOT_EXIST},
                                               {0, ERROR_ACCESS_DENIED},
                                               {1, ERROR_INSUFFICIENT_BUFFER}};
    for (const auto& [result, error] : repairs) {
        log.Clear();
        tasks.repairResult = result;
        tasks.repairError = error;
        EXPECT_EQ(SystemErrorText(ERROR_TIMEOUT), press().text);
        const auto records = log.RecordsOf(L"CBrantelDlg::OnButtonStartStop");
        if (result == 1 && error == ERROR_INSUFFICIENT_BUFFER) {
            EXPECT_TRUE(records.empty());
        } else {
            ASSERT_EQ(1u, records.size());
            EXPECT_EQ(5, records[0].level);
            EXPECT_EQ(L"TryRepairCorvaneMgr()=" + std::to_wstring(result) + L",errno=" +
                          std::to_wstring(error),
                      records[0].message);
        }
    }
}

TEST_F(ConsoleLive, LogLinesFillTheLogTextUpToItsLimit) {
    OpenStopped();
    const unsigned port = dialog->Port();
    auto logText = [&] { return corvane::ui::ToCodePage(dialog->Text(IDC_LOG_EDIT)); };

    service.Log(port, "");
    ASSERT_TRUE(WaitFor([&] { return logText() == "\r\n"; }));
    const std::string long1019(1019, 'a');
    service.Log(port, long1019);
    // 1,023 characters: still below the limit, so the next line is appended.
    service.Log(port, "x");
    ASSERT_TRUE(WaitFor([&] { return logText().size() == 1026; }));
    EXPECT_EQ("\r\n" + long1019 + "\r\nx\r\n", logText());
    // At 1,024 or more the text is emptied first.
    service.Log(port, "y");
    ASSERT_TRUE(WaitFor([&] { return logText() == "y\r\n"; }));

    // What the user types becomes the log text.
    HWND edit = GetDlgItem(dialog->Window(), IDC_LOG_EDIT);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"typed"));
    service.Log(port, "z");
    ASSERT_TRUE(WaitFor([&] { return logText() == "typedz\r\n"; }));
}

TEST_F(ConsoleLive, TrayIconButtonAsksTheServiceForItsIcon) {
    OpenStopped();
    dialog->Click(IDC_TRAY_ICON);
    ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }));
    const auto box = Boxes()[0];
    EXPECT_EQ(L"显示托盘图标失败,请检查准入客户端是否已经启动!", box.text);
    EXPECT_EQ(L"Corvane Client", box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_OK), box.type);

    HANDLE notify = service.MakeNotifyEvent();
    dialog->Click(IDC_TRAY_ICON);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(notify, 20000));
    EXPECT_EQ(kNotifyShowTrayIcon, service.Block()->notifyCommand);
    Sleep(300);
    EXPECT_EQ(1u, Boxes().size());
}

TEST_F(ConsoleLive, WithoutTheServiceLinkOneBoxAndTheDialogGoesOn) {
    // An object of another kind under the block's name: the block can be neither opened nor
    // created.
    UniqueKernelHandle squatter(CreateEventA(nullptr, TRUE, FALSE, kShareMemoryName));
    const HANDLE probe = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            kShareMemorySize, kShareMemoryName);
    const DWORD expected = GetLastError();
    ASSERT_EQ(nullptr, probe);
    HANDLE notify = service.MakeNotifyEvent();

    OpenStopped();
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(SystemErrorText(expected), Boxes()[0].text);
    EXPECT_EQ(corvane::ui::LoadText(IDS_ERROR_CAPTION), Boxes()[0].caption);

    // The tray-icon button does nothing without the link.
    dialog->Click(IDC_TRAY_ICON);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(notify, 500));
    EXPECT_EQ(1u, Boxes().size());
}

TEST_F(ConsoleLive, WithoutAFreePortTheDialogStaysUpWithoutTimers) {
    std::vector<corvanelib::UniqueSocket> taken;
    for (unsigned port = 461; port <= 1460; ++port) {
        taken.emplace_back(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<unsigned short>(port));
        bind(taken.back().get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local));
    }
    dialog = std::make_unique<LiveDialog>(tasks);
    ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }));
    EXPECT_EQ(SystemErrorText(WSAEADDRINUSE), Boxes()[0].text);
    const std::wstring initial = dialog->Text(IDC_STATUS);
    Sleep(700);
    EXPECT_EQ(initial, dialog->Text(IDC_STATUS));
    EXPECT_TRUE(dialog->Enabled(IDC_START_STOP));
}

} // namespace
