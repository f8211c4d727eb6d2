// The service-control owners against the platform's service control manager, with a probe
// service that is registered, never started. What the platform cannot be brought to (a clock
// near its wrap, a missing entry point, a scripted size query) comes from replacing the
// imported function for the length of one case.
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

TEST_F(ServiceWrapper, AttachDetachOpenKeepOwnershipStraight) {
    SC_HANDLE created = service.Detach();
    EXPECT_FALSE(service.Close());
    SC_HANDLE other = OpenServiceW(manager.GetHandle(), kName, SERVICE_QUERY_STATUS);
    {
        CNTService owner;
        EXPECT_TRUE(owner.Attach(created) && owner.Attach(created));
        EXPECT_TRUE(IsOpen(created));
        EXPECT_TRUE(owner.Attach(other));
        EXPECT_FALSE(IsOpen(created));
        // A missing service leaves the target with what it held.
        EXPECT_FALSE(manager.OpenService(L"CorvaneNoSuchService", SERVICE_QUERY_STATUS, owner));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_EQ(owner.GetHandle(), other);
    }
    EXPECT_FALSE(IsOpen(other));
    ASSERT_TRUE(manager.OpenService(kName, SERVICE_ALL_ACCESS, service));

    CNTServiceControlManager second;
    SC_HANDLE first = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE next = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_TRUE(second.Attach(first) && second.Attach(first));
    EXPECT_TRUE(ManagerIsOpen(first));
    EXPECT_TRUE(second.Attach(next));
    EXPECT_FALSE(ManagerIsOpen(first));
    {
        // A refused reconnect leaves the object unconnected, the old connection closed.
        ImportHook hook("advapi32.dll", "OpenSCManagerW",
                        &Refuse<ERROR_ACCESS_DENIED, SC_HANDLE, LPCWSTR, LPCWSTR, DWORD>);
        ASSERT_TRUE(hook.Installed());
        EXPECT_FALSE(second.Open(nullptr, SC_MANAGER_CONNECT));
    }
    EXPECT_EQ(second.GetHandle(), nullptr);
    EXPECT_FALSE(ManagerIsOpen(next));

    // Descriptions read back, and read as empty when unset.
    std::wstring text = L"stale";
    ASSERT_TRUE(service.QueryDescription(text)) << GetLastError();
    EXPECT_EQ(text, L"");
    ASSERT_TRUE(service.SetDescription(L"Admission probe, \u00e9t\u00e9"));
    ASSERT_TRUE(service.QueryDescription(text));
    EXPECT_EQ(text, L"Admission probe, \u00e9t\u00e9");
}

BOOL WINAPI OldVersion(OSVERSIONINFOW* info) {
    info->dwMajorVersion = 5;
    return TRUE;
}

TEST(ServiceManager, LockOnlyBeforeVersion6AndAFailedRelockKeepsIt) {
    // The platform has ignored the database lock since major version 6: none is taken there.
    CNTServiceControlManager current;
    ASSERT_TRUE(current.Open(nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_GE(current.MajorVersion(), 6u);
    EXPECT_TRUE(current.Lock() && !current.HoldsLock() && current.Unlock());

    std::unique_ptr<CNTServiceControlManager> manager;
    {
        ImportHook version("kernel32.dll", "GetVersionExW", &OldVersion);
        ASSERT_TRUE(version.Installed());
        manager.reset(new CNTServiceControlManager());
    }
    ASSERT_TRUE(manager->Open(nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager->Lock()) << GetLastError();
    EXPECT_TRUE(manager->HoldsLock());
    {
        ImportHook lock("advapi32.dll", "LockServiceDatabase",
                        &Refuse<ERROR_SERVICE_DATABASE_LOCKED, SC_LOCK, SC_HANDLE>);
        ASSERT_TRUE(lock.Installed());
        EXPECT_FALSE(manager->Lock());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
    }
    EXPECT_TRUE(manager->HoldsLock());
    EXPECT_TRUE(manager->Unlock());
    EXPECT_FALSE(manager->HoldsLock());
}

// What the platform answers to the size query and to the query proper.
struct ScriptedQuery {
    BOOL firstResult;
    DWORD firstError, needed;
    BOOL secondResult;
    DWORD secondError;
    int calls;
    DWORD secondSize;
};
ScriptedQuery g_query;

BOOL WINAPI ScriptedConfig2(SC_HANDLE, DWORD, LPBYTE buffer, DWORD size, LPDWORD needed) {
    if (++g_query.calls == 1) {
        *needed = g_query.needed;
        SetLastError(g_query.firstError);
        return g_query.firstResult;
    }
    g_query.secondSize = buffer != nullptr ? size : 0;
    SetLastError(g_query.secondError);
    return g_query.secondResult;
}

// The configuration query is the scripted one; the other extended calls are missing.
FARPROC WINAPI ScriptedLookUp(HMODULE, LPCSTR name) {
    if (std::string(name) == "QueryServiceConfig2W") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ScriptedConfig2));
    }
    return nullptr;
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
    SERVICE_FAILURE_ACTIONSW* const untouched = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(8);
    SERVICE_FAILURE_ACTIONSW* actions = untouched;

    // A size query that succeeds, or fails for another reason than a short buffer, allocates
    // nothing and leaves the caller's pointer alone.
    g_query = {TRUE, 0, 0, FALSE, 0, 0, 0};
    EXPECT_TRUE(service->QueryFailureActions(&actions));
    g_query = {FALSE, ERROR_ACCESS_DENIED, 0, FALSE, 0, 0, 0};
    EXPECT_FALSE(service->QueryFailureActions(&actions));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(g_query.calls, 1);
    EXPECT_EQ(actions, untouched);

    // A query proper that fails still hands over the block, of the reported size, zeroed.
    g_query = {FALSE, ERROR_INSUFFICIENT_BUFFER, 333, FALSE, ERROR_MORE_DATA, 0, 0};
    actions = nullptr;
    EXPECT_FALSE(service->QueryFailureActions(&actions));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(g_query.secondSize, 333u);
    ASSERT_NE(actions, nullptr);
    EXPECT_EQ(actions->cActions, 0u);
    corvanelib::FreeBlock(actions);

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
    ASSERT_TRUE(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &all,
                                     &Collect<ENUM_SERVICE_STATUSW>))
        << GetLastError();
    ASSERT_GT(all.names.size(), 1u);
    EXPECT_NE(std::find(all.names.begin(), all.names.end(), kName), all.names.end());
    EXPECT_TRUE(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &first,
                                     &Collect<ENUM_SERVICE_STATUSW>));
    EXPECT_TRUE(manager.EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, &firstEx,
                                       &Collect<ENUM_SERVICE_STATUS_PROCESSW>));
    // Nothing depends on the probe: the size query succeeds, the callback is never called.
    EXPECT_TRUE(
        service.EnumDependentServices(SERVICE_STATE_ALL, &none, &Collect<ENUM_SERVICE_STATUSW>));
    EXPECT_EQ((std::vector<size_t>{first.names.size(), firstEx.names.size(), none.names.size()}),
              (std::vector<size_t>{1, 1, 0}));
}

} // namespace
