#include "corvanelib/log/LogConfig.h"

#include "corvanelib/log/CorvaneLog.h"

#include <cwchar>

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

} // namespace

LogConfig::LogConfig() : WinThread(L"WinThread") {}

LogConfig::~LogConfig() {
    StopWatcher();
}

void LogConfig::StopWatcher() {
    RequestStop();
    Stop(1000, nullptr);
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
    m_threshold = threshold;
    m_outputKind = outputKind;
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
    corvanelib::Lock guard(m_mutex);
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(kLogConfigFile, GetFileExInfoStandard, &attributes)) {
        return;
    }
    SYSTEMTIME written = {};
    FileTimeToSystemTime(&attributes.ftLastWriteTime, &written);
    if (!SameTime(written, m_lastWriteTime)) {
        m_lastWriteTime = written;
        Reload();
    }
}

CommonConfig::~CommonConfig() {
    StopWatcher();
}

void CommonConfig::Reload() {
    // The settings are read through the configuration dictionary; until a file has been read
    // they stay empty.
}

} // namespace corvanelib
