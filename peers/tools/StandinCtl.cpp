// standinctl: the stand-in admission service from the command line.
//   standinctl install [ARGUMENTS...]   register CorvaneMgrStandin.exe as "CorvaneMgr" (any
//                                       earlier "CorvaneMgr" is removed first), start type
//                                       demand; the arguments go on its command line
//   standinctl start | stop | kill | remove
//   standinctl start-type auto|demand|disabled
//   standinctl query                    print state, process id and start type
//   standinctl listen SECONDS           print the datagrams received in that time
// Exit code 0 on success, otherwise the Windows error code (1 for usage errors).
#include "StandinService.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using corvane_test::StandinService;

namespace {

int Usage() {
    std::fputs("usage: standinctl install [ARGS...] | start | stop | kill | remove |"
               " start-type auto|demand|disabled | query | listen SECONDS\n",
               stderr);
    return 1;
}

int Report(const char* what, DWORD error) {
    if (error != ERROR_SUCCESS) {
        std::fprintf(stderr, "standinctl: %s failed with error %lu\n", what, error);
    }
    return static_cast<int>(error);
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (const char* c = text; *c != '\0'; ++c) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    return wide;
}

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "start-pending";
    case SERVICE_STOP_PENDING:
        return "stop-pending";
    case SERVICE_RUNNING:
        return "running";
    case 0:
        return "not-installed";
    default:
        return "other";
    }
}

int Listen(int seconds) {
    corvane_test::DatagramListener listener;
    if (!listener.IsOpen()) {
        return Report("binding a port from 461 to 1460", static_cast<DWORD>(WSAEADDRINUSE));
    }
    std::printf("listening on port %u\n", listener.Port());
    std::fflush(stdout);
    listener.WaitFor(
        [](const corvane_test::DatagramListener::Received& r) {
            if (r.kind == logview::Packet::Kind::Status) {
                std::printf("status %u\n", static_cast<unsigned>(r.status));
            } else {
                std::printf("log %s\n", r.text.c_str());
            }
            std::fflush(stdout);
            return false;
        },
        std::chrono::seconds(seconds));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::string command = argv[1];
    if (command == "install") {
        std::wstring arguments;
        for (int i = 2; i < argc; ++i) {
            arguments += (i > 2 ? L" " : L"") + Widen(argv[i]);
        }
        StandinService service(arguments);
        service.Detach();
        return Report("install", service.InstallError());
    }
    if (command == "start") {
        const DWORD error = StandinService::Start();
        if (error != ERROR_SUCCESS) {
            return Report("start", error);
        }
        return StandinService::WaitForState(SERVICE_RUNNING, std::chrono::seconds(10))
                   ? 0
                   : Report("waiting for the running state", ERROR_TIMEOUT);
    }
    if (command == "stop") {
        const DWORD error = StandinService::Stop();
        if (error != ERROR_SUCCESS) {
            return Report("stop", error);
        }
        return StandinService::WaitForState(SERVICE_STOPPED, std::chrono::seconds(10))
                   ? 0
                   : Report("waiting for the stopped state", ERROR_TIMEOUT);
    }
    if (command == "kill") {
        return StandinService::Kill() ? 0 : Report("kill", ERROR_TIMEOUT);
    }
    if (command == "remove") {
        return Report("remove", StandinService::RemoveExisting());
    }
    if (command == "start-type" && argc == 3) {
        const std::string type = argv[2];
        const DWORD startType = type == "auto"       ? SERVICE_AUTO_START
                                : type == "demand"   ? SERVICE_DEMAND_START
                                : type == "disabled" ? SERVICE_DISABLED
                                                     : SERVICE_NO_CHANGE;
        if (startType == SERVICE_NO_CHANGE) {
            return Usage();
        }
        return Report("start-type", StandinService::SetStartType(startType));
    }
    if (command == "query") {
        const DWORD state = StandinService::State();
        std::printf("state %s\npid %lu\nstart-type %lu\n", StateName(state),
                    StandinService::ProcessId(), StandinService::StartType());
        return state == 0 ? static_cast<int>(ERROR_SERVICE_DOES_NOT_EXIST) : 0;
    }
    if (command == "listen" && argc == 3) {
        return Listen(std::atoi(argv[2]));
    }
    return Usage();
}
