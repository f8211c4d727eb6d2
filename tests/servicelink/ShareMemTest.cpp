// CShareMem against other parties mapping the same block. Every test starts with no block in
// existence (nothing else maps it: the ctest resource lock keeps the stand-in away).
#include "ShareMem.h"
#include "WindowsPath.h"
#include "corvanelib/Win32/UniqueHandle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>
#include <set>
#include <string>
#include <vector>

namespace {

std::string CountText(const CommonShareMemory& block) {
    return std::string(block.promptCount, strnlen(block.promptCount, sizeof(block.promptCount)));
}

std::string Slot(const CommonShareMemory& block, int i) {
    return std::string(block.prompts[i], strnlen(block.prompts[i], kPromptSlotSize));
}

// A manual-reset event under a name unique to this test process, for pacing the peers.
struct NamedEvent {
    explicit NamedEvent(const std::string& tag)
        : name("corvane-test-" + tag + "-" + std::to_string(GetCurrentProcessId())),
          handle(CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}
    bool Wait() const { return WaitForSingleObject(handle.get(), 60000) == WAIT_OBJECT_0; }
    std::string name;
    corvanelib::UniqueKernelHandle handle;
};

// servicelink_peer.exe run with `arguments`; terminated when still running at the end.
class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& arguments) {
        std::wstring line = L"\"" + corvane_test::WindowsPath(SERVICELINK_PEER_EXE) + L"\"";
        for (const std::string& argument : arguments) {
            line += L" \"" + std::wstring(argument.begin(), argument.end()) + L"\"";
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &info));
        m_process.reset(info.hProcess);
        CloseHandle(info.hThread);
    }
    ~PeerProcess() {
        if (m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process.get(), 99);
            WaitForSingleObject(m_process.get(), 20000);
        }
    }
    // The exit code, or STILL_ACTIVE when the process did not end in time.
    DWORD Join() const {
        DWORD code = STILL_ACTIVE;
        if (m_process && WaitForSingleObject(m_process.get(), 60000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(m_process.get(), &code);
        }
        return code;
    }

private:
    corvanelib::UniqueKernelHandle m_process;
};

// Takes the shared-memory mutex on another thread, at once (wait 0), as another party would;
// with `held`, signals it and keeps the mutex until `release` is signalled. Whether the mutex
// was free. The mutex exists only while some party works under it: created or opened here.
std::future<bool> TakeMutex(HANDLE held = nullptr, HANDLE release = nullptr) {
    return std::async(std::launch::async, [held, release] {
        corvanelib::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kShareMemoryMutexName));
        if (!mutex || WaitForSingleObject(mutex.get(), 0) != WAIT_OBJECT_0) {
            return false;
        }
        if (held != nullptr) {
            SetEvent(held);
            WaitForSingleObject(release, 60000);
        }
        return ReleaseMutex(mutex.get()) != FALSE;
    });
}

// Every operation under the mutex fails with `error` and leaves the caller's strings alone.
void ExpectGuardedOperationsFail(CShareMem& link, DWORD error) {
    std::string text = "unchanged";
    std::wstring wide = L"unchanged";
    EXPECT_EQ(link.AddViolateRule("during", 300), error);
    EXPECT_EQ(link.ClearPrompts(300), error);
    EXPECT_EQ(link.WriteMessage("during", 300), error);
    EXPECT_EQ(link.GetPrompts(text, 300), error);
    EXPECT_EQ(link.GetPromptsW(wide, 300), error);
    EXPECT_EQ(link.ReadMessage(text, 300), error);
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(wide, L"unchanged");
}

} // namespace

TEST(ShareSecurityAttributes, NullDaclAndLabelOnlyOnRequest) {
    ShareSecurityAttributes plain;
    ASSERT_TRUE(plain.Build());
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
    ASSERT_TRUE(present && acl != nullptr);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &ace));
    EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
}

TEST(ShareMem, CreatorInitialisesAndOpenersWriteOnlyMagicAndSize) {
    {
        CShareMem creator;
        ASSERT_EQ(creator.Create(), 0u);
        const CommonShareMemory& block = *creator.View();
        EXPECT_EQ(block.magic, kShareMemoryMagic);
        EXPECT_EQ(block.size, kShareMemorySize);
        EXPECT_EQ(block.word12364, 3u);
        EXPECT_EQ(block.word12368, 1u);
        EXPECT_EQ(block.flags, 0);
        EXPECT_EQ(CountText(block), "");
        EXPECT_EQ(creator.NotifyService(), -1); // no service: no notify event
    }
    // A block another party created, every byte its own: opening changes bytes 0 to 7 only.
    corvanelib::UniqueKernelHandle mapping(CreateFileMappingA(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kShareMemorySize, kShareMemoryName));
    ASSERT_TRUE(mapping);
    corvanelib::UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    auto* bytes = static_cast<unsigned char*>(view.get());
    ASSERT_NE(bytes, nullptr);
    std::memset(bytes, 0xAB, kShareMemorySize);
    CShareMem opener;
    ASSERT_EQ(opener.Create(), 0u);
    EXPECT_EQ(opener.View()->magic, kShareMemoryMagic);
    EXPECT_EQ(opener.View()->size, kShareMemorySize);
    EXPECT_TRUE(std::all_of(bytes + 8, bytes + kShareMemorySize,
                            [](unsigned char b) { return b == 0xAB; }));
    EXPECT_EQ(opener.Close(), 0u);
    EXPECT_EQ(opener.View(), nullptr);
}

