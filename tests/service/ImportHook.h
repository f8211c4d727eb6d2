// Puts a stand-in for one imported platform function into this program's import table for the
// life of the object, so a test can count, script or refuse the calls that the code under test
// makes (a clock that jumps, a call that is missing, an access that is refused) without a seam
// in that code. Calls from other modules are not affected. Single-threaded use only.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <vector>

namespace corvane_test {

class ImportHook {
public:
    template <typename Fn> ImportHook(const char* dll, const char* function, Fn replacement) {
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const IMAGE_NT_HEADERS* nt =
            reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (imports.VirtualAddress == 0) {
            return;
        }
        for (const IMAGE_IMPORT_DESCRIPTOR* module =
                 reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             module->Name != 0; ++module) {
            if (_stricmp(reinterpret_cast<const char*>(base + module->Name), dll) != 0 ||
                module->OriginalFirstThunk == 0) {
                continue;
            }
            const IMAGE_THUNK_DATA* names =
                reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
            IMAGE_THUNK_DATA* slots =
                reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                    continue;
                }
                const IMAGE_IMPORT_BY_NAME* byName =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                    m_original = static_cast<ULONG_PTR>(slots->u1.Function);
                    Write(&slots->u1.Function, reinterpret_cast<ULONG_PTR>(replacement));
                    m_slots.push_back(&slots->u1.Function);
                }
            }
        }
    }
    ~ImportHook() {
        for (auto* slot : m_slots) {
            Write(slot, m_original);
        }
    }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return !m_slots.empty(); }
    // The platform's own function, for a stand-in that passes calls on.
    template <typename Fn> Fn Original() const { return reinterpret_cast<Fn>(m_original); }

private:
    template <typename Slot> static void Write(Slot* slot, ULONG_PTR value) {
        DWORD oldProtect = 0;
        VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &oldProtect);
        *slot = static_cast<Slot>(value);
        VirtualProtect(slot, sizeof(*slot), oldProtect, &oldProtect);
    }

    ULONG_PTR m_original = 0;
    std::vector<decltype(IMAGE_THUNK_DATA().u1.Function)*> m_slots;
};

// A stand-in that fails every call: the type's zero value, with `Error` as the last error.
template <DWORD Error, typename Result, typename... Args> Result WINAPI Refuse(Args...) {
    SetLastError(Error);
    return Result();
}

} // namespace corvane_test
