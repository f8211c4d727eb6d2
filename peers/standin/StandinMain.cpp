// A stand-in for the admission service "CorvaneMgr", for the tests and for running the console
// on a machine without the real service. It runs under the service control dispatcher and keeps
// the service's side of the link with the console:
//  - while it runs it holds the stop event; it creates the status-change and notify events and
//    maps the shared block, where the console leaves its command words;
//  - status-change 103 stops it, 104 makes it report its state; notify 108 makes it read
//    userconfig.ini and send its AutoAuthen switch and user name as a log line;
//  - it reports "running" (type 100) at start, on 104 and every second, "stopped" as it ends,
//    scrambled, to every port the console may have bound on 127.0.0.1.
// With --never-running on its command line it stays start-pending until it is stopped; with
// --start-delay=MS it stays start-pending that long first; with --stop-delay=MS it stays
// stop-pending that long after it let go of its stop event. Its first argument install, start or
// remove makes it the service's control instead (peers/standin/standin runs it so).
#include "console/logview/LogViewCodec.h"
#include "console/servicelink/ShareMem.h"
#include "console/socket/Winsock.h"
#include "corvanelib/Win32/UniqueHandle.h"
#include "peers/standin/StandinService.h"
#include "peers/support/LogViewSender.h"

#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace corvane::console::servicelink;

using corvanelib::UniqueKernelHandle;
namespace lv = corvane::console::logview;

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
// Set by the control handler on a stop or shutdown request.
HANDLE g_controlStop = nullptr;

void ReportState(DWORD state) {
    const DWORD accepted =
        state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, state, accepted, 0, 0, 0, 3000};
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        SetEvent(g_controlStop);
    }
    return NO_ERROR;
}

std::string UserConfigReport() {
    char folder[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    const std::string path = std::string(folder) + "\\Corvane\\userconfig.ini";
    // The platform caches profile files; flush so that the file as saved now is read.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
    const auto read = [&path](const char* section, const char* key) {
        char value[512] = {};
        GetPrivateProfileStringA(section, key, "", value, sizeof(value), path.c_str());
        return std::string(value);
    };
    return "notify 108: userconfig.ini AutoAuthen enable=" + read("AutoAuthen", "enable") +
           " username=" + read("AutoAuthen", "username");
}

void Serve() {
    // Made first, so that it ends after the socket is closed.
    const corvane::console::socket::WinsockSession sockets;
    const corvanelib::UniqueSocket sender(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    // A full send buffer drops a datagram rather than holding up the service.
    u_long nonBlocking = 1;
    ioctlsocket(sender.get(), FIONBIO, &nonBlocking);
    const lv::Key key = lv::MakeKey();
    const auto send = [&](const std::vector<std::uint8_t>& datagram) {
        corvane::peers::support::SendToLogView(sender.get(), datagram);
    };
    const auto sendStatus = [&](std::uint32_t status) { send(lv::EncodeStatus(status, key)); };

    // Every named object the console opens carries the same descriptor as the block.
    ShareSecurityAttributes security(true);
    security.Build();
    CShareMem link(true);
    link.Create();
    UniqueKernelHandle statusChange(
        CreateEventW(security.Get(), FALSE, FALSE, kStatusChangeEventName));
    UniqueKernelHandle notify(CreateEventW(security.Get(), FALSE, FALSE, kNotifyEventName));
    UniqueKernelHandle stopEvent(CreateEventW(security.Get(), FALSE, FALSE, kStopEventName));
    const CommonShareMemory* block = link.View();
    ReportState(SERVICE_RUNNING);
    sendStatus(lv::kStatusRunning);

    HANDLE waits[] = {g_controlStop, stopEvent.get(), statusChange.get(), notify.get()};
    for (bool running = true; running;) {
        const DWORD wait = WaitForMultipleObjects(4, waits, FALSE, 1000);
        if (wait == WAIT_TIMEOUT || (wait == WAIT_OBJECT_0 + 2 && block != nullptr &&
                                     block->statusChangeCommand != kStatusChangeStop)) {
            sendStatus(lv::kStatusRunning);
        } else if (wait == WAIT_OBJECT_0 + 3 && block != nullptr) {
            if (block->notifyCommand == kNotifyUserConfigSaved) {
                send(lv::EncodeLogLine(UserConfigReport(), key));
            }
        } else {
            // A stop request (also command 103), the stop event, or a wait that cannot recover.
            running = false;
        }
    }
    ReportState(SERVICE_STOP_PENDING);
    // The stop event goes first: from here on the service no longer counts as running.
    stopEvent.reset();
    sendStatus(lv::kStatusStopped);
    // --stop-delay=MS: a service slow to go stays stop-pending that long after it let go.
    if (const wchar_t* delay = std::wcsstr(GetCommandLineW(), L" --stop-delay=")) {
        Sleep(std::wcstoul(delay + 14, nullptr, 10));
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    UniqueKernelHandle controlStop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_controlStop = controlStop.get();
    g_statusHandle = RegisterServiceCtrlHandlerExW(L"CorvaneMgr", ControlHandler, nullptr);
    if (g_statusHandle == nullptr) {
        return;
    }
    ReportState(SERVICE_START_PENDING);
    // --start-delay=MS: a service slow to come up stays start-pending that long.
    if (const wchar_t* delay = std::wcsstr(GetCommandLineW(), L" --start-delay=")) {
        WaitForSingleObject(g_controlStop, std::wcstoul(delay + 15, nullptr, 10));
    }
    if (std::wcsstr(GetCommandLineW(), L" --never-running") != nullptr) {
        WaitForSingleObject(g_controlStop, INFINITE);
    } else {
        Serve();
    }
    ReportState(SERVICE_STOPPED);
}

} // namespace

// "install", "start" and "remove" control the stand-in in the service control manager (the exit
// code is 0 or the Windows error code); with anything else it runs as the service.
int main(int argc, char** argv) {
    using corvane::peers::standin::StandinService;
    const std::string command = argc > 1 ? argv[1] : "";
    DWORD error = ERROR_SUCCESS;
    if (command == "install") { // any earlier "CorvaneMgr" goes first; started on demand
        error = StandinService::Install(L"", SERVICE_DEMAND_START);
    } else if (command == "start") { // and wait until it runs
        error = StandinService::Start();
        error =
            error || StandinService::WaitForState(SERVICE_RUNNING, 10000) ? error : ERROR_TIMEOUT;
    } else if (command == "remove") { // stop and delete it
        error = StandinService::RemoveExisting();
    } else {
        wchar_t name[] = L"CorvaneMgr";
        SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
        error = StartServiceCtrlDispatcherW(table) ? ERROR_SUCCESS : GetLastError();
    }
    return static_cast<int>(error);
}
