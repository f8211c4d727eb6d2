// Test helpers around the stand-in admission service (peers/standin-service): register it as
// "CorvaneMgr" in the service control manager with a chosen command line, start, observe,
// stop, kill and remove it, and listen to the datagrams it sends.
//
// Use: link the CMake target `corvane_standin` (it brings this header's folder, the paths of
// CorvaneMgrStandin.exe and of the vedevaru.exe stub as CORVANE_STANDIN_EXE and
// CORVANE_VEDEVARU_STUB_EXE, and builds both first), and give every test that registers the
// service the ctest property RESOURCE_LOCK corvanemgr: there is one "CorvaneMgr" per machine.
//
//     corvane_test::StandinService service(L"--start-delay=500 --report-period=200");
//     ASSERT_EQ(service.InstallError(), 0u);
//     ASSERT_EQ(service.Start(), 0u);
//     ASSERT_TRUE(service.WaitForState(SERVICE_RUNNING));
//     ...   // the destructor stops (or kills) and deletes the service
//
// The stand-in's behaviours (arguments): --start-delay=MS, --never-running, --trouble,
// --silent, --ignore-stop, --exit-abruptly=MS, --report-period=MS, --data-dir=DIR; see
// peers/standin-service/StandinOptions.h.
//
// Under Wine, the services live as long as the wineserver: run tests inside the ctest session
// fixture (or `scripts/wine-run --session-start`), otherwise a service may be ended with the
// last program of the session.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "LogViewCodec.h"
#include "WaitFor.h"
#include "WindowsPath.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace corvane_test {

#ifdef CORVANE_STANDIN_EXE
inline std::wstring StandinExePath() {
    return WindowsPath(CORVANE_STANDIN_EXE);
}
#endif
#ifdef CORVANE_VEDEVARU_STUB_EXE
// The stub records each start in "vedevaru-calls.txt" beside it, or in the file named by the
// environment variable VEDEVARU_STUB_RECORD (one line per start:
// "cwd=<dir>\tshow=<n>\targ=<a1>\targ=<a2>...", UTF-8, "\r\n").
inline std::wstring VedevaruStubPath() {
    return WindowsPath(CORVANE_VEDEVARU_STUB_EXE);
}
#endif

class StandinService {
public:
    static constexpr const wchar_t* kName = L"CorvaneMgr";

    static std::wstring DefaultExePath() {
#ifdef CORVANE_STANDIN_EXE
        return StandinExePath();
#else
        return std::wstring();
#endif
    }

