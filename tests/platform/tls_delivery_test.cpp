// Whole secure sends through the socket component, the SChannel layer and the SMTP session to aiosmtpd
// with STARTTLS, TLS from the first byte and a log-on; certificates that fail the check go to the
// trust question; the password comes from Credential Manager and lands in no file.
// Run through run_with_tls_servers.py, which makes the certificates and starts the servers.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/errors/winsock_errors.h"
#include "platform/credentials.h"
#include "support/send_driver.h"
#include "core/smtp/reply_worker.h"
#include "core/smtp/smtp_session.h"
#include "core/smtp/socket_writer.h"
#include "platform/client_socket.h"
#include "platform/tls_connection.h"
#include "support/temp_folder.h"
#include "python_servers.h"

namespace tarvel {
namespace {

constexpr std::chrono::milliseconds SendLimit{60000};
const std::string User = "ann";
const std::string Password = "s3cret pass";

using test::ReadWhole;

std::string Folder() {
    return test::ServerFolder("TARVEL_TLS_FOLDER");
}

std::map<std::string, std::string> ServerInfo() {
    return test::ServerInfo(Folder());
}

// The stored message whose envelope names `sender`; empty when the server stored none.
std::string StoredFrom(const std::string& sender) {
    for (int n = 1;; ++n) {
        const std::string base = Folder() + "\\message-" + std::to_string(n);
        if (GetFileAttributesA((base + ".envelope").c_str()) == INVALID_FILE_ATTRIBUTES) return {};
        if (ReadWhole(base + ".envelope").starts_with("MAIL FROM: " + sender + "\n"))
            return ReadWhole(base + ".eml");
    }
}

// One send through the send flow as the window drives it, with the TLS layer under the session.
class SecureSend {
public:
    explicit SecureSend(MessageList& messages) : driver_(messages) {}

    SendOutcome Run(const std::string& server, const std::string& port, SessionSecurity security) {
        driver_.SetSecurity(security);
        const bench::RunResult run = driver_.Run(server, port, SendLimit);
        EXPECT_TRUE(run.ended) << "the send did not end";
        WipeSecret(security.password);
        return run.outcome;
    }
    TlsConnection& Tls() { return driver_.Tls(); }
    bench::SendDriver& Driver() { return driver_; }

private:
    bench::SendDriver driver_;
};

class TlsDelivery : public ::testing::Test {
protected:
    // The test CA in the user's root store for the whole program; removed again however it ends.
    static void SetUpTestSuite() {
        ca_ = std::make_unique<test::TrustedTestCa>(ReadWhole(Folder() + "\\ca.der"));
    }
    static void TearDownTestSuite() { ca_.reset(); }

    void SetUp() override {
        ASSERT_FALSE(Folder().empty()) << "run through run_with_tls_servers.py";
        ASSERT_TRUE(ca_->Added()) << "the test CA could not be added to the user's root store";
        info_ = ServerInfo();
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        sender_ = std::string(test->name()) + "-" + std::to_string(GetCurrentProcessId()) + "@example.org";
        target_ = CredentialTarget("tarvel-test-" + std::to_string(GetCurrentProcessId()) + "-" + User,
                                   "localhost");
        messages_.resize(1);
        MailMessage& m = messages_[0];
        m.Sender = sender_;
        m.ToHeader = "Bob <bob@example.org>";
        m.Recipients = {"bob@example.org"};
        m.Subject = "Secure";
        m.Body = "Through TLS.\r\n.\r\nA dot line above.\r\n";
    }
    void TearDown() override { DeletePassword(target_); }

    SessionSecurity Security(SecurityMode mode, std::string password = Password) {
        return SessionSecurity{mode, User, std::move(password)};
    }
    std::string Expected() {
        struct Plain : MessageOutput {
            std::string bytes;
            void WriteLine(std::string_view piece) override { bytes += piece; }
            void WriteBlock(std::string_view text) override {
                bytes += text;
                bytes += "\r\n";
            }
        } output;
        const std::atomic<bool> never{false};
        WriteMessage(messages_[0], output, never);
        // The server keeps the line end before the end-of-data line.
        return output.bytes + "\r\n";
    }

