// The socket component against real sockets on 127.0.0.1: its events in order, its reports, the bytes
// it puts on the wire, the blocking-call time limit, and the message boxes when no handler is assigned.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "core/errors/convert_error.h"
#include "platform/loopback.h"
#include "support/pump.h"
#include "support/fake_services.h"
#include "platform/client_socket.h"

using tarvel::ClientSocket;
using tarvel::test::Listener;
using tarvel::test::RefusingPort;
using tarvel::test::Socket;
using ::testing::HasSubstr;

namespace {

struct Event {
    std::string kind;
    int socket;
    int error = 0;
    std::string msg = {};
    bool operator==(const Event&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << "{" << e.kind << " socket=" << e.socket << " error=" << e.error << " '" << e.msg << "'}";
}

struct Box {
    std::string text;
    std::string caption;
    UINT type;
    bool operator==(const Box&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "{'" << b.text << "' '" << b.caption << "' type=" << b.type << "}";
}

using tarvel::test::PumpUntil;

// Runs `action` on its own thread after 10 s unless dismissed first: it ends a blocking call that the
// component failed to limit, so that a fault fails the test instead of hanging it.
class Watchdog {
public:
    explicit Watchdog(std::function<void()> action)
        : thread_([this, action = std::move(action)] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!woken_.wait_for(lock, std::chrono::seconds(10), [this] { return dismissed_; })) action();
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dismissed_ = true;
        }
        woken_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool dismissed_ = false;
    std::thread thread_;
};

class SocketsTest : public ::testing::Test {
protected:
    SocketsTest() {
        Record(sockets.OnDataAvailable, "read");
        Record(sockets.OnDataNeeded, "writable");
        Record(sockets.OnSessionClosed, "closed");
        Record(sockets.OnSessionAvailable, "available");
        Record(sockets.OnSessionConnected, "connected");
        sockets.OnErrorOccurred = [this](ClientSocket& sender, int socket, int error,
                                         const std::string& msg) {
            EXPECT_EQ(&sender, &sockets);
            events.push_back({"error", socket, error, msg});
        };
    }

    void Record(std::function<void(ClientSocket&, int)>& event, const char* kind) {
        event = [this, kind](ClientSocket& sender, int socket) {
            EXPECT_EQ(&sender, &sockets);
            events.push_back({kind, socket});
        };
    }
    // Handles every notification queued before now: a job posted behind them runs last.
    void Settle() {
        bool reached = false;
        ASSERT_TRUE(sockets.Post([&] { reached = true; }));
        ASSERT_TRUE(PumpUntil([&] { return reached; }));
    }
    bool Seen(const std::string& kind) const {
        for (const Event& e : events)
            if (e.kind == kind) return true;
        return false;
    }
    std::vector<std::string> Kinds() const {
        std::vector<std::string> kinds;
        for (const Event& e : events)
            kinds.push_back(e.kind);
        return kinds;
    }
    // A non-blocking connection to `listener`, accepted and reported as connected.
    Socket Connect(const Listener& listener) {
        sockets.SetAddress("127.0.0.1");
        sockets.SetPort(listener.Port());
        sockets.Connect();
        Socket peer = listener.Accept();
        EXPECT_TRUE(peer.Valid());
        EXPECT_TRUE(PumpUntil([&] { return Seen("connected"); })) << ::testing::PrintToString(events);
        return peer;
    }
    // A blocking-mode connection to `listener` with a time limit of `seconds` for each call, accepted.
    Socket ConnectBlocking(const Listener& listener, int seconds) {
        sockets.SetNonBlocking(false);
        sockets.SetTimeout(seconds);
        sockets.SetAddress("127.0.0.1");
        sockets.SetPort(listener.Port());
        sockets.Connect();
        return listener.Accept();
    }
    // A report that names the socket the component holds.
    Event Error(int error, const std::string& msg) const {
        return {"error", sockets.SocketHandle(), error, msg};
    }

    std::vector<Box> Boxes() const {
        std::vector<Box> seen;
        for (const auto& box : fake.boxes)
            seen.push_back({box.text, box.caption, box.flags});
        return seen;
    }

