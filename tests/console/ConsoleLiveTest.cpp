// The main dialog in-process: shell, service display, Start/Stop and log view. The real dialog
// runs on a thread of its own, the service tasks are faked, and the test makes the service's
// named objects and sends its datagrams itself.
#include "console/BrantelDlg.h"
#include "console/ConsoleMessages.h"
#include "console/framework/ResourceStrings.h"
#include "console/res/resource.h"
#include "console/socket/LocalAddress.h"
#include "console/socket/Winsock.h"
#include "console/SystemErrorText.h"
#include "peers/standin/StandinService.h"
#include "peers/support/LogViewSender.h"
#include "tests/console/DialogHands.h"
#include "tests/support/ImportHook.h"
#include "tests/support/LogCapture.h"

#include "corvanelib/Win32/Text.h"

#include <cstring>
#include <memory>

using namespace corvane::console::servicelink;

namespace {

// The console's sockets and the service's side need the socket layer for the whole run.
const corvane::console::socket::WinsockSession g_sockets;

namespace lv = corvane::console::logview;
using corvane::console::framework::LoadText;
using corvane::peers::support::SendToLogView;
using corvane::peers::support::WaitFor;
using corvanelib::UniqueKernelHandle;

struct FakeTasks : corvane::console::IServiceTasks {
    DWORD CheckServiceStatus(SERVICE_STATUS& status) override {
        status.dwCurrentState = currentState;
        return checkResult;
    }
    DWORD TryRepairCorvaneMgr() override {
        SetLastError(repairError);
        return repairResult;
    }
    DWORD StartCorvaneMgr(DWORD timeoutMs) override {
        starts += timeoutMs == 5000 ? 1 : 100;
        onStart();
        return startResult;
    }
    std::atomic<DWORD> checkResult{0}, currentState{SERVICE_STOPPED}, startResult{0};
    std::atomic<DWORD> repairResult{1}, repairError{ERROR_INSUFFICIENT_BUFFER};
    std::atomic<int> starts{0};
    std::function<void()> onStart = [] {}; // runs on the dialog's thread, inside the press
};

// A datagram socket bound to `port` on all local addresses; none when the port is taken.
corvanelib::UniqueSocket Udp(unsigned port) {
    corvanelib::UniqueSocket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<unsigned short>(port));
    const bool bound = bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
    return bound ? std::move(s) : corvanelib::UniqueSocket();
}

// Wine's monitors all have the system's DPI (96 here): the look-up of a window's DPI hands out
// 144 instead, as for a window that opens on a second monitor.
UINT WINAPI MonitorDpi(HWND) {
    return 144;
}
FARPROC(WINAPI* const g_lookUp)(HMODULE, LPCSTR) = &::GetProcAddress;
FARPROC WINAPI LookUpOnAMonitorOf144Dpi(HMODULE module, LPCSTR name) {
    const bool dpi = HIWORD(name) != 0 && std::strcmp(name, "GetDpiForWindow") == 0;
    return dpi ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&MonitorDpi))
               : g_lookUp(module, name);
}

