// The service-control owners against the platform's service control manager, with a probe
// service that is registered, never started. What the platform cannot be brought to (a clock
// near its wrap, an old system version, a missing entry point, a scripted size query) comes
// from replacing the imported function for the length of one case.
#include "corvanelib/service/NTService.h"

#include "ImportHook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using corvane_test::ImportHook;
using corvane_test::Refuse;
using corvanelib::CNTService;
using corvanelib::CNTServiceControlManager;

namespace {

const wchar_t kName[] = L"CorvaneWrapperProbe";

bool IsOpen(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) != FALSE;
}
bool ManagerIsOpen(SC_HANDLE manager) {
    corvanelib::UniqueServiceHandle probe(OpenServiceW(manager, kName, SERVICE_QUERY_STATUS));
    return probe || GetLastError() != ERROR_INVALID_HANDLE;
}

class ServiceWrapper : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manager.Open(nullptr, SC_MANAGER_ALL_ACCESS)) << GetLastError();
        if (manager.OpenService(kName, DELETE, service)) {
            service.Delete();
        }
        ASSERT_TRUE(service.Create(manager, kName, kName, SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED,
                                   SERVICE_ERROR_IGNORE, L"C:\\corvane-probe-missing.exe", nullptr,
                                   nullptr, nullptr, nullptr, nullptr))
            << GetLastError();
    }
    void TearDown() override { service.Delete(); }

    CNTServiceControlManager manager;
    CNTService service;
};

TEST_F(ServiceWrapper, OwnershipAndTheCallsOnAStoppedService) {
    SC_HANDLE created = service.Detach();
    EXPECT_FALSE(service.Close());
    SC_HANDLE other = OpenServiceW(manager.GetHandle(), kName, SERVICE_QUERY_STATUS);
    {
        CNTService owner;
        EXPECT_TRUE(owner.Attach(created) && owner.Attach(created) && IsOpen(created));
        EXPECT_TRUE(owner.Attach(other) && !IsOpen(created));
        // A missing service leaves the target with what it held.
        EXPECT_FALSE(manager.OpenService(L"CorvaneNoSuchService", SERVICE_QUERY_STATUS, owner));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_TRUE(IsOpen(other));
    }
    EXPECT_FALSE(IsOpen(other));
    ASSERT_TRUE(manager.OpenService(kName, SERVICE_ALL_ACCESS, service));
    {
        // A refused reconnect leaves the object unconnected, the old connection closed.
        CNTServiceControlManager second;
        SC_HANDLE first = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        EXPECT_TRUE(second.Attach(first) && second.Attach(first) && ManagerIsOpen(first));
        ImportHook hook("advapi32.dll", "OpenSCManagerW",
                        &Refuse<ERROR_ACCESS_DENIED, SC_HANDLE, LPCWSTR, LPCWSTR, DWORD>);
        ASSERT_TRUE(hook.Installed());
        EXPECT_FALSE(second.Open(nullptr, SC_MANAGER_CONNECT));
        EXPECT_TRUE(second.GetHandle() == nullptr && !ManagerIsOpen(first));
    }

    corvanelib::ServiceBlock<QUERY_SERVICE_CONFIGW> config;
    ASSERT_TRUE(service.QueryConfig(config)) << GetLastError();
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"C:\\corvane-probe-missing.exe");
    std::wstring text = L"stale";
    ASSERT_TRUE(service.QueryDescription(text)) << GetLastError();
    EXPECT_EQ(text, L"");
    ASSERT_TRUE(service.SetDescription(L"Admission probe, \u00e9t\u00e9"));
    ASSERT_TRUE(service.QueryDescription(text));
    EXPECT_EQ(text, L"Admission probe, \u00e9t\u00e9");

    BOOL accepts[3] = {TRUE, TRUE, TRUE};
    EXPECT_TRUE(service.AcceptsStop(&accepts[0]) && service.AcceptsPauseContinue(&accepts[1]) &&
                service.AcceptsShutdown(&accepts[2]));
    EXPECT_FALSE(accepts[0] || accepts[1] || accepts[2]);
    EXPECT_FALSE(service.Stop() || service.Pause() || service.Continue() || service.Interrogate());
    SERVICE_STATUS_PROCESS process = {};
    EXPECT_TRUE(service.QueryStatusEx(&process));
    EXPECT_EQ(process.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(service.WaitForStop(0));
}

BOOL WINAPI OldVersion(OSVERSIONINFOW* info) {
    info->dwMajorVersion = 5;
    return TRUE;
}