TEST(ShareMem, WithoutAViewEveryOperationFailsCleanly) {
    // A block of that name too small to hold the layout: opened, but not mappable.
    corvanelib::UniqueKernelHandle tooSmall(CreateFileMappingA(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kShareMemoryName));
    ASSERT_TRUE(tooSmall);
    CShareMem link;
    EXPECT_NE(link.Create(), 0u);
    EXPECT_EQ(link.View(), nullptr);

    EXPECT_EQ(link.NotifyService(), -1);
    ExpectGuardedOperationsFail(link, ERROR_INVALID_HANDLE);
    link.SetStateBit0(1);
    link.SetStateBit1(1);
    link.ResetState();
    EXPECT_FALSE(link.IsStateBit0Set() || link.IsStateBit1Set() || link.IsStateBit2Set());
    EXPECT_EQ(link.Close(), 0u);
}

TEST(ShareMem, PromptTable) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    CommonShareMemory& block = *link.View();
    // Each text added and the count after it: an empty text and a duplicate are refused
    // quietly, byte for byte (case matters); a long text is cut to 511 characters and, as the
    // cut copy never equals it, added again; a full table refuses quietly. The mutex is free
    // again at once after every path, for anyone.
    const std::string longText(600, 'L');
    const std::string texts[] = {"",       "notice 1", "notice 2", "notice 1", "Notice 1", longText,
                                 longText, "notice 5", "notice 6", "notice 7", "one more"};
    const char* const counts[] = {"", "1", "2", "2", "3", "4", "5", "6", "7", "8", "8"};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(link.AddViolateRule(texts[i], 1000), 0u);
        EXPECT_EQ(CountText(block), counts[i]) << i;
        EXPECT_TRUE(TakeMutex().get()) << i;
    }
    EXPECT_EQ(Slot(block, 3), longText.substr(0, 511));
    for (int i = 0; i < 8; ++i) {
        EXPECT_NE(Slot(block, i), "one more");
    }

    // Order and separators; an empty slot inside the count is skipped.
    ASSERT_EQ(link.ClearPrompts(1000), 0u);
    EXPECT_EQ(CountText(block), "");
    for (const char* text : {"first", "gone", u8"gr\u00fc\u00df \u4e2d"}) {
        ASSERT_EQ(link.AddViolateRule(text, 1000), 0u);
    }
    std::memset(block.prompts[1], 0, kPromptSlotSize);
    std::string prompts;
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
    ASSERT_EQ(link.WriteMessage(std::string(5000, 'm'), 1000), 0u);
    ASSERT_EQ(link.ReadMessage(message, 1000), 0u);
    EXPECT_EQ(message, std::string(4095, 'm'));
    ASSERT_EQ(link.WriteMessage("authenticated", 1000), 0u); // nothing of the longer one stays
    ASSERT_EQ(link.ReadMessage(message, 1000), 0u);
    EXPECT_EQ(message, "authenticated");
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

    corvanelib::UniqueKernelHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    corvanelib::UniqueKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::future<bool> holder = TakeMutex(held.get(), release.get());
    ASSERT_EQ(WaitForSingleObject(held.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));

    ExpectGuardedOperationsFail(link, ERROR_TIMEOUT);

    SetEvent(release.get());
    ASSERT_TRUE(holder.get());
    std::string out;
    ASSERT_EQ(link.GetPrompts(out, 1000), 0u);
    EXPECT_EQ(out, "before<br />");
    ASSERT_EQ(link.ReadMessage(out, 1000), 0u);
    EXPECT_EQ(out, "before");
}

TEST(ShareMem, ConcurrentAddersLoseAndDuplicateNothing) {
    // Several processes start at one signal, race to create the block and each add two texts of
    // their own and one they all share: 7 texts that all fit, then 11 that fill the table.
    for (int peers : {3, 5}) {
        const std::string round = std::to_string(peers);
        NamedEvent go("go" + round);
        NamedEvent finish("finish" + round);
        std::deque<NamedEvent> done;
        std::deque<PeerProcess> adders;
        std::set<std::string> offered = {"shared by all"};
        for (int p = 0; p < peers; ++p) {
            const std::string a = "peer " + std::to_string(p) + " first";
            const std::string b = "peer " + std::to_string(p) + " second";
            offered.insert({a, b});
            done.emplace_back("done" + round + "-" + std::to_string(p));
            adders.emplace_back(std::vector<std::string>{"add", go.name, done.back().name,
                                                         finish.name, a, "shared by all", b});
        }
        SetEvent(go.handle.get());
        for (const NamedEvent& event : done) {
            ASSERT_TRUE(event.Wait());
        }
        CShareMem reader;
        ASSERT_EQ(reader.Create(), 0u);
        const int expected = std::min(static_cast<int>(offered.size()), 8);
        EXPECT_EQ(CountText(*reader.View()), std::to_string(expected));
        std::set<std::string> stored;
        for (int i = 0; i < 8; ++i) {
            if (i < expected) {
                stored.insert(Slot(*reader.View(), i));
            } else {
                EXPECT_EQ(Slot(*reader.View(), i), "") << i;
            }
        }
        EXPECT_EQ(stored.size(), static_cast<std::size_t>(expected)) << "a text stored twice";
        EXPECT_TRUE(std::includes(offered.begin(), offered.end(), stored.begin(), stored.end()));
        SetEvent(finish.handle.get());
        for (const PeerProcess& adder : adders) {
            EXPECT_EQ(adder.Join(), 0u);
        }
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
    PeerProcess first({"flags", go.name, "0", "1500"});
    PeerProcess second({"flags", go.name, "1", "1500"});
    SetEvent(go.handle.get());
    EXPECT_EQ(first.Join(), 0u);
    EXPECT_EQ(second.Join(), 0u);
    EXPECT_EQ(link.View()->flags, 0x4);
}
