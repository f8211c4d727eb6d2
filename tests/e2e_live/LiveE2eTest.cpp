// The real console against the stand-in service: the display follows the service, Start and
// Stop act on it, and the log-view socket survives whatever arrives on its port.
#include "CommonShareMemory.h"
#include "LogViewCodec.h"
#include "StandinService.h"
#include "UiDriver.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using corvane_test::StandinService;
using corvanelib::UniqueSocket;

constexpr int kStatus = 1008;
constexpr int kStartStop = 1004;

// The system's text for `code` as a message box shows it (without the trailing line end).
std::wstring SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD cch = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out(text != nullptr ? text : L"", cch);
    LocalFree(text);
    return out.substr(0, out.find_last_not_of(L"\r\n ") + 1);
}

sockaddr_in Loopback(unsigned port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void SendTo(SOCKET s, unsigned port, const std::vector<std::uint8_t>& datagram) {
    const sockaddr_in to = Loopback(port);
    sendto(s, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

class LiveConsole : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        ASSERT_EQ(0u, StandinService::RemoveExisting());
    }
    void TearDown() override {
        if (m_console) {
            EXPECT_TRUE(m_console->Close()) << "the console did not end when closed";
        }
        StandinService::RemoveExisting();
        WSACleanup();
    }

    void StartConsole() {
        m_console = std::make_unique<uidriver::Program>(
            L"\"" + corvane_test::WindowsPath(BRANTEL_EXE) + L"\"");
        ASSERT_TRUE(m_console->Started());
        m_window = uidriver::WaitForWindow(L"Corvane Client Console", m_console->Id());
        ASSERT_NE(nullptr, m_window);
    }
    // Registers and starts the stand-in with `arguments`, then the console, which shows it.
    void StartServiceAndConsole(const wchar_t* arguments) {
        m_service = std::make_unique<StandinService>(arguments);
        ASSERT_EQ(0u, m_service->InstallError());
        ASSERT_EQ(0u, StandinService::Start());
        ASSERT_TRUE(StandinService::WaitForState(SERVICE_RUNNING));
        StartConsole();
        ASSERT_TRUE(WaitShows(L"running...", L"Stop"));
    }

    HWND Button() const { return uidriver::Control(m_window, kStartStop); }
    std::wstring Status() const { return uidriver::Text(uidriver::Control(m_window, kStatus)); }
    bool Shows(const wchar_t* status, const wchar_t* label) const {
        return Status() == status && uidriver::Text(Button()) == label &&
               uidriver::IsEnabled(Button());
    }
    bool WaitShows(const wchar_t* status, const wchar_t* label) const {
        return uidriver::WaitUntil([&] { return Shows(status, label); });
    }
    // The console answers a message within a second: its thread is not stuck.
    bool Answers() const {
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored) != 0;
    }
    // Presses the button and expects an error box with the system text of `code`.
    void PressExpectingBox(DWORD code) {
        ASSERT_TRUE(uidriver::Click(Button()));
        const auto box = uidriver::WaitForMessageBox(m_console->Id());
        ASSERT_NE(nullptr, box.window);
        EXPECT_EQ(L"error", box.caption);
        EXPECT_EQ(SystemText(code), box.text.substr(0, box.text.find_last_not_of(L"\r\n ") + 1));
        uidriver::PressOk(box.window);
    }

    std::unique_ptr<StandinService> m_service;
    std::unique_ptr<uidriver::Program> m_console;
    HWND m_window = nullptr;
};

TEST_F(LiveConsole, StartAndStopTheService) {
    StandinService service(L"--report-period=500");
    ASSERT_EQ(0u, service.InstallError());
    ASSERT_EQ(0u, StandinService::SetStartType(SERVICE_DISABLED));
    StartConsole();
    const DWORD shown = GetTickCount();
    ASSERT_TRUE(WaitShows(L"stop", L"Start"));
    // 300 ms on an idle machine; a loaded test machine gets more room.
    EXPECT_LT(GetTickCount() - shown, 5000u);

    // Start repairs the start type, starts the service, and its report shows it.
    ASSERT_TRUE(uidriver::Click(Button()));
    ASSERT_TRUE(WaitShows(L"running...", L"Stop"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), StandinService::State());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), StandinService::StartType());

    ASSERT_TRUE(uidriver::Click(Button()));
    EXPECT_TRUE(StandinService::WaitForState(SERVICE_STOPPED));
    ASSERT_TRUE(WaitShows(L"stop", L"Start"));
    EXPECT_TRUE(uidriver::FindMessageBox(m_console->Id()).window == nullptr);
}

