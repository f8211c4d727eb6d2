#include "console/servicelink/ShareMem.h"

#include "corvanelib/Win32/Text.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace corvane::console::servicelink;

using corvanelib::UniqueKernelHandle;

namespace {

constexpr std::size_t kPromptTextMax = kPromptSlotSize - 1;
constexpr std::size_t kMessageTextMax = kMessageSize - 1;
constexpr DWORD kStopResignalMs = 500;
constexpr DWORD kCreateWaitMs = 5000;
// What a bounded string copy reports when it had to cut:
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
const HRESULT kCopyTruncated = static_cast<HRESULT>(0x8007007AUL);

// Traces go to the debugger output only, never to the log files.
void Trace(const char* format, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    OutputDebugStringA(buffer);
}

// A named mutex created or opened for one operation and held for its length. Result() is 0
// when this scope owns the mutex (an abandoned mutex is owned as well: its last owner died,
// the data it guarded is still the best there is).
class NamedMutexScope {
public:
    NamedMutexScope(const wchar_t* name, SECURITY_ATTRIBUTES* security, DWORD waitMs) {
        m_mutex.reset(CreateMutexW(security, FALSE, name));
        if (!m_mutex) {
            m_result = GetLastError();
            return;
        }
        const DWORD wait = WaitForSingleObject(m_mutex.get(), waitMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            m_owned = true;
            m_result = ERROR_SUCCESS;
        } else if (wait == WAIT_TIMEOUT) {
            m_result = ERROR_TIMEOUT;
        } else {
            // A failed wait does not own the mutex: working unguarded could tear the table.
            m_result = GetLastError();
            if (m_result == ERROR_SUCCESS) {
                m_result = ERROR_INVALID_HANDLE;
            }
        }
    }
    ~NamedMutexScope() {
        if (m_owned) {
            ReleaseMutex(m_mutex.get());
        }
    }
    NamedMutexScope(const NamedMutexScope&) = delete;
    NamedMutexScope& operator=(const NamedMutexScope&) = delete;

    DWORD Result() const { return m_result; }

private:
    UniqueKernelHandle m_mutex;
    bool m_owned = false;
    DWORD m_result = ERROR_SUCCESS;
};

// The count is decimal text in a field any party may write: read it only within the field.
unsigned long ReadPromptCount(const CommonShareMemory& block) {
    char text[kPromptCountSize];
    const std::size_t length = strnlen(block.promptCount, kPromptCountSize - 1);
    std::memcpy(text, block.promptCount, length);
    text[length] = '\0';
    return std::strtoul(text, nullptr, 10);
}

std::size_t PromptLength(const CommonShareMemory& block, std::size_t slot) {
    return strnlen(block.prompts[slot], kPromptTextMax);
}

// Runs `work` on the block while holding the shared-memory mutex. Without a view there is no
// block to guard: ERROR_INVALID_HANDLE, and nothing is locked.
template <typename Work>
DWORD UnderSharedMutex(CommonShareMemory* block, SECURITY_ATTRIBUTES* security, DWORD waitMs,
                       Work work) {
    if (block == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    NamedMutexScope lock(kShareMemoryMutexName, security, waitMs);
    if (lock.Result() != ERROR_SUCCESS) {
        return lock.Result();
    }
    work(*block);
    return ERROR_SUCCESS;
}

// Calls `append(text, length)` for each used slot in order; an empty slot inside the count is
// skipped with a trace.
template <typename Append> void ForEachPrompt(const CommonShareMemory& block, Append append) {
    const unsigned long count = ReadPromptCount(block);
    for (std::size_t i = 0; i < count && i < kPromptSlots; ++i) {
        const std::size_t length = PromptLength(block, i);
        if (length == 0) {
            Trace("SM[%d] is null, unbelievable!!", static_cast<int>(i));
            continue;
        }
        append(block.prompts[i], length);
    }
}

} // namespace

CShareMem::CShareMem(bool lowIntegrityLabel) : m_security(lowIntegrityLabel) {
    m_security.Build();
}

CShareMem::~CShareMem() {
    Close();
}

DWORD CShareMem::Create() {
    Close();
    // Held from the open to the end of the initialisation: whoever creates the block zeroes its
    // prompt table, and a party that opened the block in between must not add a prompt that the
    // creator then wipes (adders take the same mutex). A wait that fails leaves the old, unguarded
    // way: the block is still opened or created.
    const NamedMutexScope creation(kShareMemoryMutexName, m_security.Get(), kCreateWaitMs);
    bool created = false;
    UniqueKernelHandle mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kShareMemoryName));
    if (!mapping) {
        mapping.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, m_security.Get(), PAGE_READWRITE, 0,
                                         kShareMemorySize, kShareMemoryName));
        if (!mapping) {
            return GetLastError();
        }
        // Another party may have created it between our open and our create: then it is
        // theirs, already initialised, and perhaps already in use.
        created = GetLastError() != ERROR_ALREADY_EXISTS;
    }

    corvanelib::UniqueMapView view(
        MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kShareMemorySize));
    if (!view) {
        return GetLastError();
    }

    auto* block = static_cast<CommonShareMemory*>(view.get());
    block->magic = kShareMemoryMagic;
    block->size = kShareMemorySize;
    if (created) {
        block->word12368 = 1;
        block->word12364 = 3;
        block->flags = 0;
        block->statusChangeCommand = 0;
        block->serviceState = 0;
        block->stopCode = 0;
        block->byte21592 = 0;
        block->word21596 = 0;
        std::memset(block->promptCount, 0, sizeof(block->promptCount));
        std::memset(block->prompts, 0, sizeof(block->prompts));
    }
    m_mapping = std::move(mapping);
    m_view = std::move(view);
    return ERROR_SUCCESS;
}

