// uidrive: the UI driver from the command line, for scripts that drive a Windows program
// under Wine.
//
//   uidrive wait CAPTION [SECONDS]     wait for a top-level window; print its screen rectangle
//   uidrive text CAPTION ID            print the text of control ID of that window
//   uidrive click CAPTION ID           click button ID of that window (fails when disabled)
//   uidrive shot CAPTION FILE.bmp      save the window's part of the display as a BMP file
//   uidrive close CAPTION [SECONDS]    ask the window to close and wait until it has gone
//   uidrive menu CAPTION COMMAND       choose item COMMAND of that window's system menu
//
// Exit code 0 on success, 1 when the window did not appear (or go), 2 on bad arguments.
#include "UiDriver.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int Usage() {
    std::fputs("usage: uidrive wait|text|click|shot|close|menu CAPTION [ARG]\n", stderr);
    return 2;
}

uidriver::milliseconds Seconds(const wchar_t* text) {
    return uidriver::milliseconds(1000 * std::wcstol(text, nullptr, 10));
}

void PrintUtf8(const std::wstring& text) {
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? static_cast<size_t>(cb) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], cb, nullptr, nullptr);
    std::printf("%s\n", out.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::wstring command = argv[1];
    const std::wstring caption = argv[2];
    const bool hasBound = argc > 3 && (command == L"wait" || command == L"close");
    HWND window =
        uidriver::WaitForWindow(caption, 0, hasBound ? Seconds(argv[3]) : uidriver::kDefaultWait);
    if (window == nullptr) {
        std::fputs("uidrive: no such window\n", stderr);
        return 1;
    }
    if (command == L"wait") {
        const RECT rect = uidriver::ScreenRect(window);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (command == L"text" && argc > 3) {
        PrintUtf8(uidriver::Text(uidriver::Control(window, std::wcstol(argv[3], nullptr, 10))));
        return 0;
    }
    if (command == L"click" && argc > 3) {
        HWND button = uidriver::Control(window, std::wcstol(argv[3], nullptr, 10));
        return uidriver::Click(button) ? 0 : 1;
    }
    if (command == L"menu" && argc > 3) {
        return PostMessageW(window, WM_SYSCOMMAND, std::wcstoul(argv[3], nullptr, 0), 0) ? 0 : 1;
    }
    if (command == L"shot" && argc > 3) {
        return uidriver::SaveWindowScreenshot(window, argv[3]) ? 0 : 1;
    }
    if (command == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return uidriver::WaitUntil([&] { return !IsWindow(window); },
                                   hasBound ? Seconds(argv[3]) : uidriver::kDefaultWait)
                   ? 0
                   : 1;
    }
    return Usage();
}
