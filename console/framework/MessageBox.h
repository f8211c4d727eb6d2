// Every message box of the console goes through ShowMessageBox, so that tests can see each box
// and answer it without a window ever appearing.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <functional>
#include <string>

namespace corvane::console::framework {

struct MessageBoxRequest {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type; // MB_* flags as the caller gave them
};

// Answers a box instead of the window system; returns the button id (IDOK, ...).
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;

// Shows a modal message box, or hands it to the installed hook. Returns the pressed button's
// id, or 0 when the box could not be shown.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                   UINT type = MB_OK);

// Shows a box captioned with the program's name.
int ShowMessageBox(HWND owner, const std::wstring& text, UINT type = MB_OK);

// Installs `hook` (an empty hook restores the real boxes); returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// The caption of boxes shown without one: the program's name.
const std::wstring& DefaultCaption();

} // namespace corvane::console::framework
