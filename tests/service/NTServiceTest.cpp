// The service-control owners against the platform's service control manager. The services
// made here are registered only, never started: their program need not exist. Where the
// platform cannot be brought to a state (a clock near its wrap, a missing entry point, an old
// version), the test replaces the imported function for the length of one case.
#include "corvanelib/service/NTService.h"

#include "ImportHook.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using corvane_test::ImportHook;
using corvanelib::CNTService;
using corvanelib::CNTServiceControlManager;

namespace {

const wchar_t kName[] = L"CorvaneWrapperProbe";
const wchar_t kBinary[] = L"C:\\windows\\system32\\corvane-probe-missing.exe";

// A handle is open while the manager still accepts it.
bool IsOpen(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) != FALSE;
}

bool ManagerIsOpen(SC_HANDLE manager) {
    SC_HANDLE probe = OpenServiceW(manager, kName, SERVICE_QUERY_STATUS);
    if (probe != nullptr) {
        CloseServiceHandle(probe);
        return true;
    }
    return GetLastError() != ERROR_INVALID_HANDLE;
}

// Registers the probe service (disabled, own process) for one test and removes it afterwards.
class ServiceWrapper : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manager.Open(nullptr, SC_MANAGER_ALL_ACCESS)) << GetLastError();
        CNTService stale;
        if (manager.OpenService(kName, DELETE, stale)) {
            stale.Delete();
        }
        ASSERT_TRUE(service.Create(manager, kName, L"Corvane wrapper probe", SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED,
                                   SERVICE_ERROR_IGNORE, kBinary, nullptr, nullptr, nullptr,
                                   nullptr, nullptr))
            << GetLastError();
    }
    void TearDown() override { service.Delete(); }

    CNTServiceControlManager manager;
    CNTService service;
};

