// String resources and the two text forms of the console: UTF-16 for the window system,
// 8-bit text in the system code page for the console's own records and files.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <string>

namespace corvane::ui {

// The module whose resources the console loads: the program itself unless set otherwise.
HINSTANCE ResourceModule();
void SetResourceModule(HINSTANCE module);

// String `id` of the string table in the thread's user-interface language; empty when the id
// does not exist.
std::wstring LoadText(UINT id);
// The same text in the system code page.
std::string LoadText8(UINT id);

std::string ToCodePage(const std::wstring& text);
std::wstring FromCodePage(const std::string& text);

// The program file's name without folder and extension ("Brantel").
std::wstring ProgramName();

} // namespace corvane::ui
