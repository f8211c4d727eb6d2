// The stand-in admission service as the console meets it: registered in the service control
// manager, holding its events, answering the command codes through the shared block and
// reporting by datagrams; and CShareMem::RequestStop against it.
#include "ShareMem.h"
#include "StandinService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
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

// Writes a command word and signals its event, as the main dialog does.
bool Send(std::uint32_t& word, std::uint32_t code, const wchar_t* eventName) {
    word = code;
    corvanelib::UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName));
    return event && SetEvent(event.get());
}

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

void StartRunning(StandinService& service) {
    ASSERT_EQ(service.InstallError(), 0u);
    ASSERT_EQ(service.Start(), 0u);
    ASSERT_TRUE(service.WaitForState(SERVICE_RUNNING));
}

} // namespace

TEST(Standin, RunsAnswersTheCommandCodesAndStops) {
    namespace fs = std::filesystem;
    const fs::path dataDir =
        fs::temp_directory_path() / ("corvane-standin-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dataDir);
    std::ofstream(dataDir / "userconfig.ini", std::ios::binary)
        << "[GatewayIp]\r\nspecify=1\r\nipaddr=192.168.1.10\r\n[LastConnect]\r\n"
           "gateway=0.0.0.0\r\n[AutoAuthen]\r\nenable=1\r\nusername=alice\r\npassword=s3cret!\r\n";
    StandinService service(L"--report-period=300 \"--data-dir=" + dataDir.wstring() + L"\"");
    DatagramListener listener(service.Tag());
    ASSERT_TRUE(listener.IsOpen());
    ASSERT_NO_FATAL_FAILURE(StartRunning(service));
    EXPECT_TRUE(StopEventExists());
    int reports = 0;
    EXPECT_TRUE(listener.WaitFor(
        [&reports](const DatagramListener::Received& r) {
            return r.kind == Kind::Status && r.status == logview::kStatusRunning && ++reports == 3;
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

    // 108 as the options dialog sends it: the service reads the file, not the password out.
    ASSERT_EQ(link.NotifyService(), 0);
    std::string line;
    ASSERT_TRUE(listener.WaitForLog("notify 108", 30s, &line));
    for (const char* part : {"specify=1 ipaddr=192.168.1.10", "gateway=0.0.0.0",
                             "enable=1 username=alice password=(set)"}) {
        EXPECT_NE(line.find(part), std::string::npos) << line;
    }
    EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
    ASSERT_TRUE(Send(link.View()->notifyCommand, kNotifyShowTrayIcon, kNotifyEventName));
    EXPECT_TRUE(listener.WaitForLog("notify 109: tray icon requested"));
    ASSERT_TRUE(
        Send(link.View()->statusChangeCommand, kStatusChangeStartPressed, kStatusChangeEventName));
    ASSERT_TRUE(listener.WaitForLog("status-change 104"));
    EXPECT_TRUE(listener.WaitForStatus(logview::kStatusRunning));
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));

    ASSERT_TRUE(Send(link.View()->statusChangeCommand, kStatusChangeStop, kStatusChangeEventName));
    EXPECT_TRUE(listener.WaitForStatus(logview::kStatusStopped));
    ASSERT_TRUE(service.WaitForState(SERVICE_STOPPED));
    EXPECT_FALSE(StopEventExists());
    EXPECT_EQ(WaitForSingleObject(exiting.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(link.View()->serviceState, 0u);
    std::error_code ignored;
    fs::remove_all(dataDir, ignored);

    // Once more, stopped by the control manager this time.
    exiting.reset();
    ASSERT_NO_FATAL_FAILURE(StartRunning(service));
    ASSERT_EQ(service.Stop(), 0u);
    EXPECT_TRUE(listener.WaitForStatus(logview::kStatusStopped));
    EXPECT_TRUE(service.WaitForState(SERVICE_STOPPED));
    EXPECT_FALSE(StopEventExists());
}

TEST(Standin, BehavioursChosenByArguments) {
    {
        StandinService service(L"--silent --report-period=100");
        DatagramListener listener(service.Tag());
        ASSERT_NO_FATAL_FAILURE(StartRunning(service));
        EXPECT_TRUE(StopEventExists());
        CShareMem link;
        ASSERT_EQ(link.Create(), 0u);
        ASSERT_TRUE(Send(link.View()->notifyCommand, kNotifyShowTrayIcon, kNotifyEventName));
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
        StandinService service(L"--exit-abruptly=4000");
        DatagramListener listener(service.Tag());
        ASSERT_NO_FATAL_FAILURE(StartRunning(service));
        EXPECT_TRUE(listener.WaitForLog("starting")); // it is heard, and goes without a word
        corvanelib::UniqueKernelHandle process(
            OpenProcess(SYNCHRONIZE, FALSE, service.ProcessId()));
        if (process) { // else it has already gone
            ASSERT_EQ(WaitForSingleObject(process.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
        }
        EXPECT_FALSE(StopEventExists());
        EXPECT_FALSE(listener.WaitForLog("stopped", 1500ms));
    }
}

TEST(RequestStop, WaitsForTheServiceToGo) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    for (int mode : {2, 0}) {
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
    ASSERT_TRUE(Send(link.View()->statusChangeCommand, kStatusChangeStop, kStatusChangeEventName));
    EXPECT_TRUE(listener.WaitForLog("status-change 103: ignored"));
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(StopEventExists());
    EXPECT_TRUE(service.Kill());
}

TEST(RequestStop, WithoutServiceAtOnceElseSignalsEvery500msUntilTimeIsUp) {
    CShareMem link;
    ASSERT_EQ(link.Create(), 0u);
    for (int mode : {0, 1, 2}) { // no service: every mode returns at once
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(link.RequestStop(10000, 7, mode), 0u) << mode;
        EXPECT_LT(Since(start), 2000ms) << mode;
    }

    // This test plays the service: a thread that does nothing but wait sees every signal.
    corvanelib::UniqueKernelHandle stopEvent(CreateEventW(nullptr, FALSE, FALSE, kStopEventName));
    ASSERT_TRUE(stopEvent);
    std::atomic<int> signals{0};
    std::atomic<bool> counting{true};
    std::thread counter([&] {
        while (counting) {
            signals += WaitForSingleObject(stopEvent.get(), 20) == WAIT_OBJECT_0;
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
}