    // Removes whatever "CorvaneMgr" is left registered, then registers `exePath` (by default
    // the stand-in) with `arguments` on its command line. InstallError() tells whether that
    // worked.
    explicit StandinService(const std::wstring& arguments = std::wstring(),
                            DWORD startType = SERVICE_DEMAND_START,
                            const std::wstring& exePath = DefaultExePath()) {
        m_installError = RemoveExisting();
        if (m_installError != ERROR_SUCCESS) {
            return;
        }
        corvanelib::UniqueServiceHandle scm(
            OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!scm) {
            m_installError = GetLastError();
            return;
        }
        static long instances = 0;
        m_tag = "t" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++instances);
        std::wstring commandLine =
            L"\"" + exePath + L"\" --tag=" + std::wstring(m_tag.begin(), m_tag.end());
        if (!arguments.empty()) {
            commandLine += L" " + arguments;
        }
        corvanelib::UniqueServiceHandle service(
            CreateServiceW(scm.get(), kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           startType, SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                           nullptr, nullptr, nullptr));
        m_installError = service ? ERROR_SUCCESS : GetLastError();
    }

    ~StandinService() {
        if (!m_detached) {
            Remove();
        }
    }
    StandinService(const StandinService&) = delete;
    StandinService& operator=(const StandinService&) = delete;

    DWORD InstallError() const {
        return m_installError;
    }

    // The mark this registration puts on its command line (--tag=...): the stand-in starts
    // every log line with it. Give it to a DatagramListener to hear only this service.
    const std::string& Tag() const {
        return m_tag;
    }

    // Leaves the registration (and a running service) in place when this object ends: for
    // tools that install the service for later use.
    void Detach() {
        m_detached = true;
    }

    // StartServiceW with optional start arguments (they override the registered ones).
    // 0 or the error code.
    static DWORD Start(const std::vector<std::wstring>& arguments = {}) {
        DWORD error = ERROR_SUCCESS;
        auto service = Open(SERVICE_START, error);
        if (!service) {
            return error;
        }
        std::vector<const wchar_t*> argv;
        for (const std::wstring& argument : arguments) {
            argv.push_back(argument.c_str());
        }
        if (!StartServiceW(service.get(), static_cast<DWORD>(argv.size()),
                           argv.empty() ? nullptr : argv.data())) {
            return GetLastError();
        }
        return ERROR_SUCCESS;
    }

    // The current state (SERVICE_RUNNING, ...), or 0 when it cannot be queried.
    static DWORD State() {
        SERVICE_STATUS_PROCESS status{};
        return Query(status) ? status.dwCurrentState : 0;
    }

    // The process id of the running service, 0 when none.
    static DWORD ProcessId() {
        SERVICE_STATUS_PROCESS status{};
        return Query(status) ? status.dwProcessId : 0;
    }

    static bool WaitForState(DWORD state,
                             std::chrono::milliseconds bound = std::chrono::seconds(30)) {
        return Poll([&] { return State() == state; }, bound);
    }

    // Sends the stop control; 0 or the error code. Does not wait.
    static DWORD Stop() {
        DWORD error = ERROR_SUCCESS;
        auto service = Open(SERVICE_STOP, error);
        if (!service) {
            return error;
        }
        SERVICE_STATUS status{};
        return ControlService(service.get(), SERVICE_CONTROL_STOP, &status) ? ERROR_SUCCESS
                                                                            : GetLastError();
    }

    // Ends the service process without asking it; true once the process has ended (or there
    // was none).
    static bool Kill() {
        const DWORD pid = ProcessId();
        if (pid == 0) {
            return true;
        }
        corvanelib::UniqueKernelHandle process(
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!process) {
            return GetLastError() == ERROR_INVALID_PARAMETER; // already gone
        }
        TerminateProcess(process.get(), 9);
        return WaitForSingleObject(process.get(), 20000) == WAIT_OBJECT_0;
    }

    // 0 or the error code of ChangeServiceConfigW.
    static DWORD SetStartType(DWORD startType) {
        DWORD error = ERROR_SUCCESS;
        auto service = Open(SERVICE_CHANGE_CONFIG, error);
        if (!service) {
            return error;
        }
        return ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
                   ? ERROR_SUCCESS
                   : GetLastError();
    }

    // The registered start type, or SERVICE_NO_CHANGE when it cannot be read.
    static DWORD StartType() {
        DWORD error = ERROR_SUCCESS;
        auto service = Open(SERVICE_QUERY_CONFIG, error);
        DWORD needed = 0;
        if (!service) {
            return SERVICE_NO_CHANGE;
        }
        QueryServiceConfigW(service.get(), nullptr, 0, &needed);
        std::vector<unsigned char> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()),
                                 &needed)) {
            return SERVICE_NO_CHANGE;
        }
        return config->dwStartType;
    }

    // The operations above and below act on whatever is registered as "CorvaneMgr"; they are
    // static so that tools may use them without installing.

    // Stops the service (killing it when it does not stop within a few seconds) and deletes
    // it; 0 once the name is free again.
    DWORD Remove() {
        return RemoveExisting();
    }

    // Removes any service named "CorvaneMgr", ours or left over from an earlier run.
    static DWORD RemoveExisting() {
        corvanelib::UniqueServiceHandle scm(
            OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!scm) {
            return GetLastError();
        }
        {
            corvanelib::UniqueServiceHandle service(
                OpenServiceW(scm.get(), kName, SERVICE_ALL_ACCESS));
            if (!service) {
                const DWORD error = GetLastError();
                return error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : error;
            }
            // Wine's control manager keeps showing a killed service as running: whether the
            // process still lives is what counts.
            const auto stopped = [] {
                corvanelib::UniqueKernelHandle process(
                    State() == SERVICE_STOPPED ? nullptr
                                               : OpenProcess(SYNCHRONIZE, FALSE, ProcessId()));
                return !process || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT;
            };
            if (!stopped()) {
                SERVICE_STATUS ignored{};
                ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
                if (!Poll(stopped, std::chrono::seconds(10))) {
                    Kill();
                }
            }
            if (!DeleteService(service.get()) &&
                GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
                return GetLastError();
            }
        }
        // The name is free once the last handle is closed and the process is gone.
        const bool gone = Poll(
            [&scm] {
                corvanelib::UniqueServiceHandle probe(
                    OpenServiceW(scm.get(), kName, SERVICE_QUERY_STATUS));
                return !probe && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
            },
            std::chrono::seconds(20));
        return gone ? ERROR_SUCCESS : ERROR_SERVICE_MARKED_FOR_DELETE;
    }

private:
    template <typename Condition>
    static bool Poll(Condition condition, std::chrono::milliseconds bound) {
        return WaitFor(condition, bound, std::chrono::milliseconds(50));
    }

    static corvanelib::UniqueServiceHandle Open(DWORD access, DWORD& error) {
        corvanelib::UniqueServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!scm) {
            error = GetLastError();
            return corvanelib::UniqueServiceHandle();
        }
        corvanelib::UniqueServiceHandle service(OpenServiceW(scm.get(), kName, access));
        if (!service) {
            error = GetLastError();
        }
        return service;
    }

    static bool Query(SERVICE_STATUS_PROCESS& status) {
        DWORD error = ERROR_SUCCESS;
        auto service = Open(SERVICE_QUERY_STATUS, error);
        DWORD needed = 0;
        return service &&
               QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                    reinterpret_cast<BYTE*>(&status), sizeof(status), &needed);
    }

    DWORD m_installError = ERROR_SUCCESS;
    bool m_detached = false;
    std::string m_tag;
};

