// Stub of the helper program "vedevaru.exe": it records how it was started and ends.
//
// Each start appends one line (UTF-8, ending in "\r\n") to the record file:
//     cwd=<working directory>\tshow=<show-window value>\targ=<first argument>\targ=<second>...
// The show-window value is the one the starter asked for (0 = hidden), or -1 when it asked
// for none. The record file is the path in the environment variable VEDEVARU_STUB_RECORD
// when set, otherwise "vedevaru-calls.txt" beside this program.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "corvanelib/Win32/UniqueHandle.h"

namespace {

std::wstring ModuleDirectory() {
    wchar_t path[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, cch);
    const std::size_t slash = text.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : text.substr(0, slash + 1);
}

std::wstring RecordPath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD cch = GetEnvironmentVariableW(L"VEDEVARU_STUB_RECORD", path, MAX_PATH);
    if (cch > 0 && cch < MAX_PATH) {
        return std::wstring(path, cch);
    }
    return ModuleDirectory() + L"vedevaru-calls.txt";
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int cb = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string text(cb > 0 ? static_cast<std::size_t>(cb) : 0, '\0');
    if (cb > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &text[0], cb,
                            nullptr, nullptr);
    }
    return text;
}

std::wstring RecordLine() {
    wchar_t cwd[MAX_PATH] = {};
    const DWORD cch = GetCurrentDirectoryW(MAX_PATH, cwd);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

    std::wstring line = L"cwd=" + std::wstring(cwd, cch) + L"\tshow=" + std::to_wstring(show);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        line += L"\targ=";
        line += argv[i];
    }
    if (argv != nullptr) {
        LocalFree(argv);
    }
    return line + L"\r\n";
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string line = Utf8(RecordLine());
    const std::wstring path = RecordPath();
    // Several starts may overlap: whoever holds the file, the others retry for a while.
    for (int attempt = 0; attempt < 250; ++attempt) {
        corvanelib::UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                                      FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            return written == line.size() ? 0 : 1;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION) {
            return 2;
        }
        Sleep(20);
    }
    return 3;
}
