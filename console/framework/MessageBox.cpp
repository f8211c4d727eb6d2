#include "console/framework/MessageBox.h"

#include "corvanelib/Win32/Text.h"

#include <utility>

namespace corvane::console::framework {

namespace {

MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
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

const std::wstring& DefaultCaption() {
    static const std::wstring caption = corvanelib::ProgramName();
    return caption;
}

} // namespace corvane::console::framework
