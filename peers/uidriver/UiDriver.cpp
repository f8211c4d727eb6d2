#include "peers/uidriver/UiDriver.h"

namespace corvane::peers::uidriver {

// Cross-process messages never wait long: a hung target must not hang the test.
constexpr UINT kMessageTimeoutMs = 5000;

std::vector<HWND> TopLevelWindows(DWORD processId) {
    std::vector<HWND> found;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, nullptr, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (processId == 0 || owner == processId) {
            found.push_back(w);
        }
    }
    return found;
}

HWND WaitForWindow(const std::wstring& caption, DWORD processId, milliseconds bound) {
    HWND found = nullptr;
    WaitFor(
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
    return IsWindowEnabled(button) && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) != 0 &&
           PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != FALSE;
}

} // namespace corvane::peers::uidriver
