// Stub of the helper program "vedevaru.exe": it records how it was started and ends. Each
// start appends one line (UTF-8, ending in "\r\n") to "vedevaru-calls.txt" beside the program:
//     cwd=<working directory>\tshow=<show-window value>\targ=<first argument>\targ=<second>...
// The show-window value is the one the starter asked for (0 = hidden), or -1 when it asked for
// none.
#include "corvanelib/Win32/Text.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    STARTUPINFOW startup{};
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    std::wstring line = std::wstring(L"cwd=") + cwd + L"\tshow=" + std::to_wstring(show);
    int argc = 0;
    const corvanelib::UniqueLocalMemory argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    for (int i = 1; argv && i < argc; ++i) {
        line += L"\targ=" + std::wstring(static_cast<wchar_t**>(argv.get())[i]);
    }
    const std::string record = corvanelib::WideToCodePage(line + L"\r\n", CP_UTF8);
    const std::wstring path = corvanelib::ProgramDirectory() + L"vedevaru-calls.txt";
    const corvanelib::UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                                        FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), record.data(), DWORD(record.size()), &written, nullptr)
               ? 0
               : 1;
}
