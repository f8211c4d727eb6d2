#include "corvanelib/service/NTService.h"

#include <memory>

namespace corvanelib {
namespace {

const wchar_t kAdvapiModule[] = L"ADVAPI32.DLL";

template <typename Fn> Fn LookUp(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    // Through the generic function type: the address has the signature the name promises.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Size query with no buffer; when the platform asks for one, the caller's block is replaced
// by a zeroed one of exactly the reported size before the second call, which fills it. The
// block stays the caller's whatever the second call returns.
template <typename T, typename Query> BOOL QueryIntoBlock(Query query, ServiceBlock<T>& out) {
    DWORD needed = 0;
    const BOOL sized = query(nullptr, 0, &needed);
    if (sized) {
        return sized;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return FALSE;
    }
    BYTE* block = out.Allocate(needed);
    DWORD neededAgain = 0;
    return query(block, needed, &neededAgain);
}

// Size query with no buffer, then the listing into an internal block whose entries go to the
// callback in the platform's order until it returns zero. An empty list succeeds at once.
template <typename Entry, typename List, typename Callback>
BOOL ListIntoCallback(List list, void* context, Callback callback) {
    DWORD needed = 0;
    DWORD count = 0;
    const BOOL sized = list(nullptr, 0, &needed, &count);
    if (sized) {
        return sized;
    }
    if (GetLastError() != ERROR_MORE_DATA) {
        return FALSE;
    }
    std::unique_ptr<BYTE[]> block(new BYTE[needed]());
    DWORD neededAgain = 0;
    count = 0;
    const BOOL listed = list(block.get(), needed, &neededAgain, &count);
    if (listed && callback != nullptr) {
        const Entry* entries = reinterpret_cast<const Entry*>(block.get());
        for (DWORD i = 0; i < count; ++i) {
            if (!callback(context, &entries[i])) {
                break;
            }
        }
    }
    return listed;
}

BOOL NotImplemented() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

} // namespace

// --- CNTServiceControlManager ---------------------------------------------------------------

CNTServiceControlManager::CNTServiceControlManager() : m_version() {
    m_advapi = GetModuleHandleW(kAdvapiModule);
    m_enumServicesStatusEx = LookUp<EnumServicesStatusExWFn>(m_advapi, "EnumServicesStatusExW");
    m_version.dwOSVersionInfoSize = sizeof(m_version);
    // A failure leaves version 0, which makes Lock take a real lock: the safe side.
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996) // deprecated: the version is what the lock rule needs
#endif
    GetVersionExW(&m_version);
#ifdef _MSC_VER
#pragma warning(pop)
#endif
}

BOOL CNTServiceControlManager::Open(LPCWSTR machineName, DWORD desiredAccess) {
    Close();
    m_manager.reset(OpenSCManagerW(machineName, SERVICES_ACTIVE_DATABASEW, desiredAccess));
    return m_manager ? TRUE : FALSE;
}

BOOL CNTServiceControlManager::Close() {
    if (m_lock) {
        UnlockServiceDatabase(m_lock.release());
    }
    SC_HANDLE manager = m_manager.release();
    if (manager == nullptr) {
        return FALSE;
    }
    return CloseServiceHandle(manager);
}

BOOL CNTServiceControlManager::Attach(SC_HANDLE handle) {
    if (m_manager.get() != handle) {
        // A lock taken through the old connection means nothing once it is gone.
        m_lock.reset();
        m_manager.reset(handle);
    }
    return TRUE;
}

BOOL CNTServiceControlManager::OpenService(LPCWSTR serviceName, DWORD desiredAccess,
                                           CNTService& service) {
    SC_HANDLE handle = ::OpenServiceW(m_manager.get(), serviceName, desiredAccess);
    if (handle == nullptr) {
        return FALSE;
    }
    return service.Attach(handle);
}

BOOL CNTServiceControlManager::Lock() {
    if (m_version.dwMajorVersion >= 6) {
        return TRUE;
    }
    SC_LOCK lock = LockServiceDatabase(m_manager.get());
    if (lock == nullptr) {
        // A lock held already stays held (and released later) rather than being forgotten.
        return FALSE;
    }
    m_lock.reset(lock);
    return TRUE;
}

BOOL CNTServiceControlManager::Unlock() {
    if (!m_lock) {
        return TRUE;
    }
    return UnlockServiceDatabase(m_lock.release());
}

BOOL CNTServiceControlManager::QueryLockStatus(ServiceBlock<QUERY_SERVICE_LOCK_STATUSW>& status) {
    SC_HANDLE manager = m_manager.get();
    return QueryIntoBlock(
        [manager](BYTE* block, DWORD size, DWORD* needed) {
            return QueryServiceLockStatusW(
                manager, reinterpret_cast<QUERY_SERVICE_LOCK_STATUSW*>(block), size, needed);
        },
        status);
}

BOOL CNTServiceControlManager::EnumServices(DWORD serviceType, DWORD serviceState, void* context,
                                            EnumServiceCallback callback) {
    SC_HANDLE manager = m_manager.get();
    return ListIntoCallback<ENUM_SERVICE_STATUSW>(
        [=](BYTE* block, DWORD size, DWORD* needed, DWORD* count) {
            return EnumServicesStatusW(manager, serviceType, serviceState,
                                       reinterpret_cast<ENUM_SERVICE_STATUSW*>(block), size, needed,
                                       count, nullptr);
        },
        context, callback);
}

BOOL CNTServiceControlManager::EnumServicesEx(DWORD serviceType, DWORD serviceState,
                                              LPCWSTR groupName, void* context,
                                              EnumServiceProcessCallback callback) {
    EnumServicesStatusExWFn enumerate = m_enumServicesStatusEx;
    if (enumerate == nullptr) {
        return NotImplemented();
    }
    SC_HANDLE manager = m_manager.get();
    return ListIntoCallback<ENUM_SERVICE_STATUS_PROCESSW>(
        [=](BYTE* block, DWORD size, DWORD* needed, DWORD* count) {
            return enumerate(manager, SC_ENUM_PROCESS_INFO, serviceType, serviceState, block, size,
                             needed, count, nullptr, groupName);
        },
        context, callback);
}

// --- CNTService -----------------------------------------------------------------------------

CNTService::CNTService() {
    m_advapi = GetModuleHandleW(kAdvapiModule);
    m_queryServiceConfig2 = LookUp<QueryServiceConfig2WFn>(m_advapi, "QueryServiceConfig2W");
    m_changeServiceConfig2 = LookUp<ChangeServiceConfig2WFn>(m_advapi, "ChangeServiceConfig2W");
    m_queryServiceStatusEx = LookUp<QueryServiceStatusExFn>(m_advapi, "QueryServiceStatusEx");
}

BOOL CNTService::Attach(SC_HANDLE handle) {
    if (m_service.get() != handle) {
        m_service.reset(handle);
    }
    return TRUE;
}

SC_HANDLE CNTService::Detach() {
    return m_service.release();
}

BOOL CNTService::Close() {
    SC_HANDLE service = m_service.release();
    if (service == nullptr) {
        return FALSE;
    }
    return CloseServiceHandle(service);
}

BOOL CNTService::Create(CNTServiceControlManager& manager, LPCWSTR name, LPCWSTR displayName,
                        DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                        LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId,
                        LPCWSTR dependencies, LPCWSTR serviceStartName, LPCWSTR password) {
    m_service.reset();
    m_service.reset(CreateServiceW(manager.GetHandle(), name, displayName, access, serviceType,
                                   startType, errorControl, binaryPathName, loadOrderGroup, tagId,
                                   dependencies, serviceStartName, password));
    return m_service ? TRUE : FALSE;
}

BOOL CNTService::Delete() {
    return DeleteService(m_service.get());
}

BOOL CNTService::Start(DWORD argumentCount, LPCWSTR* arguments) {
    return StartServiceW(m_service.get(), argumentCount, arguments);
}

BOOL CNTService::Control(DWORD code) {
    SERVICE_STATUS status = {};
    return ControlService(m_service.get(), code, &status);
}

BOOL CNTService::Stop() {
    return Control(SERVICE_CONTROL_STOP);
}
BOOL CNTService::Pause() {
    return Control(SERVICE_CONTROL_PAUSE);
}
BOOL CNTService::Continue() {
    return Control(SERVICE_CONTROL_CONTINUE);
}
BOOL CNTService::Interrogate() {
    return Control(SERVICE_CONTROL_INTERROGATE);
}

BOOL CNTService::QueryStatus(SERVICE_STATUS* status) {
    return QueryServiceStatus(m_service.get(), status);
}

BOOL CNTService::QueryStatusEx(SERVICE_STATUS_PROCESS* statusProcess) {
    if (m_queryServiceStatusEx == nullptr) {
        return NotImplemented();
    }
    DWORD needed = 0;
    return m_queryServiceStatusEx(m_service.get(), SC_STATUS_PROCESS_INFO,
                                  reinterpret_cast<BYTE*>(statusProcess),
                                  sizeof(SERVICE_STATUS_PROCESS), &needed);
}

BOOL CNTService::AcceptsControl(DWORD mask, BOOL* flag) {
    SERVICE_STATUS status = {};
    if (!QueryStatus(&status)) {
        return FALSE;
    }
    *flag = (status.dwControlsAccepted & mask) != 0 ? TRUE : FALSE;
    return TRUE;
}

BOOL CNTService::AcceptsStop(BOOL* flag) {
    return AcceptsControl(SERVICE_ACCEPT_STOP, flag);
}
BOOL CNTService::AcceptsPauseContinue(BOOL* flag) {
    return AcceptsControl(SERVICE_ACCEPT_PAUSE_CONTINUE, flag);
}
BOOL CNTService::AcceptsShutdown(BOOL* flag) {
    return AcceptsControl(SERVICE_ACCEPT_SHUTDOWN, flag);
}

BOOL CNTService::WaitForStatus(DWORD timeoutMs, DWORD desiredState, DWORD pollIntervalMs) {
    const DWORD start = GetTickCount();
    SERVICE_STATUS status = {};
    if (!QueryStatus(&status)) {
        return FALSE;
    }
    for (;;) {
        if (status.dwCurrentState == desiredState) {
            return TRUE;
        }
        Sleep(pollIntervalMs);
        if (WaitHasRunOut(start, GetTickCount(), timeoutMs)) {
            SetLastError(ERROR_TIMEOUT);
            return FALSE;
        }
        if (!QueryStatus(&status)) {
            return FALSE;
        }
    }
}

BOOL CNTService::WaitForStop(DWORD timeoutMs) {
    return WaitForStatus(timeoutMs, SERVICE_STOPPED, 250);
}

BOOL CNTService::QueryConfig(ServiceBlock<QUERY_SERVICE_CONFIGW>& config) {
    SC_HANDLE service = m_service.get();
    return QueryIntoBlock(
        [service](BYTE* block, DWORD size, DWORD* needed) {
            return QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block),
                                       size, needed);
        },
        config);
}

