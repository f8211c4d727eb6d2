// Owners of the handles of the Windows service-control interface: a connection to the service
// control manager and one open service. Each object closes what it holds when it is destroyed,
// so a task keeps one of each on its stack and may leave at any failure.
//
// Every operation returns the platform call's success flag and leaves the cause of a failure in
// the thread's last error; nothing here logs or throws, except that an allocation failure in
// the buffer-returning and enumerating operations raises std::bad_alloc.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>

#include "corvanelib/Win32/UniqueHandle.h"

namespace corvanelib {

class CNTService;

// The extended calls are looked up in the already loaded ADVAPI32.DLL rather than imported, so
// the library loads on systems that lack them; an operation whose call is missing fails with
// ERROR_CALL_NOT_IMPLEMENTED.
using EnumServicesStatusExWFn = BOOL(WINAPI*)(SC_HANDLE, SC_ENUM_TYPE, DWORD, DWORD, LPBYTE, DWORD,
                                              LPDWORD, LPDWORD, LPDWORD, LPCWSTR);
using QueryServiceConfig2WFn = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
using ChangeServiceConfig2WFn = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
using QueryServiceStatusExFn = BOOL(WINAPI*)(SC_HANDLE, SC_STATUS_TYPE, LPBYTE, DWORD, LPDWORD);

// Enumeration callbacks get the caller's context and one entry; they return non-zero to be
// given the next entry, zero to stop.
using EnumServiceCallback = BOOL (*)(void* context, const ENUM_SERVICE_STATUSW* entry);
using EnumServiceProcessCallback = BOOL (*)(void* context,
                                            const ENUM_SERVICE_STATUS_PROCESSW* entry);

// Whether a wait begun at tick `start` has run out at tick `now`: more than `timeoutMs` have
// passed, INFINITE never runs out. The unsigned difference stays right when the tick counter
// wraps (every 49.7 days) during the wait.
inline bool WaitHasRunOut(DWORD start, DWORD now, DWORD timeoutMs) {
    return timeoutMs != INFINITE && static_cast<DWORD>(now - start) > timeoutMs;
}

// A block of bytes that a query (QueryConfig, QueryFailureActions, QueryObjectSecurity,
// QueryLockStatus) filled for its caller, read as a `T`. It owns the bytes, which hold the
// record and the texts it points to; empty until a query allocates it.
template <typename T> class ServiceBlock {
public:
    explicit operator bool() const { return m_bytes != nullptr; }
    T* get() const { return reinterpret_cast<T*>(m_bytes.get()); }
    T* operator->() const { return get(); }

    // Replaces the block with a zeroed one of `size` bytes and returns its start.
    BYTE* Allocate(DWORD size) {
        m_bytes.reset(new BYTE[size]());
        return m_bytes.get();
    }

private:
    std::unique_ptr<BYTE[]> m_bytes;
};

class CNTServiceControlManager {
public:
    CNTServiceControlManager();
    // Releases a held database lock, then disconnects. The last error survives.
    ~CNTServiceControlManager() = default;
    CNTServiceControlManager(const CNTServiceControlManager&) = delete;
    CNTServiceControlManager& operator=(const CNTServiceControlManager&) = delete;

    // Connects to the active database of `machineName` (null: this computer). An existing
    // connection is closed first, so a failed call leaves the object unconnected.
    BOOL Open(LPCWSTR machineName, DWORD desiredAccess);
    // Releases a held lock, then closes the connection. FALSE when there was none.
    BOOL Close();
    // Takes ownership of `handle`; a different handle held so far is closed first, the same one
    // stays open. Always TRUE.
    BOOL Attach(SC_HANDLE handle);
    SC_HANDLE GetHandle() const { return m_manager.get(); }

    // Opens a service into `service` (which closes what it held before). On failure `service`
    // keeps what it held. (<windows.h>, included above, renames this member OpenServiceW for
    // every user alike.)
    BOOL OpenService(LPCWSTR serviceName, DWORD desiredAccess, CNTService& service);

    // Locks the service database. From major version 6 on the platform ignores the lock, so
    // none is taken and the call succeeds at once. A lock already held stays held (and is
    // released later) when a further attempt fails.
    BOOL Lock();
    // TRUE when no lock is held.
    BOOL Unlock();

