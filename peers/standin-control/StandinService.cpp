#include "StandinService.h"

#include "corvanelib/Win32/UniqueHandle.h"

#include <vector>

namespace corvane_test {

namespace {

using corvanelib::UniqueKernelHandle;
using corvanelib::UniqueServiceHandle;

constexpr wchar_t kName[] = L"CorvaneMgr";

UniqueServiceHandle Open(DWORD access) {
    UniqueServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return UniqueServiceHandle(scm ? OpenServiceW(scm.get(), kName, access) : nullptr);
}

template <typename Condition> bool Poll(Condition condition, DWORD boundMs) {
    for (const ULONGLONG end = GetTickCount64() + boundMs;; Sleep(50)) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
    }
}

SERVICE_STATUS_PROCESS Query() {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    const UniqueServiceHandle service = Open(SERVICE_QUERY_STATUS);
    if (!service ||
        !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
        status = SERVICE_STATUS_PROCESS{};
    }
    return status;
}

// Wine's control manager keeps showing a killed service as running: whether its process still
// lives is what counts.
bool Ended() {
    const SERVICE_STATUS_PROCESS status = Query();
    UniqueKernelHandle process(status.dwCurrentState == SERVICE_STOPPED
                                   ? nullptr
                                   : OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    return !process || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT;
}

void StopOrKill(SC_HANDLE service) {
    SERVICE_STATUS ignored{};
    if (Ended() ||
        (ControlService(service, SERVICE_CONTROL_STOP, &ignored) && Poll(Ended, 10000))) {
        return;
    }
    UniqueKernelHandle process(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, Query().dwProcessId));
    if (process) {
        TerminateProcess(process.get(), 9);
        WaitForSingleObject(process.get(), 20000);
    }
}

} // namespace

StandinService::StandinService(const std::wstring& arguments, DWORD startType) {
    m_installError = RemoveExisting();
    if (m_installError != ERROR_SUCCESS) {
        return;
    }
    UniqueServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::wstring commandLine = L"\""
                                     L"" CORVANE_STANDIN_EXE L"\" " +
                                     arguments;
    UniqueServiceHandle service(scm ? CreateServiceW(scm.get(), kName, kName, SERVICE_ALL_ACCESS,
                                                     SERVICE_WIN32_OWN_PROCESS, startType,
                                                     SERVICE_ERROR_NORMAL, commandLine.c_str(),
                                                     nullptr, nullptr, nullptr, nullptr, nullptr)
                                    : nullptr);
    m_installError = service ? ERROR_SUCCESS : GetLastError();
}

StandinService::~StandinService() {
    if (!m_detached) {
        RemoveExisting();
    }
}

DWORD StandinService::Start() {
    const UniqueServiceHandle service = Open(SERVICE_START);
    return service && StartServiceW(service.get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
}

DWORD StandinService::State() {
    return Query().dwCurrentState;
}

bool StandinService::WaitForState(DWORD state, DWORD boundMs) {
    return Poll([state] { return State() == state; }, boundMs);
}

DWORD StandinService::StartType() {
    const UniqueServiceHandle service = Open(SERVICE_QUERY_CONFIG);
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    return service && QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()),
                                          &needed)
               ? config->dwStartType
               : SERVICE_NO_CHANGE;
}

DWORD StandinService::RemoveExisting() {
    UniqueServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) {
        return GetLastError();
    }
    {
        UniqueServiceHandle service(OpenServiceW(scm.get(), kName, SERVICE_ALL_ACCESS));
        if (!service) {
            const DWORD error = GetLastError();
            return error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : error;
        }
        StopOrKill(service.get());
        if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            return GetLastError();
        }
    }
    // The name is free once the last handle is closed and the process is gone.
    return Poll(
               [&scm] {
                   UniqueServiceHandle probe(OpenServiceW(scm.get(), kName, SERVICE_QUERY_STATUS));
                   return !probe && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
               },
               20000)
               ? ERROR_SUCCESS
               : ERROR_SERVICE_MARKED_FOR_DELETE;
}

} // namespace corvane_test
