// A small driver for end-to-end tests of Windows programs: it finds a program's windows by
// caption, reads and clicks controls, across processes and through messages that never block
// the driver (clicks are posted, so a handler that opens a
// modal box does not stall a test).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "peers/support/WaitFor.h"

#include <chrono>
#include <string>
#include <vector>

namespace corvane::peers::uidriver {

using std::chrono::milliseconds;

// Generous default bound for every wait: the tests run under Wine on loaded machines.
constexpr milliseconds kDefaultWait{30000};
using corvane::peers::support::WaitFor;

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

} // namespace corvane::peers::uidriver