BOOL CNTService::ChangeConfig(DWORD serviceType, DWORD startType, DWORD errorControl,
                              LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId,
                              LPCWSTR dependencies, LPCWSTR serviceStartName, LPCWSTR password,
                              LPCWSTR displayName) {
    return ChangeServiceConfigW(m_service.get(), serviceType, startType, errorControl,
                                binaryPathName, loadOrderGroup, tagId, dependencies,
                                serviceStartName, password, displayName);
}

template <typename T> BOOL CNTService::QueryConfig2(DWORD infoLevel, ServiceBlock<T>& block) {
    QueryServiceConfig2WFn query = m_queryServiceConfig2;
    if (query == nullptr) {
        return NotImplemented();
    }
    SC_HANDLE service = m_service.get();
    return QueryIntoBlock(
        [=](BYTE* buffer, DWORD size, DWORD* needed) {
            return query(service, infoLevel, buffer, size, needed);
        },
        block);
}

BOOL CNTService::QueryDescription(std::wstring& text) {
    ServiceBlock<SERVICE_DESCRIPTIONW> description;
    const BOOL ok = QueryConfig2(SERVICE_CONFIG_DESCRIPTION, description);
    if (ok) {
        // The platform answers a service without a description with a null text; a first call
        // that succeeds leaves no block at all.
        if (description && description->lpDescription != nullptr) {
            text.assign(description->lpDescription);
        } else {
            text.clear();
        }
    }
    return ok;
}

