// The log-view socket against real datagrams over loopback, served through window messages on
// the test's own thread the way the main dialog serves them.
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

struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};

// A message-only window that hands its socket notifications to whichever socket is attached.
class NotifyWindow {
public:
    NotifyWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &NotifyWindow::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"SocketTestNotifyWindow";
        RegisterClassW(&wc);
        m_hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NotifyWindow() { DestroyWindow(m_hwnd); }
    HWND hwnd() const { return m_hwnd; }
    void Attach(CDatagramSocket* socket) { m_socket = socket; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == kSocketMessage && self != nullptr && self->m_socket != nullptr) {
            self->m_socket->OnSocketMessage(wParam, lParam);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    HWND m_hwnd = nullptr;
    CDatagramSocket* m_socket = nullptr;
};

// Serves this thread's messages until `condition` holds or `bound` has passed.
template <typename Condition>
bool PumpUntil(Condition condition, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Serves messages for a while and reports whether `condition` stayed false the whole time.
template <typename Condition> bool StaysFalse(Condition condition) {
    return !PumpUntil(condition, std::chrono::milliseconds(300));
}

corvanelib::UniqueSocket BindUdp(unsigned short port) {
    corvanelib::UniqueSocket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        s.reset();
    }
    return s;
}

unsigned short LocalPort(SOCKET s) {
    sockaddr_in local = {};
    int cb = sizeof(local);
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &cb);
    return ntohs(local.sin_port);
}

class Sender {
public:
    Sender() : m_socket(BindUdp(0)) {}
    unsigned short Port() const { return LocalPort(m_socket.get()); }
    void SendTo(unsigned port, const std::vector<std::uint8_t>& datagram,
                const char* address = "127.0.0.1") const {
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<unsigned short>(port));
        inet_pton(AF_INET, address, &to.sin_addr);
        sendto(m_socket.get(), reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }

private:
    corvanelib::UniqueSocket m_socket;
};

struct Received {
    std::string data;
    bool terminated = false;
    std::string address;
    unsigned port = 0;
};

