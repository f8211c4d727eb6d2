// The application object: one per process, made before the program's entry. The entry point
// calls RunApplication, which runs the start hook and then the exit hook. The program has no
// message loop of its own: a dialog program runs its dialog modally in the start hook.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace corvane::console::framework {

class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The one application object of the process, or null.
    static Application* Current();

    // Start hook: the program's work. The exit hook follows when it returns.
    virtual void OnInit() = 0;
    // Exit hook; its result is the process's exit code. The default returns 0.
    virtual int OnExit();
    // Called inside a catch block when a hook or a dialog handler let an exception escape
    // (nothing may cross a window procedure); `throw;` re-raises it for inspection. The
    // process ends right after, with exit code kUncaughtExceptionExitCode. The default does
    // nothing.
    virtual void OnUncaughtException() noexcept {}

    // Runs the hooks; returns the exit code.
    int Run(HINSTANCE instance);
};

// Registers the common control classes the dialog templates use (address control included).
// Safe to call more than once.
void EnsureCommonControls();

constexpr int kUncaughtExceptionExitCode = 3;

// Ends the process after an exception escaped a hook or a handler: lets the application
// report it (OnUncaughtException), then exits. Call only from inside a catch block.
[[noreturn]] void EndAfterUncaughtException() noexcept;

// The program's entry calls this with its instance handle; returns the exit code. Without an
// application object the process exits with 1.
int RunApplication(HINSTANCE instance);

} // namespace corvane::console::framework
