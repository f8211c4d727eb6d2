// The log-view socket against real datagrams over loopback, served through window messages on
// the test's own thread the way the main dialog serves them. Other programs on this machine
// (a stand-in service of another test run) may send to the same ports, so the sockets under
// test keep only what the test's own sender sent.
#include "ClientSocket.h"
#include "LocalAddress.h"
#include "LogViewCodec.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr UINT kSocketMessage = WM_APP + 7;
using std::chrono::milliseconds;
using namespace std::string_literals;

// Serves this thread's messages until `condition` holds or `bound` has passed.
template <typename Condition> bool PumpUntil(Condition condition, milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        if (condition() || std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}
template <typename Condition> bool PumpUntil(Condition condition) {
    return PumpUntil(condition, milliseconds(20000));
}
void PumpFor(milliseconds time) {
    PumpUntil([] { return false; }, time);
}

corvanelib::UniqueSocket BindUdp(unsigned port) {
    corvanelib::UniqueSocket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<unsigned short>(port));
    if (bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        s.reset();
    }
    return s;
}

unsigned LocalPort(SOCKET s) {
    sockaddr_in local = {};
    int cb = sizeof(local);
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &cb);
    return ntohs(local.sin_port);
}

std::vector<std::uint8_t> Scrambled(const std::string& plain) {
    std::vector<std::uint8_t> data(plain.begin(), plain.end());
    logview::Scramble(data.data(), data.size(), logview::MakeKey());
    return data;
}

struct Received {
    std::string data;
    bool terminated;
    std::string address;
    unsigned port;
};

class RecordingSocket : public CMySocket {
public:
    explicit RecordingSocket(unsigned onlyFrom) : m_onlyFrom(onlyFrom) {}
    void OnPacket(char* data, int length, const char* address, unsigned port) override {
        if (port == m_onlyFrom) {
            packets.push_back({std::string(data, static_cast<size_t>(length)), data[length] == '\0',
                               address, port});
        }
    }
    std::vector<Received> packets;

private:
    unsigned m_onlyFrom;
};

class ClientSocketFrom : public CClientSocket {
public:
    explicit ClientSocketFrom(unsigned onlyFrom) : m_onlyFrom(onlyFrom) {}
    void OnPacket(char* data, int length, const char* address, unsigned port) override {
        if (port == m_onlyFrom) {
            CClientSocket::OnPacket(data, length, address, port);
        }
    }

private:
    unsigned m_onlyFrom;
};

struct FakeOwner : ILogViewOwner {
    void UpdateServiceStatus(int id) override { statusIds.push_back(id); }
    void CancelReportTimeout() override { ++cancels; }
    void AppendLog(const char* text) override { lines.emplace_back(text); }
    std::vector<int> statusIds;
    int cancels = 0;
    std::vector<std::string> lines;
};

class SocketTest : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_sender = BindUdp(0);
        m_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                   nullptr);
        SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc));
    }
    void TearDown() override {
        DestroyWindow(m_window);
        m_sender.reset();
        WSACleanup();
    }
    // The window hands its socket notifications to the socket under test.
    void Attach(CDatagramSocket& socket) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&socket));
    }
    void Send(unsigned port, const std::vector<std::uint8_t>& datagram) {
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<unsigned short>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(m_sender.get(), reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }
    unsigned SenderPort() const { return LocalPort(m_sender.get()); }

    HWND m_window = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* socket = reinterpret_cast<CDatagramSocket*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (msg == kSocketMessage && socket != nullptr) {
            socket->OnSocketMessage(wParam, lParam);
            return 0;
        }
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    corvanelib::UniqueSocket m_sender;
};

TEST_F(SocketTest, BindsTheFirstFreePortAndDeliversUnscrambledDatagrams) {
    auto first = BindUdp(461);
    auto second = BindUdp(462);
    if (!first || !second || !BindUdp(463)) {
        GTEST_SKIP() << "ports 461-463 are in use on this machine";
    }
    RecordingSocket s(SenderPort());
    ASSERT_EQ(0u, s.Create(m_window, kSocketMessage));
    EXPECT_EQ(463u, s.BoundPort());
    EXPECT_EQ(463u, LocalPort(s.Handle()));
    Attach(s);

    const std::string plain = "a datagram longer than one key of thirty-two bytes";
    Send(463, Scrambled(plain));
    ASSERT_TRUE(PumpUntil([&] { return s.packets.size() == 1; }));
    EXPECT_EQ(plain, s.packets[0].data);
    EXPECT_TRUE(s.packets[0].terminated);
    EXPECT_EQ("127.0.0.1", s.packets[0].address);

    // A full-size datagram fits; one byte more fails the receive and passes nothing on, as
    // does an empty one; the datagram after them still arrives.
    Send(463, std::vector<std::uint8_t>(8192, 0x41));
    Send(463, std::vector<std::uint8_t>(8193, 0x41));
    Send(463, {});
    Send(463, Scrambled("end"));
    ASSERT_TRUE(PumpUntil([&] { return s.packets.size() >= 2 && s.packets.back().data == "end"; }));
    ASSERT_EQ(3u, s.packets.size());
    EXPECT_EQ(8192u, s.packets[1].data.size());
    EXPECT_TRUE(s.packets[1].terminated);
}

