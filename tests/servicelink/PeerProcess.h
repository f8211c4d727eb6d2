// Starting the test's second parties (servicelink_peer.exe) and the named events that pace
// them. Every wait is bounded; a peer still running when its owner ends is terminated.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "StandinService.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <string>
#include <vector>

namespace corvane_test {

// A manual-reset event under a name unique to this test process.
class NamedEvent {
public:
    explicit NamedEvent(const std::string& tag)
        : m_name("corvane-test-" + tag + "-" + std::to_string(GetCurrentProcessId())),
          m_event(CreateEventA(nullptr, TRUE, FALSE, m_name.c_str())) {}
    const std::string& Name() const { return m_name; }
    bool Set() const { return SetEvent(m_event.get()) != FALSE; }
    bool Wait(DWORD ms = 60000) const {
        return WaitForSingleObject(m_event.get(), ms) == WAIT_OBJECT_0;
    }
    HANDLE Get() const { return m_event.get(); }

private:
    std::string m_name;
    corvanelib::UniqueKernelHandle m_event;
};

class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& arguments) {
        std::wstring commandLine = L"\"" + WindowsPath(SERVICELINK_PEER_EXE) + L"\"";
        for (const std::string& argument : arguments) {
            commandLine += L" \"" + std::wstring(argument.begin(), argument.end()) + L"\"";
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            m_process.reset(info.hProcess);
            CloseHandle(info.hThread);
        }
    }
    ~PeerProcess() {
        if (m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process.get(), 99);
            WaitForSingleObject(m_process.get(), 20000);
        }
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool Started() const { return static_cast<bool>(m_process); }

    // The exit code, or STILL_ACTIVE when the process did not end within `ms`.
    DWORD Join(DWORD ms = 60000) const {
        if (!m_process || WaitForSingleObject(m_process.get(), ms) != WAIT_OBJECT_0) {
            return STILL_ACTIVE;
        }
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_process.get(), &code);
        return code;
    }

private:
    corvanelib::UniqueKernelHandle m_process;
};

// Runs a peer to its end and gives its exit code.
inline DWORD RunPeer(const std::vector<std::string>& arguments) {
    PeerProcess peer(arguments);
    return peer.Join();
}

} // namespace corvane_test
