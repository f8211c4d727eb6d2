#include "UiDriver.h"

namespace corvane::uidriver {

namespace {

// Cross-process messages never wait long: a hung target must not hang the test.
constexpr UINT kMessageTimeoutMs = 5000;

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    auto* found = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (found->first == 0 || owner == found->first) {
        found->second.push_back(window);
    }
    return TRUE;
}

} // namespace

Program::Program(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        m_process.reset(info.hProcess);
        m_id = info.dwProcessId;
    }
}

DWORD Program::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process.get(), &code);
    return code;
}

bool Program::Close() {
    if (!m_process) {
        return false; // m_id 0 would name every process's windows
    }
    for (HWND window : TopLevelWindows(m_id)) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    const bool ended = WaitForSingleObject(m_process.get(), 30000) == WAIT_OBJECT_0;
    if (!ended && TerminateProcess(m_process.get(), 1)) {
        WaitForSingleObject(m_process.get(), 30000);
    }
    return ended;
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
    std::pair<DWORD, std::vector<HWND>> found{processId, {}};
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&found));
    return found.second;
}

HWND WaitForWindow(const std::wstring& caption, DWORD processId, milliseconds bound) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId)) {
                found = Text(window) == caption ? window : found;
            }
            return found != nullptr;
        },
        bound);
    return found;
}

std::wstring Text(HWND window) {
    std::wstring text(65536, L'\0');
    DWORD_PTR cch = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &cch)) {
        cch = 0;
    }
    return text.substr(0, static_cast<size_t>(cch));
}

bool Click(HWND button) {
    if (!IsWindowEnabled(button) || (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) == 0) {
        return false;
    }
    return PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != FALSE;
}

} // namespace corvane::uidriver
