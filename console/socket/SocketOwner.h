// What the log-view socket needs from the window that owns it: the three operations that
// status reports and log lines drive. The main dialog implements it; tests supply their own.
#pragma once

class ILogViewOwner {
public:
    // Shows the service state named by a status string id (106 running, 107 stopped,
    // 108 trouble).
    virtual void UpdateServiceStatus(int statusId) = 0;
    // A status report arrived: the pending report time-out no longer applies.
    virtual void CancelReportTimeout() = 0;
    // Appends one line of the service's log (8-bit text in the system code page,
    // zero-terminated) to the log text.
    virtual void AppendLog(const char* text) = 0;

protected:
    ~ILogViewOwner() = default;
};
