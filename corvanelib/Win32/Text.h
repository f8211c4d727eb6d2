// Text between UTF-16 and 8-bit code pages, and the name of the running program: one home for
// the library, the console, the peers and the tests.
//
// Conversions take the whole text (embedded NULs included) and return it whole; a text that
// cannot be converted comes back empty, as an empty text does. Characters a code page lacks
// become its default character ("?").
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <string>

namespace corvanelib {

std::string WideToCodePage(const wchar_t* text, std::size_t cch, UINT codePage = CP_ACP);
std::string WideToCodePage(const std::wstring& text, UINT codePage = CP_ACP);
std::wstring CodePageToWide(const char* text, std::size_t cb, UINT codePage = CP_ACP);
std::wstring CodePageToWide(const std::string& text, UINT codePage = CP_ACP);

// Full path of the program's file; empty when the system cannot give it or it is longer than
// MAX_PATH - 1 characters.
std::wstring ProgramPath();
// The path's last component ("Brantel.exe"); empty with the path.
std::wstring ProgramFileName();
// The file name without its extension ("Brantel").
std::wstring ProgramName();
// The path up to and including its last backslash or slash; empty with the path.
std::wstring ProgramDirectory();

} // namespace corvanelib
