// The window messages of the console: the one a second start broadcasts and the private ones
// the main dialog chooses for its own sources of events.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace corvane::console {

// The registered "OrvexBrantelShowWindow" message: a second start broadcasts it, the running
// console's main dialog answers by coming to the front. Obtained once, when the process starts.
extern const UINT g_showWindowMessage;

// The log-view socket's network events, posted to the main dialog.
constexpr UINT kLogViewSocketMessage = WM_APP + 1;

} // namespace corvane::console
