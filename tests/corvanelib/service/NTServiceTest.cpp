// The service-control owners against the platform's service control manager, with a probe
// service that is registered, never started. Missing entry points come from replacing the
// imported look-up.
#include "corvanelib/service/NTService.h"

#include "tests/support/ImportHook.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvanelib;
using namespace corvane::tests::support;

namespace {

const wchar_t kName[] = L"CorvaneWrapperProbe";

bool IsOpen(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) != FALSE;
}

TEST(ServiceWrapper, OwnershipAndQueriesOnAStoppedProbe) {
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
    // A missing service leaves the target with what it held; a new one replaces and closes it.
    const SC_HANDLE created = service.Detach();
    service.Attach(created);
    EXPECT_FALSE(manager.OpenService(L"CorvaneNoSuchService", SERVICE_QUERY_STATUS, service));
    EXPECT_TRUE(GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST && IsOpen(created));
    ASSERT_TRUE(manager.OpenService(kName, SERVICE_ALL_ACCESS, service) && !IsOpen(created));

    // The configuration block holds the texts it points to.
    ServiceBlock<QUERY_SERVICE_CONFIGW> config;
    ASSERT_TRUE(service.QueryConfig(config)) << GetLastError();
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"C:\\corvane-probe-missing.exe");
    // A wait looks before its first sleep.
    EXPECT_TRUE(service.WaitForStatus(0, SERVICE_STOPPED, 300) &&
                !service.WaitForStatus(0, SERVICE_RUNNING, 300));
    EXPECT_TRUE(service.Delete() && manager.Close() && !manager.Close());

    // Without the extended call, setting recovery actions fails with ERROR_CALL_NOT_IMPLEMENTED.
    ImportHook missing(&::GetProcAddress, &Refuse<ERROR_PROC_NOT_FOUND, FARPROC, HMODULE, LPCSTR>);
    CNTService bare;
    EXPECT_TRUE(!bare.SetFailureActions(nullptr) && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED);
}

} // namespace
