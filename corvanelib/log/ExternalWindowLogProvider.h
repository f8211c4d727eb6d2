// Records to a window of another program: the top-level window whose title is the setting
// "wnd" receives each record as WM_COPYDATA, wParam 0, with exactly 2 x length bytes of UTF-16
// (no terminator; NULs inside the counted length are sent as they are) and that byte count as
// the tag. The window is looked up anew before every record, so a receiver started later is
// picked up. The send waits until the receiver has handled the record, but at most
// kSendTimeoutMs and not at all for a receiver the system deems hung: a receiver that does not
// answer must not hold up every logging thread of the process.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "corvanelib/log/LogProvider.h"
#include "corvanelib/Win32/Synchronization/Lock.h"

namespace corvanelib {

class ExternalWindowLogProvider : public LogProvider {
public:
    // Answer of IsUnavailable and Write when there is no receiving window.
    static const int kNoWindow = 700;
    static const UINT kSendTimeoutMs = 1000;

    ExternalWindowLogProvider() = default;
    ~ExternalWindowLogProvider() override;

    int Init(LogConfig* configuration) override;
    // 0 for an empty record (nothing sent); 2 for a null or empty text; kNoWindow when the last
    // lookup found no window; -1 when the receiver did not take the record in time (or the
    // send failed); else 0 once the receiver has handled the record.
    int Write(const wchar_t* text, int length) override;
    int LockedWrite(const wchar_t* text, int length, int reserved) override;
    // Forgets the window.
    void Close() override;
    // Looks the window up: 0 when found, kNoWindow when the setting or the window is missing.
    int IsUnavailable() override;

private:
    Mutex m_mutex;
    HWND m_window = nullptr;
};

} // namespace corvanelib
