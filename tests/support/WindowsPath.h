// Paths CMake hands to Windows test programs, in the form Windows takes them.
#pragma once

#include <string>

namespace corvane_test {

// The Windows form of a path CMake gives: "/x/y" (the build tree seen by Wine through drive
// Z:) becomes "Z:\x\y", "C:/x/y" becomes "C:\x\y".
inline std::wstring WindowsPath(const char* buildPath) {
    std::wstring path;
    for (const char* c = buildPath; *c != '\0'; ++c) {
        path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    if (!path.empty() && path[0] == L'\\') {
        path.insert(0, L"Z:");
    }
    return path;
}

} // namespace corvane_test
