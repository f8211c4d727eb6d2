#include "console/config/ProtectedFile.h"

#include "console/config/AtomicFile.h"
#include "console/config/IniFile.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <vector>

namespace corvane::console::config {

namespace {

// The service account of Windows Modules Installer, which owns the system's own folders.
const wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) {
        return std::wstring();
    }
    const corvanelib::UniqueLocalMemory owned(text);
    return text;
}

// The account this process runs as (for the elevated console, the user who started it).
std::wstring ProcessUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return std::wstring();
    }
    const corvanelib::UniqueKernelHandle owned(token);
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD cb = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &cb)) {
        return std::wstring();
    }
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The account "CorvaneMgr" is configured to run as, when it is not LocalSystem.
std::wstring ConfiguredServiceAccountSid() {
    const corvanelib::UniqueServiceHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const corvanelib::UniqueServiceHandle service(
        manager ? OpenServiceW(manager.get(), L"CorvaneMgr", SERVICE_QUERY_CONFIG) : nullptr);
    DWORD cb = 0;
    if (!service || QueryServiceConfigW(service.get(), nullptr, 0, &cb) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return std::wstring();
    }
    std::vector<BYTE> buffer(cb);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, cb, &cb)) {
        return std::wstring();
    }
    return ServiceAccountSid(config->lpServiceStartName);
}

// The owners a folder or file that holds secrets may have, read once for a save: SYSTEM, the
// Administrators, TrustedInstaller, the account this process runs as and the service's account.
class TrustedOwners {
public:
    TrustedOwners() : m_processUser(ProcessUserSid()), m_service(ConfiguredServiceAccountSid()) {}

    const std::wstring& ServiceAccount() const { return m_service; }

    // 0 when the object at `path` is missing or has a trusted owner; ERROR_ACCESS_DENIED when
    // its owner is not trusted; otherwise the error of reading its owner.
    DWORD CheckOwner(const std::string& path) const {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const DWORD error =
            GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                  nullptr, nullptr, nullptr, &descriptor);
        const corvanelib::UniqueLocalMemory owned(descriptor);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return 0;
        }
        return Verdict(error, owner);
    }

    // The judge of an open file (ReplaceGuard::mayWriteInPlace): true when its owner is
    // trusted; otherwise false with the last error set.
    bool OwnOpenFile(HANDLE handle) const {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const DWORD read = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                           &owner, nullptr, nullptr, nullptr, &descriptor);
        const corvanelib::UniqueLocalMemory owned(descriptor);
        const DWORD error = Verdict(read, owner);
        SetLastError(error);
        return error == ERROR_SUCCESS;
    }

private:
    bool Include(PSID owner) const {
        if (owner == nullptr || !IsValidSid(owner)) {
            return false;
        }
        if (IsWellKnownSid(owner, WinLocalSystemSid) ||
            IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
            return true;
        }
        const std::wstring text = SidText(owner);
        return !text.empty() &&
               (text == kTrustedInstallerSid || text == m_processUser || text == m_service);
    }

    // 0 for a trusted `owner`, ERROR_ACCESS_DENIED for another, `readError` when reading the
    // owner failed.
    DWORD Verdict(DWORD readError, PSID owner) const {
        if (readError != ERROR_SUCCESS) {
            return readError;
        }
        return Include(owner) ? 0 : ERROR_ACCESS_DENIED;
    }

    std::wstring m_processUser;
    std::wstring m_service;
};

// The security the data folder and userconfig.ini are created with: a protected DACL (nothing
// inherited) granting full control to SYSTEM, the Administrators and, when the admission
// service is configured to run as another account than LocalSystem, that account (its SID as
// text in `serviceSid`, empty otherwise). Nobody else has an entry.
class ProtectedSecurity {
public:
    explicit ProtectedSecurity(const std::wstring& serviceSid) {
        std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
        if (!serviceSid.empty()) {
            sddl += L"(A;OICI;FA;;;" + serviceSid + L")";
        }
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                 &descriptor, nullptr)) {
            m_descriptor.reset(descriptor);
            m_attributes = {sizeof m_attributes, descriptor, FALSE};
        }
    }
    // Null when the descriptor could not be made; the last error then says why.
    SECURITY_ATTRIBUTES* Attributes() { return m_descriptor ? &m_attributes : nullptr; }

