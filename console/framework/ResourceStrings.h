// String resources of the console, as UTF-16 for the window system or as 8-bit text in the
// system code page for the console's own records and files (corvanelib/Win32/Text.h converts
// between the two).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <string>

namespace corvane::console::framework {

// The module whose resources the console loads: the program itself unless set otherwise.
HINSTANCE ResourceModule();
void SetResourceModule(HINSTANCE module);

// String `id` of the string table in the thread's user-interface language; empty when the id
// does not exist.
std::wstring LoadText(UINT id);
// The same text in the system code page.
std::string LoadText8(UINT id);

} // namespace corvane::console::framework
