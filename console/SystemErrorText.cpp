#include "console/SystemErrorText.h"

#include "corvanelib/Win32/UniqueHandle.h"

std::wstring SystemErrorText(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    // The system allocates the buffer; 1,024 characters are plenty for any message text.
    const DWORD cch = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<LPWSTR>(&buffer), 1024, nullptr);
    const corvanelib::UniqueLocalMemory owner(buffer);
    if (cch == 0 || buffer == nullptr) {
        return std::wstring();
    }
    return std::wstring(buffer, cch);
}