TEST_F(SocketTest, NotificationsLeftForAClosedSocketAreIgnored) {
    RecordingSocket s(SenderPort());
    ASSERT_EQ(0u, s.Create(m_window, kSocketMessage));
    Attach(s);
    Send(s.BoundPort(), Scrambled("x"));
    Sleep(200); // the notification reaches the queue; the socket goes before it is served
    s.Close();
    PumpFor(milliseconds(300));
    EXPECT_TRUE(s.packets.empty());

    ASSERT_EQ(0u, s.Create(m_window, kSocketMessage));
    Send(s.BoundPort(), Scrambled("y"));
    ASSERT_TRUE(PumpUntil([&] { return !s.packets.empty(); }));
    EXPECT_EQ("y", s.packets[0].data);
}

TEST_F(SocketTest, ClientSocketTakesOnlySoundDatagramsFromThisMachine) {
    ClientSocketFrom s(SenderPort());
    FakeOwner owner;
    ASSERT_EQ(0u, s.Create(m_window, kSocketMessage));
    Attach(s);
    const unsigned port = s.BoundPort();
    const logview::Key key = logview::MakeKey();
    // Until the owner is set, even a sound report is dropped.
    Send(port, logview::EncodeStatus(1, key));
    PumpFor(milliseconds(300));
    s.SetOwner(&owner);

    const logview::Key otherKey = logview::MakeKey({0x1234, 0x77, 0x1F3, 0x11});
    Send(port, logview::EncodeStatus(1, otherKey));
    Send(port, logview::EncodeLogLine("foreign", otherKey));
    const auto status = logview::EncodeStatus(1, key);
    for (size_t n = 1; n < status.size(); ++n) {
        Send(port, {status.begin(), status.begin() + n});
    }
    const auto line = logview::EncodeLogLine("a line of text", key);
    for (size_t n = 1; n < line.size(); ++n) {
        Send(port, {line.begin(), line.begin() + n});
    }
    std::uint32_t seed = 12345;
    for (int i = 0; i < 50; ++i) {
        std::vector<std::uint8_t> noise(1 + (seed % 64));
        for (auto& b : noise) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(seed >> 16);
        }
        Send(port, noise);
    }
    // A sound report sent last shows that everything before it was served, and ignored.
    Send(port, logview::EncodeStatus(2, key));
    ASSERT_TRUE(PumpUntil([&] { return owner.cancels >= 1; }));
    PumpFor(milliseconds(300));
    EXPECT_EQ(std::vector<int>{107}, owner.statusIds);
    EXPECT_EQ(1, owner.cancels);
    EXPECT_TRUE(owner.lines.empty());

    // The same report from elsewhere on the network is dropped; from this machine it is taken.
    // (OnPacket takes datagrams as they are after unscrambling.)
    auto deliver = [&](const char* from) {
        std::string report = "\x46\x19\x58\x26\x64\0\0\0\x01\0\0\0"s;
        s.CClientSocket::OnPacket(&report[0], static_cast<int>(report.size()), from, 4000);
    };
    for (const char* foreign : {"203.0.113.9", "10.255.255.1", "not an address"}) {
        deliver(foreign);
    }
    EXPECT_EQ(1, owner.cancels);
    deliver("127.0.0.1");
    deliver("127.4.5.6");
    EXPECT_EQ(3, owner.cancels);

    // Every address of this machine's own interfaces counts as this machine.
    char hostName[256] = {};
    ASSERT_EQ(0, gethostname(hostName, sizeof(hostName)));
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName, nullptr, &hints, &found) == 0) {
        for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, text,
                      sizeof(text));
            EXPECT_TRUE(IsThisMachineAddress(text, s.Handle())) << text;
        }
        freeaddrinfo(found);
    }
}

} // namespace
