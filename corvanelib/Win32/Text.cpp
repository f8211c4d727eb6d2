#include "corvanelib/Win32/Text.h"

#include <climits>

namespace corvanelib {

namespace {

const wchar_t kSeparators[] = L"\\/";

} // namespace

std::string WideToCodePage(const wchar_t* text, std::size_t cch, UINT codePage) {
    if (text == nullptr || cch == 0 || cch > static_cast<std::size_t>(INT_MAX)) {
        return std::string();
    }
    const int cchIn = static_cast<int>(cch);
    const int cb = WideCharToMultiByte(codePage, 0, text, cchIn, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) {
        return std::string();
    }
    std::string out(static_cast<std::size_t>(cb), '\0');
    if (WideCharToMultiByte(codePage, 0, text, cchIn, &out[0], cb, nullptr, nullptr) != cb) {
        return std::string();
    }
    return out;
}

std::string WideToCodePage(const std::wstring& text, UINT codePage) {
    return WideToCodePage(text.data(), text.size(), codePage);
}

std::wstring CodePageToWide(const char* text, std::size_t cb, UINT codePage) {
    if (text == nullptr || cb == 0 || cb > static_cast<std::size_t>(INT_MAX)) {
        return std::wstring();
    }
    const int cbIn = static_cast<int>(cb);
    const int cch = MultiByteToWideChar(codePage, 0, text, cbIn, nullptr, 0);
    if (cch <= 0) {
        return std::wstring();
    }
    std::wstring out(static_cast<std::size_t>(cch), L'\0');
    if (MultiByteToWideChar(codePage, 0, text, cbIn, &out[0], cch) != cch) {
        return std::wstring();
    }
    return out;
}

std::wstring CodePageToWide(const std::string& text, UINT codePage) {
    return CodePageToWide(text.data(), text.size(), codePage);
}

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return cch < MAX_PATH ? std::wstring(path, cch) : std::wstring();
}

std::wstring ProgramFileName() {
    std::wstring name = ProgramPath();
    const std::size_t slash = name.find_last_of(kSeparators);
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    return name;
}

std::wstring ProgramName() {
    std::wstring name = ProgramFileName();
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

std::wstring ProgramDirectory() {
    std::wstring directory = ProgramPath();
    const std::size_t slash = directory.find_last_of(kSeparators);
    directory.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return directory;
}

} // namespace corvanelib