    static std::unique_ptr<test::TrustedTestCa> ca_;
    std::map<std::string, std::string> info_;
    std::string sender_;
    std::string target_;
    MessageList messages_;
};
std::unique_ptr<test::TrustedTestCa> TlsDelivery::ca_;

TEST_F(TlsDelivery, StartTlsAndImplicitTlsDeliverTheMessageByteForByte) {
    // The password goes through Credential Manager as the program keeps it.
    ASSERT_EQ(StorePassword(target_, Password), "");
    for (const auto& [server, mode] :
         {std::pair{"starttls", SecurityMode::StartTls}, std::pair{"implicit", SecurityMode::Implicit},
          std::pair{"clientcert", SecurityMode::StartTls}}) {
        SCOPED_TRACE(server);
        messages_[0].Sender = std::string(server) + "-" + sender_;
        SecureSend send(messages_);
        std::optional<std::string> password = ReadPassword(target_);
        ASSERT_TRUE(password.has_value());
        SessionSecurity security = Security(mode, *password);
        WipeSecret(*password);
        EXPECT_EQ(send.Run("localhost", info_[server], std::move(security)), SendOutcome::Accept());
        EXPECT_GT(send.Tls().TextRecords(), 0u) << "the message text did not go through TLS records";
        EXPECT_EQ(StoredFrom(messages_[0].Sender), Expected());
    }
}

TEST_F(TlsDelivery, AttachmentOfManyBuffersGoesAsFourRecordsToASendAndArrivesByteForByte) {
    test::TempFolder folder;
    std::string bytes(300 * 1024, '\0');
    unsigned state = 2463534242u;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state >> 24);
    }
    ASSERT_TRUE(test::TempFolder::PutFile("noise.bin", bytes));
    messages_[0].Attachments = {"noise.bin"};
    messages_[0].XAttachments = "noise.bin";
    SecureSend send(messages_);
    EXPECT_EQ(send.Run("localhost", info_["starttls"], Security(SecurityMode::StartTls)),
              SendOutcome::Accept());
    EXPECT_EQ(StoredFrom(sender_), Expected());
    // Each of the writer's full buffers is encrypted as four records that go out together; only the
    // last, partly filled one may have fewer. One record or one line to a send would be far more batches.
    const std::uint64_t batches = send.Tls().TextBatches();
    const std::uint64_t records = send.Tls().TextRecords();
    const std::uint64_t buffers = (Expected().size() + SocketWriter::Capacity - 1) / SocketWriter::Capacity;
    EXPECT_GE(batches, buffers);
    EXPECT_LE(batches, buffers + 1);
    EXPECT_GT(records, 4 * (batches - 1)) << batches << " batches";
    EXPECT_LE(records, 4 * batches);
}

TEST_F(TlsDelivery, AnEarlyReplyThenGarbageDuringALargeMessageEndEverySendWithOneOfThem) {
    // The server answers after 1 MiB of 64 MiB and then sends bytes that are no TLS record, while this
    // side still encrypts and writes: the window thread decrypts what arrives while the writer encrypts.
    test::TempFolder folder;
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7919 >> 3);
    std::string bytes;
    for (int i = 0; i < 64; ++i)
        bytes += block;
    ASSERT_TRUE(test::TempFolder::PutFile("large.bin", bytes));
    messages_[0].Attachments = {"large.bin"};
    messages_[0].XAttachments = "large.bin";
    for (int run = 0; run < 100; ++run) {
        SCOPED_TRACE(run);
        SecureSend send(messages_);
        const SendOutcome outcome =
            send.Run("localhost", info_["early"], SessionSecurity{SecurityMode::StartTls, "", ""});
        // The garbage breaks the stream while the writer is still at work, and the transfer stops. The
        // session then hears first of the early reply (read before the garbage) or of the broken stream:
        // either way the send ends with one of the two, never accepted and never without a reason.
        const SendOutcome early = SendOutcome::Refusal("554 5.7.0 early refusal\r\n");
        const SendOutcome broken = SendOutcome::Failure(WinSockErrorText(WSAECONNABORTED));
        ASSERT_TRUE(outcome == early || outcome == broken) << outcome;
    }
}

TEST_F(TlsDelivery, RefusalsShowTheirReasonAndStoreNothing) {
    const struct {
        const char* server;
        SecurityMode mode;
        std::string password;
        SendOutcome outcome; // no text: the handshake failed, and the text must say so
    } cases[] = {
        {"starttls", SecurityMode::StartTls, "wrong",
         SendOutcome::Refusal("535 5.7.8 Authentication credentials invalid\r\n")},
        {"plain", SecurityMode::StartTls, Password, SendOutcome::Failure(NoStartTlsText)},
        {"plain", SecurityMode::Implicit, Password,
         SendOutcome::Failure("")}, // a plain greeting is no TLS handshake
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server + std::string(" ") + std::to_string(static_cast<int>(c.mode)));
        SecureSend send(messages_);
        const SendOutcome outcome = send.Run("localhost", info_[c.server], Security(c.mode, c.password));
        EXPECT_EQ(outcome.kind, c.outcome.kind) << outcome;
        if (c.outcome.text.empty())
            EXPECT_TRUE(outcome.text.starts_with("The encrypted connection could not be set up")) << outcome;
        else
            EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(StoredFrom(sender_), "");
    }
}

