// The service tasks against the platform's service control manager, with the stand-in
// admission service registered as "CorvaneMgr" in the variant each case needs. Rights that a
// test process always has here are taken away by refusing the import for the length of a case.
#include "corvanelib/service/CorvaneTasks.h"

#include "ImportHook.h"
#include "LogCapture.h"
#include "StandinService.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using corvane_test::ImportHook;
using corvane_test::LogCapture;
using corvane_test::Refuse;
using corvane_test::StandinService;
namespace Tasks = corvanelib::CorvaneTasks;

namespace {

const wchar_t kStart[] = L"corvanelib::CorvaneTasks::StartCorvaneMgr";
const wchar_t kCheck[] = L"corvanelib::CorvaneTasks::CheckServiceStatus";
const wchar_t kRecovery[] = L"corvanelib::CorvaneTasks::configServiceAutoRestart";

// Registers "CorvaneMgr" for one case and removes it, stopped or killed, afterwards.
class CorvaneMgrTasks : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StandinService::RemoveExisting(), 0u); }

    void Install(DWORD startType, const std::wstring& arguments = L"") {
        standin.reset(new StandinService(arguments, startType));
        ASSERT_EQ(standin->InstallError(), 0u);
    }
    // The one record of `function` since the last look, as "level message".
    std::wstring OnlyRecord(const wchar_t* function) {
        const auto records = capture.RecordsOf(function);
        capture.Clear();
        EXPECT_EQ(records.size(), 1u) << testing::PrintToString(function);
        return records.empty() || records[0].file != L"CorvaneTasks.cpp"
                   ? L"none"
                   : std::to_wstring(records[0].level) + L" " + records[0].message;
    }

    std::unique_ptr<StandinService> standin;
    LogCapture capture;
};

// Calls that go on to the platform, counted or recorded on the way. The extended calls are
// looked up by name: the look-up hands out the recording one, or none.
struct Seen {
    int starts, configChanges;
    std::wstring recovery;
    bool missing;
    decltype(&::StartServiceW) realStart;
    decltype(&::ChangeServiceConfigW) realChange;
    decltype(&::GetProcAddress) realLookUp;
};
Seen g_seen;

BOOL WINAPI CountedStart(SC_HANDLE service, DWORD count, LPCWSTR* arguments) {
    ++g_seen.starts;
    return g_seen.realStart(service, count, arguments);
}
BOOL WINAPI CountedChange(SC_HANDLE service, DWORD type, DWORD start, DWORD error, LPCWSTR path,
                          LPCWSTR group, LPDWORD tag, LPCWSTR dependencies, LPCWSTR account,
                          LPCWSTR password, LPCWSTR display) {
    ++g_seen.configChanges;
    return g_seen.realChange(service, type, start, error, path, group, tag, dependencies, account,
                             password, display);
}
// Wine accepts recovery actions but keeps none, so they are checked as the platform gets them.
BOOL WINAPI RecordedChange2(SC_HANDLE, DWORD level, LPVOID info) {
    const auto* actions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
    g_seen.recovery = std::to_wstring(level) + L": " + std::to_wstring(actions->dwResetPeriod) +
                      (actions->lpRebootMsg || actions->lpCommand ? L" texts" : L"");
    for (DWORD i = 0; i < actions->cActions; ++i) {
        g_seen.recovery += L" " + std::to_wstring(actions->lpsaActions[i].Type) + L"/" +
                           std::to_wstring(actions->lpsaActions[i].Delay);
    }
    return TRUE;
}
FARPROC WINAPI LookUp(HMODULE module, LPCSTR name) {
    if (std::strcmp(name, "ChangeServiceConfig2W") != 0) {
        return g_seen.realLookUp(module, name);
    }
    return g_seen.missing
               ? nullptr
               : reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&RecordedChange2));
}

TEST_F(CorvaneMgrTasks, StartingOrRunningGetsRecoveryActionsAndNoFailedStart) {
    g_seen = Seen();
    ImportHook start("advapi32.dll", "StartServiceW", &CountedStart);
    ImportHook lookUp("kernel32.dll", "GetProcAddress", &LookUp);
    ASSERT_TRUE(start.Installed() && lookUp.Installed());
    g_seen.realStart = start.Original<decltype(&::StartServiceW)>();
    g_seen.realLookUp = lookUp.Original<decltype(&::GetProcAddress)>();

    // Still starting: the start request is answered 1056, and the wait sees the start through.
    Install(SERVICE_DEMAND_START, L"--start-delay=5000");
    ASSERT_EQ(StandinService::Start(), 0u);
    EXPECT_EQ(Tasks::StartCorvaneMgr(60000), 0u);
    EXPECT_EQ(g_seen.starts, 2);
    EXPECT_EQ(StandinService::State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(g_seen.recovery, L"2: 86400 1/30000 1/30000 0/0");
    // Running: no start request at all.
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), 0u);
    EXPECT_EQ(g_seen.starts, 2);
    EXPECT_TRUE(capture.Records().empty());

    g_seen.missing = true;
    EXPECT_EQ(Tasks::configServiceAutoRestart(), 0u);
    EXPECT_EQ(OnlyRecord(kRecovery),
              L"3 failed to set autorestart config when corvanemgr start failed, err:120");
}

