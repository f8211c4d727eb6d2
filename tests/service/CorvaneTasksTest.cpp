// The service tasks against the platform's service control manager, with the stand-in
// admission service registered as "CorvaneMgr" in the variant each case needs. Rights that a
// test process always has here are taken away by refusing the import for the length of a case.
#include "corvanelib/service/CorvaneTasks.h"

#include "ImportHook.h"
#include "LogCapture.h"
#include "StandinService.h"
#include "corvanelib/service/NTService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using corvane_test::ImportHook;
using corvane_test::LogCapture;
using corvane_test::LogRecord;
using corvane_test::Refuse;
using corvane_test::StandinService;
using corvanelib::CNTService;
using corvanelib::CNTServiceControlManager;
namespace Tasks = corvanelib::CorvaneTasks;

namespace {

const wchar_t kStart[] = L"corvanelib::CorvaneTasks::StartCorvaneMgr";
const wchar_t kCheck[] = L"corvanelib::CorvaneTasks::CheckServiceStatus";
const wchar_t kRecovery[] = L"corvanelib::CorvaneTasks::configServiceAutoRestart";

// Registers "CorvaneMgr" for one case and removes it, stopped or killed, afterwards.
class CorvaneMgrTasks : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StandinService::RemoveExisting(), 0u); }
    void TearDown() override { standin.reset(); }

    void Install(DWORD startType, const std::wstring& arguments = L"") {
        standin.reset(new StandinService(arguments, startType));
        ASSERT_EQ(standin->InstallError(), 0u);
    }

    std::unique_ptr<StandinService> standin;
};

void ExpectOneRecord(const LogCapture& capture, const wchar_t* function, int level,
                     const std::wstring& message) {
    const std::vector<LogRecord> records = capture.RecordsOf(function);
    ASSERT_EQ(records.size(), 1u) << "records of " << testing::PrintToString(function);
    EXPECT_EQ(records[0].level, level);
    EXPECT_EQ(records[0].message, message);
    EXPECT_EQ(records[0].file, L"CorvaneTasks.cpp");
}

// Calls that go on to the platform, counted or recorded on the way.
struct Seen {
    int starts;
    int configChanges;
    SERVICE_FAILURE_ACTIONSW recovery;
    std::vector<SC_ACTION> actions;
    decltype(&::StartServiceW) realStart;
    decltype(&::ChangeServiceConfig2W) realChange2;
    decltype(&::ChangeServiceConfigW) realChange;
};
Seen g_seen;

BOOL WINAPI CountedStart(SC_HANDLE service, DWORD count, LPCWSTR* arguments) {
    ++g_seen.starts;
    return g_seen.realStart(service, count, arguments);
}

BOOL WINAPI RecordedChange2(SC_HANDLE service, DWORD level, LPVOID info) {
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        g_seen.recovery = *static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
        g_seen.actions.assign(g_seen.recovery.lpsaActions,
                              g_seen.recovery.lpsaActions + g_seen.recovery.cActions);
    }
    return g_seen.realChange2(service, level, info);
}

BOOL WINAPI CountedChange(SC_HANDLE service, DWORD type, DWORD start, DWORD error, LPCWSTR path,
                          LPCWSTR group, LPDWORD tag, LPCWSTR dependencies, LPCWSTR account,
                          LPCWSTR password, LPCWSTR display) {
    ++g_seen.configChanges;
    return g_seen.realChange(service, type, start, error, path, group, tag, dependencies, account,
                             password, display);
}

TEST_F(CorvaneMgrTasks, AlreadyRunningGetsRecoveryActionsButNoStartRequest) {
    Install(SERVICE_DEMAND_START);
    ASSERT_EQ(StandinService::Start(), 0u);
    ASSERT_TRUE(StandinService::WaitForState(SERVICE_RUNNING));

    g_seen = Seen();
    ImportHook start("advapi32.dll", "StartServiceW", &CountedStart);
    ImportHook change2("advapi32.dll", "ChangeServiceConfig2W", &RecordedChange2);
    ASSERT_TRUE(start.Installed() && change2.Installed());
    g_seen.realStart = start.Original<decltype(&::StartServiceW)>();
    g_seen.realChange2 = change2.Original<decltype(&::ChangeServiceConfig2W)>();

    LogCapture capture;
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), 0u);
    EXPECT_EQ(g_seen.starts, 0);
    EXPECT_TRUE(capture.Records().empty());

    // Wine accepts recovery actions but keeps none (its query answers ERROR_INVALID_LEVEL), so
    // the record is checked as the platform received it.
    EXPECT_EQ(g_seen.recovery.dwResetPeriod, 86400u);
    EXPECT_EQ(g_seen.recovery.lpRebootMsg, nullptr);
    EXPECT_EQ(g_seen.recovery.lpCommand, nullptr);
    std::wstring actions; // type/delay of each: restart twice after 30 s, then none
    for (const SC_ACTION& action : g_seen.actions) {
        actions += std::to_wstring(action.Type) + L"/" + std::to_wstring(action.Delay) + L" ";
    }
    EXPECT_EQ(actions, L"1/30000 1/30000 0/0 ");
}

