#include "DataExchange.h"

#include "Strings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwctype>

namespace corvane::ui {

namespace {

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

bool IsRadioButton(HWND window) {
    const LRESULT code = SendMessageW(window, WM_GETDLGCODE, 0, 0);
    return (code & DLGC_RADIOBUTTON) != 0;
}

} // namespace

HWND DataExchange::Item(int id) {
    if (!Ok()) {
        return nullptr;
    }
    return GetDlgItem(m_dialog, id);
}

void DataExchange::Control(int id, HWND& window) {
    if (Ok()) {
        window = GetDlgItem(m_dialog, id);
    }
}

void DataExchange::Text(int id, std::wstring& value) {
    HWND item = Item(id);
    if (item == nullptr) {
        return;
    }
    if (ToControls()) {
        SetWindowTextW(item, value.c_str());
    } else {
        value = WindowText(item);
    }
}

void DataExchange::Text(int id, std::string& value) {
    HWND item = Item(id);
    if (item == nullptr) {
        return;
    }
    if (ToControls()) {
        SetWindowTextW(item, FromCodePage(value).c_str());
    } else {
        value = ToCodePage(WindowText(item));
    }
}

void DataExchange::Int(int id, int& value) {
    HWND item = Item(id);
    if (item == nullptr) {
        return;
    }
    if (ToControls()) {
        SetWindowTextW(item, std::to_wstring(value).c_str());
        return;
    }
    const std::wstring text = WindowText(item);
    const wchar_t* begin = text.c_str();
    while (std::iswspace(*begin)) {
        ++begin;
    }
    wchar_t* end = nullptr;
    errno = 0;
    const long parsed = std::wcstol(begin, &end, 10);
    while (end != nullptr && std::iswspace(*end)) {
        ++end;
    }
    if (end == begin || end == nullptr || *end != L'\0' || errno == ERANGE || parsed < INT_MIN ||
        parsed > INT_MAX) {
        m_failedControl = id;
        return;
    }
    value = static_cast<int>(parsed);
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

} // namespace corvane::ui