TEST_F(LiveConsole, StopWaitsWhileTheServiceHoldsOnAndKeepsTheWindowAnswering) {
    StartServiceAndConsole(L"--ignore-stop --silent");
    ASSERT_TRUE(uidriver::Click(Button()));
    ASSERT_TRUE(uidriver::WaitUntil([&] { return !uidriver::IsEnabled(Button()); }));
    for (int i = 0; i < 5; ++i) {
        Sleep(300);
        EXPECT_TRUE(Answers());
        EXPECT_FALSE(uidriver::IsEnabled(Button()));
    }
    EXPECT_EQ(L"running...", Status());

    // The service ends from outside: its stop event goes, and so does the wait.
    ASSERT_TRUE(StandinService::Kill());
    ASSERT_TRUE(WaitShows(L"stop", L"Start"));
}

TEST_F(LiveConsole, AServiceKilledFromOutsideShowsStopAndClearsTheStateWord) {
    StartServiceAndConsole(L"--report-period=500");
    corvanelib::UniqueKernelHandle mapping(
        OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kShareMemoryName));
    ASSERT_TRUE(mapping);
    corvanelib::UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view);
    auto* block = static_cast<volatile CommonShareMemory*>(view.get());
    EXPECT_NE(0u, block->serviceState);

    ASSERT_TRUE(StandinService::Kill());
    ASSERT_TRUE(WaitShows(L"stop", L"Start"));
    EXPECT_EQ(0u, block->serviceState);
}

TEST_F(LiveConsole, TakenPortsTroubleAndBadDatagrams) {
    // Another process holds the first two ports: the console binds 463.
    std::vector<UniqueSocket> taken;
    for (unsigned port : {461u, 462u}) {
        taken.emplace_back(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        sockaddr_in local = Loopback(port);
        local.sin_addr.s_addr = INADDR_ANY;
        ASSERT_EQ(
            0, bind(taken.back().get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)))
            << "port " << port << " must be free for this test";
    }
    StandinService service(L"--trouble --report-period=60000");
    ASSERT_EQ(0u, service.InstallError());
    StartConsole();
    ASSERT_TRUE(WaitShows(L"stop", L"Start"));
    ASSERT_EQ(0u, StandinService::Start());
    // Only the stand-in's report can say "trouble": the poll knows no such state.
    ASSERT_TRUE(WaitShows(L"trouble...", L"Stop"));

    // Whatever else arrives on the console's port changes nothing and stops nothing:
    // another key, a truncated report and log line, an oversized datagram, noise.
    UniqueSocket sender(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const logview::Key key = logview::MakeKey();
    SendTo(sender.get(), 463,
           logview::EncodeStatus(logview::kStatusStopped, logview::MakeKey({7, 11, 251, 3})));
    const auto report = logview::EncodeStatus(logview::kStatusStopped, key);
    SendTo(sender.get(), 463, {report.begin(), report.begin() + 11});
    const auto line = logview::EncodeLogLine("some text", key);
    SendTo(sender.get(), 463, {line.begin(), line.begin() + 20});
    std::vector<std::uint8_t> oversized(9000, 0);
    logview::Scramble(oversized.data(), oversized.size(), key);
    SendTo(sender.get(), 463, oversized);
    std::uint32_t seed = 99;
    for (int i = 0; i < 200; ++i) {
        std::vector<std::uint8_t> noise(1 + seed % 300);
        for (auto& b : noise) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<std::uint8_t>(seed >> 24);
        }
        SendTo(sender.get(), 463, noise);
    }
    Sleep(1000);
    EXPECT_TRUE(Answers());
    EXPECT_TRUE(Shows(L"trouble...", L"Stop"));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), m_console->ExitCode());

    // A sound report on port 463 still gets through.
    SendTo(sender.get(), 463, logview::EncodeStatus(logview::kStatusRunning, key));
    EXPECT_TRUE(WaitShows(L"running...", L"Stop"));
}

TEST_F(LiveConsole, MissingServiceObjectsShowTheirSystemTexts) {
    // No service at all, but a stop event of the test's own: the console believes the
    // service runs, yet its status-change event does not exist.
    corvanelib::UniqueKernelHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, kStopEventName));
    StartConsole();
    ASSERT_TRUE(WaitShows(L"running...", L"Stop"));
    PressExpectingBox(ERROR_FILE_NOT_FOUND);

    stopEvent.reset();
    ASSERT_TRUE(WaitShows(L"stop", L"Start"));
    PressExpectingBox(ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_TRUE(WaitShows(L"stop", L"Start"));
}

} // namespace
