#include "Strings.h"

namespace corvane::ui {

namespace {
HINSTANCE g_resourceModule = nullptr;
}

HINSTANCE ResourceModule() {
    return g_resourceModule ? g_resourceModule : GetModuleHandleW(nullptr);
}

void SetResourceModule(HINSTANCE module) {
    g_resourceModule = module;
}

std::wstring LoadText(UINT id) {
    // With a zero size the call hands out a pointer into the read-only resource itself, so
    // a string of any length comes out whole.
    const wchar_t* text = nullptr;
    const int cch = LoadStringW(ResourceModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (cch <= 0 || text == nullptr) {
        return std::wstring();
    }
    return std::wstring(text, static_cast<size_t>(cch));
}

std::string LoadText8(UINT id) {
    return ToCodePage(LoadText(id));
}

std::string ToCodePage(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const int cch = static_cast<int>(text.size());
    const int cb = WideCharToMultiByte(CP_ACP, 0, text.data(), cch, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), cch, &out[0], cb, nullptr, nullptr);
    return out;
}

std::wstring FromCodePage(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int cb = static_cast<int>(text.size());
    const int cch = MultiByteToWideChar(CP_ACP, 0, text.data(), cb, nullptr, 0);
    if (cch <= 0) {
        return std::wstring();
    }
    std::wstring out(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), cb, &out[0], cch);
    return out;
}

std::wstring ProgramName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, cch < MAX_PATH ? cch : 0);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

} // namespace corvane::ui
