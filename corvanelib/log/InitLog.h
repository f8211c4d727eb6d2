// Switching the process-wide log on.
#pragma once

#include "corvanelib/log/CorvaneLog.h"

namespace corvanelib {

// Configures g_commonConfig (LogConfig::Init with these arguments) and registers the four
// outputs with g_commonLog: "file" (1), "critfile" (2), "vsdebug" (3) and "wnd" (4). Does not
// start the configuration watcher (see LogConfig::StartWatcher). Calling it again changes the
// configuration but keeps the outputs registered the first time, with their files.
void InitLog(int threshold, int outputKind, const wchar_t* name, const wchar_t* section,
             const wchar_t* directory);

// The process-wide configuration.
CommonConfig& GetLogConfig();

} // namespace corvanelib
