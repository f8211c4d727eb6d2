// The output interface the log object writes records to. The log object owns every provider
// registered with it and calls Write with its own lock held; LockedWrite serialises callers that
// write to a provider directly.
#pragma once

namespace corvanelib {

class LogConfig;

class LogProvider {
public:
    // Takes the configuration the provider reads its settings from; 0 on success.
    virtual int Init(LogConfig* configuration) = 0;
    // Writes one record. `text` is NUL-terminated; `length` is the record length the log object
    // measured, in characters. 0 on success.
    virtual int Write(const wchar_t* text, int length) = 0;
    // Write under the provider's own mutex; `reserved` is not used.
    virtual int LockedWrite(const wchar_t* text, int length, int reserved) = 0;
    virtual void Close() = 0;
    // 0 when the provider can take records now; any other value when it cannot, and the log
    // object then writes to the log file instead.
    virtual int IsUnavailable() = 0;
    virtual ~LogProvider() = default;

protected:
    LogProvider() = default;
    LogProvider(const LogProvider&) = delete;
    LogProvider& operator=(const LogProvider&) = delete;

    LogConfig* m_configuration = nullptr;
};

} // namespace corvanelib
