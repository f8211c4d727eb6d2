// The console's application object: starts the socket layer, fills the directory texts,
// keeps one console per machine and runs the main dialog.
#pragma once

#include "console/framework/Application.h"
#include "console/socket/Winsock.h"

#include "corvanelib/Win32/UniqueHandle.h"

#include <optional>
#include <string>

namespace corvane::console {

// Names of the single-instance objects.
extern const wchar_t kInstanceEventName[]; // "Global\OrvexCorvaneClientMonitor"
extern const wchar_t kConsoleMutexName[];  // "OrvexBrantel"

// The text that reports the exception being handled (call inside a catch block): the support
// library's exceptions with module, message, source, line and, for a refused lock, the error
// code and its system text.
std::wstring DescribeCurrentException();

// One console per machine. When no other console runs, creates the single-instance event into
// `held` and returns true. Otherwise (the event exists, also when it cannot be opened because
// another user's console holds it) asks the running console to come to the front and returns
// false.
bool ClaimSingleInstance(corvanelib::UniqueKernelHandle& held);

} // namespace corvane::console

class CBrantelApp : public corvane::console::framework::Application {
public:
    void OnInit() override;
    int OnExit() override;
    // Shows what escaped in an error box before the process ends.
    void OnUncaughtException() noexcept override;

private:
    corvanelib::UniqueKernelHandle m_instanceEvent;
    // Started first thing at start-up, ended at exit.
    std::optional<corvane::console::socket::WinsockSession> m_sockets;
};
