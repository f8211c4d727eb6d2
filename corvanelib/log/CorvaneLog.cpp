#include "corvanelib/log/CorvaneLog.h"

#include "corvanelib/Win32/LastError.h"
#include "corvanelib/Win32/Text.h"

// The record is formatted with the CRT's own _snwprintf/_vsnwprintf/_vsnprintf: with MSVC and
// MinGW alike (whatever __USE_MINGW_ANSI_STDIO says) %s in a wide format takes a wide string.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace corvanelib {

// Same translation unit and this order: the log object is built on the configuration.
CommonConfig g_commonConfig;
CommonLog g_commonLog(&g_commonConfig);

namespace {

const wchar_t* const kLevelLetters[] = {L"N", L"C", L"E", L"I", L"D", L"R"};
const int kHighestLevel = 5;
// Shown by a header formatted directly for a level outside the table.
const wchar_t kUnknownLevelLetter[] = L"?";

// "The given device cannot be opened; the log is written to the file."
const wchar_t kFallbackNotice[] = L"无法打开指定的设备，日志写入文件中";
const int kFallbackNoticeChars = 17;
static_assert(sizeof(kFallbackNotice) / sizeof(wchar_t) - 1 == kFallbackNoticeChars,
              "the notice is written with its own length");

const wchar_t* LevelLetter(int level) {
    return level >= 0 && level <= kHighestLevel ? kLevelLetters[level] : kUnknownLevelLetter;
}

// The program's file name, or "." when the system cannot give it.
std::wstring ProgramFileNameOrDot() {
    const std::wstring name = ProgramFileName();
    return name.empty() ? std::wstring(L".") : name;
}

// Copies [begin, end) into a buffer of `capacity` characters; false when it does not fit.
bool CopyPart(const wchar_t* begin, const wchar_t* end, wchar_t* buffer, size_t capacity) {
    const size_t length = static_cast<size_t>(end - begin);
    if (length + 1 > capacity) {
        return false;
    }
    wmemcpy(buffer, begin, length);
    buffer[length] = L'\0';
    return true;
}

// Records a thread start of the thread layer, as that layer's own file, function and lines.
void RecordThreadStart(DWORD threadId) {
    const wchar_t source[] = L".\\Win32\\Synchronization\\Thread";
    const wchar_t function[] = L"corvanelib::WinThread::Start";
    if (threadId == 0) {
        g_commonLog.WriteLog(1, source, function, 106, L"Can not create thread!");
    } else {
        g_commonLog.WriteLog(3, source, function, 111, L"New Thread Created, Thread ID is %u",
                             static_cast<unsigned>(threadId));
    }
}

} // namespace

Log::Log(LogConfig* configuration) : m_configuration(configuration) {}

Log::~Log() {
    SetMuted(1);
    bool idle;
    {
        corvanelib::Lock guard(m_lock, kLockWaitMs);
        idle = guard.Taken();
    }
    if (!idle) {
        // A writer stuck beyond the longest wait of a record still uses its provider: leaking the
        // providers is safer than deleting them under it.
        for (auto& provider : m_providers) {
            provider.second.release();
        }
    }
    m_providers.clear();
}

int Log::SetMuted(int value) {
    return m_muted.exchange(value);
}

bool Log::IsEnabled(int level) {
    return m_muted.load(std::memory_order_relaxed) == 0 && level >= 0 && level <= kHighestLevel &&
           m_configuration != nullptr && level <= m_configuration->Threshold();
}

int Log::WriteLog(int level, const wchar_t* sourceFile, const wchar_t* function, int line,
                  const wchar_t* format, ...) {
    if (!IsEnabled(level)) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int result =
        WriteRecord(RecordKind::Wide, level, sourceFile, function, line, format, nullptr, args);
    va_end(args);
    return result;
}

int Log::WriteLogLine(int level, const wchar_t* sourceFile, const wchar_t* function, int line,
                      const wchar_t* format, ...) {
    if (!IsEnabled(level)) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int result =
        WriteRecord(RecordKind::WideLine, level, sourceFile, function, line, format, nullptr, args);
    va_end(args);
    return result;
}

int Log::WriteLogA(int level, const wchar_t* sourceFile, const wchar_t* function, int line,
                   const char* format, ...) {
    if (!IsEnabled(level)) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int result =
        WriteRecord(RecordKind::Narrow, level, sourceFile, function, line, nullptr, format, args);
    va_end(args);
    return result;
}

