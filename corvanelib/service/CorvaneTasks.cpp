#include "corvanelib/service/CorvaneTasks.h"

#include "corvanelib/log/CorvaneLog.h"
#include "corvanelib/service/NTService.h"

namespace corvanelib {
namespace CorvaneTasks {

const wchar_t kCorvaneServiceName[] = L"CorvaneMgr";

namespace {

const wchar_t kSourceFile[] = L"" __FILE__;

// The error to report for a step that failed. A failed platform call that left no error would
// read as success to callers that take 0 for "running", so it reports as an internal error.
DWORD FailureCode() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_INTERNAL_ERROR;
}

} // namespace

DWORD CheckServiceStatus(SERVICE_STATUS& status) {
    static const wchar_t kFunction[] = L"corvanelib::CorvaneTasks::CheckServiceStatus";
    CNTServiceControlManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) {
        const DWORD error = FailureCode();
        g_commonLog.WriteLog(
            2, kSourceFile, kFunction, __LINE__,
            L"CNTServiceControlManager Open Failed, Can not connect to SCM! error:%u\n", error);
        return error;
    }
    CNTService service;
    if (!manager.OpenService(kCorvaneServiceName, SERVICE_QUERY_STATUS, service)) {
        const DWORD error = FailureCode();
        g_commonLog.WriteLog(2, kSourceFile, kFunction, __LINE__,
                             L"Can not Open Service for start! error:%u\n", error);
        return error;
    }
    status = SERVICE_STATUS();
    if (!service.QueryStatus(&status)) {
        const DWORD error = FailureCode();
        g_commonLog.WriteLog(2, kSourceFile, kFunction, __LINE__,
                             L"Can not query service's status! error:%u\n", error);
        return error;
    }
    return 0;
}

DWORD TryRepairCorvaneMgr() {
    CNTServiceControlManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_ALL_ACCESS)) {
        return 0;
    }
    CNTService service;
    if (!manager.OpenService(kCorvaneServiceName, SERVICE_ALL_ACCESS, service)) {
        // Nothing to repair: the start that follows reports the missing service.
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 1 : 0;
    }
    ServiceBlock<QUERY_SERVICE_CONFIGW> config;
    const BOOL queried = service.QueryConfig(config);
    DWORD result = 1;
    // A configuration that could not be read counts as not automatic: setting the start type
    // again is harmless, skipping it is not.
    if (!queried || !config || config->dwStartType != SERVICE_AUTO_START) {
        result = service.ChangeConfig(SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
                     ? 1
                     : 0;
    }
    // The block, then the service, then the manager are released (reverse order of
    // construction); none of them changes the last error.
    return result;
}

DWORD StartCorvaneMgr(DWORD timeoutMs) {
    static const wchar_t kFunction[] = L"corvanelib::CorvaneTasks::StartCorvaneMgr";
    configServiceAutoRestart();

    CNTServiceControlManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) {
        const DWORD error = FailureCode();
        g_commonLog.WriteLog(
            1, kSourceFile, kFunction, __LINE__,
            L"CNTServiceControlManager Open Failed, Can not connect to SCM, errno:%d!", error);
        return error;
    }
    CNTService service;
    if (!manager.OpenService(kCorvaneServiceName, SERVICE_QUERY_STATUS | SERVICE_START, service)) {
        const DWORD error = FailureCode();
        g_commonLog.WriteLog(1, kSourceFile, kFunction, __LINE__,
                             L"Can not Open Service for start, errno:%d!", error);
        return error;
    }
    SERVICE_STATUS status = {};
    if (!service.QueryStatus(&status)) {
        const DWORD error = FailureCode();
        g_commonLog.WriteLog(1, kSourceFile, kFunction, __LINE__,
                             L"Can not query service's status, errno:%d!", error);
        return error;
    }
    const DWORD begin = GetTickCount();
    if (status.dwCurrentState != SERVICE_RUNNING && !service.Start(0, nullptr)) {
        DWORD error = FailureCode();
        // The manager answers 1056 for a service that is starting (its own recovery restart,
        // another start request) or running, which the wait below sees through, and for one
        // that is still stopping, which is started again once it has stopped.
        if (error == ERROR_SERVICE_ALREADY_RUNNING && service.QueryStatus(&status)) {
            if (status.dwCurrentState == SERVICE_START_PENDING ||
                status.dwCurrentState == SERVICE_RUNNING) {
                error = 0;
            } else if (status.dwCurrentState == SERVICE_STOP_PENDING) {
                if (!service.WaitForStatus(timeoutMs, SERVICE_STOPPED, kStartPollIntervalMs)) {
                    error = FailureCode();
                    g_commonLog.WriteLog(1, kSourceFile, kFunction, __LINE__,
                                         L"Wait Service to Start Failed, errno:%d!", error);
                    return error;
                }
                error = service.Start(0, nullptr) ? 0 : FailureCode();
            }
        }
        if (error != 0) {
            g_commonLog.WriteLog(1, kSourceFile, kFunction, __LINE__,
                                 L"Can not Start Service, errno:%d!", error);
            return error;
        }
    }
    // One bound for the whole task: a wait for a stopping service counts against it.
    const DWORD spent = GetTickCount() - begin;
    const DWORD left =
        timeoutMs == INFINITE ? INFINITE : (timeoutMs > spent ? timeoutMs - spent : 0);
    if (!service.WaitForStatus(left, SERVICE_RUNNING, kStartPollIntervalMs)) {
        const DWORD error = FailureCode();
        g_commonLog.WriteLog(1, kSourceFile, kFunction, __LINE__,
                             L"Wait Service to Start Failed, errno:%d!", error);
        return error;
    }
    service.Close();
    manager.Close();
    return 0;
}

DWORD configServiceAutoRestart() {
    static const wchar_t kFunction[] = L"corvanelib::CorvaneTasks::configServiceAutoRestart";
    CNTServiceControlManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) {
        return 0;
    }
    // Restart actions need the right to start the service besides the right to change it.
    CNTService service;
    if (!manager.OpenService(kCorvaneServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START, service)) {
        return 0;
    }
    SC_ACTION actions[3] = {};
    actions[0].Type = SC_ACTION_RESTART;
    actions[0].Delay = 30000;
    actions[1].Type = SC_ACTION_RESTART;
    actions[1].Delay = 30000;
    actions[2].Type = SC_ACTION_NONE;
    actions[2].Delay = 0;
    SERVICE_FAILURE_ACTIONSW recovery = {};
    recovery.dwResetPeriod = 86400;
    recovery.lpRebootMsg = nullptr;
    recovery.lpCommand = nullptr;
    recovery.cActions = 3;
    recovery.lpsaActions = actions;
    if (!service.SetFailureActions(&recovery)) {
        const DWORD error = GetLastError();
        g_commonLog.WriteLog(
            3, kSourceFile, kFunction, __LINE__,
            L"failed to set autorestart config when corvanemgr start failed, err:%d", error);
    }
    return 0;
}

} // namespace CorvaneTasks
} // namespace corvanelib
