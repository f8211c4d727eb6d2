#include "UiDriver.h"

#include <cstdio>

namespace uidriver {

namespace {

// Cross-process messages never wait long: a hung target must not hang the test.
constexpr UINT kMessageTimeoutMs = 5000;

struct EnumState {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    auto* state = reinterpret_cast<EnumState*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (state->processId == 0 || owner == state->processId) {
        state->windows.push_back(window);
    }
    return TRUE;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    const int cch = GetClassNameW(window, name, 256);
    return std::wstring(name, cch > 0 ? static_cast<size_t>(cch) : 0);
}

bool WaitForExit(HANDLE process, milliseconds bound) {
    return WaitForSingleObject(process, static_cast<DWORD>(bound.count())) == WAIT_OBJECT_0;
}

} // namespace

Program::Program(const std::wstring& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring mutableLine = commandLine;
    if (CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        m_process = info.hProcess;
        m_id = info.dwProcessId;
    }
}

Program::~Program() {
    if (m_process != nullptr) {
        Close();
        CloseHandle(m_process);
    }
}

DWORD Program::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_process != nullptr) {
        GetExitCodeProcess(m_process, &code);
    }
    return code;
}

bool Program::Close(milliseconds bound) {
    if (m_process == nullptr) {
        return false;
    }
    if (WaitForExit(m_process, milliseconds(0))) {
        return true;
    }
    // Message boxes first: a modal box keeps its owner from closing.
    for (HWND window : TopLevelWindows(m_id)) {
        if (IsWindowVisible(window) && ClassName(window) == L"#32770") {
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        }
    }
    for (HWND window : TopLevelWindows(m_id)) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (WaitForExit(m_process, bound)) {
        return true;
    }
    TerminateProcess(m_process, 1);
    WaitForExit(m_process, kDefaultWait);
    return false;
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
    EnumState state{processId, {}};
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&state));
    return state.windows;
}

HWND FindWindowByCaption(const std::wstring& caption, DWORD processId) {
    for (HWND window : TopLevelWindows(processId)) {
        if (Text(window) == caption) {
            return window;
        }
    }
    return nullptr;
}

HWND WaitForWindow(const std::wstring& caption, DWORD processId, milliseconds bound) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindowByCaption(caption, processId)) != nullptr; }, bound);
    return found;
}

HWND Control(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

std::wstring Text(HWND window) {
    DWORD_PTR cch = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &cch)) {
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(cch) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &got)) {
        return std::wstring();
    }
    text.resize(got < text.size() ? static_cast<size_t>(got) : text.size() - 1);
    return text;
}

bool IsEnabled(HWND window) {
    return window != nullptr && IsWindowEnabled(window) != FALSE;
}

bool IsVisible(HWND window) {
    return window != nullptr && (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

RECT ScreenRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

bool Contains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

bool Intersects(const RECT& a, const RECT& b) {
    RECT overlap = {};
    return IntersectRect(&overlap, &a, &b) != FALSE;
}

bool Click(HWND button) {
    if (!IsEnabled(button) || !IsVisible(button)) {
        return false;
    }
    HWND owner = GetParent(button);
    const int id = GetDlgCtrlID(button);
    return PostMessageW(owner, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != FALSE;
}

void SendSysCommand(HWND window, UINT command) {
    PostMessageW(window, WM_SYSCOMMAND, command, 0);
}

MessageBoxInfo FindMessageBox(DWORD processId) {
    for (HWND window : TopLevelWindows(processId)) {
        if (!IsWindowVisible(window) || ClassName(window) != L"#32770") {
            continue;
        }
        // The message box keeps its text in a static control with id 0xFFFF.
        HWND text = GetDlgItem(window, 0xFFFF);
        if (text == nullptr) {
            continue;
        }
        return MessageBoxInfo{window, Text(window), Text(text)};
    }
    return MessageBoxInfo{};
}

MessageBoxInfo WaitForMessageBox(DWORD processId, milliseconds bound) {
    MessageBoxInfo found;
    WaitUntil([&] { return (found = FindMessageBox(processId)).window != nullptr; }, bound);
    return found;
}

void PressOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
}

bool SaveWindowScreenshot(HWND window, const std::wstring& path) {
    const RECT rect = ScreenRect(window);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return false;
    }
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42; // "BM"
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        FILE* file = _wfopen(path.c_str(), L"wb");
        ok = file != nullptr && std::fwrite(&header, sizeof(header), 1, file) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, file) == 1 &&
             std::fwrite(bits, imageSize, 1, file) == 1;
        ok = file != nullptr && std::fclose(file) == 0 && ok;
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    if (memory != nullptr) {
        DeleteDC(memory);
    }
    ReleaseDC(nullptr, screen);
    return ok;
}

} // namespace uidriver