int CShareMem::NotifyService() {
    UniqueKernelHandle event(
        OpenEventA(SYNCHRONIZE | READ_CONTROL | EVENT_MODIFY_STATE, FALSE, kNotifyEventNameA));
    if (!event || !m_view) {
        return -1;
    }
    View()->notifyCommand = kNotifyUserConfigSaved;
    if (!SetEvent(event.get())) {
        return static_cast<int>(GetLastError());
    }
    return 0;
}

DWORD CShareMem::Close() {
    m_view.reset();
    m_mapping.reset();
    return ERROR_SUCCESS;
}

DWORD CShareMem::AddViolateRule(const std::string& text, DWORD waitMs) {
    Trace("enter AddViolateRule");
    if (text.empty()) {
        return ERROR_SUCCESS;
    }
    return UnderSharedMutex(View(), m_security.Get(), waitMs, [&text](CommonShareMemory& block) {
        const unsigned long count = ReadPromptCount(block);
        if (count >= kPromptSlots) {
            Trace("SM array is full!!");
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t length = PromptLength(block, i);
            if (length == text.size() && std::memcmp(block.prompts[i], text.data(), length) == 0) {
                Trace("Exist in prompts[%d]!!", static_cast<int>(i));
                return;
            }
        }

        char* slot = block.prompts[count];
        std::memset(slot, 0, kPromptSlotSize);
        const std::size_t copied = text.size() < kPromptTextMax ? text.size() : kPromptTextMax;
        std::memcpy(slot, text.data(), copied);
        const HRESULT copyResult = text.size() > kPromptTextMax ? kCopyTruncated : S_OK;

        char countText[16];
        std::snprintf(countText, sizeof(countText), "%d", static_cast<int>(count + 1));
        std::memset(block.promptCount, 0, sizeof(block.promptCount));
        std::memcpy(block.promptCount, countText, std::strlen(countText));

        Trace("copy msg %s to SM[%d] succeed, RET=0x%x", text.c_str(), static_cast<int>(count),
              static_cast<unsigned>(copyResult));
    });
}

DWORD CShareMem::ClearPrompts(DWORD waitMs) {
    return UnderSharedMutex(View(), m_security.Get(), waitMs, [](CommonShareMemory& block) {
        std::memset(block.promptCount, 0, sizeof(block.promptCount));
        std::memset(block.prompts, 0, sizeof(block.prompts));
    });
}

DWORD CShareMem::GetPrompts(std::string& out, DWORD waitMs) {
    return UnderSharedMutex(View(), m_security.Get(), waitMs, [&out](CommonShareMemory& block) {
        out.clear();
        ForEachPrompt(block, [&out](const char* text, std::size_t length) {
            out.append(text, length);
            out.append("<br />");
        });
    });
}

