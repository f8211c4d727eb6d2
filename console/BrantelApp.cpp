#include "console/BrantelApp.h"

#include "console/AppPaths.h"
#include "console/BrantelDlg.h"
#include "console/ConsoleMessages.h"
#include "console/framework/MessageBox.h"
#include "console/framework/ResourceStrings.h"
#include "console/res/resource.h"
#include "console/SystemErrorText.h"

#include "corvanelib/Win32/Synchronization/CorvaneException.h"
#include "corvanelib/Win32/Text.h"

#include <exception>

namespace corvane::console {

const UINT g_showWindowMessage = RegisterWindowMessageW(L"OrvexBrantelShowWindow");
const wchar_t kInstanceEventName[] = L"Global\\OrvexCorvaneClientMonitor";
const wchar_t kConsoleMutexName[] = L"OrvexBrantel";

bool ClaimSingleInstance(corvanelib::UniqueKernelHandle& held) {
    corvanelib::UniqueKernelHandle running(OpenEventW(EVENT_ALL_ACCESS, TRUE, kInstanceEventName));
    if (!running) {
        HANDLE created = CreateEventW(nullptr, FALSE, FALSE, kInstanceEventName);
        const DWORD error = GetLastError();
        held.reset(created);
        // Two consoles started at the same moment both miss the event; the later creator
        // finds it already there and takes the second start's way. An event that exists but
        // cannot be opened at all belongs to a console of another user.
        if (held ? error != ERROR_ALREADY_EXISTS : error != ERROR_ACCESS_DENIED) {
            return true;
        }
        held.reset();
    }
    // Let the running console take the foreground, which the system otherwise grants only to
    // the process the user just started.
    AllowSetForegroundWindow(ASFW_ANY);
    PostMessageW(HWND_BROADCAST, g_showWindowMessage, 0, 0);
    return false;
}

namespace {

// "module: message (file:line" of a library exception; the caller closes the parenthesis.
std::string Describe(const corvanelib::CorvaneException& e) {
    return std::string(e.GetModuleName()) + ": " + e.Message() + " (" + e.File() + ":" +
           std::to_string(e.Line());
}

} // namespace

std::wstring DescribeCurrentException() {
    try {
        throw;
    } catch (const corvanelib::CorvaneLibLockException& e) {
        return corvanelib::CodePageToWide(Describe(e) + ", error " + std::to_string(e.ErrorCode()) +
                                          ")\r\n") +
               SystemErrorText(e.ErrorCode());
    } catch (const corvanelib::CorvaneException& e) {
        return corvanelib::CodePageToWide(Describe(e) + ")");
    } catch (const std::exception& e) {
        return corvanelib::CodePageToWide(e.what());
    } catch (...) {
        return L"unknown exception";
    }
}

} // namespace corvane::console

using namespace corvane::console;

void CBrantelApp::OnInit() {
    if (m_sockets.emplace().Error() != 0) {
        framework::ShowMessageBox(nullptr, framework::LoadText(IDS_SOCKETS_INIT_FAILED), MB_OK);
        return;
    }

    const DWORD pathError = FillAppPaths();
    if (pathError != 0) {
        framework::ShowMessageBox(nullptr, SystemErrorText(pathError),
                                  framework::LoadText(IDS_ERROR_CAPTION), MB_OK | MB_ICONERROR);
        return;
    }
    if (!ClaimSingleInstance(m_instanceEvent)) {
        return;
    }

    // The modal run is the program; the process ends after it.
    CBrantelDlg dialog;
    dialog.RunModal();
}

int CBrantelApp::OnExit() {
    m_instanceEvent.reset();
    m_sockets.reset();
    return Application::OnExit();
}

void CBrantelApp::OnUncaughtException() noexcept {
    // The library throws only when the platform refuses a mutex; no caller handles that, so the
    // console says what happened before it ends.
    try {
        framework::ShowMessageBox(nullptr, DescribeCurrentException(),
                                  framework::LoadText(IDS_ERROR_CAPTION), MB_OK | MB_ICONERROR);
    } catch (...) {
    }
}
