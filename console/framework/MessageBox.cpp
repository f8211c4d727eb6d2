#include "MessageBox.h"

#include "corvanelib/Win32/Text.h"

#include <utility>

namespace corvane::ui {

namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

std::wstring& Caption() {
    static std::wstring caption;
    return caption;
}

} // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
    if (Hook()) {
        return Hook()(MessageBoxRequest{owner, text, caption, type});
    }
    return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

int ShowMessageBox(HWND owner, const std::wstring& text, UINT type) {
    return ShowMessageBox(owner, text, DefaultCaption(), type);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

void SetDefaultCaption(std::wstring caption) {
    Caption() = std::move(caption);
}

const std::wstring& DefaultCaption() {
    if (Caption().empty()) {
        Caption() = corvanelib::ProgramName();
    }
    return Caption();
}

} // namespace corvane::ui
