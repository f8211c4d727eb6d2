#include "console/framework/ModalDialog.h"

#include "console/framework/Application.h"
#include "console/framework/ResourceStrings.h"

namespace corvane::console::framework {

ModalDialog::ModalDialog(UINT templateId) : m_templateId(templateId) {}

INT_PTR ModalDialog::RunModal(HWND parent) {
    EnsureCommonControls();
    return DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(m_templateId), parent,
                           &ModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

bool ModalDialog::ExchangeData(Exchange direction) {
    if (m_window == nullptr) {
        return false;
    }
    DataExchange exchange(m_window, direction);
    DoDataExchange(exchange);
    return true;
}

void ModalDialog::EndDialog(INT_PTR result) {
    if (m_window != nullptr) {
        m_ended = true;
        ::EndDialog(m_window, result);
    }
}

void ModalDialog::DoDataExchange(DataExchange&) {}

BOOL ModalDialog::OnInitDialog() {
    ExchangeData(Exchange::ToControls);
    return TRUE;
}

bool ModalDialog::OnCommand(int id, int notifyCode, HWND) {
    if (notifyCode != BN_CLICKED) {
        return false;
    }
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void ModalDialog::OnOK() {
    if (ExchangeData(Exchange::FromControls)) {
        EndDialog(IDOK);
    }
}

void ModalDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void ModalDialog::OnTimer(UINT_PTR) {}

bool ModalDialog::OnSysCommand(UINT, LPARAM) {
    return false;
}

bool ModalDialog::OnPaint() {
    return false;
}

HICON ModalDialog::OnQueryDragIcon() {
    return nullptr;
}

void ModalDialog::OnDestroy() {}

bool ModalDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ModalDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<ModalDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_window = window;
        self->m_ended = false;
    } else {
        self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT, ...) get the default handling.
    if (self == nullptr) {
        return FALSE;
    }
    INT_PTR result = FALSE;
    try {
        result = self->Dispatch(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's dialog code.
        EndAfterUncaughtException();
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_window = nullptr;
    }
    return result;
}

INT_PTR ModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE
                                                                                         : FALSE;
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam), lParam) ? TRUE : FALSE;
    case WM_PAINT:
        return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        // One of the messages whose result the dialog procedure returns directly.
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    default:
        break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, result)) {
        return FALSE;
    }
    SetWindowLongPtrW(m_window, DWLP_MSGRESULT, result);
    return TRUE;
}

} // namespace corvane::console::framework