class ConsoleLive : public testing::Test {
protected:
    void TearDown() override {
        stopEvent.reset(); // a Stop wait ends with the service
        dialog.reset();
    }
    void Open(corvane::console::IServiceTasks* with = nullptr) {
        dialog = std::make_unique<corvane::tests::console::DialogThread>(
            [run = with != nullptr ? with : &tasks] { CBrantelDlg(*run).RunModal(); });
    }
    // The service's side: its events, the shared block and its datagrams, sent to every port
    // the console may have bound, as the service sends them.
    static HANDLE Make(UniqueKernelHandle& event, const wchar_t* name) {
        event.reset(CreateEventW(nullptr, FALSE, FALSE, name));
        return event.get();
    }
    CommonShareMemory* Block() {
        mapping.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kShareMemoryName));
        view.reset(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        return static_cast<CommonShareMemory*>(view.get());
    }
    void Send(const std::vector<std::uint8_t>& datagram) { SendToLogView(sender.get(), datagram); }
    void Log(const std::string& line) { Send(lv::EncodeLogLine(line, lv::MakeKey())); }
    // The status line, the button's label and whether it is enabled, once they show.
    bool WaitShows(UINT statusId, UINT labelId, bool enabled = true) {
        return WaitFor([&] {
            return dialog->Text(IDC_STATUS) == LoadText(statusId) &&
                   dialog->Text(IDC_START_STOP) == LoadText(labelId) &&
                   dialog->Enabled(IDC_START_STOP) == enabled;
        });
    }
    bool ShowsStopped() { return WaitShows(IDS_STATE_STOPPED, IDS_BUTTON_START); }
    bool OpenShowsStopped() { return Open(), ShowsStopped(); }
    // The widths of the Start/Stop button's image and of the small window icon.
    std::vector<int> ImageWidths() const {
        std::vector<int> widths;
        for (LPARAM icon : {SendMessageW(dialog->Item(IDC_START_STOP), BM_GETIMAGE, IMAGE_ICON, 0),
                            SendMessageW(dialog->Window(), WM_GETICON, ICON_SMALL, 0)}) {
            ICONINFO info = {};
            GetIconInfo(reinterpret_cast<HICON>(icon), &info);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            widths.push_back(static_cast<int>(info.xHotspot) * 2); // an icon's is its centre
        }
        return widths;
    }
    std::string LogText() { return corvanelib::WideToCodePage(dialog->Text(IDC_LOG_EDIT)); }
    // One press that ends in an error box; returns its text.
    std::wstring PressForError() {
        const size_t before = boxes.Boxes().size();
        dialog->Post(IDC_START_STOP);
        EXPECT_TRUE(WaitFor([&] { return boxes.Boxes().size() == before + 1; }));
        EXPECT_TRUE(WaitFor([&] { return dialog->Enabled(IDC_START_STOP); }));
        const auto box = boxes.Boxes().back();
        EXPECT_TRUE(box.caption == LoadText(IDS_ERROR_CAPTION) && box.type == MB_OK);
        return box.text;
    }

    corvane::tests::console::BoxRecorder boxes;
    FakeTasks tasks;
    UniqueKernelHandle stopEvent, statusChange, notify, mapping;
    corvanelib::UniqueMapView view;
    corvanelib::UniqueSocket sender = Udp(0);
    std::unique_ptr<corvane::tests::console::DialogThread> dialog;
};

TEST_F(ConsoleLive, PollsReportsAndTheImagesFollowTheService) {
    auto first = Udp(461), second = Udp(462);
    ASSERT_TRUE(first && second && Udp(463)) << "another program holds a port from 461 to 463";
    {
        // Opened on a monitor of 144 DPI: the images come at its size from the start, then at
        // 192 DPI's after a move to a monitor of that.
        corvane::tests::support::ImportHook monitor(&::GetProcAddress, &LookUpOnAMonitorOf144Dpi);
        Open();
    }
    ASSERT_TRUE(ShowsStopped());
    EXPECT_FALSE(Udp(463)) << "the log view binds the first free port";
    EXPECT_EQ(ImageWidths(), std::vector<int>(2, GetSystemMetrics(SM_CXSMICON) * 3 / 2));
    RECT window = {};
    GetWindowRect(dialog->Window(), &window);
    SendMessageW(dialog->Window(), WM_DPICHANGED, MAKEWPARAM(192, 192),
                 reinterpret_cast<LPARAM>(&window));
    EXPECT_EQ(ImageWidths(), std::vector<int>(2, GetSystemMetrics(SM_CXSMICON) * 2));

    Make(stopEvent, kStopEventName);
    ASSERT_TRUE(WaitShows(IDS_STATE_RUNNING, IDS_BUTTON_STOP));
    // "trouble" counts as running.
    Send(lv::EncodeStatus(lv::kStatusTrouble, lv::MakeKey()));
    ASSERT_TRUE(WaitShows(IDS_STATE_TROUBLE, IDS_BUTTON_STOP));
    // The service gone from under it: the poll shows "stop" and clears the state word.
    Block()->serviceState = 5;
    stopEvent.reset();
    ASSERT_TRUE(ShowsStopped());
    EXPECT_TRUE(Block()->serviceState == 0 && boxes.Boxes().empty());
}

TEST_F(ConsoleLive, StartWhileRunningSends104AndAnUnknownReportOnlyCancelsTheTimeout) {
    HANDLE changed = Make(statusChange, kStatusChangeEventName);
    tasks.currentState = SERVICE_RUNNING;
    ASSERT_TRUE(OpenShowsStopped());
    dialog->Post(IDC_START_STOP);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(changed, 20000));
    EXPECT_TRUE(Block()->statusChangeCommand == kStatusChangeStartPressed && tasks.starts == 0);
    ASSERT_TRUE(ShowsStopped()); // no report followed: the time-out

    // A report of status 5, sent inside the press and held there until its notification is
    // queued: posted messages are served before any timer, so it comes before the time-out.
    tasks.currentState = SERVICE_STOPPED;
    tasks.onStart = [this, w = dialog->Window()] {
        Send(lv::EncodeStatus(5, lv::MakeKey()));
        MSG queued;
        WaitFor([&] {
            return PeekMessageW(&queued, w, corvane::console::kLogViewSocketMessage,
                                corvane::console::kLogViewSocketMessage, PM_NOREMOVE) != FALSE;
        });
    };
    dialog->Post(IDC_START_STOP);
    ASSERT_TRUE(WaitFor([&] { return tasks.starts == 1 && !dialog->Enabled(IDC_START_STOP); }));
    // Long past the time-out, the dialog has served two log lines, and with them any timer due.
    Sleep(800);
    for (const char* text : {"served\r\n", "served\r\nserved\r\n"}) {
        Log("served");
        ASSERT_TRUE(WaitFor([&] { return LogText() == text; }));
    }
    EXPECT_TRUE(WaitShows(IDS_STATE_STOPPED, IDS_BUTTON_START, false)); // searching, no time-out
}

