#include "corvanelib/log/FileLogProvider.h"

#include "corvanelib/log/LogConfig.h"
#include "corvanelib/Win32/Text.h"

#include <cwchar>
#include <string>
#include <utility>

namespace corvanelib {

namespace {

const char kLineEnd[] = "\r\n";

// Opens for appending only, shared with every other opener for reading and writing: each write
// lands at the end of the file as it is then, also when another opener has written to it.
UniqueFileHandle OpenForAppending(const std::wstring& path, DWORD disposition) {
    return UniqueFileHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace

FileLogProvider::~FileLogProvider() {
    Close();
    m_configuration = nullptr;
}

int FileLogProvider::Init(LogConfig* configuration) {
    if (configuration == nullptr) {
        return -1;
    }
    return Open(configuration, configuration->GetLogPath());
}

int FileLogProvider::Open(LogConfig* configuration, const std::wstring& path) {
    if (configuration == nullptr) {
        return -1;
    }
    m_configuration = configuration;
    m_path = path;
    m_file.reset();

    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &attributes)) {
        m_counted = attributes.nFileSizeLow;
        m_file = OpenForAppending(m_path, OPEN_ALWAYS);
        return 0;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return 1;
    }
    m_file = OpenForAppending(m_path, CREATE_ALWAYS);
    return 0;
}

int FileLogProvider::Write(const wchar_t* text, int length) {
    if (m_configuration == nullptr) {
        return -1;
    }
    if (length > 0) {
        const unsigned long long counted = m_counted + 2ull * static_cast<unsigned>(length);
        m_counted = counted > MAXDWORD ? MAXDWORD : static_cast<DWORD>(counted);
    }
    if (m_counted > kRestartBytes) {
        // Restart empty: the record that crossed the limit becomes the first line.
        UniqueFileHandle emptied = OpenForAppending(m_path, CREATE_ALWAYS);
        if (emptied) {
            m_file = std::move(emptied);
            m_counted = 0;
        }
    }
    return WriteLine(text != nullptr ? text : L"") ? 0 : -1;
}

bool FileLogProvider::WriteLine(const wchar_t* text) {
    if (!m_file) {
        return false;
    }
    const size_t chars = wcslen(text);
    const std::string encoded = WideToCodePage(text, chars, kCodePage);
    if (chars != 0 && encoded.empty()) {
        return false;
    }
    // No byte of a double-byte character in this code page is a line feed.
    std::string& line = m_line;
    line.clear();
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '\n' && (i == 0 || encoded[i - 1] != '\r')) {
            line += '\r';
        }
        line += encoded[i];
    }
    line += kLineEnd;
    const DWORD total = static_cast<DWORD>(line.size());

    DWORD written = 0;
    return WriteFile(m_file.get(), line.data(), total, &written, nullptr) && written == total;
}

int FileLogProvider::LockedWrite(const wchar_t* text, int length, int /*reserved*/) {
    corvanelib::Lock guard(m_mutex);
    return Write(text, length);
}

void FileLogProvider::Close() {
    m_file.reset();
}

CritFileLogProvider::~CritFileLogProvider() = default;

int CritFileLogProvider::Init(LogConfig* configuration) {
    if (configuration == nullptr) {
        return -1;
    }
    return Open(configuration, configuration->GetLogPath() + L".crit");
}

} // namespace corvanelib
