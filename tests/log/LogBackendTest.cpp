// The log configuration with its file and watcher, and the file and window outputs.
#include "BackendTestSupport.h"
#include "LogCapture.h"
#include "WaitFor.h"

#include "corvanelib/log/ExternalWindowLogProvider.h"
#include "corvanelib/log/FileLogProvider.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

using corvane_test::ConfigFile;
using corvane_test::CountingConfig;
using corvane_test::ReadBytes;
using corvane_test::TestDirectory;
using corvane_test::WaitFor;
using corvanelib::FileLogProvider;

TEST(LogConfigInit, StoresLevelsNamesAndTheLogDirectory) {
    CountingConfig config;
    EXPECT_EQ(config.Init(3, 1, nullptr, L"log", nullptr), 2);
    EXPECT_EQ(config.Threshold(), -1);

    // Default directory: the system directory's config\cvnlog, made when missing.
    ASSERT_EQ(config.Init(3, 1, L"a.log", L"log", nullptr), 0);
    EXPECT_EQ(config.Threshold(), 3);
    EXPECT_EQ(config.OutputKind(), 1);
    wchar_t system[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, system, CSIDL_SYSTEM, FALSE));
    const std::wstring directory = std::wstring(system) + L"\\config\\cvnlog\\";
    EXPECT_EQ(config.GetLogPath(), directory + L"a.log");
    EXPECT_TRUE(std::filesystem::is_directory(directory));

    // A given directory gets one backslash, whatever it ends in.
    for (const std::wstring given : {L"d:\\logs", L"d:\\logs\\"}) {
        ASSERT_EQ(config.Init(5, 4, L"b.log", L"log", given.c_str()), 0);
        EXPECT_EQ(config.GetLogPath(), given + L"\\b.log");
    }
}

TEST(LogConfigSettings, FollowTheFilesWriteTimeNotItsContent) {
    ConfigFile file;
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"a.log", L"Log", L"c:\\"), 0);
    // Each step: what the file becomes (nullptr: deleted), then reloads and settings after a check.
    const struct {
        const char* content;
        bool keepTime;
        int reloads;
        const wchar_t* wnd;
        const wchar_t* level;
    } steps[] = {
        {nullptr, false, 0, L"<none>", L"<none>"}, // no file yet: nothing to read
        // Keys of the configured section only, lower case; values as written.
        {"[other]\nwnd = Elsewhere\n[LOG]\nWND = Receiver\nLevel = 3 \n", false, 1, L"Receiver",
         L"3 "},
        {"[log]\nwnd = Changed\n", true, 1, L"Receiver", L"3 "}, // same write time: not reread
        {"", false, 2, L"Changed", L"<none>"},                   // a touch alone rereads
        {nullptr, false, 2, L"Changed", L"<none>"},              // deleted: settings kept
        {"[other]\nwnd = Elsewhere\n", false, 3, L"<none>", L"<none>"}, // section gone: emptied
    };
    for (const auto& step : steps) {
        if (step.content == nullptr) {
            file.Delete();
        } else if (*step.content == '\0') { // an empty content stands for a touch
            ASSERT_TRUE(file.Touch());
        } else {
            ASSERT_TRUE(step.keepTime ? file.WriteKeepingTime(step.content)
                                      : file.Write(step.content));
        }
        config.Check();
        EXPECT_EQ(config.reloads.load(), step.reloads);
        EXPECT_EQ(config.Setting(L"wnd") + L"|" + config.Setting(L"level"),
                  std::wstring(step.wnd) + L"|" + step.level);
    }
    EXPECT_EQ(config.Setting(L"WND"), L"<none>");
}

TEST(LogConfigSettings, LookupsDuringRebuildsSeeWholeSettings) {
    ConfigFile file;
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"a.log", L"log", L"c:\\"), 0);
    ASSERT_TRUE(file.Write("[log]\nwnd = " + std::string(200, 'a')));
    config.Check();
    std::atomic<bool> done{false};
    std::atomic<int> lookups{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        std::wstring value;
        for (; !done; ++lookups) {
            if (config.GetSetting(L"wnd", value) != 0 ||
                (value != std::wstring(200, L'a') && value != std::wstring(300, L'b'))) {
                ++torn;
            }
        }
    });
    for (int i = 0; i < 60; ++i) {
        const std::string value = i % 2 == 1 ? std::string(200, 'a') : std::string(300, 'b');
        ASSERT_TRUE(file.Write("[log]\nwnd = " + value + "\nother = " + std::to_string(i)));
        config.Check();
    }
    WaitFor([&] { return lookups.load() > 100; });
    done = true;
    reader.join();
    EXPECT_EQ(config.reloads.load(), 61);
    EXPECT_EQ(torn.load(), 0);
}

