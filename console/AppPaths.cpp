#include "console/AppPaths.h"

#include "console/config/ProtectedFile.h"
#include "corvanelib/Win32/Text.h"

namespace corvane::console {

std::string g_dataDirectory;
std::string g_programDirectory;

DWORD FillAppPaths(int dataFolder) {
    g_dataDirectory.clear();
    wchar_t folder[MAX_PATH] = {};
    const HRESULT found = SHGetFolderPathW(nullptr, dataFolder | CSIDL_FLAG_CREATE, nullptr,
                                           SHGFP_TYPE_CURRENT, folder);
    DWORD error = 0;
    if (found == S_OK) {
        std::wstring data = folder;
        data += L"\\Corvane\\";
        // Closed to ordinary users from its creation: userconfig.ini holds a password. An
        // existing directory is fine; any other failure shows when the file is used.
        config::CreateProtectedFolder(data);
        g_dataDirectory = corvanelib::WideToCodePage(data);
    } else {
        error = HRESULT_FACILITY(found) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(found))
                                                          : ERROR_PATH_NOT_FOUND;
    }

    g_programDirectory = corvanelib::WideToCodePage(corvanelib::ProgramDirectory());
    return error;
}

} // namespace corvane::console
