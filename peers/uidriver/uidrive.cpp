// uidrive: the UI driver from the command line, for scripts that drive a Windows program
// under Wine.
//
//   uidrive wait CAPTION [SECONDS]     wait for a top-level window captioned CAPTION
//   uidrive text CAPTION ID            print the text of control ID of that window (UTF-8)
//   uidrive click CAPTION ID           click button ID of that window (fails when disabled)
//   uidrive rect CAPTION               print the window's place on the screen as WxH+X+Y
//   uidrive close CAPTION [SECONDS]    ask the window to close and wait until it has gone
//   uidrive menu CAPTION COMMAND       choose item COMMAND of that window's system menu
//
// Exit code 0 on success, 1 when the window did not appear (or go), 2 on bad arguments.
#include "corvanelib/Win32/Text.h"
#include "peers/uidriver/UiDriver.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace ui = corvane::peers::uidriver;

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 2 ? argv[1] : L"";
    const bool bounded = command == L"wait" || command == L"close" || command == L"rect";
    const int number = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 0;
    if (command.empty() || (!bounded && argc < 4)) {
        std::fputs("usage: uidrive wait|text|click|rect|close|menu CAPTION [ARG]\n", stderr);
        return 2;
    }
    const ui::milliseconds bound =
        argc > 3 && bounded ? ui::milliseconds(1000 * number) : ui::kDefaultWait;
    const HWND window = ui::WaitForWindow(argv[2], 0, bound);
    RECT r = {};
    if (window == nullptr) {
        std::fputs("uidrive: no such window\n", stderr);
        return 1;
    } else if (command == L"text") {
        const std::wstring text = ui::Text(GetDlgItem(window, number));
        std::printf("%s\n", corvanelib::WideToCodePage(text, CP_UTF8).c_str());
    } else if (command == L"rect" && GetWindowRect(window, &r)) {
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    } else if (command == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return ui::WaitFor([&] { return !IsWindow(window); }, bound) ? 0 : 1;
    } else if (command == L"click") {
        return ui::Click(GetDlgItem(window, number)) ? 0 : 1;
    } else if (command == L"menu") {
        return PostMessageW(window, WM_SYSCOMMAND, static_cast<WPARAM>(number), 0) ? 0 : 1;
    } else if (command != L"wait") {
        return 2;
    }
    return 0;
}
