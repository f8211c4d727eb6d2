// The data folder and userconfig.ini hold the user's password in plain text (the admission
// service reads it so). Both are closed to everyone but SYSTEM, the Administrators and the
// account the service runs as, from the moment each is created, and nothing is written into a
// folder or file that an ordinary user could have placed there.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

class CIniFile;

namespace corvane::console::config {

// The SID, as text, of the account a service configuration names as the service's account
// (`startName` as QueryServiceConfigW gives it). Empty for no name, for LocalSystem and for a
// name the system does not know.
std::wstring ServiceAccountSid(const wchar_t* startName);

// Creates the folder `path` closed to ordinary users: a protected DACL (nothing inherited)
// granting full control to SYSTEM, the Administrators and, when the admission service is
// configured to run as another account than LocalSystem, that account. 0 when it was created or
// already exists (an existing folder is left as it is); otherwise the system's error code.
DWORD CreateProtectedFolder(const std::wstring& path);

// Writes `ini` to its own path as a file that holds secrets. Refused with ERROR_ACCESS_DENIED
// when the folder or an existing file is owned by anyone but SYSTEM, the Administrators,
// TrustedInstaller, the account this process runs as or the service's account. Temporary
// files that an earlier save left behind (our name pattern, a trusted owner) are removed
// first. The new file is created with the same DACL as the folder and moved over the old one;
// the fallback that writes in place does so only into a file with a trusted owner. False with
// the last error set when the file was not written.
bool WriteProtectedFile(const CIniFile& ini);

} // namespace corvane::console::config