TEST(LogConfigWatcher, ChecksAtOnceRereadsAfterATouchWithinOnePeriodAndLogsItsExit) {
    corvane_test::LogCapture capture;
    ASSERT_TRUE(capture.Active());
    ConfigFile file;
    ASSERT_TRUE(file.Write("[log]\nWND = First\n"));
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"a.log", L"log", L"c:\\"), 0);
    ASSERT_TRUE(config.StartWatcher());
    // The first check runs at once.
    ASSERT_TRUE(WaitFor([&] { return config.Setting(L"wnd") == L"First"; }));

    // A touch is seen at the next check, one period later. The bound is generous for a loaded
    // machine; a check under way while the file was written may miss it, the one after may not.
    ASSERT_TRUE(file.Write("[log]\nWND = Second\n"));
    const int checksBefore = config.checks;
    ASSERT_TRUE(WaitFor([&] { return config.Setting(L"wnd") == L"Second"; }));
    EXPECT_LE(config.lastReloadingCheck.load(), checksBefore + 2);

    config.StopWatcher();
    const auto exits = capture.RecordsOf(L"corvanelib::LogConfig::ThreadStart");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(std::to_wstring(exits[0].level) + L"|" + exits[0].file + L"|" +
                  std::to_wstring(exits[0].line) + L"|" + exits[0].message,
              L"4|CorvaneLog|148|LogConfig thread is exit now!");
}

TEST(FileLogProvider, CreatesAppendsAndCountsTwoBytesPerCharacter) {
    TestDirectory directory(L"provider_file");
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.path.c_str()), 0);
    const std::wstring path = directory.File(L"p.log");
    FileLogProvider provider;
    EXPECT_EQ(provider.Write(L"before init", 11), -1);
    ASSERT_EQ(provider.Init(&config), 0);
    EXPECT_EQ(ReadBytes(path), "");

    // One line per record; the text runs to its NUL, the length only counts.
    EXPECT_EQ(provider.Write(L"abc", 3), 0);
    const wchar_t trimmed[] = {L'x', L'y', 0, 0};
    EXPECT_EQ(provider.Write(trimmed, 4), 0);
    EXPECT_EQ(provider.CountedBytes(), 14u);
    EXPECT_EQ(ReadBytes(path), "abc\r\nxy\r\n");

    // A second writer on the shared file starts counting at its size; both append at the end.
    FileLogProvider second;
    ASSERT_EQ(second.Init(&config), 0);
    EXPECT_EQ(second.CountedBytes(), 9u);
    EXPECT_EQ(second.Write(L"second", 6), 0);
    EXPECT_EQ(provider.LockedWrite(L"first", 5, 0), 0);
    EXPECT_EQ(ReadBytes(path), "abc\r\nxy\r\nsecond\r\nfirst\r\n");

    // A record that cannot be written says so.
    provider.Close();
    EXPECT_EQ(provider.Write(L"lost", 4), -1);
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.File(L"absent").c_str()), 0);
    FileLogProvider missing;
    EXPECT_EQ(missing.Init(&config), 1); // path not found: another error than "no such file"
    EXPECT_EQ(missing.Write(L"lost", 4), -1);
}

TEST(FileLogProvider, RestartsEmptyPastTheCountedLimitWithoutTouchingTheOtherFile) {
    TestDirectory directory(L"provider_restart");
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"p.log", L"log", directory.path.c_str()), 0);
    const std::wstring logPath = directory.File(L"p.log");
    const std::wstring critPath = directory.File(L"p.log.crit");
    ASSERT_TRUE(corvane_test::WriteBytes(logPath, "kept\r\n"));
    ASSERT_TRUE(corvane_test::WriteBytes(critPath, ""));
    std::filesystem::resize_file(critPath, FileLogProvider::kRestartBytes - 10);

    FileLogProvider log;
    corvanelib::CritFileLogProvider critical;
    ASSERT_EQ(log.Init(&config), 0);
    ASSERT_EQ(critical.Init(&config), 0);
    EXPECT_EQ(critical.CountedBytes(), FileLogProvider::kRestartBytes - 10);
    EXPECT_EQ(critical.Write(L"abcd", 4), 0); // reaches the limit, does not pass it
    EXPECT_EQ(std::filesystem::file_size(critPath), FileLogProvider::kRestartBytes - 10 + 6);
    // The crossing record is the first line of the emptied file.
    EXPECT_EQ(critical.Write(L"crossing", 8), 0);
    EXPECT_EQ(critical.CountedBytes(), 0u);
    EXPECT_EQ(critical.Write(L"next", 4), 0);
    EXPECT_EQ(ReadBytes(critPath), "crossing\r\nnext\r\n");
    EXPECT_EQ(ReadBytes(logPath), "kept\r\n");
}

TEST(ExternalWindowLogProvider, AnswersWithoutAWindow) {
    CountingConfig config; // no settings: no "wnd"
    corvanelib::ExternalWindowLogProvider provider;
    EXPECT_EQ(provider.IsUnavailable(), 700);
    ASSERT_EQ(provider.Init(&config), 0);
    EXPECT_EQ(provider.IsUnavailable(), 700);
    EXPECT_EQ(provider.Write(L"record", 6), 700);
    EXPECT_EQ(provider.Write(L"", 0), 0);
    EXPECT_EQ(provider.Write(nullptr, 3), 2);
    EXPECT_EQ(provider.Write(L"", 3), 2);
}
