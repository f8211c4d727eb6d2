// The service-control owners against the platform's service control manager, with a probe
// service that is registered, never started. Missing entry points come from replacing the
// imported look-up.
#include "corvanelib/service/NTService.h"

#include "ImportHook.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvanelib;
using namespace corvane::test;

namespace {

const wchar_t kName[] = L"CorvaneWrapperProbe";

bool IsOpen(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) != FALSE;
}

// Counts the entries handed out in its context: {count, the count to stop at}.
template <typename Entry> BOOL Collect(void* context, const Entry*) {
    size_t* counts = static_cast<size_t*>(context);
    return ++counts[0] < counts[1];
}

TEST(ServiceWrapper, OwnershipQueriesAndEnumerationsOnAStoppedProbe) {
    CNTServiceControlManager manager;
    CNTService service;
    ASSERT_TRUE(manager.Open(nullptr, SC_MANAGER_ALL_ACCESS)) << GetLastError();
    if (manager.OpenService(kName, DELETE, service)) {
        service.Delete();
    }
    ASSERT_TRUE(service.Create(manager, kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_DISABLED, SERVICE_ERROR_IGNORE,
                               L"C:\\corvane-probe-missing.exe", nullptr, nullptr, nullptr, nullptr,
                               nullptr))
        << GetLastError();

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

    // The configuration block holds the texts it points to.
    ServiceBlock<QUERY_SERVICE_CONFIGW> config;
    ASSERT_TRUE(service.QueryConfig(config)) << GetLastError();
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"C:\\corvane-probe-missing.exe");
    std::wstring text;
    EXPECT_TRUE(service.SetDescription(L"Admission probe, \u00e9t\u00e9") &&
                service.QueryDescription(text) && text == L"Admission probe, \u00e9t\u00e9");

    BOOL accepts[3] = {TRUE, TRUE, TRUE};
    EXPECT_TRUE(service.AcceptsStop(&accepts[0]) && service.AcceptsPauseContinue(&accepts[1]) &&
                service.AcceptsShutdown(&accepts[2]));
    EXPECT_FALSE(accepts[0] || accepts[1] || accepts[2]);
    EXPECT_FALSE(service.Stop() || service.Pause() || service.Continue() || service.Interrogate());
    // A wait looks before its first sleep.
    EXPECT_TRUE(service.WaitForStop(0) && !service.WaitForStatus(0, SERVICE_RUNNING, 300));

    // The callback can stop the listing after one entry; nothing depends on the probe.
    size_t first[2] = {0, 1}, none[2] = {0, 9};
    EXPECT_TRUE(
        manager.EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, first,
                               &Collect<ENUM_SERVICE_STATUS_PROCESSW>) &&
        service.EnumDependentServices(SERVICE_STATE_ALL, none, &Collect<ENUM_SERVICE_STATUSW>));
    EXPECT_TRUE(first[0] == 1 && none[0] == 0);
    EXPECT_TRUE(service.Delete() && manager.Close() && !manager.Close());

    // Without the extended calls their operations fail with ERROR_CALL_NOT_IMPLEMENTED.
    SERVICE_STATUS_PROCESS process = {};
    ImportHook missing(&::GetProcAddress, &Refuse<ERROR_PROC_NOT_FOUND, FARPROC, HMODULE, LPCSTR>);
    CNTService bare;
    CNTServiceControlManager bareManager;
    ServiceBlock<SERVICE_FAILURE_ACTIONSW> actions;
    EXPECT_FALSE(
        bare.AcceptsStop(accepts) || bare.QueryStatusEx(&process) || bare.SetDescription(L"x") ||
        bare.QueryDescription(text) || bare.SetFailureActions(nullptr) ||
        bare.QueryFailureActions(actions) ||
        bareManager.EnumServicesEx(SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, first, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

} // namespace
