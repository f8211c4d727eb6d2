// What the log-view socket needs from the window that owns it: the two things its datagrams
// carry. The main dialog implements it.
#pragma once

#include <cstdint>

namespace corvane::console::socket {

class ILogViewOwner {
public:
    // A status report arrived with `status` (logview::kStatusRunning, kStatusStopped,
    // kStatusTrouble, or any other value the service sent). Any report at all shows that the
    // service is talking.
    virtual void OnStatusReport(std::uint32_t status) = 0;
    // Appends one line of the service's log (8-bit text in the system code page,
    // zero-terminated) to the log text.
    virtual void AppendLog(const char* text) = 0;

protected:
    ~ILogViewOwner() = default;
};

} // namespace corvane::console::socket
