// The two process-wide directory texts. Both are empty until the application's start fills
// them (BrantelApp), then hold a full path that ends with a backslash. 8-bit text in the
// system code page, like every path the console's records and files use.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

namespace corvane::console {

// The machine's common application-data folder followed by "\Corvane\"; userconfig.ini lives
// here.
extern std::string g_dataDirectory;
// The folder of the program file; helper programs are started from here.
extern std::string g_programDirectory;

// Fills both texts and creates the data directory, closed to ordinary users (an existing one is
// fine and left as it is). Called once by the application's start. Returns 0, or the system
// error code when the folder `dataFolder` (a CSIDL, the common application-data folder unless
// told otherwise) cannot be found; the data directory then stays empty.
DWORD FillAppPaths(int dataFolder = CSIDL_COMMON_APPDATA);

} // namespace corvane::console
