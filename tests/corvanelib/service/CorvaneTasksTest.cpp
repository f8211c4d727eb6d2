// The service tasks against the platform's service control manager, with the stand-in
// admission service registered as "CorvaneMgr" in the variant each case needs. Rights that a
// test process always has here are taken away by refusing the import for the length of a block.
#include "corvanelib/service/CorvaneTasks.h"

#include "corvanelib/Win32/UniqueHandle.h"
#include "peers/standin/StandinService.h"
#include "tests/support/ImportHook.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using corvane::peers::standin::StandinService;
using namespace corvane::tests::support;
namespace Tasks = corvanelib::CorvaneTasks;

namespace {

// The records written since the last look, each as "level message|".
std::wstring Take(LogCapture& capture) {
    std::wstring text;
    for (const auto& record : capture.RecordsOf()) {
        text += std::to_wstring(record.level) + L" " + record.message + L"|";
    }
    capture.Clear();
    return text;
}

TEST(CorvaneMgrTasks, DisabledIsRepairedAndAStartingOrStoppingServiceIsWaitedFor) {
    StandinService standin(L"--start-delay=5000 --stop-delay=4000", SERVICE_DISABLED);
    ASSERT_EQ(standin.InstallError(), 0u);
    LogCapture capture;
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    EXPECT_EQ(Take(capture), L"1 Can not Start Service, errno:1058!|");
    EXPECT_EQ(Tasks::TryRepairCorvaneMgr(), 1u);

    // Still starting: the start request is answered 1056 and the wait sees the start through
    // (a loaded machine may need longer than the console's 5 s to run a new process).
    ASSERT_EQ(StandinService::Start(), 0u);
    EXPECT_FALSE(Tasks::StartCorvaneMgr(60000) || Tasks::StartCorvaneMgr(5000));
    EXPECT_EQ(Take(capture), L"");

    // Start right after the service let go of its stop event: still stopping, the start request
    // is answered 1056 too; the service is started again once it has stopped.
    corvanelib::UniqueKernelHandle stop(
        OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\CorvaneServiceStopEvent"));
    ASSERT_TRUE(stop && SetEvent(stop.get()));
    ASSERT_TRUE(StandinService::WaitForState(SERVICE_STOP_PENDING));
    EXPECT_EQ(Tasks::StartCorvaneMgr(60000), 0u);
    EXPECT_EQ(Take(capture), L"");
    EXPECT_EQ(StandinService::State(), static_cast<DWORD>(SERVICE_RUNNING));
}

// Each task's result on the registered service, then the records: "check <code> <state>,
// repair <result> <last error>, start <code>: <records>".
std::wstring Outcome(LogCapture& capture) {
    SERVICE_STATUS status;
    std::memset(&status, 0xA5, sizeof(status));
    std::wstring text = L"check " + std::to_wstring(Tasks::CheckServiceStatus(status));
    text += L" " + std::to_wstring(status.dwCurrentState) + L", repair ";
    text += std::to_wstring(Tasks::TryRepairCorvaneMgr());
    text += L" " + std::to_wstring(GetLastError()) + L", start ";
    text += std::to_wstring(Tasks::StartCorvaneMgr(1000)) + L": ";
    return text + Take(capture);
}

TEST(CorvaneMgrTasks, FailuresAreLoggedWithTheCodeTheyReturn) {
    ASSERT_EQ(0u, StandinService::RemoveExisting()); // one a killed run left behind
    LogCapture capture;
    EXPECT_EQ(Outcome(capture), L"check 1060 2779096485, repair 1 1060, start 1060: "
                                L"2 Can not Open Service for start! error:1060\n|"
                                L"1 Can not Open Service for start, errno:1060!|");
    // A service that never runs is left starting. Its start type is automatic already: the
    // repair changes nothing and leaves the size query's error behind.
    StandinService standin(L"--never-running", SERVICE_AUTO_START);
    ASSERT_EQ(standin.InstallError(), 0u);
    EXPECT_EQ(Outcome(capture), L"check 0 1, repair 1 122, start 1460: "
                                L"1 Wait Service to Start Failed, errno:1460!|");
    EXPECT_EQ(StandinService::State(), static_cast<DWORD>(SERVICE_START_PENDING));
    // Refused calls; at the end, a failure that leaves no error code must not read as success.
    {
        ImportHook hook(&::QueryServiceStatus,
                        &Refuse<ERROR_INVALID_HANDLE, BOOL, SC_HANDLE, LPSERVICE_STATUS>);
        EXPECT_EQ(Outcome(capture), L"check 6 0, repair 1 122, start 6: "
                                    L"2 Can not query service's status! error:6\n|"
                                    L"1 Can not query service's status, errno:6!|");
    }
    {
        ImportHook hook(&::OpenSCManagerW,
                        &Refuse<ERROR_ACCESS_DENIED, SC_HANDLE, LPCWSTR, LPCWSTR, DWORD>);
        EXPECT_EQ(Outcome(capture), L"check 5 2779096485, repair 0 5, start 5: 2 "
                                    L"CNTServiceControlManager Open Failed, Can not connect to "
                                    L"SCM! error:5\n|1 CNTServiceControlManager Open Failed, Can "
                                    L"not connect to SCM, errno:5!|");
    }
    ImportHook silent(&::OpenSCManagerW,
                      &Refuse<ERROR_SUCCESS, SC_HANDLE, LPCWSTR, LPCWSTR, DWORD>);
    EXPECT_EQ(Tasks::StartCorvaneMgr(5000), static_cast<DWORD>(ERROR_INTERNAL_ERROR));
}

} // namespace
