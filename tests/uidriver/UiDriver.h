// A small driver for end-to-end tests of Windows programs: it starts a program, finds its
// windows by caption, reads and clicks controls, across processes and
// through messages that never block the driver (clicks are posted, so a handler that opens a
// modal box does not stall a test).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "WaitFor.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <chrono>
#include <string>
#include <vector>

namespace corvane::uidriver {

using std::chrono::milliseconds;

// Generous default bound for every wait: the tests run under Wine on loaded machines.
constexpr milliseconds kDefaultWait{30000};

template <typename Condition>
bool WaitUntil(Condition condition, milliseconds bound = kDefaultWait) {
    return corvane::test::WaitFor(condition, bound);
}

// A program started by the driver; the destructor ends it if it still runs.
class Program {
public:
    // Starts `commandLine` (the program path first; quote it when it holds spaces).
    explicit Program(std::wstring commandLine);
    ~Program() { Close(); }

    DWORD Id() const { return m_id; }
    HANDLE Process() const { return m_process.get(); } // null when it did not start
    // The exit code once ended; STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // Asks each of its top-level windows (message boxes too) to close, waits, then terminates
    // the process. True when it ended by itself.
    bool Close();

private:
    corvanelib::UniqueKernelHandle m_process;
    DWORD m_id = 0;
};

// The top-level windows of process `processId` (all processes when 0), visible or not.
std::vector<HWND> TopLevelWindows(DWORD processId = 0);
// A top-level window captioned exactly `caption` (of `processId` when not 0), once there is one
// within `bound`; null otherwise.
HWND WaitForWindow(const std::wstring& caption, DWORD processId = 0,
                   milliseconds bound = kDefaultWait);

// A window's text; empty when the window does not answer within seconds.
std::wstring Text(HWND window);
// Clicks a button as the user would: its owner gets the click notification. False (nothing
// sent) when the button is disabled or hidden.
bool Click(HWND button);

} // namespace corvane::uidriver