DWORD CShareMem::GetPromptsW(std::wstring& out, DWORD waitMs) {
    return UnderSharedMutex(View(), m_security.Get(), waitMs, [&out](CommonShareMemory& block) {
        out.clear();
        ForEachPrompt(block, [&out](const char* text, std::size_t length) {
            out.append(corvanelib::CodePageToWide(text, length, CP_UTF8));
            out.append(L"<br />");
        });
    });
}

DWORD CShareMem::WriteMessage(const std::string& text, DWORD waitMs) {
    return UnderSharedMutex(View(), m_security.Get(), waitMs, [&text](CommonShareMemory& block) {
        const std::size_t length = text.size() < kMessageTextMax ? text.size() : kMessageTextMax;
        std::memcpy(block.message, text.data(), length);
        block.message[length] = '\0';
    });
}

DWORD CShareMem::ReadMessage(std::string& out, DWORD waitMs) {
    return UnderSharedMutex(View(), m_security.Get(), waitMs, [&out](CommonShareMemory& block) {
        out.assign(block.message, strnlen(block.message, kMessageTextMax));
    });
}

DWORD CShareMem::RequestStop(DWORD waitMs, DWORD code, int mode) {
    const ULONGLONG start = GetTickCount64();
    const auto elapsed = [start]() { return GetTickCount64() - start; };

    NamedMutexScope lock(kShutDownMutexName, m_security.Get(), waitMs);
    if (lock.Result() != ERROR_SUCCESS) {
        return lock.Result();
    }
    // A stop event that cannot be opened because it does not exist means the service is not
    // (or no longer) running: the request has nothing left to do.
    const auto goneOrError = [](DWORD error) {
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    };
    for (;;) {
        UniqueKernelHandle stopEvent(OpenEventW(EVENT_ALL_ACCESS, FALSE, kStopEventName));
        if (!stopEvent) {
            return goneOrError(GetLastError());
        }
        if (!SetEvent(stopEvent.get())) {
            return GetLastError();
        }
        if (CommonShareMemory* block = View()) {
            block->stopCode = code;
        }

        if (mode == 2) {
            UniqueKernelHandle exiting(OpenEventW(EVENT_ALL_ACCESS, FALSE, kExitingEventName));
            if (!exiting) {
                return goneOrError(GetLastError());
            }
            const ULONGLONG spent = elapsed();
            const DWORD left = spent >= waitMs ? 0 : static_cast<DWORD>(waitMs - spent);
            const DWORD wait = WaitForSingleObject(exiting.get(), left);
            if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
                return ERROR_SUCCESS;
            }
            return wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
        }

        Sleep(kStopResignalMs);
        stopEvent.reset();
        if (elapsed() >= waitMs) {
            return ERROR_TIMEOUT;
        }
    }
}

bool CShareMem::IsBitSet(LONG bit) const {
    const CommonShareMemory* block = View();
    if (block == nullptr) {
        return false;
    }
    const volatile LONG* flags = &block->flags;
    return (*flags & bit) != 0;
}

void CShareMem::ChangeBit(LONG bit, bool set) {
    CommonShareMemory* block = View();
    if (block == nullptr) {
        return;
    }
    LONG expected = *static_cast<volatile LONG*>(&block->flags);
    for (;;) {
        const LONG desired = set ? (expected | bit) : (expected & ~bit);
        const LONG seen = InterlockedCompareExchange(&block->flags, desired, expected);
        if (seen == expected) {
            return;
        }
        expected = seen;
    }
}

bool CShareMem::IsStateBit0Set() const {
    return IsBitSet(kStateBit0);
}
bool CShareMem::IsStateBit1Set() const {
    return IsBitSet(kStateBit1);
}
bool CShareMem::IsStateBit2Set() const {
    return IsBitSet(kStateBit2);
}

void CShareMem::SetStateBit0(int on) {
    ChangeBit(kStateBit0, on == 1);
}
void CShareMem::SetStateBit1(int on) {
    ChangeBit(kStateBit1, on != 0);
}
void CShareMem::SetStateBit2(int on) {
    ChangeBit(kStateBit2, on != 0);
}

void CShareMem::ResetState() {
    CommonShareMemory* block = View();
    if (block == nullptr) {
        return;
    }
    InterlockedExchange(&block->flags, 0);
    block->serviceState = 0;
}
