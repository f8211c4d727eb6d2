// CShareMem against other parties mapping the same block: other CShareMem instances on other
// threads, or the test writing the block's fields as any party may. Every test starts with no
// block in existence (the ctest resource lock keeps the stand-in service away).
#include "console/servicelink/ShareMem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

using namespace corvane::console::servicelink;

using corvanelib::UniqueKernelHandle;

namespace {

std::string Field(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

// Operations under the mutex fail with `error` and leave the caller's strings alone.
void ExpectGuardedOperationsFail(CShareMem& link, DWORD error) {
    std::string text = "unchanged";
    EXPECT_EQ(link.AddViolateRule("during", 300), error);
    EXPECT_EQ(link.GetPrompts(text, 300), error);
    EXPECT_EQ(text, "unchanged");
}

} // namespace

// The notify command is left to the end-to-end test of the Advanced save.
TEST(ShareMem, CreatorInitialisesOpenersLeaveTheBlockAloneAndNoViewFailsCleanly) {
    {
        CShareMem creator;
        CShareMem opener;
        ASSERT_TRUE(creator.Create() == 0 && creator.AddViolateRule("kept", 1000) == 0);
        ASSERT_TRUE(opener.Create() == 0 && opener.View() != nullptr);
        EXPECT_EQ(opener.View()->word12364 * 10 + opener.View()->word12368, 31u);
        std::string prompts;
        EXPECT_TRUE(opener.GetPrompts(prompts, 1000) == 0 && prompts == "kept<br />");
    }
    // A block of that name too small to hold the layout: opened, but not mappable.
    UniqueKernelHandle tooSmall(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                   4096, kShareMemoryName));
    CShareMem link;
    EXPECT_TRUE(link.Create() != 0 && link.View() == nullptr && link.NotifyService() == -1);
    ExpectGuardedOperationsFail(link, ERROR_INVALID_HANDLE);
}

TEST(ShareMem, PromptTableStaysWithinItsBoundsAndAHeldMutexTimesOut) {
    // Kept open, so that the mutex outlives each operation: one left owned would show.
    UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kShareMemoryMutexName));
    CShareMem link;
    ASSERT_TRUE(link.Create() == 0 && link.View() != nullptr);
    CommonShareMemory& block = *link.View();
    // Each text added and the count after it: an empty text and a duplicate are refused quietly,
    // byte for byte (case matters); a long text is cut to 511 characters and, as the cut copy never
    // equals it, added again; a full table refuses quietly.
    const std::string longText(600, 'L');
    const std::string texts[] = {"",       "notice 1", "notice 2", "notice 1", "Notice 1", longText,
                                 longText, "notice 5", "notice 6", "notice 7", "one more"};
    const char* const counts[] = {"", "1", "2", "2", "3", "4", "5", "6", "7", "8", "8"};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(link.AddViolateRule(texts[i], 1000), 0u);
        EXPECT_EQ(Field(block.promptCount, kPromptCountSize), counts[i]) << i;
    }
    EXPECT_EQ(Field(block.prompts[3], kPromptSlotSize), longText.substr(0, 511));
    EXPECT_EQ(block.reserved8224[0], 0); // nothing past the table

    // Order and separators; an empty slot inside the count is skipped, and a count beyond the table
    // reads no further than its last slot.
    ASSERT_EQ(link.ClearPrompts(1000), 0u);
    for (const char* text : {"first", "gone", u8"gr\u00fc\u00df \u4e2d"}) {
        ASSERT_EQ(link.AddViolateRule(text, 1000), 0u);
    }
    std::memset(block.prompts[1], 0, kPromptSlotSize);
    std::strcpy(reinterpret_cast<char*>(block.reserved8224), "past the table");
    std::strcpy(block.promptCount, "9");
    std::string prompts;
    ASSERT_EQ(link.GetPrompts(prompts, 1000), 0u);
    EXPECT_EQ(prompts, std::string("first<br />") + u8"gr\u00fc\u00df \u4e2d" + "<br />");

    // A count that is no number reads as 0, and so does one whose digit lies in the field's last
    // byte, where no terminator fits: readers see nothing, the next add takes slot 0.
    for (std::size_t digit : {std::size_t{1}, kPromptCountSize - 1}) {
        std::memset(block.promptCount, digit == 1 ? 'x' : '0', sizeof(block.promptCount));
        block.promptCount[digit] = '5';
        EXPECT_TRUE(link.GetPrompts(prompts, 1000) == 0 && prompts.empty()) << digit;
    }
    ASSERT_EQ(link.AddViolateRule("fresh", 1000), 0u);
    EXPECT_EQ(Field(block.promptCount, 2) + " " + block.prompts[0], "1 fresh");

    // Another thread gets the mutex: no operation above left it owned. Held by this thread:
    // another thread's operations time out.
    std::thread([&] { EXPECT_EQ(link.GetPrompts(prompts, 1000), 0u); }).join();
    EXPECT_EQ(prompts, "fresh<br />");
    ASSERT_EQ(WaitForSingleObject(mutex.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    std::thread([&] { ExpectGuardedOperationsFail(link, ERROR_TIMEOUT); }).join();
    ReleaseMutex(mutex.get());
}