// Counts the releases of a database lock.
int g_unlocks = 0;
BOOL(WINAPI* g_realUnlock)(SC_LOCK) = nullptr;
BOOL WINAPI CountedUnlock(SC_LOCK lock) {
    ++g_unlocks;
    return g_realUnlock(lock);
}

TEST(ServiceManager, LockOnlyBeforeVersion6AndAFailedRelockKeepsIt) {
    ImportHook unlock("advapi32.dll", "UnlockServiceDatabase", &CountedUnlock);
    ASSERT_TRUE(unlock.Installed());
    g_realUnlock = unlock.Original<decltype(g_realUnlock)>();
    CNTServiceControlManager current;
    ASSERT_TRUE(current.Open(nullptr, SC_MANAGER_ALL_ACCESS));
    EXPECT_TRUE(current.Lock() && current.Unlock());

    std::unique_ptr<CNTServiceControlManager> old;
    {
        ImportHook version("kernel32.dll", "GetVersionExW", &OldVersion);
        ASSERT_TRUE(version.Installed());
        old.reset(new CNTServiceControlManager());
    }
    ASSERT_TRUE(old->Open(nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(old->Lock()) << GetLastError();
    {
        ImportHook lock("advapi32.dll", "LockServiceDatabase",
                        &Refuse<ERROR_SERVICE_DATABASE_LOCKED, SC_LOCK, SC_HANDLE>);
        ASSERT_TRUE(lock.Installed());
        EXPECT_FALSE(old->Lock());
    }
    EXPECT_EQ(g_unlocks, 0);
    EXPECT_TRUE(old->Unlock() && old->Unlock());
    EXPECT_EQ(g_unlocks, 1);
    ASSERT_TRUE(old->Lock());
    old.reset();
    EXPECT_EQ(g_unlocks, 2);
}

// The size query answers `needed` with `firstError`; the query proper fails with
// ERROR_MORE_DATA and notes the size it was given.
DWORD g_needed, g_firstError, g_secondSize;
BOOL WINAPI ScriptedConfig2(SC_HANDLE, DWORD, LPBYTE buffer, DWORD size, LPDWORD needed) {
    if (buffer == nullptr) {
        *needed = g_needed;
        SetLastError(g_firstError);
        return g_firstError == 0;
    }
    g_secondSize = size;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
}

// The configuration query is the scripted one; the other extended calls are missing.
FARPROC WINAPI ScriptedLookUp(HMODULE, LPCSTR name) {
    return std::string(name) == "QueryServiceConfig2W"
               ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ScriptedConfig2))
               : nullptr;
}

TEST(ServiceBuffers, TwoCallPatternAndMissingExtendedCalls) {
    std::unique_ptr<CNTService> service;
    std::unique_ptr<CNTServiceControlManager> manager;
    {
        ImportHook hook("kernel32.dll", "GetProcAddress", &ScriptedLookUp);
        ASSERT_TRUE(hook.Installed());
        service.reset(new CNTService());
        manager.reset(new CNTServiceControlManager());
    }
    // A size query that succeeds, or fails for another reason than a short buffer, allocates
    // nothing; a query proper that fails still leaves the block, of the reported size, zeroed.
    corvanelib::ServiceBlock<SERVICE_FAILURE_ACTIONSW> actions;
    const struct {
        DWORD firstError, needed;
        BOOL result;
        DWORD error, secondSize;
    } cases[] = {{0, 0, TRUE, 0, 0},
                 {ERROR_ACCESS_DENIED, 0, FALSE, ERROR_ACCESS_DENIED, 0},
                 {ERROR_INSUFFICIENT_BUFFER, 333, FALSE, ERROR_MORE_DATA, 333}};
    for (const auto& c : cases) {
        g_firstError = c.firstError, g_needed = c.needed, g_secondSize = 0;
        EXPECT_EQ(service->QueryFailureActions(actions), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(g_secondSize, c.secondSize);
        EXPECT_EQ(static_cast<bool>(actions), c.secondSize != 0);
    }
    EXPECT_EQ(actions->cActions, 0u);

    const auto failsWith120 = [](BOOL result) {
        return result == FALSE && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
    };
    SERVICE_STATUS_PROCESS process = {};
    SERVICE_FAILURE_ACTIONSW set = {};
    EXPECT_TRUE(failsWith120(service->QueryStatusEx(&process)));
    EXPECT_TRUE(failsWith120(service->SetDescription(L"x")));
    EXPECT_TRUE(failsWith120(service->SetFailureActions(&set)));
    EXPECT_TRUE(failsWith120(
        manager->EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, nullptr, nullptr)));
}

