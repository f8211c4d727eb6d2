// The process-wide log: g_commonLog, configured by g_commonConfig.
//
//   corvanelib::g_commonLog.WriteLog(2, L"" __FILE__,
//                                    L"corvanelib::CorvaneTasks::CheckServiceStatus", __LINE__,
//                                    L"Can not query service's status! error:%u\n", error);
//
// A call whose level is above the configuration's threshold (always, until the log is
// initialised) returns 0 at once: nothing is locked, formatted or allocated.
//
// A record is one line, built in a buffer of the log object under its lock:
//   MMDD-HH:MM:SS<TAB>[L] File.ext:line(function){program.exe-pid-tid}:<TAB>message
// with L the level letter: 0 N, 1 C (failures that stop an operation), 2 E (errors with a system
// code), 3 I (notable successes), 4 D (details), 5 R (step-by-step traces).
//
// Wide formats follow the platform's wide printf: %s takes a wide string, %hs a narrow one.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <map>
#include <memory>

#include "corvanelib/log/LogConfig.h"
#include "corvanelib/log/LogProvider.h"
#include "corvanelib/Win32/Synchronization/Lock.h"

namespace corvanelib {

class Log {
public:
    static const int kRecordChars = 8192;
    static const int kNarrowBytes = 1024;
    // Longest wait for the lock; a record that cannot get it within this time is dropped.
    static const DWORD kLockWaitMs = 15000;

    // The configuration is not owned and must outlive the log object.
    explicit Log(LogConfig* configuration);

    // Writes one record with a wide format. Returns 0 when the level is not enabled, -1 when
    // the record could not be written (the lock wait ran out, the file output is unavailable
    // or missing), else the result of the output provider's Write. Keeps the caller's last
    // error.
    virtual int WriteLog(int level, const wchar_t* sourceFile, const wchar_t* function, int line,
                         const wchar_t* format, ...);
    // As WriteLog, with the record's trailing CR and LF characters overwritten with NUL; the
    // length handed to the provider still counts them.
    virtual int WriteLogLine(int level, const wchar_t* sourceFile, const wchar_t* function,
                             int line, const wchar_t* format, ...);
    // As WriteLog with an 8-bit format in the ANSI code page; the message keeps at most 1023
    // bytes before it is converted.
    virtual int WriteLogA(int level, const wchar_t* sourceFile, const wchar_t* function, int line,
                          const char* format, ...);
    // Copies a record of level 1 or below to the critical-record provider; 0 for other levels,
    // -1 when no such provider is registered.
    virtual int EchoCritical(int level, const wchar_t* text, int length);
    // Does nothing and returns 0; it keeps its place among the operations.
    virtual int Reserved();
    // Registers a provider under a name and takes ownership of it on success (0). On failure
    // the caller keeps it: -1 for a null provider, a null or empty name, or a number already
    // taken; the negative result of the name registration when the name is already known.
    // Not locked: providers are registered before records flow.
    virtual int AddProvider(LogProvider* provider, const wchar_t* name);
    // Writes the record header into the record buffer; returns its length (0 when the buffer
    // holds no terminated text).
    virtual int FormatHeader(int level, const wchar_t* function, int line);
    // True when the log is not muted and level is one of the six levels (0 to 5) and at most
    // the threshold. Levels outside the table are never written: a negative one would otherwise
    // pass even the threshold -1 of an unconfigured log.
    virtual bool IsEnabled(int level);
    // Mutes the log first, so that records logged while it is torn down (by a provider's
    // destructor, say) are dropped; then waits, at most as long as a record waits for the lock,
    // for a record another thread may still be writing, and deletes the providers. Providers
    // still in use by a writer that kept the lock beyond that wait are left to it, not deleted.
    virtual ~Log();

    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Stores a new muted value (non-zero: nothing is written) and returns the old one.
    int SetMuted(int value);

private:
    enum class RecordKind { Wide, WideLine, Narrow };

    int WriteRecord(RecordKind kind, int level, const wchar_t* sourceFile, const wchar_t* function,
                    int line, const wchar_t* wideFormat, const char* narrowFormat, va_list args);
    void SetCallerFile(const wchar_t* sourceFile);
    LogProvider* FindProvider(int number) const;

    std::atomic<int> m_muted{0};
    LogConfig* m_configuration;
    std::map<int, std::unique_ptr<LogProvider>> m_providers;
    WinMutex m_lock;
    // Used only while m_lock is held.
    char m_narrow[kNarrowBytes] = {};
    wchar_t m_record[kRecordChars] = {};
    wchar_t m_callerFile[64] = {};
    wchar_t m_callerExtension[8] = {};
};

// The process-wide log also records the start of every WinThread: level 3 "New Thread Created,
// Thread ID is <id>", or level 1 "Can not create thread!", from corvanelib::WinThread::Start.
class CommonLog : public Log {
public:
    // Installs the thread layer's start observer.
    explicit CommonLog(LogConfig* configuration);
    // Removes it.
    ~CommonLog() override;
};

// Built by static initialisation in this order, destroyed in the reverse order.
extern CommonConfig g_commonConfig;
extern CommonLog g_commonLog;

} // namespace corvanelib
