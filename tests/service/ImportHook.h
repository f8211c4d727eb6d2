// Puts a stand-in for one imported platform function into this program's import table for the
// life of the object, so a test can count, script or refuse the calls that the code under test
// makes (a clock that jumps, a call that is missing, an access that is refused) without a seam
// in that code. The library is linked statically, so its calls go through this table; calls
// from other modules are not affected. Single-threaded use only.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstring>

namespace corvane_test {

class ImportHook {
public:
    template <typename Fn> ImportHook(const char* dll, const char* function, Fn replacement) {
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const DWORD imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
             imports != 0 && module->Name != 0 && m_slot == nullptr; ++module) {
            if (_stricmp(reinterpret_cast<const char*>(base + module->Name), dll) != 0) {
                continue;
            }
            auto* names =
                reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
            for (; module->OriginalFirstThunk != 0 && names->u1.AddressOfData != 0;
                 ++names, ++slots) {
                const auto* byName =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                    std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                    m_slot = &slots->u1.Function;
                    m_original = Write(reinterpret_cast<ULONG_PTR>(replacement));
                    break;
                }
            }
        }
    }
    ~ImportHook() {
        if (m_slot != nullptr) {
            Write(m_original);
        }
    }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return m_slot != nullptr; }
    // The platform's own function, for a stand-in that passes calls on.
    template <typename Fn> Fn Original() const { return reinterpret_cast<Fn>(m_original); }

private:
    // Puts `value` into the slot and returns what it held.
    ULONG_PTR Write(ULONG_PTR value) {
        DWORD protect = 0;
        VirtualProtect(m_slot, sizeof(*m_slot), PAGE_READWRITE, &protect);
        const ULONG_PTR old = static_cast<ULONG_PTR>(*m_slot);
        *m_slot = static_cast<decltype(IMAGE_THUNK_DATA().u1.Function)>(value);
        VirtualProtect(m_slot, sizeof(*m_slot), protect, &protect);
        return old;
    }

    decltype(IMAGE_THUNK_DATA().u1.Function)* m_slot = nullptr;
    ULONG_PTR m_original = 0;
};

// A stand-in that fails every call: the type's zero value, with `Error` as the last error.
template <DWORD Error, typename Result, typename... Args> Result WINAPI Refuse(Args...) {
    SetLastError(Error);
    return Result();
}

} // namespace corvane_test