TEST_F(TlsDelivery, CertificatesThatFailTheCheckAreAskedAboutAndTrustedByFingerprint) {
    std::map<std::string, std::string> trusted; // what zembrix.ini's [Trusted] would hold
    int asked = 0;
    bool answer = false;
    CertificateReport lastReport;
    auto send = [&](const std::string& server) {
        SecureSend s(messages_);
        s.Driver().OnTrustQuestion = [&](const std::string& name,
                                         const CertificateReport& report) -> std::optional<bool> {
            // Asked with the handshake over and no lock held: the stream waits, usable by nobody.
            EXPECT_EQ(s.Tls().CurrentState(), TlsConnection::State::Undecided);
            if (trusted.count(name) && trusted[name] == report.sha256) return true;
            ++asked;
            lastReport = report;
            if (answer) trusted[name] = report.sha256;
            return answer;
        };
        return s.Run("localhost", info_[server], Security(SecurityMode::StartTls));
    };

    // Unknown authority: cancelled, nothing sent.
    SendOutcome outcome = send("unknown");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(outcome.kind, SendOutcome::Kind::Failed) << outcome;
    EXPECT_TRUE(outcome.text.starts_with("The server's certificate was not accepted: The certificate"))
        << outcome;
    EXPECT_EQ(lastReport.sha256, info_["unknown-sha256"]);
    EXPECT_NE(lastReport.subject.find("localhost"), std::string::npos) << lastReport.subject;
    EXPECT_NE(lastReport.issuer.find("untrusted-ca"), std::string::npos) << lastReport.issuer;
    EXPECT_FALSE(lastReport.validFrom.empty());
    EXPECT_EQ(StoredFrom(sender_), "");

    // Trusted: sent; the second send is not asked about.
    answer = true;
    EXPECT_EQ(send("unknown"), SendOutcome::Accept());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(send("unknown"), SendOutcome::Accept());
    EXPECT_EQ(asked, 2);

    // Another certificate for the same name is asked about again.
    answer = false;
    outcome = send("changed");
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(lastReport.sha256, info_["changed-sha256"]);

    // A trusted authority but another name: asked, refused.
    outcome = send("wrong");
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(outcome, SendOutcome::Failure("The server's certificate was not accepted: The certificate does "
                                            "not belong to the server name localhost."));
}

TEST_F(TlsDelivery, GreetingThatArrivesWhileTheCertificateIsAskedAboutIsRead) {
    // With TLS from the first byte the server greets once its side of the handshake is done: here while
    // this side still asks about the certificate, so the greeting's data event comes before the
    // handshake has ended.
    SecureSend send(messages_);
    int asked = 0;
    bool greeted = false;
    send.Driver().OnTrustQuestion = [&](const std::string&, const CertificateReport&) -> std::optional<bool> {
        ++asked;
        const SOCKET handle = static_cast<SOCKET>(send.Tls().SocketHandle());
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        char first = 0;
        while (!greeted && std::chrono::steady_clock::now() < end) {
            greeted = recv(handle, &first, 1, MSG_PEEK) == 1;
            if (!greeted) Sleep(10);
        }
        Sleep(200); // the user reads the question meanwhile
        return true;
    };
    EXPECT_EQ(send.Run("localhost", info_["late"], Security(SecurityMode::Implicit)), SendOutcome::Accept());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(StoredFrom(sender_), Expected());
}

TEST_F(TlsDelivery, PasswordIsInNoFileOfThePrefixAfterASend) {
    ASSERT_EQ(StorePassword(target_, Password), "");
    std::optional<std::string> password = ReadPassword(target_);
    ASSERT_EQ(password, Password);
    SecureSend send(messages_);
    EXPECT_EQ(send.Run("localhost", info_["starttls"], Security(SecurityMode::StartTls, *password)),
              SendOutcome::Accept());
    WipeSecret(*password);
    // Wine writes its registry files a moment after a change: wait for them to hold our entry's target.
    const char* prefix = std::getenv("WINEPREFIX");
    ASSERT_NE(prefix, nullptr);
    std::string root = std::string("Z:") + prefix;
    for (char& c : root)
        if (c == '/') c = '\\';
    const std::string files[] = {root + "\\user.reg", root + "\\system.reg", root + "\\userdef.reg"};
    const std::string targetName = "tarvel-test-" + std::to_string(GetCurrentProcessId());
    for (int i = 0; i < 100 && ReadWhole(files[0]).find(targetName) == std::string::npos; ++i)
        Sleep(100);
    for (const std::string& file : files)
        EXPECT_EQ(ReadWhole(file).find(Password), std::string::npos) << file;
}

TEST(Credentials, StoredReadReplacedAndDeleted) {
    const std::string target =
        CredentialTarget("tarvel-test-" + std::to_string(GetCurrentProcessId()), "cred.example");
    EXPECT_EQ(target,
              "Tarvel Pro/smtp/tarvel-test-" + std::to_string(GetCurrentProcessId()) + "@cred.example");
    struct Cleanup {
        std::string t;
        ~Cleanup() { DeletePassword(t); }
    } cleanup{target};
    EXPECT_EQ(ReadPassword(target), std::nullopt);
    ASSERT_EQ(StorePassword(target, "first"), "");
    EXPECT_EQ(ReadPassword(target), "first");
    ASSERT_EQ(StorePassword(target, std::string("se\0cond", 7)), "");
    EXPECT_EQ(ReadPassword(target), std::string("se\0cond", 7));
    EXPECT_TRUE(DeletePassword(target));
    EXPECT_EQ(ReadPassword(target), std::nullopt);
    EXPECT_TRUE(DeletePassword(target)) << "deleting what is gone is no failure";
}

} // namespace
} // namespace tarvel
