#include "corvanelib/log/LogConfig.h"

#include "corvanelib/log/CorvaneLog.h"
#include "corvanelib/log/dictionary/ConfigDictionary.h"
#include "corvanelib/Win32/Text.h"

#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

namespace corvanelib {

const wchar_t kLogConfigFile[] = L"c:\\config.ini";

namespace {

const DWORD kWatchIntervalMs = 2000;
// The watcher sleeps in slices so that a stop request is seen well within Stop's wait.
const DWORD kWatchSliceMs = 100;

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek &&
           a.wDay == b.wDay && a.wHour == b.wHour && a.wMinute == b.wMinute &&
           a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

// Longest default log directory, terminator included.
const size_t kDirectoryChars = MAX_PATH;
const wchar_t kDefaultSubdirectory[] = L"\\config\\cvnlog\\";

// The system directory followed by "\config\cvnlog\", cut to kDirectoryChars - 1 characters.
// Both levels are created when missing: on a fresh machine the "config" level may not exist.
std::wstring DefaultDirectory() {
    wchar_t buffer[kDirectoryChars] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_SYSTEM, TRUE)) {
        buffer[0] = L'\0';
    }
    std::wstring directory(buffer);
    directory += kDefaultSubdirectory;
    if (directory.size() > kDirectoryChars - 1) {
        directory.resize(kDirectoryChars - 1);
    }
    const size_t last = directory.find_last_of(L'\\', directory.size() - 2);
    if (last != std::wstring::npos) {
        CreateDirectoryW(directory.substr(0, last).c_str(), nullptr);
    }
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

} // namespace

LogConfig::LogConfig() : WinThread(L"WinThread") {}

LogConfig::~LogConfig() {
    StopWatcher();
}

bool LogConfig::StopWatcher() {
    RequestStop();
    return Stop(1000, nullptr);
}

bool LogConfig::ReadStopped(void* configuration) {
    return static_cast<LogConfig*>(configuration)->StopRequested();
}

int LogConfig::Init(int threshold, int outputKind, const wchar_t* name, const wchar_t* section,
                    const wchar_t* directory) {
    if (name == nullptr || section == nullptr) {
        return 2;
    }
    std::wstring storedDirectory =
        directory != nullptr ? std::wstring(directory) + L"\\" : DefaultDirectory();
    {
        corvanelib::Lock guard(m_mutex);
        m_name = name;
        m_section = section;
        m_directory.swap(storedDirectory);
    }
    SetLevels(threshold, outputKind);
    return 0;
}

int LogConfig::GetSetting(const wchar_t* key, std::wstring& value) {
    if (key == nullptr) {
        return -1;
    }
    corvanelib::Lock guard(m_mutex);
    const auto found = m_settings.find(key);
    if (found == m_settings.end()) {
        return -1;
    }
    value = found->second;
    return 0;
}

std::wstring LogConfig::GetLogPath() {
    corvanelib::Lock guard(m_mutex);
    return m_directory + m_name;
}

bool LogConfig::StartWatcher() {
    return Start();
}

int LogConfig::RegisterProviderName(const wchar_t* name) {
    if (name == nullptr || *name == L'\0') {
        return -1;
    }
    const std::wstring key(name);
    if (m_providerNumbers.count(key) != 0) {
        return -1;
    }
    int number;
    if (key == L"file") {
        number = kFileProvider;
    } else if (key == L"vsdebug") {
        number = kDebugOutputProvider;
    } else if (key == L"wnd") {
        number = kWindowProvider;
    } else if (key == L"critfile") {
        number = kCritFileProvider;
    } else {
        // Numbers above the fixed ones, so that a further name never takes the number of "wnd".
        number = ++m_nextProviderNumber;
    }
    m_providerNumbers.emplace(key, number);
    return number;
}

void LogConfig::SetLevels(int threshold, int outputKind) {
    m_threshold.store(threshold, std::memory_order_relaxed);
    m_outputKind.store(outputKind, std::memory_order_relaxed);
}

void LogConfig::ThreadStart() {
    while (!StopRequested()) {
        CheckConfigChanged();
        for (DWORD slept = 0; slept < kWatchIntervalMs && !StopRequested();
             slept += kWatchSliceMs) {
            Sleep(kWatchSliceMs);
        }
    }
    g_commonLog.WriteLog(4, L".\\CorvaneLog", L"corvanelib::LogConfig::ThreadStart", 148,
                         L"LogConfig thread is exit now!");
}

void LogConfig::CheckConfigChanged() {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(kLogConfigFile, GetFileExInfoStandard, &attributes)) {
        return;
    }
    SYSTEMTIME written = {};
    FileTimeToSystemTime(&attributes.ftLastWriteTime, &written);
    if (!SameTime(written, m_lastWriteTime)) {
        // A file that exists but cannot be read now (locked, say) is read at a later check.
        m_lastWriteTime = Reload() ? written : SYSTEMTIME{};
    }
}

CommonConfig::~CommonConfig() {
    StopWatcher();
}

// The keys of the configured section become the settings, lower case whatever the file writes,
// with their values as written. A file that lacks the section empties the settings; one that
// cannot be read in full keeps them. The file is read into a dictionary of its own, without the
// mutex, so that a slow read (a large file, or keys that collide in the hash) never holds up a
// lookup, and gives up when the watcher is asked to stop.
bool CommonConfig::Reload() {
    try {
        std::wstring sectionName;
        {
            corvanelib::Lock guard(m_mutex);
            sectionName = m_section;
        }
        ConfigDictionary dictionary;
        dictionary.stopLoading = &LogConfig::ReadStopped;
        dictionary.stopContext = static_cast<LogConfig*>(this);
        if (LoadIfChanged(dictionary,
                          WideToCodePage(kLogConfigFile, wcslen(kLogConfigFile)).c_str()) !=
            kLoadOk) {
            return false;
        }
        const std::string section = WideToCodePage(sectionName);
        std::map<std::wstring, std::wstring> settings;
        for (const std::string& key : ListKeys(dictionary, section.c_str())) {
            const char* value =
                GetString(dictionary, section.c_str(), key.c_str(), nullptr, 0, nullptr);
            settings.emplace(CodePageToWide(key), CodePageToWide(value, std::strlen(value)));
        }
        corvanelib::Lock guard(m_mutex);
        m_settings.swap(settings);
        return true;
    } catch (const std::bad_alloc&) {
        // Out of memory on the watcher's thread: keep the last settings and try again later.
        return false;
    }
}

} // namespace corvanelib