    BOOL QueryLockStatus(ServiceBlock<QUERY_SERVICE_LOCK_STATUSW>& status);
    BOOL EnumServices(DWORD serviceType, DWORD serviceState, void* context,
                      EnumServiceCallback callback);
    BOOL EnumServicesEx(DWORD serviceType, DWORD serviceState, LPCWSTR groupName, void* context,
                        EnumServiceProcessCallback callback);

private:
    UniqueServiceHandle m_manager;
    UniqueServiceLock m_lock; // after the connection, so it is released before the disconnect
    HMODULE m_advapi = nullptr;
    EnumServicesStatusExWFn m_enumServicesStatusEx = nullptr;
    OSVERSIONINFOW m_version;
};

class CNTService {
public:
    CNTService();
    // Closes the service handle; the last error survives.
    ~CNTService() = default;
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    // Takes ownership of `handle`; a different handle held so far is closed first, the same one
    // stays open. Always TRUE.
    BOOL Attach(SC_HANDLE handle);
    // Hands the handle away without closing it.
    SC_HANDLE Detach();
    // FALSE, and nothing done, when no handle is held.
    BOOL Close();

    BOOL Create(CNTServiceControlManager& manager, LPCWSTR name, LPCWSTR displayName, DWORD access,
                DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPathName,
                LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies,
                LPCWSTR serviceStartName, LPCWSTR password);
    BOOL Delete();

    BOOL Start(DWORD argumentCount, LPCWSTR* arguments);
    BOOL Control(DWORD code);
    BOOL Stop();
    BOOL Pause();
    BOOL Continue();
    BOOL Interrogate();

    BOOL QueryStatus(SERVICE_STATUS* status);
    BOOL QueryStatusEx(SERVICE_STATUS_PROCESS* statusProcess);
    BOOL AcceptsStop(BOOL* flag);
    BOOL AcceptsPauseContinue(BOOL* flag);
    BOOL AcceptsShutdown(BOOL* flag);

    // Polls the status every `pollIntervalMs` until the service is in `desiredState`. The state
    // is tested before the first sleep, the time only after a sleep, so the call may last one
    // interval longer than `timeoutMs` (INFINITE: no limit). Runs out with ERROR_TIMEOUT.
    BOOL WaitForStatus(DWORD timeoutMs, DWORD desiredState, DWORD pollIntervalMs);
    BOOL WaitForStop(DWORD timeoutMs);

    // This query and the others that fill a ServiceBlock put a new block into it only when the
    // size query asks for one; the block stays there whether or not the query proper succeeds.
    BOOL QueryConfig(ServiceBlock<QUERY_SERVICE_CONFIGW>& config);
    BOOL ChangeConfig(DWORD serviceType, DWORD startType, DWORD errorControl,
                      LPCWSTR binaryPathName, LPCWSTR loadOrderGroup, LPDWORD tagId,
                      LPCWSTR dependencies, LPCWSTR serviceStartName, LPCWSTR password,
                      LPCWSTR displayName);

    // A service without a description reads as an empty text.
    BOOL QueryDescription(std::wstring& text);
    BOOL SetDescription(const std::wstring& text);
    BOOL QueryFailureActions(ServiceBlock<SERVICE_FAILURE_ACTIONSW>& actions);
    BOOL SetFailureActions(SERVICE_FAILURE_ACTIONSW* actions);

    BOOL QueryObjectSecurity(SECURITY_INFORMATION securityInformation,
                             ServiceBlock<SECURITY_DESCRIPTOR>& descriptor);
    BOOL SetObjectSecurity(SECURITY_INFORMATION securityInformation,
                           PSECURITY_DESCRIPTOR descriptor);

    BOOL EnumDependentServices(DWORD serviceState, void* context, EnumServiceCallback callback);

private:
    BOOL AcceptsControl(DWORD mask, BOOL* flag);
    // Size query, then the query proper into a block of the reported size.
    template <typename T> BOOL QueryConfig2(DWORD infoLevel, ServiceBlock<T>& block);

    UniqueServiceHandle m_service;
    HMODULE m_advapi = nullptr;
    QueryServiceConfig2WFn m_queryServiceConfig2 = nullptr;
    ChangeServiceConfig2WFn m_changeServiceConfig2 = nullptr;
    QueryServiceStatusExFn m_queryServiceStatusEx = nullptr;
};

} // namespace corvanelib
