// A second party of the service link for the tests: a separate process that maps the shared
// block with CShareMem and acts on it. Commands (exit code 0 on success):
//   add GO DONE FINISH TEXT...   wait for event GO, Create, add each TEXT, signal DONE, then keep
//                                the block mapped until FINISH is signalled
//   flags GO BIT MS              Create, wait for GO, then for MS milliseconds set bit BIT (0-2)
//                                and check it, clear it and check it
// The test creates the events; this process only opens them.
#include "ShareMem.h"

#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kBound = 60000;

bool Await(const char* name) {
    corvanelib::UniqueKernelHandle event(OpenEventA(SYNCHRONIZE, FALSE, name));
    return event && WaitForSingleObject(event.get(), kBound) == WAIT_OBJECT_0;
}

bool Signal(const char* name) {
    corvanelib::UniqueKernelHandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, name));
    return event && SetEvent(event.get());
}

// Whether this process's own bit always read back as it was just set, however the other
// process flipped its bit meanwhile.
bool FlipBit(CShareMem& link, int bit, DWORD ms) {
    void (CShareMem::*const setters[])(int) = {&CShareMem::SetStateBit0, &CShareMem::SetStateBit1,
                                               &CShareMem::SetStateBit2};
    bool (CShareMem::*const getters[])() const = {
        &CShareMem::IsStateBit0Set, &CShareMem::IsStateBit1Set, &CShareMem::IsStateBit2Set};
    for (const ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end;) {
        for (int on : {1, 0}) {
            (link.*setters[bit])(on);
            if ((link.*getters[bit])() != (on == 1)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const bool add = command == "add" && argc >= 5;
    if (!add && !(command == "flags" && argc == 5)) {
        return 2;
    }
    // Adders start at one signal, before any of them has mapped the block: they race to
    // create it as well.
    if (add && !Await(argv[2])) {
        return 3;
    }
    CShareMem link;
    if (link.Create() != ERROR_SUCCESS) {
        return 4;
    }
    if (add) {
        for (int i = 5; i < argc; ++i) {
            if (link.AddViolateRule(argv[i], kBound) != ERROR_SUCCESS) {
                return 5;
            }
        }
        return Signal(argv[3]) && Await(argv[4]) ? 0 : 3;
    }
    if (!Await(argv[2])) {
        return 3;
    }
    return FlipBit(link, std::atoi(argv[3]) % 3, static_cast<DWORD>(std::atol(argv[4]))) ? 0 : 6;
}
