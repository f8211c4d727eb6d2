// Service tasks on the admission service "CorvaneMgr". Each task opens what it needs, does one
// job and closes everything again before it returns; none keeps state between calls. They run
// on the caller's thread and block it (StartCorvaneMgr for up to its time-out and a poll or two).
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace corvanelib {
namespace CorvaneTasks {

// Name of the admission service in the service control manager.
extern const wchar_t kCorvaneServiceName[];
// How often StartCorvaneMgr looks whether the service runs yet.
const DWORD kStartPollIntervalMs = 500;

// Reads the service's current status into `status`. Returns 0, or the Windows error of the
// step that failed (logged); `status` is untouched when the manager or the service cannot be
// opened.
DWORD CheckServiceStatus(SERVICE_STATUS& status);

// Makes sure the service starts automatically. Returns 1 when it does (now), or when the
// service does not exist; 0 when the manager or the service cannot be opened for another
// reason or the change fails. Logs nothing: the caller reads the last error right after the
// call, which is left as the platform calls left it (122 when nothing needed changing).
DWORD TryRepairCorvaneMgr();

// Sets the recovery actions, starts the service unless it runs already and waits until it
// runs; a service that is already starting is waited for, one that is still stopping is
// started again once it has stopped. Returns 0 when it runs, otherwise the Windows error of the
// step that failed (logged), ERROR_TIMEOUT when it did not reach running within `timeoutMs`
// (plus one poll, two when it waited for a stop first).
DWORD StartCorvaneMgr(DWORD timeoutMs);

// Has the platform restart the service 30 s after its first and second failure (counters reset
// after a day), and leave it after the third. Best effort: always returns 0; a refused change is
// logged, a manager or service that cannot be opened is not.
DWORD configServiceAutoRestart();

} // namespace CorvaneTasks
} // namespace corvanelib