    tarvel::test::FakeSystem fake;
    tarvel::test::WinSockSession winsock;
    ClientSocket sockets{fake.Make()};
    std::vector<Event> events;
};

} // namespace

TEST_F(SocketsTest, ValuesAfterConstruction) {
    EXPECT_EQ(sockets.MaximumReceiveLength(), 8192);
    EXPECT_TRUE(sockets.NonBlocking());
    EXPECT_EQ(sockets.Timeout(), 30);
    EXPECT_EQ(sockets.SocketHandle(), -1);
    EXPECT_EQ(sockets.Address(), "");
    EXPECT_EQ(sockets.Port(), "");
    EXPECT_NE(sockets.Handle(), nullptr);
    sockets.SetNonBlocking(false);
    EXPECT_FALSE(sockets.NonBlocking());
    EXPECT_FALSE(sockets.GetLocalHostName().empty());
}

TEST_F(SocketsTest, ConnectReadAndCloseArriveInOrder) {
    Listener listener;
    std::string received;
    sockets.OnDataAvailable = [&](ClientSocket& sender, int socket) {
        events.push_back({"read", socket});
        char buffer[64];
        const int n = sender.ReceiveOn(socket, buffer, sizeof buffer);
        if (n > 0) received.append(buffer, n);
    };
    Socket peer = Connect(listener);
    ASSERT_TRUE(peer.Send("220 ready\r\n"));
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return Seen("closed"); })) << ::testing::PrintToString(events);
    Settle();

    const int handle = sockets.SocketHandle();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"connected", "writable", "read", "closed"}));
    for (const Event& e : events)
        EXPECT_EQ(e.socket, handle) << e;
    EXPECT_EQ(received, "220 ready\r\n");
    char buffer[8];
    EXPECT_EQ(sockets.ReceiveOn(handle, buffer, sizeof buffer), 0); // the peer has closed
    events.clear();
    sockets.Disconnect();
    EXPECT_EQ(sockets.SocketHandle(), -1);
    EXPECT_EQ(events, std::vector<Event>{});
}

TEST_F(SocketsTest, PutsExactlyTheGivenBytesOnTheWire) {
    Listener listener;
    Socket peer = Connect(listener);
    sockets.SendCommand("HELO here\r\n");
    sockets.SendCommand(""); // one empty send: nothing on the wire, nothing reported
    EXPECT_TRUE(sockets.WaitWritable(1000));
    const auto sent = sockets.RawSend("DATA\r\n", 6);
    EXPECT_EQ(sent.written, 6);
    EXPECT_EQ(sent.error, 0);
    EXPECT_EQ(peer.Receive(17), "HELO here\r\nDATA\r\n");
    EXPECT_FALSE(Seen("error")) << ::testing::PrintToString(events);

    sockets.Disconnect();
    EXPECT_LE(peer.ReceiveOnce(), 0); // reset: no further byte
    const auto late = sockets.RawSend("x", 1);
    EXPECT_EQ(late.written, -1);
    EXPECT_EQ(late.error, 10038);
    EXPECT_FALSE(sockets.WaitWritable(0));
}

TEST_F(SocketsTest, RawSendStopsAtAFullBufferAndWaitWritableSaysSo) {
    Listener listener;
    Socket notReading = Connect(listener);
    const std::string chunk(64 * 1024, 'x');
    tarvel::SendResult result{};
    for (int i = 0; i < 1024; ++i) { // at most 64 MB: far more than the loopback buffers hold
        result = sockets.RawSend(chunk.data(), chunk.size());
        if (result.written <= 0) break;
    }
    EXPECT_EQ(result.written, -1);
    EXPECT_EQ(result.error, 10035); // would block: the session's writer waits and tries again
    EXPECT_FALSE(sockets.WaitWritable(100));
    EXPECT_FALSE(Seen("error")) << ::testing::PrintToString(events);
}

TEST_F(SocketsTest, RefusedConnectReportsTheNotificationsSocket) {
    sockets.SetAddress("127.0.0.1");
    sockets.SetPort(RefusingPort());
    sockets.Connect();
    const int handle = sockets.SocketHandle();
    ASSERT_NE(handle, -1);
    ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
    Settle();
    EXPECT_EQ(events, (std::vector<Event>{{"error", handle, 10061, "Connection refused"}}));
}

TEST_F(SocketsTest, RejectedSettingsReportAloneAndCreateNoSocket) {
    sockets.Connect(); // port and address both empty: the port is named, nothing more
    EXPECT_EQ(events, (std::vector<Event>{{"error", -1, 10049, "No Port Specified"}}));

    events.clear();
    sockets.SetPort("25");
    sockets.Connect();
    EXPECT_EQ(events, (std::vector<Event>{{"error", -1, 10049, "No IP Address Specified"}}));

    events.clear();
    sockets.SetAddress("nonexistent.invalid");
    sockets.Connect();
    EXPECT_EQ(events, (std::vector<Event>{{"error", -1, 10049, "Cannot convert host address"}}));
    EXPECT_EQ(sockets.SocketHandle(), -1);
}

