#include "console/framework/ResourceStrings.h"

namespace corvane::console::framework {

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

} // namespace corvane::console::framework
