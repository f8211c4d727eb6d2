// Brantel.exe: the process-wide objects of the console, in the order they are made, and the
// program's entry.
#include "console/BrantelApp.h"

#include "corvanelib/Win32/UniqueHandle.h"

using namespace corvane::console;

namespace {

CBrantelApp theApp;

// Exists while a console runs; nothing waits on it.
const corvanelib::UniqueKernelHandle consoleMutex(CreateMutexW(nullptr, FALSE, kConsoleMutexName));

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    return framework::RunApplication(instance);
}
