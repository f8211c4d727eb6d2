// Helpers for the tests of the log configuration and outputs: a private test directory, whole-file
// reads and writes, the configuration file "c:\config.ini" with chosen write times, and a
// configuration whose checks can be run by the test and are counted.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "corvanelib/log/CorvaneLog.h"

namespace corvane_test {

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok =
        file != INVALID_HANDLE_VALUE &&
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    CloseHandle(file);
    return ok;
}

// The whole file, or "<missing>".
inline std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read != 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

// A fresh directory under the temporary folder, removed with its files afterwards.
class TestDirectory {
public:
    explicit TestDirectory(const std::wstring& name) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_path = temp + (L"cvn_" + name + L"_" + std::to_wstring(GetCurrentProcessId()));
        Remove();
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TestDirectory() { Remove(); }
    TestDirectory(const TestDirectory&) = delete;
    TestDirectory& operator=(const TestDirectory&) = delete;

    const std::wstring& Path() const { return m_path; } // without a trailing backslash
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    void Remove() {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((m_path + L"\\*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more;
             more = FindNextFileW(search, &found)) {
            DeleteFileW(File(found.cFileName).c_str());
        }
        FindClose(search);
        RemoveDirectoryW(m_path.c_str());
    }

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