TEST_F(CorvaneMgrTasks, DisabledServiceIsRepairedOnceAndThenStarts) {
    Install(SERVICE_DISABLED);
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    EXPECT_EQ(OnlyRecord(kStart), L"1 Can not Start Service, errno:1058!");

    EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 1u);
    {
        // Already automatic: nothing changes, the size query's error is left behind.
        g_seen = Seen();
        ImportHook change("advapi32.dll", "ChangeServiceConfigW", &CountedChange);
        ASSERT_TRUE(change.Installed());
        g_seen.realChange = change.Original<decltype(&::ChangeServiceConfigW)>();
        SetLastError(0);
        EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 1u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(g_seen.configChanges, 0);
    }
    // A loaded machine may need longer than the console's 5 s to run a new process.
    EXPECT_EQ(Tasks::StartCorvaneMgr(60000), 0u);
    EXPECT_EQ(StandinService::State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(CorvaneMgrTasks, MissingOrNeverRunningServiceIsReported) {
    SetLastError(0);
    EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 1u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(OnlyRecord(kStart), L"1 Can not Open Service for start, errno:1060!");
    SERVICE_STATUS status;
    std::memset(&status, 0xA5, sizeof(status));
    EXPECT_EQ(Tasks::CheckServiceStatus(status), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(status.dwCurrentState, 0xA5A5A5A5u);
    EXPECT_EQ(OnlyRecord(kCheck), L"2 Can not Open Service for start! error:1060\n");

    // The service is left starting.
    Install(SERVICE_DEMAND_START, L"--never-running");
    EXPECT_EQ(Tasks::StartCorvaneMgr(1000), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(OnlyRecord(kStart), L"1 Wait Service to Start Failed, errno:1460!");
    EXPECT_EQ(StandinService::State(), static_cast<DWORD>(SERVICE_START_PENDING));
}

// A caller with too few rights: connecting with any right in `g_refusedAccess` is refused.
SC_HANDLE(WINAPI* g_realOpenManager)(LPCWSTR, LPCWSTR, DWORD) = nullptr;
DWORD g_refusedAccess = 0;
SC_HANDLE WINAPI LimitedManager(LPCWSTR machine, LPCWSTR database, DWORD access) {
    if ((access & g_refusedAccess) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return g_realOpenManager(machine, database, access);
}

TEST_F(CorvaneMgrTasks, FailuresAreLoggedWithTheCodeTheyReturn) {
    Install(SERVICE_DEMAND_START);
    {
        ImportHook open("advapi32.dll", "OpenSCManagerW", &LimitedManager);
        ASSERT_TRUE(open.Installed());
        g_realOpenManager = open.Original<decltype(g_realOpenManager)>();

        // Without full rights: no repair, but the status still reads.
        g_refusedAccess = ~static_cast<DWORD>(SC_MANAGER_CONNECT);
        SetLastError(0);
        EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        SERVICE_STATUS status = {};
        EXPECT_EQ(Tasks::CheckServiceStatus(status), 0u);
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_TRUE(capture.Records().empty());

        // Without any connection.
        g_refusedAccess = 0xFFFFFFFF;
        EXPECT_EQ(Tasks::configServiceAutoRestart(), 0u);
        EXPECT_EQ(Tasks::CheckServiceStatus(status), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(OnlyRecord(kCheck),
                  L"2 CNTServiceControlManager Open Failed, Can not connect to SCM! error:5\n");
        EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(OnlyRecord(kStart),
                  L"1 CNTServiceControlManager Open Failed, Can not connect to SCM, errno:5!");
    }
    {
        // A failure that leaves no error code must not read as success.
        ImportHook open("advapi32.dll", "OpenSCManagerW",
                        &Refuse<ERROR_SUCCESS, SC_HANDLE, LPCWSTR, LPCWSTR, DWORD>);
        ASSERT_TRUE(open.Installed());
        EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_INTERNAL_ERROR));
        capture.Clear();
    }
    ImportHook status("advapi32.dll", "QueryServiceStatus",
                      &Refuse<ERROR_INVALID_HANDLE, BOOL, SC_HANDLE, LPSERVICE_STATUS>);
    ASSERT_TRUE(status.Installed());
    SERVICE_STATUS out = {};
    EXPECT_EQ(Tasks::CheckServiceStatus(out), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OnlyRecord(kCheck), L"2 Can not query service's status! error:6\n");
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OnlyRecord(kStart), L"1 Can not query service's status, errno:6!");
}

} // namespace