// Stop waits as long as the service holds its stop event, serving the dialog's messages, until
// the service has gone (the end-to-end test's), the dialog is closed, or a quit request arrives.
TEST_F(ConsoleLive, StopWaitsForTheServiceWhileTheDialogIsUp) {
    HANDLE changed = Make(statusChange, kStatusChangeEventName);
    for (UINT ending : {WM_CLOSE, WM_QUIT}) {
        Make(stopEvent, kStopEventName);
        Open();
        ASSERT_TRUE(WaitShows(IDS_STATE_RUNNING, IDS_BUTTON_STOP));
        dialog->Post(IDC_START_STOP);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(changed, 20000));
        EXPECT_EQ(kStatusChangeStop, Block()->statusChangeCommand);
        ASSERT_TRUE(WaitFor([&] { return !dialog->Enabled(IDC_START_STOP); }));
        Log("while waiting");
        EXPECT_TRUE(WaitFor([&] { return LogText() == "while waiting\r\n"; })) << ending;
        ASSERT_FALSE(dialog->Ended());
        ending == WM_CLOSE
            ? PostMessageW(dialog->Window(), ending, 0, 0)
            : PostThreadMessageW(GetWindowThreadProcessId(dialog->Window(), nullptr), ending, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return dialog->Ended(); })) << ending;
        TearDown();
    }
}

TEST_F(ConsoleLive, ErrorBoxesShowTheSystemTextOfTheRightCode) {
    corvane::tests::support::LogCapture log;
    ASSERT_TRUE(OpenShowsStopped());
    tasks.checkResult = ERROR_SERVICE_DOES_NOT_EXIST;
    EXPECT_EQ(SystemErrorText(ERROR_SERVICE_DOES_NOT_EXIST), PressForError());
    tasks.checkResult = 0;
    tasks.currentState = SERVICE_RUNNING; // and its status-change event missing
    EXPECT_EQ(SystemErrorText(ERROR_FILE_NOT_FOUND), PressForError());

    // A failed start shows its code; the repair result is logged unless it is 1 with 122.
    tasks.currentState = SERVICE_STOPPED;
    tasks.startResult = ERROR_TIMEOUT;
    const std::pair<DWORD, DWORD> repairs[] = {{1, 1060}, {0, ERROR_INSUFFICIENT_BUFFER}, {1, 122}};
    for (const auto& [result, error] : repairs) {
        log.Clear();
        tasks.repairResult = result;
        tasks.repairError = error;
        EXPECT_EQ(SystemErrorText(ERROR_TIMEOUT), PressForError());
        const auto records = log.RecordsOf(L"CBrantelDlg::OnButtonStartStop");
        const std::wstring logged = L"TryRepairCorvaneMgr()=" + std::to_wstring(result) +
                                    L",errno=" + std::to_wstring(error);
        EXPECT_TRUE(result == 1 && error == 122 ? records.empty()
                                                : records.size() == 1 && records[0].level == 5 &&
                                                      records[0].message == logged);
    }
    EXPECT_EQ(3, tasks.starts); // the failed checks started nothing
}

TEST_F(ConsoleLive, LogLinesFillTheLogTextUpToItsLimit) {
    ASSERT_TRUE(OpenShowsStopped());
    // One byte over the receive size is dropped, as is an empty datagram; full size is taken.
    auto datagram = lv::EncodeLogLine(std::string(8176, 'b'), lv::MakeKey());
    datagram.push_back(0);
    Log("");
    Send(datagram);
    Send({});
    Log("z");
    ASSERT_TRUE(WaitFor([&] { return LogText() == "\r\nz\r\n"; }));
    datagram.pop_back();
    Send(datagram);
    ASSERT_TRUE(
        WaitFor([&] { return LogText() == "\r\nz\r\n" + std::string(8176, 'b') + "\r\n"; }));

    // At 1,024 characters or more the text is emptied before the next line; at 1,023 not.
    Log(std::string(1022, 'a'));
    Log("x");
    ASSERT_TRUE(WaitFor([&] { return LogText() == "x\r\n"; }));
    Log(std::string(1018, 'a'));
    Log("y");
    ASSERT_TRUE(
        WaitFor([&] { return LogText() == "x\r\n" + std::string(1018, 'a') + "\r\ny\r\n"; }));
}

