#include "console/framework/Application.h"

#include "console/framework/ResourceStrings.h"

#include <commctrl.h>

namespace corvane::console::framework {

namespace {
Application* g_current = nullptr;
}

Application::Application() {
    g_current = this;
}

Application::~Application() {
    if (g_current == this) {
        g_current = nullptr;
    }
}

Application* Application::Current() {
    return g_current;
}

int Application::OnExit() {
    return 0;
}

int Application::Run(HINSTANCE instance) {
    SetResourceModule(instance);
    EnsureCommonControls();
    try {
        OnInit();
        return OnExit();
    } catch (...) {
        EndAfterUncaughtException();
    }
}

void EndAfterUncaughtException() noexcept {
    if (Application* app = Application::Current()) {
        app->OnUncaughtException();
    }
    // The state that threw cannot be trusted to unwind further: no destructors, no exit hook.
    ExitProcess(kUncaughtExceptionExitCode);
}

void EnsureCommonControls() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls = {};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES;
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)registered;
}

int RunApplication(HINSTANCE instance) {
    Application* app = Application::Current();
    return app != nullptr ? app->Run(instance) : 1;
}

} // namespace corvane::console::framework
