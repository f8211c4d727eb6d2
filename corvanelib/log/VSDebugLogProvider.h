// Records to the debugger output of the system, as they are: no line end is added.
#pragma once

#include "corvanelib/log/LogProvider.h"
#include "corvanelib/Win32/Synchronization/Lock.h"

namespace corvanelib {

class VSDebugLogProvider : public LogProvider {
public:
    VSDebugLogProvider() = default;
    ~VSDebugLogProvider() override;

    int Init(LogConfig* configuration) override;
    // Never fails; `length` is not used.
    int Write(const wchar_t* text, int length) override;
    int LockedWrite(const wchar_t* text, int length, int reserved) override;
    void Close() override {}
    int IsUnavailable() override { return 0; }

private:
    Mutex m_mutex;
};

} // namespace corvanelib
