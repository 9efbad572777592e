// The secure start of a send against scripted peers on real sockets, through the send flow, SChannel and
// the session: a handshake that the peer leaves unanswered ends at Cancel (for SSL/TLS and for
// STARTTLS), and text that follows the 220 to STARTTLS in the same packet ends the send before any
// handshake. What the peer received tells what went out.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "support/send_driver.h"
#include "core/smtp/session_security.h"
#include "platform/loopback.h"

namespace tarvel {
namespace {

using test::Listener;
using test::Socket;

// A record of the TLS handshake protocol starts every ClientHello.
constexpr char HandshakeRecord = 0x16;

struct Peer {
    bool sawClientHello = false;
    bool closedAfter = false; // the program closed the connection once the send was over
    std::string commands;     // what came before any handshake
};

// Answers like a submission server up to the 220 to STARTTLS (`afterGo` follows it in the same
// write); with SSL/TLS it only reads. Then it reads the next record and says nothing more.
Peer Serve(const Listener& listener, SecurityMode mode, const std::string& afterGo,
           const std::atomic<bool>& sendOver) {
    Peer peer;
    const Socket connection = listener.Accept();
    if (!connection.Valid()) return peer;
    if (mode == SecurityMode::StartTls) {
        connection.Send("220 peer ESMTP\r\n");
        peer.commands = connection.Receive(std::string("EHLO ").size());
        char c = 0;
        while (recv(connection.Get(), &c, 1, 0) == 1 && c != '\n')
            peer.commands += c;
        peer.commands += c;
        connection.Send("250-peer\r\n250 STARTTLS\r\n");
        peer.commands += connection.Receive(std::string("STARTTLS\r\n").size());
        connection.Send("220 go ahead\r\n" + afterGo);
    }
    const std::string first = connection.Receive(1);
    peer.sawClientHello = first.size() == 1 && first[0] == HandshakeRecord;
    // Silent from here on: the program must give up by itself (cancel) and close.
    while (!sendOver.load())
        if (connection.ReceiveOnce() == 0) break;
    for (int i = 0; i < 10 && !peer.closedAfter; ++i) {
        char rest[4096];
        const int n = recv(connection.Get(), rest, sizeof rest, 0);
        peer.closedAfter = n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT);
    }
    return peer;
}

TEST(TlsHandshake, AnUnansweredHandshakeEndsAtCancelAndInjectedTextBeforeItEndsTheSend) {
    const test::WinSockSession winsock;
    const struct {
        const char* name;
        SecurityMode mode;
        std::string afterGo;
        bool handshake; // the program began one
        std::string shown;
        SendOutcome outcome;
    } cases[] = {
        {"SSL/TLS, silent peer", SecurityMode::Implicit, "", true, "Mail has been cancelled!", {}},
        {"STARTTLS, silent peer", SecurityMode::StartTls, "", true, "Mail has been cancelled!", {}},
        {"STARTTLS, text after 220", SecurityMode::StartTls, "250 injected\r\n", false, "",
         SendOutcome::Failure(InjectedPlaintextText)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageList messages(1);
        messages[0].Sender = "me@example.org";
        messages[0].ToHeader = "<bob@example.org>";
        messages[0].Recipients = {"bob@example.org"};
        messages[0].Subject = "Never sent";
        messages[0].Body = "Not a byte of this may reach the peer.\r\n";
        bench::SendDriver driver(messages);
        driver.SetSecurity(SessionSecurity{c.mode, "", ""});
        Listener listener;
        std::atomic<bool> sendOver{false};
        auto peer = std::async(std::launch::async, Serve, std::cref(listener), c.mode, c.afterGo,
                               std::cref(sendOver));
        // The cancel comes when the limit passes, long after the handshake has begun on loopback.
        const bench::RunResult run = driver.Run("127.0.0.1", listener.Port(), std::chrono::seconds(4));
        sendOver.store(true);
        const Peer seen = peer.get();

        EXPECT_EQ(seen.sawClientHello, c.handshake);
        EXPECT_TRUE(seen.closedAfter) << "the connection was left open";
        if (c.mode == SecurityMode::StartTls) {
            EXPECT_EQ(seen.commands, "EHLO " + driver.Sockets().GetLocalHostName() + "\r\nSTARTTLS\r\n");
        }
        EXPECT_EQ(run.outcome, c.outcome);
        if (!c.shown.empty()) {
            EXPECT_EQ(run.shown, c.shown);
        }
        EXPECT_FALSE(driver.Flow().Busy()) << "the send did not end";
        EXPECT_FALSE(driver.Tls().Encrypted());
    }
}

} // namespace
} // namespace tarvel
