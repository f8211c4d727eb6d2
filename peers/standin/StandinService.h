// Registers the stand-in admission service (CorvaneMgrStandin.exe) as "CorvaneMgr" in the
// service control manager and controls it, for the tests and for the stand-in's own install,
// start and remove commands (peers/standin/standin runs them). There is one
// "CorvaneMgr" per machine: give every test that registers it the ctest property
// RESOURCE_LOCK corvanemgr.
//
// Under Wine, services live as long as the wineserver session: run inside the ctest session
// fixture (or between `scripts/wine-run --session-start` and `--session-stop`).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

namespace corvane::peers::standin {

class StandinService {
public:
    // Install(arguments, startType); the service is removed again when this object ends.
    explicit StandinService(const std::wstring& arguments = std::wstring(),
                            DWORD startType = SERVICE_DEMAND_START)
        : m_installError(Install(arguments, startType)) {}
    ~StandinService() { RemoveExisting(); }
    StandinService(const StandinService&) = delete;
    StandinService& operator=(const StandinService&) = delete;

    DWORD InstallError() const { return m_installError; }

    // The operations below act on whatever is registered as "CorvaneMgr". Results are 0 or
    // the Windows error code.
    // Removes whatever "CorvaneMgr" is registered, then registers the stand-in with `arguments`
    // on its command line ("--never-running" keeps it start-pending until stopped).
    static DWORD Install(const std::wstring& arguments, DWORD startType);
    static DWORD Start();
    // The current state (SERVICE_RUNNING, ...), or 0 when it cannot be queried.
    static DWORD State();
    static bool WaitForState(DWORD state, DWORD boundMs = 30000);
    // The registered start type, or SERVICE_NO_CHANGE when it cannot be read.
    static DWORD StartType();
    // Stops the service (waiting for it a while) and deletes it; 0
    // once the name is free again, also when nothing was registered.
    static DWORD RemoveExisting();

private:
    DWORD m_installError;
};

} // namespace corvane::peers::standin
