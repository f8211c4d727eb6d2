// CShareMem against a second process mapping the same block. Every test starts with no block
// in existence (nothing else maps it: the ctest resource lock keeps the stand-in away).
#include "PeerProcess.h"
#include "ShareMem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>

using corvane_test::NamedEvent;
using corvane_test::PeerProcess;
using corvane_test::RunPeer;

namespace {

std::string CountText(const CommonShareMemory& block) {
    return std::string(block.promptCount, strnlen(block.promptCount, sizeof(block.promptCount)));
}

std::string Slot(const CommonShareMemory& block, int i) {
    return std::string(block.prompts[i], strnlen(block.prompts[i], kPromptSlotSize));
}

// A block made without CShareMem, as another party would make it.
class RawBlock {
public:
    explicit RawBlock(DWORD size)
        : m_mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                       kShareMemoryName)),
          m_view(m_mapping ? MapViewOfFile(m_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, size)
                           : nullptr) {}
    unsigned char* Bytes() const { return static_cast<unsigned char*>(m_view.get()); }

private:
    corvanelib::UniqueKernelHandle m_mapping;
    corvanelib::UniqueMapView m_view;
};

} // namespace

TEST(ShareSecurityAttributes, NullDaclOnceAndLabelOnlyOnRequest) {
    ShareSecurityAttributes plain;
    ASSERT_TRUE(plain.Build());
    ASSERT_TRUE(plain.Build()); // a second call finds it ready
    SECURITY_ATTRIBUTES* attributes = plain.Get();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(attributes->bInheritHandle);
    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL acl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(
        GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &acl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(acl, nullptr); // null DACL: everybody may open
    ASSERT_TRUE(
        GetSecurityDescriptorSacl(attributes->lpSecurityDescriptor, &present, &acl, &defaulted));
    EXPECT_FALSE(present);

    ShareSecurityAttributes labelled(true);
    ASSERT_TRUE(labelled.Build());
    ASSERT_TRUE(GetSecurityDescriptorSacl(labelled.Get()->lpSecurityDescriptor, &present, &acl,
                                          &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(acl, nullptr);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &ace));
    EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
}

TEST(ShareMem, CreatorInitialisesAndOpenersWriteOnlyMagicAndSize) {
    {
        CShareMem creator;
        EXPECT_EQ(creator.NotifyService(), -1); // no view yet
        ASSERT_EQ(creator.Create(), 0u);
        CommonShareMemory& block = *creator.View();
        EXPECT_EQ(block.magic, kShareMemoryMagic);
        EXPECT_EQ(block.size, kShareMemorySize);
        EXPECT_EQ(block.word12364, 3u);
        EXPECT_EQ(block.word12368, 1u);
        EXPECT_EQ(block.flags, 0);
        EXPECT_EQ(CountText(block), "");
        // The service is not running: there is no notify event to signal.
        EXPECT_EQ(creator.NotifyService(), -1);

        // What a running service might have written: another process that opens the block
        // must leave all of it alone, and put back only the magic and the size.
        block.magic = 0;
        block.size = 0;
        block.serviceState = 9;
        block.word12364 = 77;
        block.word12368 = 78;
        block.flags = 0x7;
        block.statusChangeCommand = 103;
        block.stopCode = 5;
        block.byte21592 = 0x5A;
        block.word21596 = 79;
        std::strcpy(block.promptCount, "1");
        std::strcpy(block.prompts[0], "kept");
        NamedEvent ready("opened");
        NamedEvent finish("finish");
        PeerProcess opener({"create-hold", ready.Name(), finish.Name()});
        ASSERT_TRUE(opener.Started());
        ASSERT_TRUE(ready.Wait());
        EXPECT_EQ(block.magic, kShareMemoryMagic);
        EXPECT_EQ(block.size, kShareMemorySize);
        EXPECT_EQ(block.serviceState, 9u);
        EXPECT_EQ(block.word12364, 77u);
        EXPECT_EQ(block.word12368, 78u);
        EXPECT_EQ(block.flags, 0x7);
        EXPECT_EQ(block.statusChangeCommand, 103u);
        EXPECT_EQ(block.stopCode, 5u);
        EXPECT_EQ(block.byte21592, 0x5A);
        EXPECT_EQ(block.word21596, 79u);
        EXPECT_EQ(CountText(block), "1");
        EXPECT_EQ(Slot(block, 0), "kept");
        finish.Set();
        EXPECT_EQ(opener.Join(), 0u);
    }
    {
        // A block another party created, every byte its own: opening changes bytes 0 to 7.
        RawBlock service(kShareMemorySize);
        ASSERT_NE(service.Bytes(), nullptr);
        std::memset(service.Bytes(), 0xAB, kShareMemorySize);
        CShareMem opener;
        ASSERT_EQ(opener.Create(), 0u);
        const unsigned char* bytes = service.Bytes();
        EXPECT_EQ(opener.View()->magic, kShareMemoryMagic);
        EXPECT_EQ(opener.View()->size, kShareMemorySize);
        const auto changed = std::find_if(bytes + 8, bytes + kShareMemorySize,
                                          [](unsigned char b) { return b != 0xAB; });
        EXPECT_EQ(changed - bytes, static_cast<long>(kShareMemorySize));
        EXPECT_EQ(opener.Close(), 0u);
        EXPECT_EQ(opener.View(), nullptr);
    }
}

TEST(ShareMem, WithoutAViewEveryOperationFailsCleanly) {
    // A block of that name too small to hold the layout: opened, but not mappable.
    RawBlock tooSmall(4096);
    CShareMem link;
    EXPECT_NE(link.Create(), 0u);
    EXPECT_EQ(link.View(), nullptr);

    std::string text = "unchanged";
    std::wstring wide = L"unchanged";
    EXPECT_EQ(link.NotifyService(), -1);
    EXPECT_EQ(link.AddViolateRule("rule", 100), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(link.ClearPrompts(100), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(link.GetPrompts(text, 100), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(link.GetPromptsW(wide, 100), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(link.WriteMessage("m", 100), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(link.ReadMessage(text, 100), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(text, "unchanged");
    link.SetStateBit0(1);
    link.SetStateBit1(1);
    link.ResetState();
    EXPECT_FALSE(link.IsStateBit0Set());
    EXPECT_FALSE(link.IsStateBit1Set());
    EXPECT_FALSE(link.IsStateBit2Set());
    EXPECT_EQ(link.Close(), 0u);
}

TEST(ShareMem, PromptTable) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    CommonShareMemory& block = *link.View();
    std::string prompts;

    EXPECT_EQ(link.AddViolateRule("", 1000), 0u);
    EXPECT_EQ(CountText(block), "");

    ASSERT_EQ(link.AddViolateRule("gateway unreachable", 1000), 0u);
    ASSERT_EQ(link.AddViolateRule("second notice", 1000), 0u);
    ASSERT_EQ(link.GetPrompts(prompts, 1000), 0u);
    EXPECT_EQ(prompts, "gateway unreachable<br />second notice<br />");
    EXPECT_EQ(CountText(block), "2");

    // A duplicate is refused quietly, and the mutex is free again at once for anyone.
    EXPECT_EQ(link.AddViolateRule("gateway unreachable", 1000), 0u);
    EXPECT_EQ(CountText(block), "2");
    EXPECT_EQ(RunPeer({"take-mutex"}), 0u);
    // Byte for byte: case matters.
    EXPECT_EQ(link.AddViolateRule("Gateway unreachable", 1000), 0u);
    EXPECT_EQ(CountText(block), "3");

    // Cut to 511 characters; as the cut copy never equals the long text, it is added again.
    const std::string longText(600, 'L');
    EXPECT_EQ(link.AddViolateRule(longText, 1000), 0u);
    EXPECT_EQ(CountText(block), "4");
    EXPECT_EQ(Slot(block, 3), longText.substr(0, 511));
    EXPECT_EQ(link.AddViolateRule(longText, 1000), 0u);
    EXPECT_EQ(CountText(block), "5");

    for (int i = 5; i < 8; ++i) {
        EXPECT_EQ(link.AddViolateRule("notice " + std::to_string(i), 1000), 0u);
    }
    EXPECT_EQ(CountText(block), "8");
    EXPECT_EQ(link.AddViolateRule("one too many", 1000), 0u);
    EXPECT_EQ(CountText(block), "8");
    EXPECT_EQ(RunPeer({"take-mutex"}), 0u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_NE(Slot(block, i), "one too many");
    }

    // An empty slot inside the count is skipped.
    ASSERT_EQ(link.ClearPrompts(1000), 0u);
    EXPECT_EQ(CountText(block), "");
    ASSERT_EQ(link.GetPrompts(prompts, 1000), 0u);
    EXPECT_EQ(prompts, "");
    ASSERT_EQ(link.AddViolateRule("first", 1000), 0u);
    ASSERT_EQ(link.AddViolateRule("gone", 1000), 0u);
    ASSERT_EQ(link.AddViolateRule(u8"gr\u00fc\u00df \u4e2d", 1000), 0u);
    std::memset(block.prompts[1], 0, kPromptSlotSize);
    ASSERT_EQ(link.GetPrompts(prompts, 1000), 0u);
    EXPECT_EQ(prompts, std::string("first<br />") + u8"gr\u00fc\u00df \u4e2d" + "<br />");
    std::wstring wide;
    ASSERT_EQ(link.GetPromptsW(wide, 1000), 0u);
    EXPECT_EQ(wide, L"first<br />gr\u00fc\u00df \u4e2d<br />");

    // A count that is no number reads as 0: readers see nothing, the next add takes slot 0.
    std::memset(block.promptCount, 0, sizeof(block.promptCount));
    std::strcpy(block.promptCount, "many");
    ASSERT_EQ(link.GetPrompts(prompts, 1000), 0u);
    EXPECT_EQ(prompts, "");
    ASSERT_EQ(link.AddViolateRule("fresh", 1000), 0u);
    EXPECT_EQ(CountText(block), "1");
    EXPECT_EQ(Slot(block, 0), "fresh");
    // A count that fills its whole field is read within it.
    std::memset(block.promptCount, '1', sizeof(block.promptCount));
    EXPECT_EQ(link.AddViolateRule("beyond", 1000), 0u);
    EXPECT_EQ(Slot(block, 0), "fresh");
}

TEST(ShareMem, MessageField) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    std::string message;
    ASSERT_EQ(link.WriteMessage("authenticated", 1000), 0u);
    ASSERT_EQ(link.ReadMessage(message, 1000), 0u);
    EXPECT_EQ(message, "authenticated");
    ASSERT_EQ(link.WriteMessage(std::string(5000, 'm'), 1000), 0u);
    ASSERT_EQ(link.ReadMessage(message, 1000), 0u);
    EXPECT_EQ(message, std::string(4095, 'm'));
    // Whatever another party left unterminated is read within the field.
    std::memset(link.View()->message, 'x', kMessageSize);
    ASSERT_EQ(link.ReadMessage(message, 1000), 0u);
    EXPECT_EQ(message, std::string(4095, 'x'));
}

TEST(ShareMem, HeldMutexTimesOutAndLeavesEverythingAlone) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    ASSERT_EQ(link.AddViolateRule("before", 1000), 0u);
    ASSERT_EQ(link.WriteMessage("before", 1000), 0u);

    NamedEvent held("held");
    NamedEvent release("release");
    PeerProcess holder({"hold-mutex", held.Name(), release.Name()});
    ASSERT_TRUE(holder.Started());
    ASSERT_TRUE(held.Wait());

    std::string out = "untouched";
    std::wstring wide = L"untouched";
    EXPECT_EQ(link.AddViolateRule("during", 300), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(link.ClearPrompts(300), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(link.WriteMessage("during", 300), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(link.GetPrompts(out, 300), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(link.GetPromptsW(wide, 300), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(link.ReadMessage(out, 300), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(out, "untouched");
    EXPECT_EQ(wide, L"untouched");
    EXPECT_EQ(CountText(*link.View()), "1");
    EXPECT_EQ(Slot(*link.View(), 0), "before");

    release.Set();
    ASSERT_EQ(holder.Join(), 0u);
    ASSERT_EQ(link.ReadMessage(out, 1000), 0u);
    EXPECT_EQ(out, "before");
}

TEST(ShareMem, ConcurrentAddersLoseAndDuplicateNothing) {
    // Each round: several processes start at one signal, race to create the block and add
    // their own texts and one text they all share.
    const auto round = [](int peers, std::set<std::string>& offered,
                          std::vector<std::string>& slots, std::string& count) {
        NamedEvent go("go");
        NamedEvent finish("finish");
        std::vector<std::unique_ptr<NamedEvent>> done;
        std::vector<std::unique_ptr<PeerProcess>> adders;
        offered = {"shared by all"};
        for (int p = 0; p < peers; ++p) {
            done.push_back(std::make_unique<NamedEvent>("done" + std::to_string(p)));
            const std::string a = "peer " + std::to_string(p) + " first";
            const std::string b = "peer " + std::to_string(p) + " second";
            offered.insert(a);
            offered.insert(b);
            adders.push_back(std::make_unique<PeerProcess>(std::vector<std::string>{
                "add", go.Name(), done.back()->Name(), finish.Name(), a, "shared by all", b}));
            ASSERT_TRUE(adders.back()->Started());
        }
        go.Set();
        for (auto& event : done) {
            ASSERT_TRUE(event->Wait());
        }
        CShareMem reader;
        ASSERT_EQ(reader.Create(), 0u);
        count = CountText(*reader.View());
        slots.clear();
        for (int i = 0; i < 8; ++i) {
            slots.push_back(Slot(*reader.View(), i));
        }
        finish.Set();
        for (auto& adder : adders) {
            EXPECT_EQ(adder->Join(), 0u);
        }
    };

    std::set<std::string> offered;
    std::vector<std::string> slots;
    std::string count;

    round(3, offered, slots, count); // 7 texts: all fit
    EXPECT_EQ(count, "7");
    EXPECT_EQ(std::set<std::string>(slots.begin(), slots.begin() + 7), offered);
    EXPECT_EQ(slots[7], "");

    round(5, offered, slots, count); // 11 texts: the table fills and stays at 8
    EXPECT_EQ(count, "8");
    const std::set<std::string> stored(slots.begin(), slots.end());
    EXPECT_EQ(stored.size(), 8u) << "a text was stored twice or a slot left empty";
    for (const std::string& text : stored) {
        EXPECT_EQ(offered.count(text), 1u) << text;
    }
}

TEST(ShareMem, FlagBits) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    link.SetStateBit0(2); // only exactly 1 sets bit 0
    EXPECT_FALSE(link.IsStateBit0Set());
    link.SetStateBit0(1);
    link.SetStateBit1(5);
    link.SetStateBit2(-1);
    EXPECT_EQ(link.View()->flags, 0x7);
    link.SetStateBit0(2);
    link.SetStateBit1(0);
    EXPECT_EQ(link.View()->flags, 0x4);
    link.View()->serviceState = 4;
    link.View()->flags |= 0x100; // bits of no setter go with a reset too
    link.ResetState();
    EXPECT_EQ(link.View()->flags, 0);
    EXPECT_EQ(link.View()->serviceState, 0u);

    // Two processes flip their own bits as fast as they can; a bit set by this process stays.
    link.SetStateBit2(1);
    NamedEvent go("flags");
    PeerProcess first({"flags", go.Name(), "0", "1500"});
    PeerProcess second({"flags", go.Name(), "1", "1500"});
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(second.Started());
    go.Set();
    EXPECT_EQ(first.Join(), 0u);
    EXPECT_EQ(second.Join(), 0u);
    EXPECT_EQ(link.View()->flags, 0x4);
}
