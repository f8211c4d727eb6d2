// The stand-in admission service as the console meets it: registered in the service control
// manager, holding its events, answering the command codes through the shared block and
// reporting by datagrams; and CShareMem::RequestStop against it.
#include "ShareMem.h"
#include "StandinService.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

using corvane_test::DatagramListener;
using corvane_test::StandinService;
using Kind = logview::Packet::Kind;
using namespace std::chrono_literals;

namespace {

bool StopEventExists() {
    corvanelib::UniqueKernelHandle event(OpenEventA(EVENT_ALL_ACCESS, FALSE, kStopEventNameA));
    return static_cast<bool>(event);
}

bool Signal(const wchar_t* name) {
    corvanelib::UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
    return event && SetEvent(event.get());
}

// Writes a command word and signals its event, as the main dialog does.
bool SendStatusChange(CShareMem& link, std::uint32_t code) {
    link.View()->statusChangeCommand = code;
    return Signal(kStatusChangeEventName);
}
bool SendNotify(CShareMem& link, std::uint32_t code) {
    link.View()->notifyCommand = code;
    return Signal(kNotifyEventName);
}

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

std::size_t CountLogs(const DatagramListener& listener, const std::string& part) {
    std::size_t count = 0;
    for (const auto& received : listener.History()) {
        count += received.kind == Kind::LogLine && received.text.find(part) != std::string::npos;
    }
    return count;
}

std::wstring TempDirectory(const wchar_t* name) {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + name + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool WriteWholeFile(const std::wstring& path, const std::string& content) {
    corvanelib::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                     nullptr) &&
           written == content.size();
}

std::string ReadWholeFile(const std::wstring& path) {
    corvanelib::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    return content;
}

// Installs the stand-in with `arguments`, starts it and waits for the running state.
void StartRunning(StandinService& service) {
    ASSERT_EQ(service.InstallError(), 0u);
    ASSERT_EQ(service.Start(), 0u);
    ASSERT_TRUE(service.WaitForState(SERVICE_RUNNING));
}

} // namespace