TEST_F(CorvaneMgrTasks, DisabledServiceIsRepairedOnceAndThenStarts) {
    Install(SERVICE_DISABLED);
    LogCapture capture;
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    ExpectOneRecord(capture, kStart, 1, L"Can not Start Service, errno:1058!");

    EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 1u);
    EXPECT_EQ(StandinService::StartType(), static_cast<DWORD>(SERVICE_AUTO_START));
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

TEST_F(CorvaneMgrTasks, MissingServiceIsReportedByTheStartAndTheCheck) {
    LogCapture capture;
    SetLastError(0);
    EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 1u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    ExpectOneRecord(capture, kStart, 1, L"Can not Open Service for start, errno:1060!");
    EXPECT_TRUE(capture.RecordsOf(kRecovery).empty());

    SERVICE_STATUS status;
    std::memset(&status, 0xA5, sizeof(status));
    const SERVICE_STATUS before = status;
    EXPECT_EQ(Tasks::CheckServiceStatus(status), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(std::memcmp(&status, &before, sizeof(status)), 0);
    ExpectOneRecord(capture, kCheck, 2, L"Can not Open Service for start! error:1060\n");
}

TEST_F(CorvaneMgrTasks, ServiceThatNeverRunsTimesOutAndIsLeftStarting) {
    Install(SERVICE_DEMAND_START, L"--never-running");
    LogCapture capture;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Tasks::StartCorvaneMgr(1000), static_cast<DWORD>(ERROR_TIMEOUT));
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    ExpectOneRecord(capture, kStart, 1, L"Wait Service to Start Failed, errno:1460!");
    EXPECT_GE(elapsed, std::chrono::milliseconds(1000));
    EXPECT_LT(elapsed, std::chrono::seconds(60));
    EXPECT_EQ(StandinService::State(), static_cast<DWORD>(SERVICE_START_PENDING));
}

// A caller with too few rights: connecting with more than SC_MANAGER_CONNECT is refused.
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
    LogCapture capture;
    {
        ImportHook open("advapi32.dll", "OpenSCManagerW", &LimitedManager);
        ASSERT_TRUE(open.Installed());
        g_realOpenManager = open.Original<decltype(g_realOpenManager)>();

        // Without full rights: no repair, no recovery actions, but the status still reads.
        g_refusedAccess = ~static_cast<DWORD>(SC_MANAGER_CONNECT);
        SetLastError(0);
        EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(Tasks::configServiceAutoRestart(), 0u);
        SERVICE_STATUS status = {};
        EXPECT_EQ(Tasks::CheckServiceStatus(status), 0u);
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_TRUE(capture.Records().empty());

        // Without any connection.
        g_refusedAccess = 0xFFFFFFFF;
        EXPECT_EQ(Tasks::CheckServiceStatus(status), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        ExpectOneRecord(capture, kCheck, 2,
                        L"CNTServiceControlManager Open Failed, Can not connect to SCM! error:5\n");
        EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        ExpectOneRecord(capture, kStart, 1,
                        L"CNTServiceControlManager Open Failed, Can not connect to SCM, errno:5!");
    }
    capture.Clear();
    {
        // A failure that leaves no error code must not read as success.
        ImportHook open("advapi32.dll", "OpenSCManagerW",
                        &Refuse<ERROR_SUCCESS, SC_HANDLE, LPCWSTR, LPCWSTR, DWORD>);
        ASSERT_TRUE(open.Installed());
        SERVICE_STATUS status = {};
        EXPECT_EQ(Tasks::CheckServiceStatus(status), static_cast<DWORD>(ERROR_INTERNAL_ERROR));
        EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_INTERNAL_ERROR));
        ExpectOneRecord(
            capture, kStart, 1,
            L"CNTServiceControlManager Open Failed, Can not connect to SCM, errno:1359!");
    }
    capture.Clear();
    {
        ImportHook status("advapi32.dll", "QueryServiceStatus",
                          &Refuse<ERROR_INVALID_HANDLE, BOOL, SC_HANDLE, LPSERVICE_STATUS>);
        ASSERT_TRUE(status.Installed());
        SERVICE_STATUS out = {};
        EXPECT_EQ(Tasks::CheckServiceStatus(out), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        ExpectOneRecord(capture, kCheck, 2, L"Can not query service's status! error:6\n");
        EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        ExpectOneRecord(capture, kStart, 1, L"Can not query service's status, errno:6!");
    }
    capture.Clear();
    {
        ImportHook change2("advapi32.dll", "ChangeServiceConfig2W",
                           &Refuse<ERROR_ACCESS_DENIED, BOOL, SC_HANDLE, DWORD, LPVOID>);
        ASSERT_TRUE(change2.Installed());
        EXPECT_EQ(Tasks::configServiceAutoRestart(), 0u);
        ExpectOneRecord(capture, kRecovery, 3,
                        L"failed to set autorestart config when corvanemgr start failed, err:5");
    }
}

} // namespace
