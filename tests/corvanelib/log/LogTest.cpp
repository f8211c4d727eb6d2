// The log: a private log object on its own configuration with recording outputs; the
// configuration file with its watcher; the file and window outputs; InitLog. The Wine prefix's
// "c:\config.ini" comes and goes.
#include "peers/support/WaitFor.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include "corvanelib/log/ExternalWindowLogProvider.h"
#include "corvanelib/log/FileLogProvider.h"
#include "corvanelib/log/InitLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

using namespace corvane::tests::support;

using corvane::peers::support::WaitFor;
using corvane::tests::support::RecordingProvider;
using corvanelib::FileLogProvider;

namespace {

const std::wstring kNotice = L"无法打开指定的设备，日志写入文件中";

// A log that can be muted right after a record passed the level test, as when it is destroyed
// meanwhile.
struct TestLog : corvanelib::Log {
    using Log::Log;
    bool IsEnabled(int level) override { return Log::IsEnabled(level) && SetMuted(mute) >= 0; }
    int mute = 0;
};

class LogFront : public ::testing::Test {
protected:
    RecordingProvider* Add(const wchar_t* name, int result = 0) {
        auto* provider = new RecordingProvider(name, journal, result);
        EXPECT_EQ(log->AddProvider(provider, name), 0); // the log owns what it accepts
        return provider;
    }
    int Write(int threshold, int kind, int level, const wchar_t* source = L"") {
        config.Init(threshold, kind, L"x.log", L"log", L".");
        return log->WriteLog(level, source, L"F", 12, L"m");
    }
    // The writes since the last call: each provider with the record's level letter, or
    // "notice" for the notice with its own length.
    std::wstring Writes() {
        std::wstring listed;
        for (const auto& w : journal.Writes(true)) {
            listed +=
                w.first + L":" + (w.second == kNotice ? L"notice" : w.second.substr(15, 1)) + L" ";
        }
        return listed;
    }

    corvane::tests::support::WriteJournal journal;
    corvanelib::CommonConfig config;
    std::unique_ptr<TestLog> log = std::make_unique<TestLog>(&config);
};

TEST_F(LogFront, LevelsAndOutputKindDecideWhereARecordGoes) {
    EXPECT_EQ(Write(5, 3, 1), -1); // nothing registered: nowhere to write, no echo
    RecordingProvider* file = Add(L"file", 11);
    EXPECT_EQ(Write(5, 3, 2), 11);
    EXPECT_EQ(Writes(), L"file:notice file:E ");
    Add(L"critfile", 22);
    Add(L"vsdebug", 33);
    RecordingProvider* wnd = Add(L"wnd", 44);
    const struct {
        int threshold, kind, level, unavailable, result;
        const wchar_t* writes;
    } cases[] = {{3, 3, 4, 0, 0, L""},
                 {100, 3, 6, 0, 0, L""},
                 {100, 3, -1, 0, 0, L""},
                 {100, 3, 5, 0, 33, L"vsdebug:R "},
                 {4, 3, 4, 0, 33, L"vsdebug:D "},
                 {5, 3, 1, 0, 33, L"critfile:C vsdebug:C "},
                 {5, 2, 0, 0, 22, L"critfile:N critfile:N "},
                 {5, 4, 2, 0, 44, L"wnd:E "},
                 {5, 4, 0, 700, 11, L"file:notice critfile:N file:N "},
                 {5, 1, 1, 1, -1, L""}}; // the file itself has no fallback
    for (const auto& c : cases) {
        wnd->unavailable = c.unavailable;
        file->unavailable = c.unavailable == 1;
        EXPECT_EQ(Write(c.threshold, c.kind, c.level), c.result) << c.writes;
        EXPECT_EQ(Writes(), c.writes);
    }
    // Each name once; neither a missing provider nor an empty name is taken.
    EXPECT_EQ(log->AddProvider(file, L"file") + log->AddProvider(nullptr, L"x") +
                  config.RegisterProviderName(L""),
              -3);
    // Muted after the level test (the log being destroyed meanwhile), and from then on: nothing.
    log->mute = 1;
    EXPECT_EQ(Write(5, 3, 1) + Write(5, 3, 1) + log->Reserved(), 0);
    EXPECT_EQ(Writes() + std::to_wstring(log->SetMuted(0)), L"1");
}

TEST_F(LogFront, HeaderFieldsAndMessagesAreBounded) {
    Add(L"file");
    Write(5, 1, 3, L".\\src\\Worker");
    // The file field is name and extension, both bounded; a part that does not fit empties it.
    const std::wstring n63(63, L'n');
    for (const std::wstring& source : {std::wstring(L"D:a/Drive.cpp"), std::wstring(L"S.longext"),
                                       n63 + L".cpp", std::wstring(64, L'o')}) {
        Write(5, 1, 4, source.c_str());
    }
    // Messages are cut to the buffers: 8191 characters in all, 1023 bytes of a narrow message.
    log->WriteLog(4, L"", L"F", 1, L"%s", std::wstring(9000, L'x').c_str());
    log->WriteLogA(4, L"", L"F", 1, "%ls%s", L"w", std::string(2000, 'y').c_str());
    const std::wstring tail = L"(F){log_test.exe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetCurrentThreadId()) + L"}:\t";
    const auto writes = journal.Writes(true);
    std::wstring fields;
    for (const auto& w : writes) {
        fields += w.second.substr(14, w.second.find(L'(') - 14) + L"|";
    }
    EXPECT_EQ(fields,
              L"[I] Worker:12|[D] Drive.cpp:12|[D] :12|[D] " + n63 + L":12|[D] :12|[D] :1|[D] :1|");
    EXPECT_EQ(writes[0].second.substr(13), L"\t[I] Worker:12" + tail + L"m");
    EXPECT_EQ(writes[5].second.size(), 8191u);
    EXPECT_EQ(writes[6].second.substr(writes[6].second.size() - 1024),
              L"\tw" + std::wstring(1022, L'y'));
    // A header that does not fit the buffer is left out; the record keeps its line end.
    log->WriteLog(4, L"", std::wstring(9000, L'f').c_str(), 1, L"m\n");
    EXPECT_EQ(journal.Writes()[0].second, L"m\n");
}

