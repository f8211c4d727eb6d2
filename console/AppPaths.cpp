#include "AppPaths.h"

#include "Strings.h"

#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

namespace corvane {

std::string g_dataDirectory;
std::string g_programDirectory;

void FillAppPaths() {
    wchar_t folder[MAX_PATH] = {};
    if (SHGetSpecialFolderPathW(nullptr, folder, CSIDL_COMMON_APPDATA, TRUE)) {
        std::wstring data = folder;
        data += L"\\Corvane\\";
        // An existing directory is fine; any other failure shows when the file is used.
        CreateDirectoryW(data.c_str(), nullptr);
        g_dataDirectory = ui::ToCodePage(data);
    }

    wchar_t program[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring path(program, cch < MAX_PATH ? cch : 0);
    const size_t slash = path.find_last_of(L'\\');
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    g_programDirectory = ui::ToCodePage(path);
}

} // namespace corvane