TEST_F(ConsoleLive, TrayIconButtonAndTheMissingLinkAndPorts) {
    ASSERT_TRUE(OpenShowsStopped());
    dialog->Post(IDC_TRAY_ICON);
    ASSERT_TRUE(WaitFor([&] { return boxes.Boxes().size() == 1; }));
    const auto box = boxes.Boxes()[0];
    EXPECT_TRUE(box.text == L"显示托盘图标失败,请检查准入客户端是否已经启动!" &&
                box.caption == L"Corvane Client" && box.type == (MB_ICONERROR | MB_OK));
    HANDLE notified = Make(notify, kNotifyEventName);
    dialog->Post(IDC_TRAY_ICON);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(notified, 20000));
    EXPECT_EQ(kNotifyShowTrayIcon, Block()->notifyCommand);
    dialog.reset();
    view.reset();
    mapping.reset();

    // An object of another kind under the block's name: the link can be neither opened nor
    // created. Every log-view port taken (here by this process: the bind fails alike whoever
    // holds the port). One box for each; the tray-icon button does nothing, and the display and
    // the button follow the service by its stop event alone, through the real service tasks on
    // the stand-in.
    UniqueKernelHandle squatter(CreateEventA(nullptr, TRUE, FALSE, kShareMemoryName));
    CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kShareMemoryName);
    const DWORD expected = GetLastError();
    std::vector<corvanelib::UniqueSocket> taken;
    for (unsigned port = lv::kFirstPort; port < lv::kFirstPort + lv::kPortCount; ++port) {
        taken.push_back(Udp(port));
    }
    corvane::peers::standin::StandinService standin;
    ASSERT_EQ(standin.InstallError(), 0u);
    Open(&corvane::console::CorvaneServiceTasks());
    ASSERT_TRUE(WaitFor([&] { return boxes.Boxes().size() == 3; }));
    EXPECT_EQ(SystemErrorText(expected), boxes.Boxes()[1].text);
    EXPECT_EQ(SystemErrorText(WSAEADDRINUSE), boxes.Boxes()[2].text);
    // Sent: the click's handler has returned when the call does.
    SendMessageW(dialog->Window(), WM_COMMAND, MAKEWPARAM(IDC_TRAY_ICON, BN_CLICKED), 0);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(notified, 0));
    ASSERT_TRUE(ShowsStopped());
    // Started from outside first: a new process may take longer than the console's 5 s to run.
    ASSERT_EQ(corvane::peers::standin::StandinService::Start(), 0u);
    ASSERT_TRUE(WaitShows(IDS_STATE_RUNNING, IDS_BUTTON_STOP));
    dialog->Post(IDC_START_STOP);
    EXPECT_TRUE(corvane::peers::standin::StandinService::WaitForState(SERVICE_STOPPED));
    EXPECT_TRUE(ShowsStopped());
}

// The log view's receive side. A read notification that carries an error still takes what is
// queued, so a notification comes for the next datagram. Wine posts no such notification (an
// ICMP error on a datagram socket comes as a close event, and only on a connected one), so the
// test hands one over. Datagrams from elsewhere on the network are dropped unread: only this
// machine's own addresses count.
TEST_F(ConsoleLive, ASocketErrorKeepsTheSocketListeningAndOnlyThisMachineIsTrusted) {
    const in_addr loopback = {{{127, 4, 5, 6}}}, elsewhere = {{{203, 0, 113, 9}}};
    EXPECT_TRUE(corvane::console::socket::IsThisMachineAddress(loopback, sender.get()) &&
                !corvane::console::socket::IsThisMachineAddress(elsewhere, sender.get()));

    corvane::console::socket::DatagramSocket socket;
    HWND window =
        CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_EQ(0u, socket.Open(lv::kFirstPort, window, corvane::console::kLogViewSocketMessage));
    for (const char* line : {"dropped", "heard"}) {
        Log(line);
        MSG read; // the line's read notification, handed over with an error
        ASSERT_TRUE(WaitFor([&] {
            return PeekMessageW(&read, window, corvane::console::kLogViewSocketMessage,
                                corvane::console::kLogViewSocketMessage, PM_REMOVE) != FALSE &&
                   WSAGETSELECTEVENT(read.lParam) == FD_READ;
        })) << line;
        socket.OnSocketMessage(read.wParam, read.lParam | WSAMAKESELECTREPLY(0, WSAENETDOWN));
    }
    DestroyWindow(window);
}

} // namespace
