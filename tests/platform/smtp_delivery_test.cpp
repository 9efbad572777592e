// Whole sends through the real socket component and SMTP session to aiosmtpd on 127.0.0.1: the stored
// message must be byte for byte what WriteMessage makes (its Date and Message-ID checked apart), with the
// envelope the record names.
// Run through run_with_aiosmtpd.py, which starts the server and names it in the environment.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/send_driver.h"
#include "support/stamp_lines.h"
#include "support/temp_folder.h"

using tarvel::CRLF;
using tarvel::MailMessage;
using tarvel::MessageList;
using tarvel::SendOutcome;
using tarvel::SessionState;
using tarvel::bench::RunResult;
using tarvel::bench::SendDriver;
using tarvel::test::TempFolder;

namespace {

// Far more than a send on 127.0.0.1 needs; the session's own time-out would end a stuck one at 30 s.
constexpr std::chrono::seconds SendLimit{60};

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct StoredMessage {
    std::string envelope;
    std::string content;
};

// The server's side: its port and the messages it has stored.
class Server {
public:
    Server() {
        const char* port = std::getenv("TARVEL_SMTP_PORT");
        const char* folder = std::getenv("TARVEL_SMTP_CAPTURE");
        if (port && folder) {
            port_ = port;
            folder_ = folder;
        }
    }
    bool Named() const { return !port_.empty(); }
    const std::string& Port() const { return port_; }

    // The stored messages whose envelope sender is `sender`, in order; every test sends from its own address.
    std::vector<StoredMessage> From(const std::string& sender) const {
        const std::string first = "MAIL FROM: " + sender + "\n";
        std::vector<StoredMessage> found;
        for (int n = 1;; ++n) {
            const std::string base = folder_ + "\\message-" + std::to_string(n);
            if (!Exists(base + ".envelope")) return found;
            StoredMessage stored{ReadWhole(base + ".envelope"), ReadWhole(base + ".eml")};
            if (stored.envelope.starts_with(first)) found.push_back(std::move(stored));
        }
    }

private:
    std::string port_;
    std::string folder_;
};

// Memory output without the leading-dot rule: the text as the server has it once it has undone the rule.
class PlainOutput final : public tarvel::MessageOutput {
public:
    std::string bytes;
    void WriteLine(std::string_view piece) override { bytes += piece; }
    void WriteBlock(std::string_view text) override {
        bytes += text;
        bytes += CRLF;
    }
};

std::string Written(const MailMessage& message) {
    PlainOutput output;
    const std::atomic<bool> never{false};
    EXPECT_TRUE(tarvel::WriteMessage(message, output, never))
        << "the test's own attachments must be readable";
    return output.bytes;
}

// Every byte value, in an order that no simple bug reproduces.
std::string NoiseBytes(std::size_t count) {
    std::string bytes(count, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

std::string Visible(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
            out += "\\x" + std::string(1, "0123456789abcdef"[(c >> 4) & 15]) + "0123456789abcdef"[c & 15];
        else
            out += c;
    }
    return out;
}

// Equal texts, or where they part: messages of hundreds of KiB are not printed whole.
::testing::AssertionResult SameBytes(const std::string& stored, const std::string& expected) {
    if (stored == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < stored.size() && at < expected.size() && stored[at] == expected[at])
        ++at;
    const std::size_t from = at < 80 ? 0 : at - 80;
    return ::testing::AssertionFailure()
           << "stored " << stored.size() << " bytes, expected " << expected.size() << "; they part at byte "
           << at << "\n  stored:   ..." << Visible(std::string_view(stored).substr(from, 160))
           << "\n  expected: ..." << Visible(std::string_view(expected).substr(from, 160));
}

class SmtpDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Named()) << "TARVEL_SMTP_PORT and TARVEL_SMTP_CAPTURE are not set: run this test "
                                        "through tests/support/run_with_aiosmtpd.py (ctest does)";
    }

    Server server_;
    TempFolder folder_; // the current folder while the test runs: attachments are named relative to it
    MessageList messages_ = MessageList(1);
};

