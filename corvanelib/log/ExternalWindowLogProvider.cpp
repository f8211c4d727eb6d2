#include "corvanelib/log/ExternalWindowLogProvider.h"

#include "corvanelib/log/LogConfig.h"

#include <string>

namespace corvanelib {

ExternalWindowLogProvider::~ExternalWindowLogProvider() = default;

int ExternalWindowLogProvider::Init(LogConfig* configuration) {
    m_configuration = configuration;
    return 0;
}

int ExternalWindowLogProvider::IsUnavailable() {
    std::wstring title;
    if (m_configuration == nullptr || m_configuration->GetSetting(L"wnd", title) != 0) {
        return kNoWindow;
    }
    m_window = FindWindowW(nullptr, title.c_str());
    return m_window != nullptr ? 0 : kNoWindow;
}

int ExternalWindowLogProvider::Write(const wchar_t* text, int length) {
    if (length == 0) {
        return 0;
    }
    if (text == nullptr || text[0] == L'\0') {
        return 2;
    }
    if (m_window == nullptr) {
        return kNoWindow;
    }
    const DWORD bytes = 2 * static_cast<DWORD>(length > 0 ? length : 0);
    COPYDATASTRUCT data = {};
    data.dwData = bytes;
    data.cbData = bytes;
    data.lpData = const_cast<wchar_t*>(text);
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(m_window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                            SMTO_ABORTIFHUNG, kSendTimeoutMs, &answer) == 0) {
        return -1;
    }
    return 0;
}

int ExternalWindowLogProvider::LockedWrite(const wchar_t* text, int length, int /*reserved*/) {
    corvanelib::Lock guard(m_mutex);
    return Write(text, length);
}

void ExternalWindowLogProvider::Close() {
    m_window = nullptr;
}

} // namespace corvanelib