TEST(Standin, RunsReportsAndStopsOnTheControlManagersRequest) {
    StandinService service(L"--report-period=300");
    DatagramListener listener(service.Tag());
    ASSERT_TRUE(listener.IsOpen());
    ASSERT_NO_FATAL_FAILURE(StartRunning(service));

    EXPECT_TRUE(StopEventExists());
    ASSERT_TRUE(listener.WaitForStatus(logview::kStatusRunning));
    int reports = 1;
    EXPECT_TRUE(listener.WaitFor(
        [&reports](const DatagramListener::Received& r) {
            return r.kind == Kind::Status && r.status == 1 && ++reports == 3;
        },
        30s))
        << "periodic status reports";

    CShareMem link;
    ASSERT_EQ(link.Create(), 0u); // the service's block, opened
    EXPECT_EQ(link.View()->serviceState, 1u);
    std::string message;
    ASSERT_EQ(link.ReadMessage(message, 5000), 0u);
    EXPECT_EQ(message, "CorvaneMgr stand-in running");

    corvanelib::UniqueKernelHandle exiting(OpenEventW(SYNCHRONIZE, FALSE, kExitingEventName));
    ASSERT_TRUE(exiting);
    EXPECT_EQ(WaitForSingleObject(exiting.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    ASSERT_EQ(service.Stop(), 0u);
    EXPECT_TRUE(listener.WaitForStatus(logview::kStatusStopped));
    ASSERT_TRUE(service.WaitForState(SERVICE_STOPPED));
    EXPECT_FALSE(StopEventExists());
    EXPECT_EQ(WaitForSingleObject(exiting.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(link.View()->serviceState, 0u);
}

TEST(Standin, AnswersTheFourCommandCodes) {
    const std::wstring dataDir = TempDirectory(L"corvane-standin-");
    ASSERT_TRUE(WriteWholeFile(dataDir + L"\\userconfig.ini",
                               "[GatewayIp]\r\nspecify=1\r\nipaddr=192.168.1.10\r\n"
                               "[LastConnect]\r\ngateway=0.0.0.0\r\n"
                               "[AutoAuthen]\r\nenable=1\r\nusername=alice\r\n"
                               "password=s3cret!\r\n"));
    StandinService service(L"\"--data-dir=" + dataDir + L"\"");
    DatagramListener listener(service.Tag());
    ASSERT_TRUE(listener.IsOpen());
    ASSERT_NO_FATAL_FAILURE(StartRunning(service));
    ASSERT_TRUE(listener.WaitForLog("running"));
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);

    // 108 as the options dialog sends it: the service reads the file, not the password out.
    ASSERT_EQ(link.NotifyService(), 0);
    std::string line;
    ASSERT_TRUE(listener.WaitForLog("notify 108", 30s, &line));
    EXPECT_NE(line.find("specify=1 ipaddr=192.168.1.10"), std::string::npos) << line;
    EXPECT_NE(line.find("gateway=0.0.0.0"), std::string::npos) << line;
    EXPECT_NE(line.find("enable=1 username=alice password=(set)"), std::string::npos) << line;
    EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;

    ASSERT_TRUE(SendNotify(link, kNotifyShowTrayIcon));
    EXPECT_TRUE(listener.WaitForLog("notify 109: tray icon requested"));

    ASSERT_TRUE(SendStatusChange(link, kStatusChangeStartPressed));
    ASSERT_TRUE(listener.WaitForLog("status-change 104"));
    EXPECT_TRUE(listener.WaitForStatus(logview::kStatusRunning));
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));

    ASSERT_TRUE(SendStatusChange(link, kStatusChangeStop));
    EXPECT_TRUE(listener.WaitForStatus(logview::kStatusStopped));
    EXPECT_TRUE(service.WaitForState(SERVICE_STOPPED));
    EXPECT_FALSE(StopEventExists());

    DeleteFileW((dataDir + L"\\userconfig.ini").c_str());
    RemoveDirectoryW(dataDir.c_str());
}

TEST(Standin, BehavioursChosenByArguments) {
    {
        StandinService service(L"--trouble");
        DatagramListener listener(service.Tag());
        ASSERT_NO_FATAL_FAILURE(StartRunning(service));
        EXPECT_TRUE(listener.WaitForStatus(logview::kStatusTrouble));
        EXPECT_TRUE(listener.WaitForLog("in trouble"));
        for (const auto& received : listener.History()) {
            EXPECT_FALSE(received.kind == Kind::Status && received.status != 3);
        }
    }
    {
        StandinService service(L"--silent --report-period=100");
        DatagramListener listener(service.Tag());
        ASSERT_NO_FATAL_FAILURE(StartRunning(service));
        EXPECT_TRUE(StopEventExists());
        CShareMem link;
        ASSERT_EQ(link.Create(), 0u);
        ASSERT_TRUE(SendNotify(link, kNotifyShowTrayIcon));
        ASSERT_TRUE(SendStatusChange(link, kStatusChangeStartPressed));
        EXPECT_FALSE(
            listener.WaitFor([](const DatagramListener::Received&) { return true; }, 2500ms));
    }
    {
        StandinService service(L"--start-delay=4000");
        ASSERT_EQ(service.InstallError(), 0u);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(service.Start(), 0u);
        EXPECT_FALSE(StopEventExists()); // not running yet: no proof of running either
        ASSERT_TRUE(service.WaitForState(SERVICE_RUNNING));
        EXPECT_GE(Since(start), 3900ms);
        EXPECT_TRUE(StopEventExists());
    }
    {
        StandinService service(L"--never-running");
        ASSERT_EQ(service.InstallError(), 0u);
        ASSERT_EQ(service.Start(), 0u);
        EXPECT_FALSE(service.WaitForState(SERVICE_RUNNING, 3000ms));
        EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_START_PENDING));
        EXPECT_FALSE(StopEventExists());
        EXPECT_TRUE(service.Kill());
    }
    {
        StandinService service(L"--exit-abruptly=4000");
        DatagramListener listener(service.Tag());
        ASSERT_NO_FATAL_FAILURE(StartRunning(service));
        corvanelib::UniqueKernelHandle process(
            OpenProcess(SYNCHRONIZE, FALSE, service.ProcessId()));
        if (process) { // else it has already gone
            ASSERT_EQ(WaitForSingleObject(process.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
        }
        EXPECT_FALSE(StopEventExists());
        // It said it was starting, and goes without a word.
        EXPECT_FALSE(listener.WaitForLog("stopped", 1500ms));
        EXPECT_EQ(CountLogs(listener, "starting"), 1u);
    }
}

TEST(RequestStop, NotRunningReturnsAtOnce) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    for (int mode : {0, 1, 2}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(link.RequestStop(10000, 7, mode), 0u) << mode;
        EXPECT_LT(Since(start), 2000ms) << mode;
    }
}

