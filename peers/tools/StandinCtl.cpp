// standinctl: the stand-in admission service from the command line.
//   standinctl install                  register CorvaneMgrStandin.exe as "CorvaneMgr" (any
//                                       earlier "CorvaneMgr" is removed first), started on
//                                       demand
//   standinctl start                    start it and wait until it runs
//   standinctl remove                   stop and delete it
// Exit code 0 on success, otherwise the Windows error code.
#include "StandinService.h"

#include <cstdio>
#include <string>

using corvane::test::StandinService;

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    DWORD error = ERROR_BAD_ARGUMENTS;
    if (command == L"install") {
        StandinService service;
        service.Detach();
        error = service.InstallError();
    } else if (command == L"start") {
        error = StandinService::Start();
        error =
            error || StandinService::WaitForState(SERVICE_RUNNING, 10000) ? error : ERROR_TIMEOUT;
    } else if (command == L"remove") {
        error = StandinService::RemoveExisting();
    }
    if (error != ERROR_SUCCESS) {
        std::fprintf(stderr, "standinctl %ls: failed with error %lu\n", command.c_str(), error);
    }
    return static_cast<int>(error);
}
