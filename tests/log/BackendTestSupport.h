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
class TestDirectory {
public:
    explicit TestDirectory(const std::wstring& name)
        : m_path((std::filesystem::temp_directory_path() /
                  (L"cvn_" + name + L"_" + std::to_wstring(GetCurrentProcessId())))
                     .wstring()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        std::filesystem::create_directory(m_path, ignored);
    }
    ~TestDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TestDirectory(const TestDirectory&) = delete;
    TestDirectory& operator=(const TestDirectory&) = delete;

    const std::wstring& Path() const { return m_path; } // without a trailing backslash
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// "c:\config.ini", absent before and after the test. Every Write and Touch sets a write time no
// earlier call used, so a change is seen whatever the file system's time resolution.
class ConfigFile {
public:
    ConfigFile() { Delete(); }
    ~ConfigFile() { Delete(); }
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

    bool Write(const std::string& content) { return WriteBytes(kPath, content) && Touch(); }
    bool Touch() {
        ULARGE_INTEGER value;
        value.QuadPart = 132000000000000000ull + 10000000ull * static_cast<unsigned>(++m_stamps);
        return SetTime({value.LowPart, value.HighPart});
    }
    // New content under the old write time.
    bool WriteKeepingTime(const std::string& content) {
        WIN32_FILE_ATTRIBUTE_DATA before;
        return GetFileAttributesExW(kPath, GetFileExInfoStandard, &before) &&
               WriteBytes(kPath, content) && SetTime(before.ftLastWriteTime);
    }
    void Delete() { DeleteFileW(kPath); }

private:
    static constexpr const wchar_t* kPath = L"c:\\config.ini";

    static bool SetTime(const FILETIME& time) {
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
    int Checks() const { return m_checks.load(); }
    int Reloads() const { return m_reloads.load(); }
    // Number of the check that made the last reread (checks count from 1).
    int LastReloadingCheck() const { return m_lastReloadingCheck.load(); }

    // The setting's value, or "<none>".
    std::wstring Setting(const wchar_t* key) {
        std::wstring value;
        return GetSetting(key, value) == 0 ? value : L"<none>";
    }

protected:
    void CheckConfigChanged() override {
        corvanelib::CommonConfig::CheckConfigChanged();
        ++m_checks;
    }
    void Reload() override {
        corvanelib::CommonConfig::Reload();
        ++m_reloads;
        m_lastReloadingCheck = m_checks.load() + 1;
    }

private:
    std::atomic<int> m_checks{0};
    std::atomic<int> m_reloads{0};
    std::atomic<int> m_lastReloadingCheck{0};
};

} // namespace corvane_test
