#include "BackendTestSupport.h"
#include "LogCapture.h"
#include "WaitFor.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

using corvane_test::ConfigFile;
using corvane_test::CountingConfig;

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
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));

    // A given directory gets one backslash, whatever it ends in.
    ASSERT_EQ(config.Init(5, 4, L"b.log", L"log", L"d:\\logs"), 0);
    EXPECT_EQ(config.GetLogPath(), L"d:\\logs\\b.log");
    ASSERT_EQ(config.Init(5, 4, L"b.log", L"log", L"d:\\logs\\"), 0);
    EXPECT_EQ(config.GetLogPath(), L"d:\\logs\\\\b.log");
}

TEST(LogConfigSettings, FollowTheFilesWriteTimeNotItsContent) {
    ConfigFile file;
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"a.log", L"Log", L"c:\\"), 0);

    // No file yet: nothing to read.
    config.Check();
    EXPECT_EQ(config.Reloads(), 0);
    EXPECT_EQ(config.Setting(L"wnd"), L"<none>");

    // Keys of the configured section only, lower case; values as written.
    ASSERT_TRUE(file.Write("[other]\nwnd = Elsewhere\n[LOG]\nWND = Receiver\nLevel = 3 \n"));
    config.Check();
    EXPECT_EQ(config.Reloads(), 1);
    EXPECT_EQ(config.Setting(L"wnd"), L"Receiver");
    EXPECT_EQ(config.Setting(L"WND"), L"<none>");
    EXPECT_EQ(config.Setting(L"level"), L"3 ");

    // Unchanged write time: not reread, even with new content.
    config.Check();
    ASSERT_TRUE(file.WriteKeepingTime("[log]\nwnd = Changed\n"));
    config.Check();
    EXPECT_EQ(config.Reloads(), 1);
    EXPECT_EQ(config.Setting(L"wnd"), L"Receiver");

    // A touch alone rereads.
    ASSERT_TRUE(file.Touch());
    config.Check();
    EXPECT_EQ(config.Reloads(), 2);
    EXPECT_EQ(config.Setting(L"wnd"), L"Changed");
    EXPECT_EQ(config.Setting(L"level"), L"<none>");

    // A deleted file keeps the last settings.
    file.Delete();
    config.Check();
    EXPECT_EQ(config.Reloads(), 2);
    EXPECT_EQ(config.Setting(L"wnd"), L"Changed");

    // A file without the section empties them.
    ASSERT_TRUE(file.Write("[other]\nwnd = Elsewhere\n"));
    config.Check();
    EXPECT_EQ(config.Reloads(), 3);
    EXPECT_EQ(config.Setting(L"wnd"), L"<none>");
}

TEST(LogConfigSettings, LookupsDuringRebuildsSeeWholeSettings) {
    ConfigFile file;
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"a.log", L"log", L"c:\\"), 0);
    const std::wstring first(200, L'a');
    const std::wstring second(300, L'b');
    ASSERT_TRUE(file.Write("[log]\nwnd = " + std::string(200, 'a') + "\n"));
    config.Check();

    std::atomic<bool> done{false};
    std::atomic<int> lookups{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        std::wstring value;
        while (!done.load()) {
            if (config.GetSetting(L"wnd", value) != 0 || (value != first && value != second)) {
                ++torn;
            }
            ++lookups;
        }
    });
    for (int i = 0; i < 60; ++i) {
        const bool odd = i % 2 == 1;
        ASSERT_TRUE(file.Write("[log]\nwnd = " + std::string(odd ? 200 : 300, odd ? 'a' : 'b') +
                               "\nother = " + std::to_string(i) + "\n"));
        config.Check();
    }
    corvane_test::WaitFor([&] { return lookups.load() > 100; });
    done = true;
    reader.join();
    EXPECT_EQ(config.Reloads(), 61);
    EXPECT_EQ(torn.load(), 0);
}

TEST(LogConfigWatcher, RereadsAfterATouchKeepsSettingsOfADeletedFileAndLogsItsExit) {
    corvane_test::LogCapture capture;
    ASSERT_TRUE(capture.Active());
    ConfigFile file;
    ASSERT_TRUE(file.Write("[log]\nWND = First\n"));
    CountingConfig config;
    ASSERT_EQ(config.Init(5, 1, L"a.log", L"log", L"c:\\"), 0);
    ASSERT_TRUE(config.StartWatcher());

    // The first check runs at once.
    ASSERT_TRUE(corvane_test::WaitFor([&] { return config.Setting(L"wnd") == L"First"; }));

    // A touch is seen at the next check, one period later. The bound is generous for a loaded
    // machine; the watcher itself never waits longer than its period between two checks.
    ASSERT_TRUE(file.Write("[log]\nWND = Second\n"));
    const int checksBefore = config.Checks();
    ASSERT_TRUE(corvane_test::WaitFor([&] { return config.Setting(L"wnd") == L"Second"; }));
    // A check under way while the file was written may miss it; the one after it may not.
    EXPECT_LE(config.LastReloadingCheck(), checksBefore + 2);

    // Deleted: later checks find nothing and keep what was read.
    file.Delete();
    const int checksAfterDelete = config.Checks();
    ASSERT_TRUE(corvane_test::WaitFor([&] { return config.Checks() >= checksAfterDelete + 2; }));
    EXPECT_EQ(config.Setting(L"wnd"), L"Second");
    EXPECT_EQ(config.Reloads(), 2);

    config.StopWatcher();
    const auto exits = capture.RecordsOf(L"corvanelib::LogConfig::ThreadStart");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0].level, 4);
    EXPECT_EQ(exits[0].file, L"CorvaneLog");
    EXPECT_EQ(exits[0].line, 148);
    EXPECT_EQ(exits[0].message, L"LogConfig thread is exit now!");
}
