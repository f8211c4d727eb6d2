// The block of memory the console shares with the admission service, and the names and codes
// of the kernel objects around it. The layout is a format both parties map in place: every
// offset below is fixed and checked at compile time. Integers are 32-bit little-endian, texts
// 8-bit and zero-terminated within their field (a reader must not rely on the terminator).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace corvane::console::servicelink {

constexpr std::uint32_t kShareMemoryMagic = 0x26581946;
constexpr std::uint32_t kShareMemorySize = 21600;

constexpr std::size_t kMessageSize = 4096;
constexpr std::size_t kPromptSlots = 8;
constexpr std::size_t kPromptSlotSize = 512;
constexpr std::size_t kPromptCountSize = 1024;

// Codes of the notify command word (with the notify event).
constexpr std::uint32_t kNotifyUserConfigSaved = 108;
constexpr std::uint32_t kNotifyShowTrayIcon = 109;
// Codes of the status-change command word (with the status-change event).
constexpr std::uint32_t kStatusChangeStop = 103;
constexpr std::uint32_t kStatusChangeStartPressed = 104;

// Bits of the flags word; their meaning belongs to the service.
constexpr LONG kStateBit0 = 0x1;
constexpr LONG kStateBit1 = 0x2;
constexpr LONG kStateBit2 = 0x4;

// Named objects, all in the Global\ namespace. Some are opened by 8-bit name, some by UTF-16
// name; both spellings are given where both sides need them.
constexpr char kShareMemoryName[] = "Global\\CorvaneCommonShareMemory";
constexpr wchar_t kShareMemoryMutexName[] = L"Global\\CorvaneShareMemoryMutex";
constexpr char kNotifyEventNameA[] = "Global\\CorvaneServiceNofityEvent";
constexpr wchar_t kNotifyEventName[] = L"Global\\CorvaneServiceNofityEvent";
constexpr wchar_t kStatusChangeEventName[] = L"Global\\CorvaneStatusChange";
constexpr char kStopEventNameA[] = "Global\\CorvaneServiceStopEvent";
constexpr wchar_t kStopEventName[] = L"Global\\CorvaneServiceStopEvent";
constexpr wchar_t kExitingEventName[] = L"Global\\CorvaneExitingEvent";
constexpr wchar_t kShutDownMutexName[] = L"Global\\CorvaneShutDownMutex";

} // namespace corvane::console::servicelink

struct CommonShareMemory {
    std::uint32_t magic; // kShareMemoryMagic, written by every party that maps the block
    std::uint32_t size;  // kShareMemorySize, written with the magic
    std::uint8_t reserved8[8];
    std::uint32_t serviceState; // written by the service; 0 once it has gone
    // At most 4095 characters; guarded by the mutex.
    char message[corvane::console::servicelink::kMessageSize];
    std::uint8_t reserved4116[12];
    // At most 511 characters each; guarded by the mutex.
    char prompts[corvane::console::servicelink::kPromptSlots]
                [corvane::console::servicelink::kPromptSlotSize];
    std::uint8_t reserved8224[4112];
    std::uint32_t notifyCommand; // written just before the notify event is signalled
    std::uint8_t reserved12340[8];
    std::uint32_t statusChangeCommand; // written just before the status-change event
    std::uint32_t stopCode;            // the code of the last stop request
    std::uint8_t reserved12356[8];
    // The service's own words; the creator of the block starts them at 3, 1, 0, 0.
    std::uint32_t word12364;
    std::uint32_t word12368;
    LONG flags; // changed only by compare-and-exchange of the whole word
    std::uint8_t reserved12376[8192];
    // The used slots as decimal text; all zero reads as 0.
    char promptCount[corvane::console::servicelink::kPromptCountSize];
    std::uint8_t byte21592;
    std::uint8_t reserved21593[3];
    std::uint32_t word21596;
};

static_assert(sizeof(LONG) == 4, "the flags word is 32 bits");
static_assert(sizeof(CommonShareMemory) == corvane::console::servicelink::kShareMemorySize,
              "block size");
static_assert(offsetof(CommonShareMemory, magic) == 0, "layout");
static_assert(offsetof(CommonShareMemory, size) == 4, "layout");
static_assert(offsetof(CommonShareMemory, serviceState) == 16, "layout");
static_assert(offsetof(CommonShareMemory, message) == 20, "layout");
static_assert(offsetof(CommonShareMemory, prompts) == 4128, "layout");
static_assert(sizeof(CommonShareMemory::prompts) == 4096, "layout");
static_assert(offsetof(CommonShareMemory, reserved8224) == 8224, "layout");
static_assert(offsetof(CommonShareMemory, notifyCommand) == 12336, "layout");
static_assert(offsetof(CommonShareMemory, statusChangeCommand) == 12348, "layout");
static_assert(offsetof(CommonShareMemory, stopCode) == 12352, "layout");
static_assert(offsetof(CommonShareMemory, word12364) == 12364, "layout");
static_assert(offsetof(CommonShareMemory, word12368) == 12368, "layout");
static_assert(offsetof(CommonShareMemory, flags) == 12372, "layout");
static_assert(offsetof(CommonShareMemory, reserved12376) == 12376, "layout");
static_assert(offsetof(CommonShareMemory, promptCount) == 20568, "layout");
static_assert(offsetof(CommonShareMemory, byte21592) == 21592, "layout");
static_assert(offsetof(CommonShareMemory, word21596) == 21596, "layout");