int Log::WriteRecord(RecordKind kind, int level, const wchar_t* sourceFile, const wchar_t* function,
                     int line, const wchar_t* wideFormat, const char* narrowFormat, va_list args) {
    // The record path must not disturb the caller, who may read the last error after logging it.
    const LastErrorKeeper lastError;
    corvanelib::Lock guard(m_lock, kLockWaitMs);
    if (!guard.Taken()) {
        // Another thread still builds a record in the shared buffers: drop this one rather than
        // write over it.
        return -1;
    }
    if (m_muted.load() != 0) {
        // Muted while this record waited: the log is being torn down, and its outputs with it.
        return 0;
    }

    SetCallerFile(sourceFile);
    const int header = FormatHeader(level, function, line);
    wchar_t* const message = m_record + header;
    const size_t room = static_cast<size_t>(kRecordChars - header);
    message[0] = L'\0';
    if (kind == RecordKind::Narrow) {
        if (narrowFormat != nullptr) {
            // At most kNarrowBytes - 1 bytes; the last byte of the buffer is never written and
            // stays NUL.
            const int written = _vsnprintf(m_narrow, kNarrowBytes - 1, narrowFormat, args);
            if (written < 0 || written == kNarrowBytes - 1) {
                m_narrow[kNarrowBytes - 1] = '\0';
            }
            const std::wstring converted = CodePageToWide(m_narrow, std::strlen(m_narrow));
            const size_t copied = converted.size() < room ? converted.size() : room - 1;
            wmemcpy(message, converted.data(), copied);
            message[copied] = L'\0';
        }
    } else if (wideFormat != nullptr) {
        _vsnwprintf(message, room, wideFormat, args);
    }
    // A message cut by the bounded formatting or conversion carries no terminator of its own.
    m_record[kRecordChars - 1] = L'\0';

    const int length = static_cast<int>(wcsnlen(m_record, kRecordChars));
    if (kind == RecordKind::WideLine) {
        for (int i = length - 1; i >= 0 && (m_record[i] == L'\r' || m_record[i] == L'\n'); --i) {
            m_record[i] = L'\0';
        }
    }

    const int outputKind = m_configuration->OutputKind();
    LogProvider* target = FindProvider(outputKind);
    // A provider that is not registered cannot take records either.
    if (target == nullptr || target->IsUnavailable() != 0) {
        if (outputKind == kFileProvider) {
            return -1;
        }
        target = FindProvider(kFileProvider);
        if (target == nullptr) {
            return -1;
        }
        target->Write(kFallbackNotice, kFallbackNoticeChars);
    }
    EchoCritical(level, m_record, length);
    return target->Write(m_record, length);
}

void Log::SetCallerFile(const wchar_t* sourceFile) {
    m_callerFile[0] = L'\0';
    m_callerExtension[0] = L'\0';
    if (sourceFile == nullptr) {
        return;
    }
    // Drive, directory, name and extension as the platform's path splitter sees them.
    const wchar_t* name = sourceFile;
    if (name[0] != L'\0' && name[1] == L':') {
        name += 2;
    }
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') {
            name = p + 1;
        }
    }
    const wchar_t* end = name + wcslen(name);
    const wchar_t* extension = end;
    for (const wchar_t* p = name; p != end; ++p) {
        if (*p == L'.') {
            extension = p;
        }
    }
    const size_t nameCapacity = sizeof(m_callerFile) / sizeof(m_callerFile[0]);
    const size_t extensionCapacity = sizeof(m_callerExtension) / sizeof(m_callerExtension[0]);
    // A part that does not fit empties both, and the header's file field stays empty.
    if (!CopyPart(name, extension, m_callerFile, nameCapacity) ||
        !CopyPart(extension, end, m_callerExtension, extensionCapacity)) {
        m_callerFile[0] = L'\0';
        m_callerExtension[0] = L'\0';
        return;
    }
    // Name and extension together, cut to the name buffer.
    const size_t nameLength = wcslen(m_callerFile);
    const size_t extensionLength = wcslen(m_callerExtension);
    const size_t appended = nameLength + extensionLength < nameCapacity
                                ? extensionLength
                                : nameCapacity - 1 - nameLength;
    wmemcpy(m_callerFile + nameLength, m_callerExtension, appended);
    m_callerFile[nameLength + appended] = L'\0';
}

int Log::FormatHeader(int level, const wchar_t* function, int line) {
    static const std::wstring program = ProgramFileNameOrDot();
    SYSTEMTIME now;
    GetLocalTime(&now);
    _snwprintf(m_record, kRecordChars, L"%02d%02d-%02d:%02d:%02d\t[%s] %s:%ld(%s){%s-%u-%u}:\t",
               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, LevelLetter(level),
               m_callerFile, static_cast<long>(line), function != nullptr ? function : L"",
               program.c_str(), static_cast<unsigned>(GetCurrentProcessId()),
               static_cast<unsigned>(GetCurrentThreadId()));
    const size_t length = wcsnlen(m_record, kRecordChars);
    return length < static_cast<size_t>(kRecordChars) ? static_cast<int>(length) : 0;
}

int Log::EchoCritical(int level, const wchar_t* text, int length) {
    if (level > 1) {
        return 0;
    }
    LogProvider* critical = FindProvider(kCritFileProvider);
    return critical != nullptr ? critical->Write(text, length) : -1;
}

int Log::Reserved() {
    return 0;
}

int Log::AddProvider(LogProvider* provider, const wchar_t* name) {
    if (provider == nullptr || name == nullptr || *name == L'\0' || m_configuration == nullptr) {
        return -1;
    }
    const int number = m_configuration->RegisterProviderName(name);
    if (number < 0) {
        return number;
    }
    auto inserted = m_providers.emplace(number, nullptr);
    if (!inserted.second) {
        return -1;
    }
    inserted.first->second.reset(provider);
    provider->Init(m_configuration);
    return 0;
}

LogProvider* Log::FindProvider(int number) const {
    const auto found = m_providers.find(number);
    return found != m_providers.end() ? found->second.get() : nullptr;
}

CommonLog::CommonLog(LogConfig* configuration) : Log(configuration) {
    WinThread::SetStartObserver(&RecordThreadStart);
}

CommonLog::~CommonLog() {
    WinThread::SetStartObserver(nullptr);
    SetMuted(1);
}

} // namespace corvanelib