// Holds its write until released, setting the last error as real outputs do.
std::atomic<int> g_blocked{0}; // 1: writing, 2: released, 3: deleted
struct BlockingProvider : RecordingProvider {
    using RecordingProvider::RecordingProvider;
    ~BlockingProvider() override { g_blocked = 3; }
    int Write(const wchar_t*, int) override {
        g_blocked = 1;
        WaitFor([] { return g_blocked == 2; }, std::chrono::minutes(2));
        SetLastError(ERROR_WRITE_FAULT);
        return 0;
    }
};

TEST_F(LogFront, DestructionWaitsForTheRecordUnderWayAndCallersKeepTheirLastError) {
    ASSERT_EQ(log->AddProvider(new BlockingProvider(L"file", journal), L"file"), 0);
    auto writer = std::async(std::launch::async, [&] {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        Write(5, 1, 5);
        return GetLastError();
    });
    ASSERT_TRUE(WaitFor([&] { return g_blocked == 1; }));
    auto destroyer = std::async(std::launch::async, [&] { log.reset(); });
    EXPECT_FALSE(WaitFor([&] { return g_blocked == 3; }, std::chrono::milliseconds(500)));
    g_blocked = 2;
    EXPECT_EQ(writer.get(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// A process configuration whose checks the test runs.
struct CheckedConfig : corvanelib::CommonConfig {
    CheckedConfig() {
        Init(5, 4, (L"cvn_log_" + std::to_wstring(GetCurrentProcessId())).c_str(), L"Log", L"c:");
    }
    void Check() { CheckConfigChanged(); }
    std::wstring Setting(const wchar_t* key) {
        std::wstring value;
        return GetSetting(key, value) == 0 ? value : L"<none>";
    }
    void Set(const wchar_t* key, const wchar_t* value) { m_settings[key] = value; }
    bool Reload() override { return (reloading = true) && CommonConfig::Reload(); }
    std::atomic<bool> reloading{false};
};

TEST(LogConfig, SettingsFollowTheFilesWriteTimeAndSurviveAFileThatCannotBeRead) {
    const wchar_t* const path = corvanelib::kLogConfigFile; // absent before and after the test
    DeleteFileW(path);
    CheckedConfig config;
    // What the file becomes, with its write time in seconds from the start (set apart, so that a
    // change is seen whatever the file system's time resolution; 0: unchanged, -1: deleted),
    // whether another program holds it during the check, then the settings after the check.
    const struct {
        const char* content;
        int time;
        bool locked;
        const wchar_t* settings;
    } steps[] = {
        {"[other]\nwnd = No\n[LOG]\nWND = Receiver\nLevel = 3 \n", 1, false, L"Receiver|3 "},
        {"[log]\nwnd = Changed\n", 2, true, L"Receiver|3 "}, // cannot be read: kept
        {"", 0, false, L"Changed|<none>"},                   // and read at the next check
        {"[log]\nwnd = Same time\n", 2, false, L"Changed|<none>"},
        {"", -1, false, L"Changed|<none>"}, // deleted: kept
        {"[other]\nwnd = No\n", 3, false, L"<none>|<none>"},
    };
    const auto start = std::filesystem::file_time_type::clock::now();
    for (const auto& step : steps) {
        if (step.time < 0) {
            DeleteFileW(path);
        } else if (step.time > 0) {
            Put(path, step.content);
            std::filesystem::last_write_time(path, start + std::chrono::seconds(step.time));
        }
        // Held by another opener that shares it with nobody.
        const corvanelib::UniqueFileHandle lock(CreateFileW(step.locked ? path : L"", GENERIC_READ,
                                                            0, nullptr, OPEN_EXISTING, 0, nullptr));
        config.Check();
        EXPECT_EQ(config.Setting(L"wnd") + L"|" + config.Setting(L"level"), step.settings);
    }
    DeleteFileW(path);
}

TEST(InitLog, SwitchesTheLogOnForThreadStartsAndAWatcherThatAStopEndsInTime) {
    const std::wstring name = L"cvn_initlog_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring path = L"c:\\" + name; // kept open by the log until the process ends
    DeleteFileW(path.c_str());
    corvanelib::InitLog(5, 1, name.c_str(), L"log", L"c:");
    // Keys of one hash make the watcher's read quadratic (minutes): eleven blocks, each one of
    // "a~", "bn" and "c^", which leave the hash alike. A lookup never waits for that read, and a
    // stop ends it without terminating the watcher.
    std::string slow = "[log]\n";
    for (int i = 0; i < 177147; ++i) {
        for (int n = i, block = 0; block < 12; ++block, n /= 3) {
            slow += block < 11 ? std::string{char('a' + n % 3), char('~' - 16 * (n % 3))} : "=1\n";
        }
    }
    Put(corvanelib::kLogConfigFile, slow);
    CheckedConfig config;
    ASSERT_TRUE(config.StartWatcher() && WaitFor([&] { return config.reloading.load(); }));
    auto lookup = std::async(std::launch::async, [&] { return config.Setting(L"wnd"); });
    EXPECT_EQ(lookup.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(config.StopWatcher());
    DeleteFileW(corvanelib::kLogConfigFile);
    // Every thread's start is recorded, not only the watcher's.
    struct Idle : corvanelib::WinThread {
        Idle() : WinThread(L"Idle") {}
        void ThreadStart() override {}
    } idle;
    ASSERT_TRUE(idle.Start());
    const std::string started = std::to_string(idle.ThreadId());
    EXPECT_TRUE(idle.Stop(30000)); // before the body's object goes
    // The watcher said so when it ended.
    EXPECT_NE(Get(path).find("}:\tLogConfig thread is exit now!\r\n"), std::string::npos);
    EXPECT_NE(Get(path).find("}:\tNew Thread Created, Thread ID is " + started + "\r\n"),
              std::string::npos);
}

// The outputs under a configuration of this process: the window output and the file.
TEST(LogOutputs, TheWindowGivesUpOnASilentReceiverAndTheFileRestartsEmptyWhenItCan) {
    CheckedConfig config;
    corvanelib::ExternalWindowLogProvider toWindow;
    ASSERT_EQ(toWindow.Init(&config), 0);
    // A window of this thread: it answers as long as the thread reads its messages.
    HWND window = CreateWindowExW(0, L"STATIC", L"Cvn Receiver", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, nullptr, nullptr);
    config.Set(L"wnd", L"Cvn Receiver");
    EXPECT_TRUE(toWindow.IsUnavailable() == 0 && toWindow.Write(L"ab", 2) == 0);
    // From another thread while this one reads no messages: given up on after a second.
    auto written = std::async(std::launch::async, [&] { return toWindow.Write(L"c", 1); });
    EXPECT_EQ(written.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    MSG message; // lets a send still waiting go through
    while (written.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
    }
    EXPECT_EQ(written.get(), -1);
    DestroyWindow(window);

    const std::wstring path = config.GetLogPath() + L".crit";
    Put(path, "kept\r\n");
    std::filesystem::resize_file(path, FileLogProvider::kRestartBytes - 10);
    corvanelib::CritFileLogProvider provider;
    ASSERT_EQ(provider.Init(&config), 0);
    // Two bytes per character, counted from the file's size: this record reaches the limit.
    EXPECT_EQ(provider.Write(L"abcde", 5), 0);
    // The next passes it, but another program maps the file, which cannot be emptied then:
    // records go on to the old file.
    {
        const corvanelib::UniqueFileHandle reader(CreateFileW(path.c_str(), GENERIC_READ,
                                                              FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                              nullptr, OPEN_EXISTING, 0, nullptr));
        const corvanelib::UniqueKernelHandle mapping(
            CreateFileMappingW(reader.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
        EXPECT_EQ(provider.Write(L"x", 1), 0);
        UnmapViewOfFile(view);
    }
    EXPECT_EQ(std::filesystem::file_size(path), FileLogProvider::kRestartBytes - 10 + 10);
    // Emptied at the next record, its first line; a line feed inside is written as CR LF. The
    // file holds code page 936.
    EXPECT_TRUE(provider.Write(L"y\nz\r\n", 5) == 0 && provider.LockedWrite(L"中文", 2, 0) == 0);
    EXPECT_EQ(Get(path), "y\r\nz\r\n\r\n\xD6\xD0\xCE\xC4\r\n");
    ASSERT_EQ(config.Init(5, 4, L"p.log", L"Log", L"c:\\absent"), 0);
    // Not "no such file": nothing opened, nothing written.
    EXPECT_TRUE(provider.Init(&config) == 1 && provider.Write(L"lost", 4) == -1);
    DeleteFileW(path.c_str());
}

} // namespace