TEST_F(SmtpDelivery, MessageWithTwoAttachmentsArrivesByteForByte) {
    ASSERT_TRUE(TempFolder::PutFile("empty.bin", ""));
    ASSERT_TRUE(TempFolder::PutFile("noise.bin", NoiseBytes(300 * 1024 + 7)));
    MailMessage& message = messages_.front();
    message.Sender = "delivery@tarvel.test";
    message.Recipients = {"first@tarvel.test", "second@tarvel.test"};
    message.ToHeader = "First <first@tarvel.test;second@tarvel.test>";
    message.Subject = "Two attachments";
    // Lines that the leading-dot rule must protect: a lone "." would end the message early.
    message.Body = "First line\r\n.\r\n..two dots\r\n.leading dot\r\n \r\nlast line\r\n";
    message.Attachments = {"empty.bin", "noise.bin"};
    message.XAttachments = "empty.bin;noise.bin";
    // The CR LF that begins the end-of-data line ends the last line of the message text.
    const std::string expected = Written(message) + std::string(CRLF);

    SendDriver driver(messages_);
    const RunResult run = driver.Run("127.0.0.1", server_.Port(), SendLimit);

    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.outcome, SendOutcome::Accept());
    EXPECT_EQ(run.shown, "Mail has been sent!");
    EXPECT_EQ(driver.Session().State(), SessionState::Idle);
    EXPECT_FALSE(driver.Signals().SendAborted.load());
    EXPECT_EQ(driver.Signals().BytesTotal.load(), tarvel::EstimateMessageSize(message));
    const std::vector<StoredMessage> stored = server_.From(message.Sender);
    ASSERT_EQ(stored.size(), 1u) << "messages stored from " << message.Sender;
    EXPECT_EQ(stored[0].envelope, "MAIL FROM: delivery@tarvel.test\n"
                                  "RCPT TO: first@tarvel.test\n"
                                  "RCPT TO: second@tarvel.test\n");
    EXPECT_TRUE(SameBytes(tarvel::test::WithoutStampLines(stored[0].content), expected));
}

TEST_F(SmtpDelivery, RefusedRecipientIsTheOutcomeAndTheStatusAndNothingIsStored) {
    MailMessage& message = messages_.front();
    message.Sender = "refusal@tarvel.test";
    message.Recipients = {"first@tarvel.test", "nobody@refused.invalid"};
    message.ToHeader = "<first@tarvel.test;nobody@refused.invalid>";
    message.Subject = "Refused";
    message.Body = "Never delivered\r\n";

    SendDriver driver(messages_);
    const RunResult run = driver.Run("127.0.0.1", server_.Port(), SendLimit);

    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.outcome, SendOutcome::Refusal("550 No such user here\r\n"));
    EXPECT_EQ(run.shown, "550 No such user here\r\n");
    EXPECT_EQ(driver.Session().State(), SessionState::Idle);
    EXPECT_EQ(driver.Signals().BytesSent.load(), 0) << "no message text may follow a refused recipient";
    EXPECT_TRUE(server_.From(message.Sender).empty());
}

TEST_F(SmtpDelivery, SecondSendOverTheSameComponentDeliversAfresh) {
    MailMessage& message = messages_.front();
    message.Sender = "again@tarvel.test";
    message.Recipients = {"first@tarvel.test"};
    message.ToHeader = "<first@tarvel.test>";
    message.Subject = "Twice";
    message.Body = "Same text twice\r\n";
    const std::string expected = Written(message) + std::string(CRLF);

    SendDriver driver(messages_);
    const RunResult first = driver.Run("127.0.0.1", server_.Port(), SendLimit);
    EXPECT_EQ(first.outcome, SendOutcome::Accept());
    EXPECT_EQ(driver.Sockets().SocketHandle(), -1) << "the end of a send leaves no socket behind";
    const RunResult second = driver.Run("127.0.0.1", server_.Port(), SendLimit);
    EXPECT_TRUE(second.ended);
    EXPECT_EQ(second.outcome, SendOutcome::Accept());

    const std::vector<StoredMessage> stored = server_.From(message.Sender);
    ASSERT_EQ(stored.size(), 2u) << "messages stored from " << message.Sender;
    std::string ids[2];
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_TRUE(SameBytes(tarvel::test::WithoutStampLines(stored[i].content, &ids[i]), expected));
    EXPECT_NE(ids[0], ids[1]) << "each send has a Message-ID of its own";
}

} // namespace