// A clock that only the wait's sleeps move, and a service whose state the test sets.
struct ScriptedWait {
    DWORD now;
    int runningAtQuery, failAtQuery; // 0: never
    int queries, sleeps;
};
ScriptedWait g_wait;

DWORD WINAPI ScriptedTicks() {
    return g_wait.now;
}
void WINAPI ScriptedSleep(DWORD ms) {
    ++g_wait.sleeps;
    g_wait.now += ms;
}
BOOL WINAPI ScriptedStatus(SC_HANDLE, LPSERVICE_STATUS status) {
    if (++g_wait.queries == g_wait.failAtQuery) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *status = SERVICE_STATUS();
    status->dwCurrentState =
        g_wait.queries == g_wait.runningAtQuery ? SERVICE_RUNNING : SERVICE_START_PENDING;
    return TRUE;
}

TEST(ServiceWait, StateBeforeTheFirstSleepTimeOnlyAfterASleep) {
    ImportHook ticks("kernel32.dll", "GetTickCount", &ScriptedTicks);
    ImportHook sleep("kernel32.dll", "Sleep", &ScriptedSleep);
    ImportHook status("advapi32.dll", "QueryServiceStatus", &ScriptedStatus);
    ASSERT_TRUE(ticks.Installed() && sleep.Installed() && status.Installed());
    const struct {
        ScriptedWait script;
        DWORD timeout;
        BOOL result;
        DWORD error;
        int queries, sleeps;
    } cases[] = {
        // Never running, 5000 ms polled every 500 ms: eleven queries, eleven sleeps; the same
        // when the tick counter wraps during the wait.
        {{1000, 0, 0, 0, 0}, 5000, FALSE, ERROR_TIMEOUT, 11, 11},
        {{0xFFFFFF00u, 0, 0, 0, 0}, 5000, FALSE, ERROR_TIMEOUT, 11, 11},
        // Already running: no sleep. A time-out of 0 still sleeps once.
        {{0, 1, 0, 0, 0}, 5000, TRUE, 0, 1, 0},
        {{0, 0, 0, 0, 0}, 0, FALSE, ERROR_TIMEOUT, 1, 1},
        // Running at the fourth look, with no limit; a failing query ends the wait.
        {{0, 4, 0, 0, 0}, INFINITE, TRUE, 0, 4, 3},
        {{0, 0, 3, 0, 0}, 5000, FALSE, ERROR_INVALID_HANDLE, 3, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.script.now << " timeout " << c.timeout);
        g_wait = c.script;
        CNTService service;
        service.Attach(reinterpret_cast<SC_HANDLE>(0x1234));
        SetLastError(0);
        EXPECT_EQ(service.WaitForStatus(c.timeout, SERVICE_RUNNING, 500), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(g_wait.queries, c.queries);
        EXPECT_EQ(g_wait.sleeps, c.sleeps);
        service.Detach();
    }
}

// Collects names until it has `stopAfter`.
struct Collected {
    std::vector<std::wstring> names;
    size_t stopAfter;
};
template <typename Entry> BOOL Collect(void* context, const Entry* entry) {
    Collected* collected = static_cast<Collected*>(context);
    collected->names.push_back(entry->lpServiceName);
    return collected->names.size() < collected->stopAfter;
}

TEST_F(ServiceWrapper, EnumerationsHandOutEntriesUntilTheCallbackStops) {
    Collected all = {{}, SIZE_MAX}, first = {{}, 1}, firstEx = {{}, 1}, none = {{}, SIZE_MAX};
    EXPECT_TRUE(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &all,
                                     &Collect<ENUM_SERVICE_STATUSW>));
    EXPECT_TRUE(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &first,
                                     &Collect<ENUM_SERVICE_STATUSW>));
    EXPECT_TRUE(manager.EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, &firstEx,
                                       &Collect<ENUM_SERVICE_STATUS_PROCESSW>));
    // Nothing depends on the probe: the size query succeeds, the callback is never called.
    EXPECT_TRUE(
        service.EnumDependentServices(SERVICE_STATE_ALL, &none, &Collect<ENUM_SERVICE_STATUSW>));
    EXPECT_EQ(std::count(all.names.begin(), all.names.end(), kName), 1);
    EXPECT_EQ((std::vector<size_t>{first.names.size(), firstEx.names.size(), none.names.size()}),
              (std::vector<size_t>{1, 1, 0}));
}

} // namespace
