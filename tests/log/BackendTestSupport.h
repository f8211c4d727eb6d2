// Helpers for the tests of the log configuration and outputs: a private test directory, whole-file
// reads and writes, the configuration file "c:\config.ini" with chosen write times, and a
// configuration whose checks can be run by the test and are counted.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "corvanelib/log/CorvaneLog.h"

namespace corvane_test {

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    return static_cast<bool>(out << bytes);
}

// The whole file, or "<missing>".
inline std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

// A fresh directory under the temporary folder, removed with its files afterwards.
struct TestDirectory {
    explicit TestDirectory(const std::wstring& name)
        : path((std::filesystem::temp_directory_path() /
                (L"cvn_" + name + L"_" + std::to_wstring(GetCurrentProcessId())))
                   .wstring()) {
        std::filesystem::remove_all(path, ignored);
        std::filesystem::create_directory(path, ignored);
    }
    ~TestDirectory() { std::filesystem::remove_all(path, ignored); }
    std::wstring File(const std::wstring& name) const { return path + L"\\" + name; }

    const std::wstring path; // without a trailing backslash
    std::error_code ignored;
};

// "c:\config.ini", absent before and after the test. Write and Touch set a write time no earlier
// call used, so a change is seen whatever the file system's time resolution; WriteKeepingTime
// puts the last one back.
class ConfigFile {
public:
    ConfigFile() { Delete(); }
    ~ConfigFile() { Delete(); }

    bool Write(const std::string& content) { return WriteBytes(kPath, content) && Touch(); }
    bool WriteKeepingTime(const std::string& content) {
        return WriteBytes(kPath, content) && SetTime();
    }
    bool Touch() {
        ++m_stamps;
        return SetTime();
    }
    void Delete() { DeleteFileW(kPath); }

private:
    static constexpr const wchar_t* kPath = L"c:\\config.ini";

    bool SetTime() const {
        ULARGE_INTEGER value;
        value.QuadPart = 132000000000000000ull + 10000000ull * static_cast<unsigned>(m_stamps);
        const FILETIME time = {value.LowPart, value.HighPart};
        HANDLE file = CreateFileW(kPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool ok = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
        return ok;
    }

    int m_stamps = 0;
};

// A process configuration whose checks the test can run, counted also when the watcher runs them.
class CountingConfig : public corvanelib::CommonConfig {
public:
    // The watcher must be gone before the counters and the overrides are.
    ~CountingConfig() override { StopWatcher(); }

    void Check() { CheckConfigChanged(); }
    // The setting's value, or "<none>".
    std::wstring Setting(const wchar_t* key) {
        std::wstring value;
        return GetSetting(key, value) == 0 ? value : L"<none>";
    }

    std::atomic<int> checks{0};
    std::atomic<int> reloads{0};
    std::atomic<int> lastReloadingCheck{0}; // number of the check that made the last reread

protected:
    void CheckConfigChanged() override {
        corvanelib::CommonConfig::CheckConfigChanged();
        ++checks;
    }
    void Reload() override {
        corvanelib::CommonConfig::Reload();
        ++reloads;
        lastReloadingCheck = checks + 1;
    }
};

} // namespace corvane_test
