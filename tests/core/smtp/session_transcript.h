// Declarative SMTP transcripts for session tests: server chunks in; commands, raw data runs and
// disconnects expected out, each right after the server chunk that caused it.
#pragma once

#include "core/mail/message.h"
#include "core/mail/recording_output.h"
#include "core/smtp/scripted_connection.h"
#include "core/smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel::test {

struct Turn {
    bool fromServer;
    std::string text;
};
// A chunk as the window would read it from the socket.
inline Turn S(std::string chunk) {
    return {true, std::move(chunk)};
}
// A command the session sends (the CR LF is added here).
inline Turn C(std::string command) {
    return {false, command + "\r\n"};
}
inline const Turn MessageText{false, ScriptedConnection::DataEntry};
inline const Turn Closed{false, ScriptedConnection::DisconnectEntry};

// Hands the session every server chunk of `turns` at once and gives back the rest: what it must have
// done, in order, for a test that compares the whole log at the end.
inline std::vector<std::string> FeedServerTurns(SmtpSession& session, const std::vector<Turn>& turns) {
    std::vector<std::string> expected;
    for (const Turn& turn : turns) {
        if (turn.fromServer)
            session.HandleReply(turn.text);
        else
            expected.push_back(turn.text);
    }
    return expected;
}

// The message text as the writers must put it on the wire, end-of-data line included.
inline std::string ExpectedWire(const MailMessage& message) {
    RecordingOutput output;
    std::atomic<bool> aborted{false};
    EXPECT_TRUE(WriteMessage(message, output, aborted));
    return output.bytes + "\r\n.\r\n";
}

// BytesSent after the whole message: length less 2 per line piece, the length of each block.
inline std::int64_t ExpectedBytesSent(const MailMessage& message) {
    struct Counter : MessageOutput {
        std::int64_t sent = 0;
        void WriteLine(std::string_view piece) override {
            sent += static_cast<std::int64_t>(piece.size()) - 2;
        }
        void WriteBlock(std::string_view text) override { sent += static_cast<std::int64_t>(text.size()); }
    } counter;
    std::atomic<bool> aborted{false};
    WriteMessage(message, counter, aborted);
    return counter.sent;
}

class SessionFixture : public ::testing::Test {
protected:
    SessionFixture() : messages(1) {
        // As the send flow does: a failure reported while the session runs is handled after it returns.
        connection.onError = [this](const std::string& text) { failures_.push_back(text); };
        session.OnStateChange = [this](SessionState from, SessionState to) {
            trace.push_back(std::string(SessionStateName(from)) + " -> " + SessionStateName(to));
        };
        connection.sendAborted = &state.SendAborted;
        Message().Sender = "me@example.org";
        Message().ToHeader = "Ann <ann@example.com>";
        Message().Recipients = {"ann@example.com"};
        Message().Subject = "Hello";
        Message().Body = "Hi Ann,\r\n.\r\nbye\r\n";
    }

    MailMessage& Message(std::size_t i = 0) { return messages[i]; }

    void Start() { ASSERT_TRUE(session.Start("mx.example.org", "25")); }

    // Plays the turns; before the first server chunk and after each one the session must have done
    // exactly the turns that follow it, in order, and nothing else.
    void Play(const std::vector<Turn>& turns) {
        std::size_t i = 0;
        for (;;) {
            HandFailures();
            std::vector<std::string> expected;
            while (i < turns.size() && !turns[i].fromServer)
                expected.push_back(turns[i++].text);
            const std::vector<std::string> log = connection.Log();
            const std::vector<std::string> produced(log.begin() + static_cast<std::ptrdiff_t>(logged_),
                                                    log.end());
            EXPECT_EQ(produced, expected)
                << "before turn " << i << ", state " << SessionStateName(session.State()) << ", outcome "
                << Message().Outcome;
            logged_ = log.size();
            if (i == turns.size()) break;
            session.HandleReply(turns[i++].text);
        }
    }

    // The exchange up to the session's "DATA" for the fixture's one recipient.
    void PlayToData() {
        Start();
        Play({S("220 mx.example.org ESMTP\r\n"), C("HELO testhost"), S("250 mx.example.org\r\n"),
              C("MAIL FROM: <me@example.org>"), S("250 2.1.0 Ok\r\n"), C("RCPT TO: <ann@example.com>"),
              S("250 2.1.5 Ok\r\n"), C("DATA")});
    }

    // Hands the session the failures reported while it ran, as the flow's posted events would.
    void HandFailures() {
        while (!failures_.empty()) {
            const std::string text = failures_.front();
            failures_.erase(failures_.begin());
            session.Abort(text);
        }
    }

    ScriptedConnection connection;
    MessageList messages;
    SendSignals state;
    SmtpSession session{connection, messages, state};
    std::vector<std::string> trace; // "from -> to", every change of the session's state

private:
    std::vector<std::string> failures_;
    std::size_t logged_ = 0;
};

} // namespace tarvel::test
