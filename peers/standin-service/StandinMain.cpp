// A stand-in for the admission service "CorvaneMgr", for tests and for running the console on
// a machine without the real service. It is a real service (started through the service
// control dispatcher) and keeps the service's side of the link with the console:
//  - while it runs it holds "Global\CorvaneServiceStopEvent"; it creates the status-change,
//    notify and exiting events, maps the shared block and guards the message field with the
//    shared-memory mutex;
//  - status-change 103 stops it, 104 makes it report its state; notify 108 makes it read
//    userconfig.ini and report what it found (never the password), 109 is acknowledged;
//  - it reports its state (type 100) at start, on every change and periodically, and sends
//    log lines (type 101), scrambled, to every port the console may have bound on 127.0.0.1.
// See StandinOptions.h for the behaviours chosen by arguments.
#include "StandinOptions.h"

#include "LogViewCodec.h"
#include "ShareMem.h"
#include "corvanelib/Win32/Text.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

using corvanelib::UniqueKernelHandle;
using corvanelib::WideToCodePage;

namespace {

constexpr wchar_t kServiceName[] = L"CorvaneMgr";

StandinOptions g_options;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};
// Set by the control handler on a stop or shutdown request; the service thread decides.
HANDLE g_controlStop = nullptr;

void ReportState(DWORD state, DWORD waitHintMs = 0) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = waitHintMs;
    g_status.dwCheckPoint =
        (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : g_status.dwCheckPoint + 1;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        SetEvent(g_controlStop);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

std::string DataDirectory() {
    if (!g_options.dataDir.empty()) {
        return WideToCodePage(g_options.dataDir);
    }
    char folder[MAX_PATH] = {};
    if (FAILED(
            SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return std::string();
    }
    return std::string(folder) + "\\Corvane\\";
}

std::string Format(const char* format, unsigned long value) {
    char text[128];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

class Standin {
public:
    Standin()
        : m_key(logview::MakeKey()),
          m_tagPrefix(g_options.tag.empty() ? std::string()
                                            : WideToCodePage(g_options.tag) + ": ") {}

    void Run();

private:
    void Send(const std::vector<std::uint8_t>& datagram);
    void SendStatus(std::uint32_t status) { Send(logview::EncodeStatus(status, m_key)); }
    void SendLog(const std::string& text) {
        const std::string line = m_tagPrefix + text;
        OutputDebugStringA(("CorvaneMgr stand-in: " + line + "\n").c_str());
        Send(logview::EncodeLogLine(line, m_key));
    }
    std::uint32_t RunningStatus() const {
        return g_options.trouble ? logview::kStatusTrouble : logview::kStatusRunning;
    }
    bool CreateEvents();
    // Waits out the start delay; false when a stop request came first.
    bool WaitForStart();
    // Serves commands until a stop request that is not ignored.
    void Serve();
    void ReportUserConfig();
    void Stop();

    logview::Key m_key;
    std::string m_tagPrefix;
    corvanelib::UniqueSocket m_socket;
    // Every named object the console opens carries the same descriptor.
    ShareSecurityAttributes m_security;
    CShareMem m_link{true};
    UniqueKernelHandle m_stopEvent;
    UniqueKernelHandle m_statusChange;
    UniqueKernelHandle m_notify;
    UniqueKernelHandle m_exiting;
};

void Standin::Send(const std::vector<std::uint8_t>& datagram) {
    if (g_options.silent || !m_socket) {
        return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (unsigned port = logview::kFirstPort; port < logview::kFirstPort + logview::kPortCount;
         ++port) {
        to.sin_port = htons(static_cast<u_short>(port));
        sendto(m_socket.get(), reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }
}

bool Standin::CreateEvents() {
    m_statusChange.reset(CreateEventW(m_security.Get(), FALSE, FALSE, kStatusChangeEventName));
    m_notify.reset(CreateEventW(m_security.Get(), FALSE, FALSE, kNotifyEventName));
    // Manual reset: whoever opens it after the service signalled it still sees it signalled.
    m_exiting.reset(CreateEventW(m_security.Get(), TRUE, FALSE, kExitingEventName));
    return m_statusChange && m_notify && m_exiting;
}

bool Standin::WaitForStart() {
    if (!g_options.neverRunning && g_options.startDelayMs == 0) {
        return true;
    }
    const DWORD delay = g_options.neverRunning ? INFINITE : g_options.startDelayMs;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const ULONGLONG spent = GetTickCount64() - start;
        const DWORD left =
            delay == INFINITE ? INFINITE : (spent >= delay ? 0 : static_cast<DWORD>(delay - spent));
        if (WaitForSingleObject(g_controlStop, left) != WAIT_OBJECT_0) {
            return !g_options.neverRunning;
        }
        ResetEvent(g_controlStop);
        if (!g_options.ignoreStop) {
            SendLog("stop requested while starting");
            return false;
        }
        SendLog("stop request ignored while starting");
    }
}

void Standin::ReportUserConfig() {
    const std::string path = DataDirectory() + "userconfig.ini";
    // The platform caches profile files; flush so that the file as saved now is read.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        SendLog("notify 108: no userconfig.ini at " + path);
        return;
    }
    const auto read = [&path](const char* section, const char* key) {
        char value[512] = {};
        GetPrivateProfileStringA(section, key, "", value, sizeof(value), path.c_str());
        return std::string(value);
    };
    const std::string password = read("AutoAuthen", "password");
    SendLog("notify 108: userconfig.ini GatewayIp specify=" + read("GatewayIp", "specify") +
            " ipaddr=" + read("GatewayIp", "ipaddr") + "; LastConnect gateway=" +
            read("LastConnect", "gateway") + "; AutoAuthen enable=" + read("AutoAuthen", "enable") +
            " username=" + read("AutoAuthen", "username") +
            " password=" + (password.empty() ? "(empty)" : "(set)"));
}

void Standin::Serve() {
    CommonShareMemory* block = m_link.View();
    HANDLE waits[] = {g_controlStop, m_stopEvent.get(), m_statusChange.get(), m_notify.get()};
    ULONGLONG nextReport = GetTickCount64() + g_options.reportPeriodMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD timeout = now >= nextReport ? 0 : static_cast<DWORD>(nextReport - now);
        const DWORD wait = WaitForMultipleObjects(4, waits, FALSE, timeout);
        if (wait == WAIT_TIMEOUT) {
            SendStatus(RunningStatus());
            nextReport = GetTickCount64() + g_options.reportPeriodMs;
            continue;
        }
        if (wait == WAIT_OBJECT_0) {
            ResetEvent(g_controlStop);
            if (!g_options.ignoreStop) {
                SendLog("stop requested by the service control manager");
                return;
            }
            SendLog("stop request of the service control manager ignored");
        } else if (wait == WAIT_OBJECT_0 + 1) {
            const unsigned long code = block != nullptr ? block->stopCode : 0;
            if (!g_options.ignoreStop) {
                SendLog(Format("stop event signalled, stop code %lu", code));
                return;
            }
            SendLog(Format("stop event signalled, stop code %lu: ignored", code));
        } else if (wait == WAIT_OBJECT_0 + 2) {
            const unsigned long command = block != nullptr ? block->statusChangeCommand : 0;
            if (command == kStatusChangeStop) {
                if (!g_options.ignoreStop) {
                    SendLog("status-change 103: stopping");
                    return;
                }
                SendLog("status-change 103: ignored");
            } else if (command == kStatusChangeStartPressed) {
                SendLog("status-change 104: reporting state");
                SendStatus(RunningStatus());
            } else {
                SendLog(Format("status-change %lu: unknown command", command));
            }
        } else if (wait == WAIT_OBJECT_0 + 3) {
            const unsigned long command = block != nullptr ? block->notifyCommand : 0;
            if (command == kNotifyUserConfigSaved) {
                ReportUserConfig();
            } else if (command == kNotifyShowTrayIcon) {
                SendLog("notify 109: tray icon requested");
            } else {
                SendLog(Format("notify %lu: unknown command", command));
            }
        } else {
            // A wait that fails cannot recover; stop rather than spin.
            SendLog(Format("wait failed with error %lu: stopping", GetLastError()));
            return;
        }
    }
}

void Standin::Stop() {
    ReportState(SERVICE_STOP_PENDING, 5000);
    if (CommonShareMemory* block = m_link.View()) {
        block->serviceState = 0;
    }
    // The stop event goes first: from here on the service no longer counts as running.
    m_stopEvent.reset();
    SendStatus(logview::kStatusStopped);
    SendLog("stopped");
    m_link.WriteMessage("CorvaneMgr stand-in stopped", 1000);
    if (m_exiting) {
        SetEvent(m_exiting.get());
    }
    ReportState(SERVICE_STOPPED);
}

void Standin::Run() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) == 0) {
        m_socket.reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        // A full send buffer drops a datagram rather than holding up the service.
        u_long nonBlocking = 1;
        ioctlsocket(m_socket.get(), FIONBIO, &nonBlocking);
    }
    m_security.Build();
    const DWORD linkError = m_link.Create();
    const bool eventsMade = CreateEvents();
    SendLog("starting");
    if (linkError != ERROR_SUCCESS) {
        SendLog(Format("shared block not mapped, error %lu", linkError));
    }
    if (!eventsMade) {
        SendLog(Format("command events not created, error %lu", GetLastError()));
    }

    if (!WaitForStart()) {
        Stop();
        return;
    }

    m_stopEvent.reset(CreateEventW(m_security.Get(), FALSE, FALSE, kStopEventName));
    if (!m_stopEvent) {
        SendLog(Format("stop event not created, error %lu", GetLastError()));
    }
    if (CommonShareMemory* block = m_link.View()) {
        block->serviceState = RunningStatus();
    }
    m_link.WriteMessage(
        g_options.trouble ? "CorvaneMgr stand-in in trouble" : "CorvaneMgr stand-in running", 1000);
    ReportState(SERVICE_RUNNING);
    SendStatus(RunningStatus());
    SendLog(g_options.trouble ? "running, in trouble" : "running");

    Serve();
    Stop();
    WSACleanup();
}

DWORD WINAPI AbruptExit(void*) {
    Sleep(g_options.exitAbruptlyMs);
    TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}

std::vector<std::wstring> Arguments(int argc, wchar_t** argv, int first) {
    std::vector<std::wstring> arguments;
    for (int i = first; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    // Arguments of the start request come after the registered ones and win.
    ApplyStandinArguments(Arguments(static_cast<int>(argc), argv, 1), g_options);

    UniqueKernelHandle controlStop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_controlStop = controlStop.get();
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, nullptr);
    if (g_statusHandle == nullptr) {
        return;
    }
    ReportState(SERVICE_START_PENDING, g_options.startDelayMs + 3000);
    if (g_options.exitAbruptly) {
        UniqueKernelHandle thread(CreateThread(nullptr, 0, AbruptExit, nullptr, 0, nullptr));
        if (!thread) {
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }

    Standin standin;
    standin.Run();
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv != nullptr) {
        ApplyStandinArguments(Arguments(argc, argv, 1), g_options);
        LocalFree(argv);
    }
    wchar_t name[] = L"CorvaneMgr";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "CorvaneMgrStandin: runs only as the service CorvaneMgr (error %lu)\n",
                     error);
        return static_cast<int>(error);
    }
    return 0;
}