SC_HANDLE WINAPI RefusedManager(LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

BOOL WINAPI OldVersion(OSVERSIONINFOW* info) {
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    return TRUE;
}

TEST(ServiceManager, ConnectionLockAndAttach) {
    CNTServiceControlManager manager;
    EXPECT_FALSE(manager.Close());
    ASSERT_TRUE(manager.Open(nullptr, SC_MANAGER_CONNECT));

    // The platform has ignored the database lock since major version 6: none is taken there.
    ASSERT_GE(manager.MajorVersion(), 6u);
    EXPECT_TRUE(manager.Lock());
    EXPECT_FALSE(manager.HoldsLock());
    EXPECT_TRUE(manager.Unlock());

    SC_HANDLE first = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE second = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(manager.Attach(first));
    EXPECT_TRUE(manager.Attach(first));
    EXPECT_TRUE(ManagerIsOpen(first));
    EXPECT_TRUE(manager.Attach(second));
    EXPECT_FALSE(ManagerIsOpen(first));

    // A refused reconnect leaves the object unconnected, the old connection closed.
    {
        ImportHook hook("advapi32.dll", "OpenSCManagerW", &RefusedManager);
        ASSERT_TRUE(hook.Installed());
        EXPECT_FALSE(manager.Open(nullptr, SC_MANAGER_CONNECT));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(manager.GetHandle(), nullptr);
    EXPECT_FALSE(ManagerIsOpen(second));
}

TEST(ServiceManager, OlderVersionsTakeARealLock) {
    ImportHook hook("kernel32.dll", "GetVersionExW", &OldVersion);
    ASSERT_TRUE(hook.Installed());
    CNTServiceControlManager manager;
    ASSERT_TRUE(manager.Open(nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager.Lock()) << GetLastError();
    EXPECT_TRUE(manager.HoldsLock());
    EXPECT_TRUE(manager.Unlock());
    EXPECT_FALSE(manager.HoldsLock());
    EXPECT_TRUE(manager.Unlock());
}

TEST_F(ServiceWrapper, AttachDetachAndOpenServiceKeepOwnershipStraight) {
    SC_HANDLE created = service.Detach();
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(service.Close());
    SC_HANDLE other = OpenServiceW(manager.GetHandle(), kName, SERVICE_QUERY_STATUS);
    ASSERT_NE(other, nullptr);
    {
        CNTService owner;
        EXPECT_TRUE(owner.Attach(created));
        EXPECT_TRUE(owner.Attach(created));
        EXPECT_TRUE(IsOpen(created));
        EXPECT_TRUE(owner.Attach(other));
        EXPECT_FALSE(IsOpen(created));

        // A missing service leaves the target with what it held.
        EXPECT_FALSE(manager.OpenService(L"CorvaneNoSuchService", SERVICE_QUERY_STATUS, owner));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_EQ(owner.GetHandle(), other);
        EXPECT_TRUE(IsOpen(other));
    }
    EXPECT_FALSE(IsOpen(other));
    ASSERT_TRUE(manager.OpenService(kName, SERVICE_ALL_ACCESS, service));
}

TEST_F(ServiceWrapper, ConfigurationAndDescriptionReadBack) {
    QUERY_SERVICE_CONFIGW* config = nullptr;
    ASSERT_TRUE(service.QueryConfig(&config)) << GetLastError();
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DISABLED));
    corvanelib::FreeBlock(config);
    ASSERT_TRUE(service.ChangeConfig(SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    config = nullptr;
    ASSERT_TRUE(service.QueryConfig(&config));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
    EXPECT_STREQ(config->lpBinaryPathName, kBinary);
    corvanelib::FreeBlock(config);

    std::wstring text = L"stale";
    ASSERT_TRUE(service.QueryDescription(text)) << GetLastError();
    EXPECT_EQ(text, L"");
    ASSERT_TRUE(service.SetDescription(L"Admission probe, \u00e9t\u00e9"));
    ASSERT_TRUE(service.QueryDescription(text));
    EXPECT_EQ(text, L"Admission probe, \u00e9t\u00e9");

    // Rights the handle lacks, and a start the configuration forbids.
    CNTService limited;
    ASSERT_TRUE(manager.OpenService(kName, SERVICE_QUERY_CONFIG, limited));
    EXPECT_FALSE(limited.WaitForStatus(1000, SERVICE_RUNNING, 10));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(service.ChangeConfig(SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    EXPECT_FALSE(service.Start(0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
}

// The size query, then the query proper, scripted: what the platform answers to each.
struct ScriptedQuery {
    BOOL firstResult = FALSE;
    DWORD firstError = ERROR_INSUFFICIENT_BUFFER;
    DWORD needed = 0;
    BOOL secondResult = TRUE;
    DWORD secondError = 0;
    int calls = 0;
    DWORD secondSize = 0;
    bool secondHadBuffer = false;
};
ScriptedQuery g_query;

BOOL WINAPI ScriptedConfig2(SC_HANDLE, DWORD, LPBYTE buffer, DWORD size, LPDWORD needed) {
    if (++g_query.calls == 1) {
        *needed = g_query.needed;
        SetLastError(g_query.firstError);
        return g_query.firstResult;
    }
    g_query.secondSize = size;
    g_query.secondHadBuffer = buffer != nullptr;
    SetLastError(g_query.secondError);
    return g_query.secondResult;
}

// Only the query is looked up; the other extended calls are missing.
FARPROC WINAPI WithScriptedConfig2(HMODULE, LPCSTR name) {
    if (std::string(name) == "QueryServiceConfig2W") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ScriptedConfig2));
    }
    return nullptr;
}

FARPROC WINAPI WithoutExtendedCalls(HMODULE, LPCSTR) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

TEST(ServiceBuffers, TwoCallPatternHandsTheBlockToTheCaller) {
    std::unique_ptr<CNTService> service;
    {
        ImportHook hook("kernel32.dll", "GetProcAddress", &WithScriptedConfig2);
        ASSERT_TRUE(hook.Installed());
        service.reset(new CNTService());
    }
    SERVICE_FAILURE_ACTIONSW* const untouched = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(8);

    // A size query that succeeds: its result, and the caller's pointer is not written.
    g_query = ScriptedQuery();
    g_query.firstResult = TRUE;
    SERVICE_FAILURE_ACTIONSW* actions = untouched;
    EXPECT_TRUE(service->QueryFailureActions(&actions));
    EXPECT_EQ(actions, untouched);
    EXPECT_EQ(g_query.calls, 1);

    // Another failure than a short buffer: FALSE with that error, nothing allocated.
    g_query = ScriptedQuery();
    g_query.firstError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(service->QueryFailureActions(&actions));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(actions, untouched);
    EXPECT_EQ(g_query.calls, 1);

    // A second call that fails still leaves the block, of exactly the reported size, with the
    // caller, zeroed rather than holding stale heap bytes.
    g_query = ScriptedQuery();
    g_query.needed = 333;
    g_query.secondResult = FALSE;
    g_query.secondError = ERROR_MORE_DATA;
    actions = nullptr;
    EXPECT_FALSE(service->QueryFailureActions(&actions));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(g_query.secondSize, 333u);
    EXPECT_TRUE(g_query.secondHadBuffer);
    ASSERT_NE(actions, nullptr);
    EXPECT_EQ(actions->cActions, 0u);
    corvanelib::FreeBlock(actions);

    // The description takes its internal block and frees it.
    g_query = ScriptedQuery();
    g_query.needed = sizeof(SERVICE_DESCRIPTIONW);
    std::wstring text = L"kept";
    EXPECT_TRUE(service->QueryDescription(text));
    EXPECT_EQ(text, L"");
}

TEST(ServiceBuffers, MissingExtendedCallsFailWithCallNotImplemented) {
    ImportHook hook("kernel32.dll", "GetProcAddress", &WithoutExtendedCalls);
    ASSERT_TRUE(hook.Installed());
    CNTServiceControlManager manager;
    CNTService service;
    std::wstring text;
    SERVICE_STATUS_PROCESS process = {};
    SERVICE_FAILURE_ACTIONSW* actions = nullptr;
    SERVICE_FAILURE_ACTIONSW set = {};
    const auto failsWith120 = [](BOOL result) {
        return result == FALSE && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
    };
    EXPECT_TRUE(failsWith120(service.QueryStatusEx(&process)));
    EXPECT_TRUE(failsWith120(service.QueryDescription(text)));
    EXPECT_TRUE(failsWith120(service.SetDescription(L"x")));
    EXPECT_TRUE(failsWith120(service.QueryFailureActions(&actions)));
    EXPECT_TRUE(failsWith120(service.SetFailureActions(&set)));
    EXPECT_TRUE(failsWith120(
        manager.EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, nullptr, nullptr)));
    EXPECT_EQ(actions, nullptr);
}

// A clock that only the wait's sleeps move, and a service whose state the test sets.
struct ScriptedWait {
    DWORD now = 0;
    int sleeps = 0;
    int queries = 0;
    int runningAtQuery = 0; // 0: never
    int failAtQuery = 0;    // 0: never
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
    ++g_wait.queries;
    if (g_wait.queries == g_wait.failAtQuery) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *status = SERVICE_STATUS();
    status->dwCurrentState =
        g_wait.queries == g_wait.runningAtQuery ? SERVICE_RUNNING : SERVICE_START_PENDING;
    return TRUE;
}

struct WaitCase {
    DWORD start;
    DWORD timeout;
    int runningAt;
    int failAt;
    BOOL result;
    DWORD error;
    int queries;
    int sleeps;
};

TEST(ServiceWait, StateBeforeTheFirstSleepTimeOnlyAfterASleep) {
    ImportHook ticks("kernel32.dll", "GetTickCount", &ScriptedTicks);
    ImportHook sleep("kernel32.dll", "Sleep", &ScriptedSleep);
    ImportHook status("advapi32.dll", "QueryServiceStatus", &ScriptedStatus);
    ASSERT_TRUE(ticks.Installed() && sleep.Installed() && status.Installed());

    const WaitCase cases[] = {
        // Never running, 5000 ms polled every 500 ms: eleven queries, eleven sleeps.
        {1000, 5000, 0, 0, FALSE, ERROR_TIMEOUT, 11, 11},
        // The same across the wrap of the tick counter.
        {0xFFFFFF00u, 5000, 0, 0, FALSE, ERROR_TIMEOUT, 11, 11},
        // Already running: no sleep at all.
        {0, 5000, 1, 0, TRUE, 0, 1, 0},
        // A time-out of 0 still sleeps once.
        {0, 0, 0, 0, FALSE, ERROR_TIMEOUT, 1, 1},
        // Running at the fourth look, with no limit.
        {0, INFINITE, 4, 0, TRUE, 0, 4, 3},
        // A failing query ends the wait with its own error.
        {0, 5000, 0, 3, FALSE, ERROR_INVALID_HANDLE, 3, 2},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " timeout " << c.timeout);
        g_wait = ScriptedWait();
        g_wait.now = c.start;
        g_wait.runningAtQuery = c.runningAt;
        g_wait.failAtQuery = c.failAt;
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

struct Collected {
    std::vector<std::wstring> names;
    size_t stopAfter = SIZE_MAX;
};

template <typename Entry> BOOL Collect(void* context, const Entry* entry) {
    Collected* collected = static_cast<Collected*>(context);
    collected->names.push_back(entry->lpServiceName);
    return collected->names.size() < collected->stopAfter;
}

bool Contains(const std::vector<std::wstring>& names, const wchar_t* name) {
    for (const std::wstring& n : names) {
        if (_wcsicmp(n.c_str(), name) == 0) {
            return true;
        }
    }
    return false;
}

TEST_F(ServiceWrapper, EnumerationsHandOutEntriesUntilTheCallbackStops) {
    Collected all;
    ASSERT_TRUE(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &all,
                                     &Collect<ENUM_SERVICE_STATUSW>))
        << GetLastError();
    EXPECT_TRUE(Contains(all.names, kName));
    ASSERT_GT(all.names.size(), 1u);
    Collected first;
    first.stopAfter = 1;
    EXPECT_TRUE(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &first,
                                     &Collect<ENUM_SERVICE_STATUSW>));
    ASSERT_EQ(first.names.size(), 1u);
    EXPECT_EQ(first.names[0], all.names[0]);

    Collected allEx;
    ASSERT_TRUE(manager.EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, &allEx,
                                       &Collect<ENUM_SERVICE_STATUS_PROCESSW>))
        << GetLastError();
    EXPECT_TRUE(Contains(allEx.names, kName));
    Collected firstEx;
    firstEx.stopAfter = 1;
    EXPECT_TRUE(manager.EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, &firstEx,
                                       &Collect<ENUM_SERVICE_STATUS_PROCESSW>));
    EXPECT_EQ(firstEx.names.size(), 1u);

    // Nothing depends on the probe: the size query succeeds, the callback is never called.
    Collected none;
    EXPECT_TRUE(
        service.EnumDependentServices(SERVICE_STATE_ALL, &none, &Collect<ENUM_SERVICE_STATUSW>))
        << GetLastError();
    EXPECT_TRUE(none.names.empty());
}

} // namespace
