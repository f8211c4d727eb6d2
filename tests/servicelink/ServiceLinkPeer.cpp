// A second party of the service link for the tests: a separate process that maps the shared
// block with CShareMem and acts on it, so that the tests exercise real sharing between
// processes. Commands (exit code 0 on success):
//   create-hold READY FINISH          Create, signal event READY, wait for event FINISH
//   add GO DONE FINISH TEXT...        wait for GO, Create, add each TEXT, signal DONE, wait for
//                                     FINISH (the block outlives the adding until then)
//   flags GO BIT MS                   Create, wait for GO, then for MS milliseconds set bit BIT
//                                     (0-2) and check it, clear it and check it
//   take-mutex                        take the shared-memory mutex at once (wait 0) and release it
//   hold-mutex READY FINISH           own the shared-memory mutex until FINISH is signalled
// Event names are created by the test; this process only opens them.
#include "ShareMem.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kBound = 60000;

HANDLE OpenNamedEvent(const char* name) {
    return OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
}

bool Signal(const char* name) {
    corvanelib::UniqueKernelHandle event(OpenNamedEvent(name));
    return event && SetEvent(event.get());
}

bool Await(const char* name) {
    corvanelib::UniqueKernelHandle event(OpenNamedEvent(name));
    return event && WaitForSingleObject(event.get(), kBound) == WAIT_OBJECT_0;
}

int Fail(const char* what, unsigned long detail) {
    std::fprintf(stderr, "servicelink_peer: %s (%lu)\n", what, detail);
    return 10;
}

int Flags(CShareMem& link, int bit, DWORD ms) {
    using Setter = void (CShareMem::*)(int);
    using Getter = bool (CShareMem::*)() const;
    const Setter setters[] = {&CShareMem::SetStateBit0, &CShareMem::SetStateBit1,
                              &CShareMem::SetStateBit2};
    const Getter getters[] = {&CShareMem::IsStateBit0Set, &CShareMem::IsStateBit1Set,
                              &CShareMem::IsStateBit2Set};
    const ULONGLONG end = GetTickCount64() + ms;
    for (unsigned long i = 0; GetTickCount64() < end; ++i) {
        (link.*setters[bit])(1);
        if (!(link.*getters[bit])()) {
            return Fail("own bit lost after setting, round", i);
        }
        (link.*setters[bit])(0);
        if ((link.*getters[bit])()) {
            return Fail("own bit back after clearing, round", i);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::string command = argv[1];
    if (command == "take-mutex" || command == "hold-mutex") {
        // The mutex lives only while some party works under it: create or open it.
        corvanelib::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kShareMemoryMutexName));
        if (!mutex) {
            return Fail("mutex not created", GetLastError());
        }
        const DWORD wait = WaitForSingleObject(mutex.get(), 0);
        if (wait != WAIT_OBJECT_0) {
            return Fail("mutex not free", wait);
        }
        if (command == "hold-mutex" && argc == 4) {
            Signal(argv[2]);
            Await(argv[3]);
        }
        ReleaseMutex(mutex.get());
        return 0;
    }

    // Several peers start adding at one signal, before any of them has mapped the block:
    // they race to create it as well.
    if (command == "add" && argc >= 5 && !Await(argv[2])) {
        return Fail("events", GetLastError());
    }
    CShareMem link;
    const DWORD created = link.Create();
    if (created != ERROR_SUCCESS) {
        return Fail("Create", created);
    }
    if (command == "create-hold" && argc == 4) {
        return Signal(argv[2]) && Await(argv[3]) ? 0 : Fail("events", GetLastError());
    }
    if (command == "add" && argc >= 5) {
        for (int i = 5; i < argc; ++i) {
            const DWORD result = link.AddViolateRule(argv[i], kBound);
            if (result != ERROR_SUCCESS) {
                return Fail("AddViolateRule", result);
            }
        }
        return Signal(argv[3]) && Await(argv[4]) ? 0 : Fail("events", GetLastError());
    }
    if (command == "flags" && argc == 5) {
        if (!Await(argv[2])) {
            return Fail("events", GetLastError());
        }
        return Flags(link, std::atoi(argv[3]) % 3, static_cast<DWORD>(std::atol(argv[4])));
    }
    return 2;
}