TEST_F(SocketsTest, PortThatIsNoNumberThrowsAndKeepsTheSocket) {
    Listener listener;
    Socket peer = Connect(listener);
    const int handle = sockets.SocketHandle();
    events.clear();
    for (const char* port : {"abc", "25x", "-", "99999999999"}) {
        sockets.SetPort(port);
        try {
            sockets.Connect();
            ADD_FAILURE() << "no error for port " << port;
        } catch (const tarvel::ConvertError& e) {
            EXPECT_EQ(e.what(), "'" + std::string(port) + "' is not a valid integer value");
        }
        EXPECT_EQ(sockets.SocketHandle(), handle) << port;
    }
    Settle();
    EXPECT_EQ(events, std::vector<Event>{});
}

TEST_F(SocketsTest, PortIsAServiceNameOrADecimalNumber) {
    sockets.SetAddress("127.0.0.1");
    for (const char* port : {"smtp", "25"}) {
        sockets.SetPort(port);
        sockets.Connect();
        const ClientSocket::AddressRecord& remote = sockets.RemoteAddress();
        EXPECT_EQ(remote.family, AF_INET) << port;
        EXPECT_EQ(remote.port, htons(25)) << port;
        EXPECT_EQ(remote.address, inet_addr("127.0.0.1")) << port;
        EXPECT_NE(sockets.SocketHandle(), -1) << port;
        sockets.Disconnect();
    }
}

TEST_F(SocketsTest, AllOnesAddressIsLookedUpAsAHostName) {
    sockets.SetAddress("255.255.255.255");
    sockets.SetPort("25");
    sockets.Connect();
    // The lookup gives the address back, so a socket is made and only the connect can fail.
    EXPECT_EQ(sockets.RemoteAddress().address, 0xFFFFFFFFu);
    EXPECT_NE(sockets.SocketHandle(), -1);
    for (const Event& e : events)
        EXPECT_NE(e.msg, "Cannot convert host address");
    sockets.Disconnect();
}

TEST_F(SocketsTest, SecondDisconnectReportsAndKeepsNoSocket) {
    Listener listener;
    Socket peer = Connect(listener);
    events.clear();
    sockets.Disconnect();
    EXPECT_EQ(events, std::vector<Event>{});
    sockets.Disconnect();
    EXPECT_EQ(events, (std::vector<Event>{{"error", -1, 10038, "Socket operation on non-socket"}}));
    EXPECT_EQ(sockets.SocketHandle(), -1);
}

TEST_F(SocketsTest, ReceiveNamesTheComponentsSocketInItsReport) {
    char buffer[8];
    EXPECT_EQ(sockets.ReceiveOn(-1, buffer, sizeof buffer), -1);
    EXPECT_EQ(events, std::vector<Event>{}); // socket -1: no call, no report

    EXPECT_LT(sockets.ReceiveOn(12345, buffer, sizeof buffer), 0);
    EXPECT_EQ(events, (std::vector<Event>{{"error", -1, 10038, "Socket operation on non-socket"}}));
}

TEST_F(SocketsTest, NotificationsRaiseTheirEventOrReportTheirError) {
    auto notify = [&](int code, int error) {
        PostMessageA(sockets.Handle(), WM_USER, 77, MAKELONG(code, error));
    };
    notify(FD_READ, 10000); // 10000 and below count as success
    notify(FD_ACCEPT, 0);
    notify(FD_OOB, 0); // not a code the component knows
    notify(FD_CLOSE, 10053);
    notify(FD_WRITE, 0);
    Settle();
    EXPECT_EQ(events, (std::vector<Event>{{"read", 77},
                                          {"available", 77},
                                          {"error", 77, 10053, "Software caused connection abort"},
                                          {"writable", 77}}));
}

TEST_F(SocketsTest, BlockingModeConnectsSendsAndReceives) {
    Listener listener;
    Socket peer = ConnectBlocking(listener, 5);
    ASSERT_TRUE(peer.Valid());
    sockets.SendCommand("EHLO\r\n");
    EXPECT_EQ(peer.Receive(6), "EHLO\r\n");
    ASSERT_TRUE(peer.Send("250 ok\r\n"));
    char buffer[64];
    const int n = sockets.ReceiveOn(sockets.SocketHandle(), buffer, sizeof buffer);
    ASSERT_EQ(n, 8);
    EXPECT_EQ(std::string(buffer, n), "250 ok\r\n");
    Settle();
    EXPECT_EQ(events, std::vector<Event>{}); // no notifications in blocking mode
}

