#include "corvanelib/log/InitLog.h"

#include "corvanelib/log/ExternalWindowLogProvider.h"
#include "corvanelib/log/FileLogProvider.h"
#include "corvanelib/log/VSDebugLogProvider.h"

#include <memory>
#include <new>

namespace corvanelib {

namespace {

// The log takes ownership on success; a provider it refuses (its name is taken already) is
// deleted here.
void Register(LogProvider* created, const wchar_t* name) {
    std::unique_ptr<LogProvider> provider(created);
    if (g_commonLog.AddProvider(provider.get(), name) == 0) {
        provider.release();
    }
}

} // namespace

void InitLog(int threshold, int outputKind, const wchar_t* name, const wchar_t* section,
             const wchar_t* directory) {
    g_commonConfig.Init(threshold, outputKind, name, section, directory);
    Register(new (std::nothrow) FileLogProvider(), L"file");
    Register(new (std::nothrow) CritFileLogProvider(), L"critfile");
    Register(new (std::nothrow) VSDebugLogProvider(), L"vsdebug");
    Register(new (std::nothrow) ExternalWindowLogProvider(), L"wnd");
}

CommonConfig& GetLogConfig() {
    return g_commonConfig;
}

} // namespace corvanelib