TEST(RequestStop, WaitsForTheServiceToGo) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    for (int mode : {2, 1}) {
        StandinService service;
        DatagramListener listener(service.Tag());
        ASSERT_NO_FATAL_FAILURE(StartRunning(service));
        ASSERT_EQ(link.RequestStop(30000, 40 + mode, mode), 0u) << mode;
        EXPECT_FALSE(StopEventExists());
        EXPECT_EQ(link.View()->stopCode, static_cast<std::uint32_t>(40 + mode));
        EXPECT_TRUE(listener.WaitForLog("stop code " + std::to_string(40 + mode)));
        EXPECT_TRUE(service.WaitForState(SERVICE_STOPPED));
    }
}

TEST(RequestStop, ServiceThatIgnoresStopping) {
    StandinService service(L"--ignore-stop");
    DatagramListener listener(service.Tag());
    ASSERT_NO_FATAL_FAILURE(StartRunning(service));
    ASSERT_TRUE(listener.WaitForLog("running"));
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.RequestStop(1500, 9, 2), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_GE(Since(start), 1450ms);

    // Any other mode keeps signalling until the time is up.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.RequestStop(1800, 8, 0), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_GE(Since(start), 1750ms);
    EXPECT_TRUE(listener.WaitForLog("stop code 8: ignored"));

    // The control manager's request and command 103 are ignored too.
    EXPECT_EQ(service.Stop(), 0u);
    ASSERT_TRUE(SendStatusChange(link, kStatusChangeStop));
    EXPECT_TRUE(listener.WaitForLog("status-change 103: ignored"));
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(StopEventExists());
    EXPECT_TRUE(service.Kill());
}

TEST(RequestStop, SignalsAgainEvery500msUntilTheStopEventGoes) {
    // This test plays the service: a thread that does nothing but wait sees every signal.
    corvanelib::UniqueKernelHandle stopEvent(CreateEventW(nullptr, FALSE, FALSE, kStopEventName));
    ASSERT_TRUE(stopEvent);
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    std::atomic<int> signals{0};
    std::atomic<bool> counting{true};
    std::thread counter([&] {
        while (counting) {
            if (WaitForSingleObject(stopEvent.get(), 20) == WAIT_OBJECT_0) {
                ++signals;
            }
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.RequestStop(2800, 8, 1), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_GE(Since(start), 2750ms);
    counting = false;
    counter.join();
    EXPECT_GE(signals.load(), 3); // at 0, 500, ... 2500 ms, a late one or two lost to load
    EXPECT_LE(signals.load(), 7);
    EXPECT_EQ(link.View()->stopCode, 8u);

    // The service goes while the request is still signalling: the request ends with 0.
    std::atomic<DWORD> result{ERROR_GEN_FAILURE};
    const auto second = std::chrono::steady_clock::now();
    std::thread request([&] { result = link.RequestStop(60000, 9, 0); });
    ASSERT_EQ(WaitForSingleObject(stopEvent.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    stopEvent.reset();
    request.join();
    EXPECT_EQ(result.load(), 0u);
    EXPECT_LT(Since(second), 30s);
}

TEST(VedevaruStub, RecordsArgumentsAndWorkingDirectory) {
    const std::wstring dir = TempDirectory(L"corvane-vedevaru-");
    const std::wstring record = dir + L"\\calls.txt";
    ASSERT_TRUE(SetEnvironmentVariableW(L"VEDEVARU_STUB_RECORD", record.c_str()));
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", corvane_test::VedevaruStubPath().c_str(), L"-pnotify",
                      (dir + L"\\").c_str(), SW_HIDE));
    ASSERT_GT(result, 32);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (text.find("\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        Sleep(50);
        text = ReadWholeFile(record);
    }
    const std::string narrowDir(dir.begin(), dir.end());
    EXPECT_EQ(text, "cwd=" + narrowDir + "\tshow=0\targ=-pnotify\r\n");
    SetEnvironmentVariableW(L"VEDEVARU_STUB_RECORD", nullptr);
    DeleteFileW(record.c_str());
    RemoveDirectoryW(dir.c_str());
}
