#include "peers/standin/StandinService.h"

#include "corvanelib/Win32/UniqueHandle.h"
#include "peers/support/WaitFor.h"

using namespace corvane::peers::support;

namespace corvane::peers::standin {

namespace {

using corvanelib::UniqueServiceHandle;

constexpr wchar_t kName[] = L"CorvaneMgr";

UniqueServiceHandle Open(DWORD access) {
    UniqueServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return UniqueServiceHandle(scm ? OpenServiceW(scm.get(), kName, access) : nullptr);
}

} // namespace

DWORD StandinService::Install(const std::wstring& arguments, DWORD startType) {
    if (const DWORD error = RemoveExisting()) {
        return error;
    }
    const std::wstring commandLine = L"\"" CORVANE_STANDIN_EXE L"\" " + arguments;
    const UniqueServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const UniqueServiceHandle service(
        scm ? CreateServiceW(scm.get(), kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             startType, SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                             nullptr, nullptr, nullptr)
            : nullptr);
    return service ? ERROR_SUCCESS : GetLastError();
}

DWORD StandinService::Start() {
    const UniqueServiceHandle service = Open(SERVICE_START);
    return service && StartServiceW(service.get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
}

DWORD StandinService::State() {
    const UniqueServiceHandle service = Open(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

bool StandinService::WaitForState(DWORD state, DWORD boundMs) {
    return WaitFor([state] { return State() == state; }, std::chrono::milliseconds(boundMs));
}

DWORD StandinService::StartType() {
    const UniqueServiceHandle service = Open(SERVICE_QUERY_CONFIG);
    alignas(QUERY_SERVICE_CONFIGW) unsigned char buffer[8192]; // the most a configuration takes
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD needed = 0;
    return service && QueryServiceConfigW(service.get(), config, 8192, &needed)
               ? config->dwStartType
               : SERVICE_NO_CHANGE;
}

DWORD StandinService::RemoveExisting() {
    {
        UniqueServiceHandle service = Open(SERVICE_ALL_ACCESS);
        if (!service) {
            const DWORD error = GetLastError();
            return error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : error;
        }
        SERVICE_STATUS status{};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitForState(SERVICE_STOPPED, 20000);
        if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            return GetLastError();
        }
    }
    // The name is free once the last handle is closed and the process is gone.
    const bool gone = WaitFor([] {
        return !Open(SERVICE_QUERY_STATUS) && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    });
    return gone ? ERROR_SUCCESS : ERROR_SERVICE_MARKED_FOR_DELETE;
}

} // namespace corvane::peers::standin
