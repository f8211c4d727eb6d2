#include "corvanelib/log/VSDebugLogProvider.h"

namespace corvanelib {

VSDebugLogProvider::~VSDebugLogProvider() = default;

int VSDebugLogProvider::Init(LogConfig* configuration) {
    m_configuration = configuration;
    return 0;
}

int VSDebugLogProvider::Write(const wchar_t* text, int /*length*/) {
    if (text != nullptr) {
        OutputDebugStringW(text);
    }
    return 0;
}

int VSDebugLogProvider::LockedWrite(const wchar_t* text, int length, int /*reserved*/) {
    corvanelib::Lock guard(m_mutex);
    return Write(text, length);
}

} // namespace corvanelib
