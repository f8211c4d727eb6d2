// Base of the console's modal dialogs. The dialog procedure hands each message to one virtual
// handler; a derived dialog overrides only what it handles. Handlers run on the dialog's
// thread, inside the modal run's message loop, and must not throw.
#pragma once

#include "console/framework/DataExchange.h"

#include <winsock2.h>
#include <windows.h>

namespace corvane::console::framework {

class ModalDialog {
public:
    explicit ModalDialog(UINT templateId);
    virtual ~ModalDialog() = default;
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Creates the dialog from its template and runs it until EndDialog; returns the result
    // given to EndDialog, or -1 when the dialog could not be created.
    INT_PTR RunModal(HWND parent = nullptr);

    // The dialog's window while it runs, null otherwise.
    HWND Handle() const { return m_window; }

    // Exchanges every binding of DoDataExchange in the given direction; false when the dialog
    // is not up.
    bool ExchangeData(Exchange direction);

    void EndDialog(INT_PTR result);
    // True once EndDialog was called in this run: the modal loop ends when control returns to
    // it. A handler that runs a message loop of its own leaves it then.
    bool Ended() const { return m_ended; }

protected:
    // Lists the bindings between members and controls.
    virtual void DoDataExchange(DataExchange& exchange);

    // Dialog start. The default puts the members into the controls and returns TRUE (the
    // system gives the first control the focus); FALSE means the handler set the focus.
    virtual BOOL OnInitDialog();
    // WM_COMMAND; true when handled. The default sends IDOK to OnOK and IDCANCEL to OnCancel.
    virtual bool OnCommand(int id, int notifyCode, HWND control);
    // Takes the controls' data into the members and ends the dialog with IDOK.
    virtual void OnOK();
    // Ends the dialog with IDCANCEL.
    virtual void OnCancel();
    virtual void OnTimer(UINT_PTR timerId);
    // WM_SYSCOMMAND; true when handled, false for the system's default processing.
    virtual bool OnSysCommand(UINT command, LPARAM lParam);
    // WM_PAINT; true when the handler painted, false for the default dialog painting.
    virtual bool OnPaint();
    // The icon the system shows while a minimized window is dragged; null for the default.
    virtual HICON OnQueryDragIcon();
    // WM_DESTROY, while the window and its controls still exist.
    virtual void OnDestroy();
    // Every other message, registered messages included. Return true when handled and set
    // `result` to the message's result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_window = nullptr;
    bool m_ended = false;
};

} // namespace corvane::console::framework
