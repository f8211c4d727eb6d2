// The console's application object: starts the socket layer, fills the directory texts,
// keeps one console per machine and runs the main dialog.
#pragma once

#include "Application.h"

#include "corvanelib/Win32/UniqueHandle.h"

#include <string>

// The registered "OrvexBrantelShowWindow" message: a second start broadcasts it, the running
// console's main dialog answers by coming to the front.
extern const UINT g_showWindowMessage;

// Names of the single-instance objects.
extern const wchar_t kInstanceEventName[]; // "Global\OrvexCorvaneClientMonitor"
extern const wchar_t kConsoleMutexName[];  // "OrvexBrantel"

// The text that reports the exception being handled (call inside a catch block): the support
// library's exceptions with module, message, source, line and, for a refused lock, the error
// code and its system text.
std::wstring DescribeCurrentException();

class CBrantelApp : public corvane::ui::Application {
public:
    bool OnInit() override;
    int OnExit() override;
    // Shows what escaped in an error box before the process ends.
    void OnUncaughtException() noexcept override;

private:
    // False when another console already runs on this machine (it was asked to come to the
    // front); otherwise this process now holds the single-instance event.
    bool ClaimSingleInstance();

    corvanelib::UniqueKernelHandle m_instanceEvent;
    bool m_socketsStarted = false;
};
