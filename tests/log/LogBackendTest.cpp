// The log configuration with its file and watcher, and the file and window outputs.
#include "BackendTestSupport.h"
#include "WaitFor.h"

#include "corvanelib/log/ExternalWindowLogProvider.h"
#include "corvanelib/log/FileLogProvider.h"
#include "corvanelib/log/InitLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <regex>
#include <string>
#include <thread>

using corvane_test::ReadBytes;
using corvane_test::WaitFor;
using corvanelib::FileLogProvider;

namespace {

// A process configuration whose checks the test runs; rereads are counted, failed ones too.
struct CountingConfig : corvanelib::CommonConfig {
    CountingConfig() { Init(5, 4, L"p.log", L"Log", corvane_test::FreshDirectory(L"log").c_str()); }
    ~CountingConfig() override { StopWatcher(); }
    void Check() { CheckConfigChanged(); }
    std::wstring Setting(const wchar_t* key) {
        std::wstring value;
        return GetSetting(key, value) == 0 ? value : L"<none>";
    }
    bool Reload() override {
        ++reloads;
        return corvanelib::CommonConfig::Reload();
    }
    std::atomic<int> reloads{0};
};

TEST(LogConfig, SettingsFollowTheFilesWriteTimeAndSurviveAFileThatCannotBeRead) {
    corvane_test::ConfigFile file;
    CountingConfig config;
    // What the file becomes (nullptr: deleted, "-": unchanged, "=": same write time), whether
    // another program holds it during the check, then rereads and settings after the check.
    const struct {
        const char* content;
        bool locked;
        int reloads;
        const wchar_t* settings;
    } steps[] = {
        {nullptr, false, 0, L"<none>|<none>"},
        {"[other]\nwnd = No\n[LOG]\nWND = Receiver\nLevel = 3 \n", false, 1, L"Receiver|3 "},
        {"[log]\nwnd = Changed\n", true, 2, L"Receiver|3 "}, // cannot be read: kept
        {"-", true, 3, L"Receiver|3 "},                      // and tried at every check
        {"-", false, 4, L"Changed|<none>"},
        {"=[log]\nwnd = Same time\n", false, 4, L"Changed|<none>"},
        {nullptr, false, 4, L"Changed|<none>"}, // deleted: kept
        {"[other]\nwnd = No\n", false, 5, L"<none>|<none>"},
    };
    for (const auto& step : steps) {
        if (step.content == nullptr) {
            file.Delete();
        } else if (*step.content != '-') {
            ASSERT_TRUE(file.Write(step.content + (*step.content == '='), *step.content == '='));
        }
        const corvanelib::UniqueFileHandle lock(step.locked ? file.Lock() : INVALID_HANDLE_VALUE);
        config.Check();
        EXPECT_EQ(config.reloads.load(), step.reloads);
        EXPECT_EQ(config.Setting(L"wnd") + L"|" + config.Setting(L"level"), step.settings);
    }
}

TEST(InitLog, SwitchesTheLogOnAndTheWatcherLogsItsStartAndEnd) {
    corvane_test::ConfigFile file;
    ASSERT_TRUE(file.Write("[log]\nwnd = First\n"));
    const std::wstring path = corvane_test::FreshDirectory(L"initlog") + L"\\app.log";
    corvanelib::InitLog(5, 1, L"app.log", L"log", path.substr(0, path.size() - 8).c_str());
    ASSERT_TRUE(corvanelib::g_commonConfig.StartWatcher());
    std::wstring value;
    EXPECT_TRUE(WaitFor([&] { return corvanelib::g_commonConfig.GetSetting(L"wnd", value) == 0; }));
    corvanelib::g_commonConfig.StopWatcher();
    corvanelib::g_commonLog.WriteLog(1, L"T", L"F", 7, L"%s", L"中文");
    corvanelib::g_commonLog.SetMuted(1);
    // Critical records go to both files; the files hold code page 936.
    const std::string critical = ".*\\[C\\] T:7\\(F\\).*\\t\xD6\xD0\xCE\xC4\\r\\n";
    EXPECT_TRUE(std::regex_match(
        ReadBytes(path), std::regex(".*\\[I\\] Thread:111\\(corvanelib::WinThread::Start\\).*\\t"
                                    "New Thread Created, Thread ID is \\d+\\r\\n.*\\[D\\] "
                                    "CorvaneLog:148.*\\tLogConfig thread is exit now!\\r\\n" +
                                    critical)));
    EXPECT_TRUE(std::regex_match(ReadBytes(path + L".crit"), std::regex(critical)));
}

TEST(FileLogProvider, AppendsCountsAndRestartsEmptyWhenItCan) {
    CountingConfig config;
    const std::wstring path = config.GetLogPath() + L".crit";
    ASSERT_TRUE(corvane_test::WriteBytes(path, "kept\r\n"));
    std::filesystem::resize_file(path, FileLogProvider::kRestartBytes - 10);
    corvanelib::CritFileLogProvider provider;
    EXPECT_EQ(provider.Write(L"before init", 11), -1);
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
    // Emptied at the next record, its first line; a line feed inside is written as CR LF.
    EXPECT_EQ(provider.Write(L"y\nz\r\n", 5), 0);
    corvanelib::CritFileLogProvider second; // shares the file; both append at its end
    ASSERT_EQ(second.Init(&config), 0);
    EXPECT_EQ(second.Write(L"second", 6), 0);
    EXPECT_EQ(provider.LockedWrite(L"first", 5, 0), 0);
    EXPECT_EQ(ReadBytes(path), "y\r\nz\r\n\r\nsecond\r\nfirst\r\n");
    provider.Close();
    EXPECT_EQ(provider.Write(L"lost", 4), -1);
}

std::string g_received; // the bytes of every WM_COPYDATA the receiving window took

LRESULT CALLBACK Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        g_received.append(static_cast<const char*>(data->lpData), data->cbData);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(ExternalWindowLogProvider, SendsTheCountedRecordAndGivesUpOnAReceiverThatDoesNotAnswer) {
    corvane_test::ConfigFile file;
    CountingConfig config;
    corvanelib::ExternalWindowLogProvider provider;
    ASSERT_EQ(provider.Init(&config), 0);
    EXPECT_EQ(provider.IsUnavailable(), 700); // no setting
    EXPECT_EQ(provider.Write(nullptr, 3), 2);
    // A window whose thread reads its messages until told to stop, then waits to be released.
    std::atomic<int> phase{0}; // 0: answering, 1: not answering, 2: released
    std::thread receiver([&] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &Receive;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"CvnReceiver";
        RegisterClassW(&windowClass);
        HWND window =
            CreateWindowExW(0, windowClass.lpszClassName, L"Cvn Receiver", WS_OVERLAPPED, 0, 0, 10,
                            10, nullptr, nullptr, windowClass.hInstance, nullptr);
        MSG message;
        while (phase == 0) {
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                Sleep(5);
            }
        }
        WaitFor([&] { return phase == 2; }, std::chrono::minutes(2));
        DestroyWindow(window);
    });
    EXPECT_TRUE(file.Write("[log]\nwnd = Cvn Receiver\n"));
    config.Check();
    EXPECT_TRUE(WaitFor([&] { return provider.IsUnavailable() == 0; }));
    EXPECT_EQ(provider.Write(L"ab\0\0", 4), 0); // the counted length, NULs included
    EXPECT_EQ(g_received, std::string("a\0b\0\0\0\0\0", 8));
    phase = 1;
    auto written = std::async(std::launch::async, [&] { return provider.Write(L"c", 1); });
    const bool returned = written.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    phase = 2; // lets a send still waiting go through
    EXPECT_TRUE(returned);
    EXPECT_EQ(written.get(), -1);
    receiver.join();
}

} // namespace
