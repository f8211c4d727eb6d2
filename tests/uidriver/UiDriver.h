// A small driver for end-to-end tests of Windows programs: it starts a program, finds its
// windows by caption, reads and clicks controls, answers message boxes and takes screenshots.
// Everything works across processes, through window messages that do not block the driver:
// clicks and commands are posted, so a handler that opens a modal box never stalls a test.
//
// Typical use:
//   uidriver::Program console(L"Brantel.exe");
//   HWND main = uidriver::WaitForWindow(L"Corvane Client Console", console.Id());
//   uidriver::Click(uidriver::Control(main, 1004));
//   auto box = uidriver::WaitForMessageBox(console.Id());
//   EXPECT_EQ(box.caption, L"error");
//   uidriver::PressOk(box.window);
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "WaitFor.h"

#include <chrono>
#include <string>
#include <vector>

namespace uidriver {

using std::chrono::milliseconds;

// Generous default bound for every wait: the tests run under Wine on loaded machines.
constexpr milliseconds kDefaultWait{30000};

// A program started by the driver. The destructor ends it if it still runs (the process is
// terminated after the time given to Close), so no test leaves a process behind.
class Program {
public:
    // Starts `commandLine` (the program path first; quote it when it holds spaces).
    explicit Program(const std::wstring& commandLine);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_process != nullptr; }
    DWORD Id() const { return m_id; }
    HANDLE Process() const { return m_process; }

    // The exit code once ended; STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // Asks each of the program's top-level windows to close (WM_CLOSE), waits up to `bound`,
    // then terminates the process. True when it ended by itself.
    bool Close(milliseconds bound = kDefaultWait);

private:
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
};

// The top-level windows of process `processId` (all processes when 0), visible or not.
std::vector<HWND> TopLevelWindows(DWORD processId = 0);

// The first top-level window whose caption is exactly `caption` (of `processId` when not 0);
// null when there is none.
HWND FindWindowByCaption(const std::wstring& caption, DWORD processId = 0);
HWND WaitForWindow(const std::wstring& caption, DWORD processId = 0,
                   milliseconds bound = kDefaultWait);

// Waits until `condition()` holds or `bound` has passed; returns whether it held.
template <typename Condition>
bool WaitUntil(Condition condition, milliseconds bound = kDefaultWait,
               milliseconds step = milliseconds(25)) {
    return corvane_test::WaitFor(condition, bound, step);
}

// Control `id` of a dialog (null when missing).
HWND Control(HWND dialog, int id);
// A window's text (caption or control text); empty when the window does not answer.
std::wstring Text(HWND window);
bool IsEnabled(HWND window);
// Whether the window itself has the visible style (its parents are not asked).
bool IsVisible(HWND window);
// The window's rectangle in screen coordinates.
RECT ScreenRect(HWND window);
// Whether `inner` lies wholly inside `outer`; whether the two overlap at all.
bool Contains(const RECT& outer, const RECT& inner);
bool Intersects(const RECT& a, const RECT& b);

// Clicks a push button, check box or radio button as the user would: the owner gets the
// click notification. False (nothing sent) when the button is disabled or hidden.
bool Click(HWND button);
// Sends a system-menu command (SC_MINIMIZE, SC_CLOSE, or a program's own item id).
void SendSysCommand(HWND window, UINT command);

struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
};
// A message box shown by process `processId` (any process when 0): a dialog-class top-level
// window with the message box's text control. `window` is null when there is none.
MessageBoxInfo FindMessageBox(DWORD processId = 0);
MessageBoxInfo WaitForMessageBox(DWORD processId = 0, milliseconds bound = kDefaultWait);
// Presses the box's OK button (or the dialog's IDOK).
void PressOk(HWND box);

// Writes the window's rectangle of the display as a 24-bit BMP file (`convert file.bmp
// file.png` turns it into a PNG). False on failure.
bool SaveWindowScreenshot(HWND window, const std::wstring& bmpPath);

} // namespace uidriver