TEST_F(SocketsTest, BlockingReceiveTimesOutThenReportsTheInterruption) {
    Listener listener;
    Socket silent = ConnectBlocking(listener, 1);
    ASSERT_TRUE(silent.Valid());
    Watchdog watchdog([&] { silent.Close(); });
    char buffer[64];
    EXPECT_EQ(sockets.ReceiveOn(sockets.SocketHandle(), buffer, sizeof buffer), -1);
    EXPECT_EQ(events, (std::vector<Event>{Error(10060, "Blocking call timed out"),
                                          Error(10004, "Interrupted system call")}));
}

TEST_F(SocketsTest, BlockingSendOnAWorkerThreadKeepsTheTimeLimit) {
    Listener listener;
    Socket notReading = ConnectBlocking(listener, 1);
    ASSERT_TRUE(notReading.Valid());
    // More than the loopback buffers hold, so the send has to wait for a reader that never comes.
    const std::string text(32 * 1024 * 1024, 'x');
    std::atomic<bool> done{false};
    std::thread worker([&] {
        sockets.SendCommand(text);
        done = true;
    });
    const bool finished = PumpUntil([&] { return done.load(); }, 10000);
    if (!finished) sockets.Disconnect(); // cancels the call, so the join cannot hang
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(events, (std::vector<Event>{Error(10060, "Blocking call timed out"),
                                          Error(10004, "Interrupted system call")}));
}

TEST_F(SocketsTest, RejectedSettingsWithoutHandlerShowABoxAndGoOn) {
    sockets.OnErrorOccurred = nullptr;
    sockets.Connect();
    sockets.SetPort("25");
    sockets.Connect();
    EXPECT_EQ(Boxes(), (std::vector<Box>{{"No Port Specified", "WINSOCK ERROR", MB_OKCANCEL},
                                         {"No IP Address Specified", "WINSOCK ERROR", MB_OKCANCEL}}));
}

// Without a handler a failed call shows its box and ends the program with exit code 0: checked in a
// child process, which writes each box to stderr as "[caption] text" with CR LF shown as "\r\n".
namespace {

// Services whose boxes go to stderr, for a death test's child process.
tarvel::Services BoxesToStderr() {
    tarvel::Services services;
    services.messageBox = [](HWND, const std::string& text, const std::string& caption, UINT type) {
        std::string shown(text);
        for (std::size_t at; (at = shown.find("\r\n")) != std::string::npos;)
            shown.replace(at, 2, "\\r\\n");
        std::fprintf(stderr, "[%s|%u] %s\n", caption.c_str(), type, shown.c_str());
        std::fflush(stderr);
        return IDCANCEL; // the choice is ignored
    };
    return services;
}

} // namespace

TEST(SocketsDeathTest, FailedCloseShowsTheBoxAndEndsTheProgram) {
    EXPECT_EXIT(
        {
            tarvel::test::WinSockSession winsock;
            Listener listener;
            ClientSocket sockets{BoxesToStderr()};
            sockets.SetAddress("127.0.0.1");
            sockets.SetPort(listener.Port());
            sockets.Connect();
            sockets.Disconnect();
            sockets.Disconnect();
            std::exit(3);
        },
        ::testing::ExitedWithCode(0),
        HasSubstr("[WINSOCK ERROR|1] Error 10038 in function Disconnect (closesocket)\\r\\n"
                  "Socket operation on non-socket\n"));
}

TEST(SocketsDeathTest, RefusedConnectWithoutHandlerNamesTheNotification) {
    EXPECT_EXIT(
        {
            ClientSocket sockets{BoxesToStderr()};
            sockets.SetAddress("127.0.0.1");
            sockets.SetPort(RefusingPort());
            sockets.Connect();
            PumpUntil([] { return false; });
            std::exit(3);
        },
        ::testing::ExitedWithCode(0),
        HasSubstr("[WINSOCK ERROR|1] Error 10061 in function FD_CONNECT\\r\\nConnection refused\n"));
}

TEST(SocketsDeathTest, BlockingTimeOutShowsBothBoxesInOrder) {
    EXPECT_EXIT(
        {
            tarvel::test::WinSockSession winsock;
            Listener listener;
            ClientSocket sockets{BoxesToStderr()};
            sockets.SetNonBlocking(false);
            sockets.SetTimeout(1);
            sockets.SetAddress("127.0.0.1");
            sockets.SetPort(listener.Port());
            sockets.Connect();
            Socket silent = listener.Accept();
            Watchdog watchdog([&] { silent.Close(); });
            char buffer[8];
            sockets.ReceiveOn(sockets.SocketHandle(), buffer, sizeof buffer);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0),
        HasSubstr("[WINSOCK CALL CANCELED|1] Error 10060\\r\\nBlocking call timed out\n"
                  "[WINSOCK ERROR|1] Error 10004 in function SReceive\\r\\nInterrupted system call\n"));
}