// Receives log-view datagrams the way the console does: bound on all local addresses to the
// first free port from 461 on, unscrambled with the shared key.
//
// Every stand-in on the host sends to every port of the range, those of other Wine prefixes
// too. With a tag (StandinService::Tag()) the listener hears only the service of that tag: it
// follows the sender of the latest log line that starts with the tag and drops everything
// else, status reports before the first such line included.
class DatagramListener {
public:
    struct Received {
        logview::Packet::Kind kind = logview::Packet::Kind::Ignored;
        std::uint32_t status = 0;
        std::string text;
        unsigned senderPort = 0;
    };

    explicit DatagramListener(const std::string& tag = std::string())
        : m_prefix(tag.empty() ? std::string() : tag + ": ") {
        WSADATA wsa;
        m_started = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
        for (unsigned port = logview::kFirstPort;
             m_started && port < logview::kFirstPort + logview::kPortCount; ++port) {
            corvanelib::UniqueSocket sock(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_ANY);
            address.sin_port = htons(static_cast<u_short>(port));
            if (sock &&
                bind(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
                m_socket = std::move(sock);
                m_port = port;
                break;
            }
        }
    }
    ~DatagramListener() {
        m_socket.reset();
        if (m_started) {
            WSACleanup();
        }
    }
    DatagramListener(const DatagramListener&) = delete;
    DatagramListener& operator=(const DatagramListener&) = delete;

    bool IsOpen() const { return static_cast<bool>(m_socket); }
    unsigned Port() const { return m_port; }

    // Receives until `match` accepts a decoded datagram or `bound` has passed. Datagrams that
    // do not decode are skipped. Every datagram received is kept in History().
    bool WaitFor(const std::function<bool(const Received&)>& match,
                 std::chrono::milliseconds bound = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        std::vector<std::uint8_t> buffer(logview::kMaxDatagram);
        const logview::Key key = logview::MakeKey();
        while (m_socket) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_socket.get(), &readable);
            timeval timeout{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
            if (select(0, &readable, nullptr, nullptr, &timeout) <= 0) {
                continue;
            }
            sockaddr_in from{};
            int fromLength = sizeof(from);
            const int n = recvfrom(m_socket.get(), reinterpret_cast<char*>(buffer.data()),
                                   static_cast<int>(buffer.size()), 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n <= 0) {
                continue;
            }
            logview::Scramble(buffer.data(), static_cast<std::size_t>(n), key);
            const logview::Packet packet =
                logview::DecodePacket(buffer.data(), static_cast<std::size_t>(n));
            if (packet.kind == logview::Packet::Kind::Ignored) {
                continue;
            }
            Received received;
            received.kind = packet.kind;
            received.status = packet.status;
            received.text.assign(packet.text.data(), packet.text.size());
            received.senderPort = ntohs(from.sin_port);
            if (!m_prefix.empty()) {
                if (received.kind == logview::Packet::Kind::LogLine &&
                    received.text.compare(0, m_prefix.size(), m_prefix) == 0) {
                    m_followed = received.senderPort;
                }
                if (received.senderPort != m_followed) {
                    continue;
                }
            }
            m_history.push_back(received);
            if (match(m_history.back())) {
                return true;
            }
        }
        return false;
    }

    bool WaitForStatus(std::uint32_t status,
                       std::chrono::milliseconds bound = std::chrono::seconds(30)) {
        return WaitFor(
            [status](const Received& r) {
                return r.kind == logview::Packet::Kind::Status && r.status == status;
            },
            bound);
    }

    // Waits for a log line that contains `part`; the line is left in `line` when given.
    bool WaitForLog(const std::string& part,
                    std::chrono::milliseconds bound = std::chrono::seconds(30),
                    std::string* line = nullptr) {
        return WaitFor(
            [&part, line](const Received& r) {
                if (r.kind != logview::Packet::Kind::LogLine ||
                    r.text.find(part) == std::string::npos) {
                    return false;
                }
                if (line != nullptr) {
                    *line = r.text;
                }
                return true;
            },
            bound);
    }

    const std::vector<Received>& History() const { return m_history; }

private:
    std::string m_prefix;
    unsigned m_followed = 0;
    bool m_started = false;
    corvanelib::UniqueSocket m_socket;
    unsigned m_port = 0;
    std::vector<Received> m_history;
};

} // namespace corvane_test
