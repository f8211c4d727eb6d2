// String resources of the console, as UTF-16 text for the window system.
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

} // namespace corvane::console::framework