BOOL CNTService::SetDescription(const std::wstring& text) {
    if (m_changeServiceConfig2 == nullptr) {
        return NotImplemented();
    }
    std::wstring writable(text);
    SERVICE_DESCRIPTIONW description = {};
    description.lpDescription = &writable[0];
    return m_changeServiceConfig2(m_service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
}

BOOL CNTService::QueryFailureActions(ServiceBlock<SERVICE_FAILURE_ACTIONSW>& actions) {
    return QueryConfig2(SERVICE_CONFIG_FAILURE_ACTIONS, actions);
}

BOOL CNTService::SetFailureActions(SERVICE_FAILURE_ACTIONSW* actions) {
    if (m_changeServiceConfig2 == nullptr) {
        return NotImplemented();
    }
    return m_changeServiceConfig2(m_service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, actions);
}

BOOL CNTService::QueryObjectSecurity(SECURITY_INFORMATION securityInformation,
                                     ServiceBlock<SECURITY_DESCRIPTOR>& descriptor) {
    SC_HANDLE service = m_service.get();
    return QueryIntoBlock(
        [=](BYTE* block, DWORD size, DWORD* needed) {
            return QueryServiceObjectSecurity(service, securityInformation, block, size, needed);
        },
        descriptor);
}

BOOL CNTService::SetObjectSecurity(SECURITY_INFORMATION securityInformation,
                                   PSECURITY_DESCRIPTOR descriptor) {
    return SetServiceObjectSecurity(m_service.get(), securityInformation, descriptor);
}

BOOL CNTService::EnumDependentServices(DWORD serviceState, void* context,
                                       EnumServiceCallback callback) {
    SC_HANDLE service = m_service.get();
    return ListIntoCallback<ENUM_SERVICE_STATUSW>(
        [=](BYTE* block, DWORD size, DWORD* needed, DWORD* count) {
            return ::EnumDependentServicesW(service, serviceState,
                                            reinterpret_cast<ENUM_SERVICE_STATUSW*>(block), size,
                                            needed, count);
        },
        context, callback);
}

} // namespace corvanelib
