#include "console/framework/DataExchange.h"

#include "corvanelib/Win32/Text.h"

namespace corvane::console::framework {

namespace {

bool IsRadioButton(HWND window) {
    const LRESULT code = SendMessageW(window, WM_GETDLGCODE, 0, 0);
    return (code & DLGC_RADIOBUTTON) != 0;
}

} // namespace

std::wstring WindowText(HWND window) {
    const int cch = GetWindowTextLengthW(window);
    if (cch <= 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(cch) + 1, L'\0');
    const int got = GetWindowTextW(window, &text[0], cch + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

HWND DataExchange::Item(int id) {
    return GetDlgItem(m_dialog, id);
}

void DataExchange::Control(int id, HWND& window) {
    window = GetDlgItem(m_dialog, id);
}

void DataExchange::Text(int id, std::string& value) {
    HWND item = Item(id);
    if (item == nullptr) {
        return;
    }
    if (ToControls()) {
        SetWindowTextW(item, corvanelib::CodePageToWide(value).c_str());
    } else {
        value = corvanelib::WideToCodePage(WindowText(item));
    }
}

void DataExchange::Check(int id, int& value) {
    HWND item = Item(id);
    if (item == nullptr) {
        return;
    }
    if (ToControls()) {
        SendMessageW(item, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    } else {
        value = static_cast<int>(SendMessageW(item, BM_GETCHECK, 0, 0));
    }
}

void DataExchange::Radio(int firstId, int& value) {
    HWND item = Item(firstId);
    if (item == nullptr) {
        return;
    }
    int taken = -1;
    int index = 0;
    for (HWND button = item; button != nullptr; button = GetWindow(button, GW_HWNDNEXT)) {
        if (button != item && (GetWindowLongW(button, GWL_STYLE) & WS_GROUP) != 0) {
            break;
        }
        if (!IsRadioButton(button)) {
            continue;
        }
        if (ToControls()) {
            SendMessageW(button, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
        } else if (taken < 0 && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            taken = index;
        }
        ++index;
    }
    if (!ToControls()) {
        value = taken;
    }
}

} // namespace corvane::console::framework
