// uidrive: the UI driver from the command line, for scripts that drive a Windows program
// under Wine.
//
//   uidrive wait CAPTION [SECONDS]     wait for a top-level window; print its screen rectangle
//   uidrive text CAPTION ID            print the text of control ID of that window (UTF-8)
//   uidrive click CAPTION ID           click button ID of that window (fails when disabled)
//   uidrive shot CAPTION FILE.bmp      save the window's part of the display as a BMP file
//   uidrive close CAPTION [SECONDS]    ask the window to close and wait until it has gone
//   uidrive menu CAPTION COMMAND       choose item COMMAND of that window's system menu
//
// Exit code 0 on success, 1 when the window did not appear (or go), 2 on bad arguments.
#include "UiDriver.h"
#include "corvanelib/Win32/Text.h"

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 2 ? argv[1] : L"";
    const bool bounded = argc > 3 && (command == L"wait" || command == L"close");
    const corvane::uidriver::milliseconds bound =
        bounded ? corvane::uidriver::milliseconds(1000 * std::wcstol(argv[3], nullptr, 10))
                : corvane::uidriver::kDefaultWait;
    const int id = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 0;
    if (command != L"wait" && command != L"close" && argc < 4) {
        std::fputs("usage: uidrive wait|text|click|shot|close|menu CAPTION [ARG]\n", stderr);
        return 2;
    }
    HWND window = corvane::uidriver::WaitForWindow(argv[2], 0, bound);
    if (window == nullptr) {
        std::fputs("uidrive: no such window\n", stderr);
        return 1;
    }
    if (command == L"wait") {
        RECT rect = {};
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (command == L"text") {
        const std::wstring text = corvane::uidriver::Text(corvane::uidriver::Control(window, id));
        std::printf("%s\n", corvanelib::WideToCodePage(text, CP_UTF8).c_str());
        return 0;
    }
    if (command == L"click") {
        return corvane::uidriver::Click(corvane::uidriver::Control(window, id)) ? 0 : 1;
    }
    if (command == L"menu") {
        return PostMessageW(window, WM_SYSCOMMAND, std::wcstoul(argv[3], nullptr, 0), 0) ? 0 : 1;
    }
    if (command == L"shot") {
        return corvane::uidriver::SaveWindowScreenshot(window, argv[3]) ? 0 : 1;
    }
    if (command == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return corvane::uidriver::WaitUntil([&] { return !IsWindow(window); }, bound) ? 0 : 1;
    }
    std::fputs("usage: uidrive wait|text|click|shot|close|menu CAPTION [ARG]\n", stderr);
    return 2;
}
