// The service tasks the main dialog runs when the user presses Start, behind one narrow
// interface so that the dialog can be exercised without a service control manager.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace corvane::console {

class IServiceTasks {
public:
    // The admission service's current status; 0, or the Windows error of the failing step.
    virtual DWORD CheckServiceStatus(SERVICE_STATUS& status) = 0;
    // 1 when the service is (now) set to start automatically or does not exist, else 0. The
    // thread's last error is left as the task left it: the caller reads it right after.
    virtual DWORD TryRepairCorvaneMgr() = 0;
    // Starts the service and waits up to `timeoutMs` until it runs; 0 when it runs, else the
    // Windows error of the failing step (ERROR_TIMEOUT when the wait ran out).
    virtual DWORD StartCorvaneMgr(DWORD timeoutMs) = 0;

protected:
    ~IServiceTasks() = default;
};

// The tasks of the support library on the real service "CorvaneMgr".
IServiceTasks& CorvaneServiceTasks();

} // namespace corvane::console