private:
    corvanelib::UniqueLocalMemory m_descriptor;
    SECURITY_ATTRIBUTES m_attributes{};
};

// Deletes the temporary files a save into `path` creates that an interrupted save left in the
// folder `folder` (with its trailing separator): they may hold the password.
void RemoveStaleTemporaries(const std::string& path, const std::string& folder,
                            const TrustedOwners& trusted) {
    WIN32_FIND_DATAA found;
    const corvanelib::UniqueFindHandle search(FindFirstFileA((folder + "~*").c_str(), &found));
    if (!search) {
        return;
    }
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !IsTemporaryName(path.c_str(), found.cFileName)) {
            continue;
        }
        // Judged and deleted through one handle, so that what is judged is what goes.
        const corvanelib::UniqueFileHandle file(
            CreateFileA((folder + found.cFileName).c_str(), DELETE | READ_CONTROL,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file && trusted.OwnOpenFile(file.get())) {
            FILE_DISPOSITION_INFO dispose = {TRUE};
            SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
        }
    } while (FindNextFileA(search.get(), &found));
}

} // namespace

std::wstring ServiceAccountSid(const wchar_t* startName) {
    if (startName == nullptr) {
        return std::wstring();
    }
    // The service configuration names local accounts ".\name"; the lookup knows them by name.
    const wchar_t* name = std::wcsncmp(startName, L".\\", 2) == 0 ? startName + 2 : startName;
    if (*name == L'\0' || _wcsicmp(name, L"LocalSystem") == 0) {
        return std::wstring();
    }
    alignas(SID) BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof sid;
    wchar_t domain[256]; // a domain name is at most 255 characters
    DWORD cchDomain = 256;
    SID_NAME_USE use;
    if (!LookupAccountNameW(nullptr, name, sid, &cbSid, domain, &cchDomain, &use) ||
        IsWellKnownSid(sid, WinLocalSystemSid)) {
        return std::wstring();
    }
    return SidText(sid);
}

DWORD CreateProtectedFolder(const std::wstring& path) {
    // The common case at start-up: the folder is there already and is left as it is, so the
    // service manager need not be asked for the service's account.
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    ProtectedSecurity security(ConfiguredServiceAccountSid());
    if (security.Attributes() == nullptr) {
        return GetLastError();
    }
    if (CreateDirectoryW(path.c_str(), security.Attributes()) ||
        GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    return GetLastError();
}

bool WriteProtectedFile(const CIniFile& ini) {
    const std::string path = ini.GetPath();
    const std::size_t slash = path.find_last_of("\\/");
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // The folder as a name of its own: without its separator, except for a drive's root.
    std::string folderName = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    if (folderName.empty() || folderName.back() == ':') {
        folderName += '\\';
    }
    const TrustedOwners trusted;
    DWORD error = trusted.CheckOwner(folderName);
    if (error == 0 && !path.empty()) {
        error = trusted.CheckOwner(path);
    }
    if (error != 0) {
        SetLastError(error);
        return false;
    }
    RemoveStaleTemporaries(path, folder, trusted);
    ProtectedSecurity security(trusted.ServiceAccount());
    if (security.Attributes() == nullptr) {
        return false;
    }
    ReplaceGuard guard;
    guard.security = security.Attributes();
    guard.mayWriteInPlace = [&trusted](void* handle) {
        return trusted.OwnOpenFile(static_cast<HANDLE>(handle));
    };
    return ini.WriteFile(nullptr, &guard);
}

} // namespace corvane::console::config
