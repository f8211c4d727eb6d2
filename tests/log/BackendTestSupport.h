// Helpers for the tests of the log's configuration and outputs: whole-file reads and writes, a
// private path in the temporary folder, and the configuration file "c:\config.ini".
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace corvane_test {

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    return static_cast<bool>(std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes);
}

// The whole file, or "<missing>".
inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

// A fresh directory of this process in the temporary folder, without a trailing backslash.
inline std::wstring FreshDirectory(const std::wstring& name) {
    const auto path = std::filesystem::temp_directory_path() /
                      (L"cvn_" + name + L"_" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    std::filesystem::create_directory(path, ignored);
    return path.wstring();
}

// "c:\config.ini", absent before and after the test. Each Write sets a write time no earlier
// Write used, so a change is seen whatever the file system's time resolution; `keepTime` puts
// the last one back.
class ConfigFile {
public:
    ConfigFile() { Delete(); }
    ~ConfigFile() { Delete(); }
    void Delete() { DeleteFileW(kPath); }
    bool Write(const std::string& content, bool keepTime = false) {
        m_stamps += keepTime ? 0 : 1;
        ULARGE_INTEGER value;
        value.QuadPart = 132000000000000000ull + 10000000ull * static_cast<unsigned>(m_stamps);
        const FILETIME time = {value.LowPart, value.HighPart};
        if (!WriteBytes(kPath, content)) {
            return false;
        }
        HANDLE file = CreateFileW(kPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool ok = SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
        return ok;
    }
    // Opens the file for this process alone: nobody else can open it while the handle lives.
    HANDLE Lock() const {
        return CreateFileW(kPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }

private:
    static constexpr const wchar_t* kPath = L"c:\\config.ini";
    int m_stamps = 0;
};

} // namespace corvane_test
