// Puts a stand-in for one imported platform function into this program's import table for the
// life of the object, so a test can refuse or record the calls that the code under test makes
// without a seam in that code. The library is linked statically, so its calls go through this
// table; calls from other modules are not affected. Single-threaded use only.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <utility>

namespace corvane::tests::support {

class ImportHook {
public:
    // `imported` is the function as this program imports it (&::OpenSCManagerW).
    template <typename Fn> ImportHook(Fn imported, Fn replacement) {
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const DWORD imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
             module->Name != 0; ++module) {
            for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
                 slot->u1.Function != 0; ++slot) {
                if (slot->u1.Function == reinterpret_cast<ULONG_PTR>(imported)) {
                    m_slot = &slot->u1.Function;
                }
            }
        }
        Swap(reinterpret_cast<ULONG_PTR>(replacement));
    }
    ~ImportHook() { Swap(m_original); }
    ImportHook(const ImportHook&) = delete;

private:
    using Slot = decltype(IMAGE_THUNK_DATA().u1.Function);
    // Puts `value` into the slot (none found: nothing), keeping what it held.
    void Swap(ULONG_PTR value) {
        DWORD protect = 0;
        if (m_slot != nullptr && VirtualProtect(m_slot, sizeof(Slot), PAGE_READWRITE, &protect)) {
            m_original = static_cast<ULONG_PTR>(std::exchange(*m_slot, static_cast<Slot>(value)));
        }
    }

    Slot* m_slot = nullptr;
    ULONG_PTR m_original = 0;
};

// A stand-in that fails every call: the type's zero value, with `Error` as the last error.
template <DWORD Error, typename Result, typename... Args> Result WINAPI Refuse(Args...) {
    SetLastError(Error);
    return Result();
}

} // namespace corvane::tests::support