// Other programs on this machine (a stand-in service of another test run) may send to the
// same ports; the sockets under test keep only what the test's own sender sent.
class RecordingSocket : public CMySocket {
public:
    explicit RecordingSocket(unsigned onlyFrom = 0) : m_onlyFrom(onlyFrom) {}
    void OnPacket(char* data, int length, const char* address, unsigned port) override {
        if (m_onlyFrom == 0 || port == m_onlyFrom) {
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
    size_t Events() const { return statusIds.size() + static_cast<size_t>(cancels) + lines.size(); }
};

std::vector<std::uint8_t> Scrambled(std::vector<std::uint8_t> plain) {
    logview::Scramble(plain.data(), plain.size(), logview::MakeKey());
    return plain;
}

class SocketTest : public testing::Test {
protected:
    WinsockSession winsock;
    NotifyWindow window;
    Sender sender;
};

TEST_F(SocketTest, BindsTheFirstFreePortFrom461) {
    // Ports are shared with the whole machine; the case needs 461 to 463 free to begin with.
    auto first = BindUdp(461);
    auto second = BindUdp(462);
    if (!first || !second || !BindUdp(463)) {
        GTEST_SKIP() << "ports 461-463 are in use on this machine";
    }
    RecordingSocket s;
    ASSERT_EQ(0u, s.Create(window.hwnd(), kSocketMessage));
    EXPECT_EQ(463u, s.BoundPort());
    EXPECT_EQ(463u, LocalPort(s.Handle()));

    // Once 461 is free again, a new socket takes it.
    first.reset();
    RecordingSocket again;
    ASSERT_EQ(0u, again.Create(window.hwnd(), kSocketMessage));
    EXPECT_EQ(461u, again.BoundPort());
}

TEST_F(SocketTest, DeliversUnscrambledDatagramsWithTheirSender) {
    RecordingSocket s(sender.Port());
    ASSERT_EQ(0u, s.Create(window.hwnd(), kSocketMessage));
    window.Attach(&s);

    const std::string plain = "a datagram longer than one key of thirty-two bytes";
    sender.SendTo(s.BoundPort(), Scrambled({plain.begin(), plain.end()}));
    ASSERT_TRUE(PumpUntil([&] { return s.packets.size() == 1; }));
    EXPECT_EQ(plain, s.packets[0].data);
    EXPECT_TRUE(s.packets[0].terminated);
    EXPECT_EQ("127.0.0.1", s.packets[0].address);
    EXPECT_EQ(sender.Port(), s.packets[0].port);

    // A full-size datagram fits; one byte more fails the receive and passes nothing on; an
    // empty one passes nothing on either. The datagram after them still arrives.
    sender.SendTo(s.BoundPort(), std::vector<std::uint8_t>(8192, 0x41));
    ASSERT_TRUE(PumpUntil([&] { return s.packets.size() == 2; }));
    EXPECT_EQ(8192u, s.packets[1].data.size());
    EXPECT_TRUE(s.packets[1].terminated);
    sender.SendTo(s.BoundPort(), std::vector<std::uint8_t>(8193, 0x41));
    sender.SendTo(s.BoundPort(), {});
    sender.SendTo(s.BoundPort(), Scrambled({'e', 'n', 'd'}));
    ASSERT_TRUE(PumpUntil([&] { return s.packets.size() >= 3; }));
    EXPECT_TRUE(StaysFalse([&] { return s.packets.size() > 3; }));
    EXPECT_EQ("end", s.packets[2].data);
}

TEST_F(SocketTest, NotificationsLeftForAClosedSocketAreIgnored) {
    RecordingSocket s(sender.Port());
    ASSERT_EQ(0u, s.Create(window.hwnd(), kSocketMessage));
    window.Attach(&s);
    const unsigned port = s.BoundPort();
    sender.SendTo(port, Scrambled({'x'}));
    // Let the notification reach the queue, then close before it is served.
    Sleep(200);
    s.Close();
    EXPECT_TRUE(StaysFalse([&] { return !s.packets.empty(); }));

    ASSERT_EQ(0u, s.Create(window.hwnd(), kSocketMessage));
    sender.SendTo(s.BoundPort(), Scrambled({'y'}));
    ASSERT_TRUE(PumpUntil([&] { return !s.packets.empty(); }));
    EXPECT_EQ("y", s.packets[0].data);
}

TEST_F(SocketTest, ClientSocketIgnoresForeignAndDamagedDatagrams) {
    ClientSocketFrom s(sender.Port());
    FakeOwner owner;
    ASSERT_EQ(0u, s.Create(window.hwnd(), kSocketMessage));
    window.Attach(&s);
    const logview::Key key = logview::MakeKey();
    // Until the owner is set, even a sound report is dropped.
    sender.SendTo(s.BoundPort(), logview::EncodeStatus(1, key));
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    s.SetOwner(&owner);
    const logview::Key otherKey = logview::MakeKey({0x1234, 0x77, 0x1F3, 0x11});

    sender.SendTo(s.BoundPort(), logview::EncodeStatus(1, otherKey));
    sender.SendTo(s.BoundPort(), logview::EncodeLogLine("foreign", otherKey));
    const auto status = logview::EncodeStatus(1, key);
    for (size_t n = 1; n < status.size(); ++n) {
        sender.SendTo(s.BoundPort(), {status.begin(), status.begin() + n});
    }
    const auto line = logview::EncodeLogLine("a line of text", key);
    for (size_t n = 1; n < line.size(); ++n) {
        sender.SendTo(s.BoundPort(), {line.begin(), line.begin() + n});
    }
    std::uint32_t seed = 12345;
    for (int i = 0; i < 50; ++i) {
        std::vector<std::uint8_t> noise(1 + (seed % 64));
        for (auto& b : noise) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(seed >> 16);
        }
        sender.SendTo(s.BoundPort(), noise);
    }
    // A valid report sent last proves the socket served everything before it and still works.
    sender.SendTo(s.BoundPort(), logview::EncodeStatus(2, key));
    ASSERT_TRUE(PumpUntil([&] { return owner.cancels >= 1; }));
    EXPECT_TRUE(StaysFalse([&] { return owner.Events() > 2; }));
    EXPECT_EQ(std::vector<int>{107}, owner.statusIds);
    EXPECT_EQ(1, owner.cancels);
    EXPECT_TRUE(owner.lines.empty());
}

TEST_F(SocketTest, ClientSocketTakesOnlySendersOnThisMachine) {
    CClientSocket s;
    FakeOwner owner;
    ASSERT_EQ(0u, s.Create(window.hwnd(), kSocketMessage));
    s.SetOwner(&owner);
    // OnPacket takes datagrams as they are after unscrambling.
    auto report = logview::EncodeStatus(1, logview::MakeKey());
    logview::Scramble(report.data(), report.size(), logview::MakeKey());
    auto deliver = [&](const char* from) {
        std::vector<char> buffer(report.begin(), report.end());
        buffer.push_back('\0');
        s.OnPacket(buffer.data(), static_cast<int>(report.size()), from, 4000);
    };

    deliver("203.0.113.9");
    deliver("10.255.255.1");
    deliver("not an address");
    EXPECT_EQ(0u, owner.Events());

    deliver("127.0.0.1");
    deliver("127.4.5.6");
    EXPECT_EQ(2, owner.cancels);

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
