// The secure part of the SMTP session as transcripts: EHLO, STARTTLS and the handshake request, the
// log-on with PLAIN and LOGIN, and every way it can fail without a byte of mail going out in the clear.
#include "core/smtp/session_transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel {
namespace {

using test::C;
using test::Closed;
using test::ExpectedWire;
using test::MessageText;
using test::S;
using test::ScriptedConnection;
using test::Turn;
using enum SessionState;

const Turn Tls{false, ScriptedConnection::TlsEntry};

const std::string EhloStartTls = "250-mx.example.org\r\n250-PIPELINING\r\n250-STARTTLS\r\n250 8BITMIME\r\n";
const std::string EhloAuthBoth = "250-mx.example.org\r\n250-AUTH LOGIN PLAIN\r\n250 SIZE 10240000\r\n";
const std::string EhloAuthLogin = "250-mx.example.org\r\n250-AUTH=LOGIN\r\n250 HELP\r\n";
const std::string EhloNothing = "250-mx.example.org\r\n250 SIZE\r\n";
// base64 of NUL "ann" NUL "s3cret"
const std::string AuthPlain = "AUTH PLAIN AGFubgBzM2NyZXQ=";

class SecureSessionTest : public test::SessionFixture {
protected:
    SecureSessionTest() {
        session.SetStatusSink([this](std::string_view text) { statuses.emplace_back(text); });
    }
    void Secure(SecurityMode mode, std::string user = "ann", std::string password = "s3cret") {
        session.SetSecurity(SessionSecurity{mode, std::move(user), std::move(password)});
    }
    // From the greeting to the encrypted EHLO of a STARTTLS session.
    void PlayToEncryptedEhlo() {
        Start();
        Play({S("220 mx.example.org ESMTP\r\n"), C("EHLO testhost"), S(EhloStartTls), C("STARTTLS"),
              S("220 2.0.0 Ready to start TLS\r\n"), Tls, C("EHLO testhost")});
    }
    void PlayMailFromToEnd() {
        Play({S("250 ok\r\n"), C("RCPT TO: <ann@example.com>"), S("250 ok\r\n"), C("DATA"), S("354 go\r\n"),
              MessageText, S("250 queued\r\n"), C("QUIT"), S("221 bye\r\n"), Closed});
        EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
        EXPECT_EQ(connection.Wire(), ExpectedWire(Message()));
        EXPECT_EQ(session.State(), Idle);
    }

    std::vector<std::string> statuses;
};

TEST_F(SecureSessionTest, StartTlsThenAuthPlainDeliversTheMessage) {
    Secure(SecurityMode::StartTls);
    PlayToEncryptedEhlo();
    ASSERT_EQ(connection.tlsRequests.size(), 1u);
    EXPECT_EQ(connection.tlsRequests[0].serverName, "mx.example.org");
    // Every byte received in the clear was handed to the session: nothing was left for TLS to misread.
    EXPECT_EQ(connection.tlsRequests[0].plaintextConsumed,
              std::string("220 mx.example.org ESMTP\r\n").size() + EhloStartTls.size() +
                  std::string("220 2.0.0 Ready to start TLS\r\n").size());
    EXPECT_EQ(connection.tlsRequests[0].cancel, &state.SendAborted);
    Play({S(EhloAuthBoth), C(AuthPlain), S("235 2.7.0 Authentication successful\r\n"),
          C("MAIL FROM: <me@example.org>")});
    PlayMailFromToEnd();
    EXPECT_EQ(statuses, (std::vector<std::string>{"Connecting securely...", "Logging on..."}));
}

TEST_F(SecureSessionTest, AuthLoginWhenPlainIsNotOffered) {
    Secure(SecurityMode::StartTls);
    PlayToEncryptedEhlo();
    Play({S(EhloAuthLogin), C("AUTH LOGIN"), S("334 VXNlcm5hbWU6\r\n"), C("YW5u"), S("334 UGFzc3dvcmQ6\r\n"),
          C("czNjcmV0"), S("235 ok\r\n"), C("MAIL FROM: <me@example.org>")});
    PlayMailFromToEnd();
}

TEST_F(SecureSessionTest, ImplicitTlsHandshakesBeforeTheGreeting) {
    Secure(SecurityMode::Implicit);
    Start();
    Play({Tls, S("220 mx.example.org ESMTP\r\n"), C("EHLO testhost"), S(EhloAuthBoth), C(AuthPlain),
          S("235 ok\r\n"), C("MAIL FROM: <me@example.org>")});
    PlayMailFromToEnd();
    EXPECT_EQ(connection.tlsRequests.at(0).plaintextConsumed, 0u);
}

TEST_F(SecureSessionTest, EncryptionWithoutUserSkipsTheLogOn) {
    Secure(SecurityMode::Implicit, "", "");
    Start();
    Play({Tls, S("220 hi\r\n"), C("EHLO testhost"), S(EhloAuthBoth), C("MAIL FROM: <me@example.org>")});
    PlayMailFromToEnd();
    EXPECT_EQ(statuses, (std::vector<std::string>{"Connecting securely..."}));
}

// Each case: the security asked for, the turns after Start, and the outcome they must leave.
struct Refusal {
    const char* name;
    SecurityMode mode;
    std::string user;
    std::vector<Turn> turns;
    SendOutcome outcome;
};

TEST_F(SecureSessionTest, RefusalsEndTheSessionWithAClearStatusAndNoMail) {
    const std::vector<Refusal> cases = {
        {"no STARTTLS offered",
         SecurityMode::StartTls,
         "ann",
         {S("220 hi\r\n"), C("EHLO testhost"), S(EhloAuthBoth), C("QUIT")},
         SendOutcome::Failure(NoStartTlsText)},
        // Before the stream is encrypted the server's words are anyone's: only the code is shown.
        {"STARTTLS refused",
         SecurityMode::StartTls,
         "",
         {S("220 hi\r\n"), C("EHLO testhost"), S(EhloStartTls), C("STARTTLS"),
          S("454 Password expired, re-enter it at http://evil.example/\r\n"), C("QUIT")},
         SendOutcome::Refusal("The server refused to start encryption (454)")},
        {"EHLO refused",
         SecurityMode::StartTls,
         "",
         {S("220 hi\r\n"), C("EHLO testhost"), S("502 5.5.2 Error: command not recognized\r\n"), C("QUIT")},
         SendOutcome::Refusal("The server refused to start encryption (502)")},
        {"greeting refused",
         SecurityMode::StartTls,
         "ann",
         {S("554 5.3.2 call 555-0100 to unlock\r\n"), C("QUIT")},
         SendOutcome::Refusal("The server refused to start encryption (554)")},
        {"wrong password",
         SecurityMode::Implicit,
         "ann",
         {Tls, S("220 hi\r\n"), C("EHLO testhost"), S(EhloAuthBoth), C(AuthPlain),
          S("535 5.7.8 Error: authentication failed: bad credentials\r\n"), C("QUIT")},
         SendOutcome::Refusal("535 5.7.8 Error: authentication failed: bad credentials\r\n")},
        {"wrong password with LOGIN",
         SecurityMode::Implicit,
         "ann",
         {Tls, S("220 hi\r\n"), C("EHLO testhost"), S(EhloAuthLogin), C("AUTH LOGIN"),
          S("334 VXNlcm5hbWU6\r\n"), C("YW5u"), S("334 UGFzc3dvcmQ6\r\n"), C("czNjcmV0"), S("535 no\r\n"),
          C("QUIT")},
         SendOutcome::Refusal("535 no\r\n")},
        {"no log-on offered",
         SecurityMode::Implicit,
         "ann",
         {Tls, S("220 hi\r\n"), C("EHLO testhost"), S(EhloNothing), C("QUIT")},
         SendOutcome::Failure(NoAuthMechanismText)},
        {"log-on asked for without encryption",
         SecurityMode::None,
         "ann",
         {S("220 hi\r\n"), C("EHLO testhost"), S(EhloAuthBoth), C("QUIT")},
         SendOutcome::Failure(NoAuthWithoutTlsText)},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedConnection conn;
        MessageList list(1);
        list[0] = Message();
        SendSignals sendState;
        SmtpSession s(conn, list, sendState);
        s.SetSecurity(SessionSecurity{c.mode, c.user, "s3cret"});
        ASSERT_TRUE(s.Start("mx.example.org", "587"));
        const std::vector<std::string> expected = FeedServerTurns(s, c.turns);
        EXPECT_EQ(conn.Log(), expected);
        EXPECT_EQ(list[0].Outcome, c.outcome);
        EXPECT_EQ(conn.Wire(), "") << "no message text went out";
        EXPECT_EQ(s.State(), Quit);
    }
}

TEST_F(SecureSessionTest, TheLogOnUsesOnlyWhatTheEncryptedEhloOffers) {
    const struct {
        const char* name;
        std::string plainEhlo;     // offered before TLS: forgotten with the handshake
        std::string encryptedEhlo; // what counts
        bool staysPlain;           // the stream says it is not encrypted after all
        std::vector<Turn> turns;   // after the encrypted EHLO
        SendOutcome outcome;       // none: the log-on went on
    } cases[] = {
        {"LOGIN only after TLS",
         "250-mx\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n",
         EhloAuthLogin,
         false,
         {S(EhloAuthLogin), C("AUTH LOGIN"), S("334 VXNlcm5hbWU6\r\n"), C("YW5u")},
         {}},
        {"no AUTH after TLS",
         "250-mx\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n",
         EhloNothing,
         false,
         {S(EhloNothing), C("QUIT")},
         SendOutcome::Failure(NoAuthMechanismText)},
        {"stream not encrypted",
         EhloStartTls,
         EhloAuthBoth,
         true,
         {S(EhloAuthBoth), Closed},
         SendOutcome::Failure(NoAuthWithoutTlsText)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedConnection conn;
        conn.staysPlain = c.staysPlain;
        MessageList list(1);
        list[0] = Message();
        SendSignals sendState;
        SmtpSession s(conn, list, sendState);
        s.SetSecurity(SessionSecurity{SecurityMode::StartTls, "ann", "s3cret"});
        ASSERT_TRUE(s.Start("mx.example.org", "587"));
        std::vector<Turn> turns = {S("220 hi\r\n"),   C("EHLO testhost"), S(c.plainEhlo),
                                   C("STARTTLS"),     S("220 go\r\n"),    Tls,
                                   C("EHLO testhost")};
        turns.insert(turns.end(), c.turns.begin(), c.turns.end());
        const std::vector<std::string> expected = FeedServerTurns(s, turns);
        EXPECT_EQ(conn.Log(), expected);
        EXPECT_EQ(list[0].Outcome, c.outcome);
    }
}

TEST_F(SecureSessionTest, ANulInTheUserNameOrPasswordIsRefusedBeforeAnyConnect) {
    for (const auto& [user, password] : {std::pair{std::string("ann\0x", 5), std::string("s3cret")},
                                         std::pair{std::string("ann"), std::string("s3\0cret", 7)}}) {
        Secure(SecurityMode::StartTls, user, password);
        EXPECT_FALSE(session.Start("mx.example.org", "587"));
        EXPECT_EQ(Message().Outcome, SendOutcome::Failure(NulInCredentialsText));
        EXPECT_EQ(connection.connects, 0);
        EXPECT_TRUE(state.SendAborted.exchange(false));
    }
}

TEST_F(SecureSessionTest, TextBehindTheStartTlsReplyIsRefusedBeforeAnyHandshake) {
    Secure(SecurityMode::StartTls);
    Start();
    Play({S("220 hi\r\n"), C("EHLO testhost"), S(EhloStartTls), C("STARTTLS"),
          S("220 go ahead\r\n250-mx.example.org\r\n250 AUTH PLAIN\r\n"), Closed});
    EXPECT_TRUE(connection.tlsRequests.empty());
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure(InjectedPlaintextText));
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(session.State(), Idle);
}

TEST_F(SecureSessionTest, FailedHandshakeClosesTheConnectionWithItsText) {
    Secure(SecurityMode::StartTls);
    connection.tlsFailure = "The server's certificate is not trusted";
    Start();
    Play({S("220 hi\r\n"), C("EHLO testhost"), S(EhloStartTls), C("STARTTLS"), S("220 go\r\n"), Tls, Closed,
          S("250 late\r\n")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("The server's certificate is not trusted"));
    EXPECT_TRUE(state.SendAborted);
    EXPECT_EQ(session.State(), Idle);
}

TEST_F(SecureSessionTest, FailedImplicitHandshakeEndsTheStart) {
    Secure(SecurityMode::Implicit);
    connection.tlsFailure = "The connection was closed during the handshake";
    EXPECT_FALSE(session.Start("mx.example.org", "465"));
    Play({Tls, Closed});
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("The connection was closed during the handshake"));
    EXPECT_EQ(session.State(), Idle);
}

TEST_F(SecureSessionTest, CancelDuringTheHandshakeLeavesNoFailureText) {
    Secure(SecurityMode::StartTls);
    connection.duringTls = [this] { state.SendAborted = true; };
    Start();
    Play({S("220 hi\r\n"), C("EHLO testhost"), S(EhloStartTls), C("STARTTLS"), S("220 go\r\n"), Tls, Closed});
    EXPECT_EQ(Message().Outcome, SendOutcome{});
    EXPECT_EQ(session.State(), Idle);
}

TEST_F(SecureSessionTest, NoneWithoutUserNeverAsksForTls) {
    Secure(SecurityMode::None, "", "");
    Start();
    Play({S("220 hi\r\n"), C("HELO testhost"), S("250-mx\r\n250 STARTTLS\r\n"),
          C("MAIL FROM: <me@example.org>")});
    PlayMailFromToEnd();
    EXPECT_TRUE(connection.tlsRequests.empty());
    EXPECT_TRUE(statuses.empty());
}

TEST(EhloOffer, KeywordsAreReadFromTheLinesAfterTheFirst) {
    const struct {
        std::string reply;
        bool startTls, plain, login;
    } cases[] = {
        {EhloStartTls, true, false, false},
        {EhloAuthBoth, false, true, true},
        {EhloAuthLogin, false, false, true},
        {"250-starttls.example.org\r\n250 SIZE\r\n", false, false, false}, // the server's name is no keyword
        {"250-mx\r\n250-auth plain\r\n250 starttls\r\n", true, true, false},
        {"250-mx\r\n250-AUTH CRAM-MD5 PLAINX\r\n250 STARTTLSX\r\n", false, false, false},
        {"250 mx\r\n", false, false, false},
    };
    for (const auto& c : cases) {
        const EhloOffer offer = ParseEhloOffer(c.reply);
        EXPECT_EQ(offer.startTls, c.startTls) << c.reply;
        EXPECT_EQ(offer.authPlain, c.plain) << c.reply;
        EXPECT_EQ(offer.authLogin, c.login) << c.reply;
    }
}

TEST(SaslTexts, Base64AndTheLogOnLines) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [in, out] : vectors) {
        EXPECT_EQ(Base64(in), out) << in;
        EXPECT_EQ(Base64Line(in).View(), out + "\r\n") << in;
    }
    // Longer than one 57-byte group of the line encoder, and no line break inside.
    std::string sixty;
    for (int i = 0; i < 20; ++i)
        sixty += "YWFh";
    EXPECT_EQ(Base64(std::string(60, 'a')), sixty);
    // The user name and password as UTF-8, as they stand: "Jürgen", "pässwörd".
    const Secret plain = AuthCommand(AuthMechanism::Plain, "J\xC3\xBCrgen", "p\xC3\xA4ssw\xC3\xB6rd");
    EXPECT_EQ(plain.View(), "AUTH PLAIN AErDvHJnZW4AcMOkc3N3w7ZyZA==\r\n");
    EXPECT_EQ(plain.Size(), plain.Capacity()) << "the line grew after its one reservation";
    EXPECT_EQ(AuthCommand(AuthMechanism::Plain, "ann", "s3cret").View(), AuthPlain + "\r\n");
    EXPECT_EQ(AuthCommand(AuthMechanism::Login, "ann", "s3cret").View(), "AUTH LOGIN\r\n");
}

TEST(SecretText, EveryByteIsWipedWhenItLetsGo) {
    // A short secret, the kind std::string keeps inside the object, where a move used to leave it.
    Secret source("s3cret");
    Secret moved(std::move(source));
    const auto* object = reinterpret_cast<const char*>(&source);
    EXPECT_EQ(std::string_view(object, sizeof source).find("s3cret"), std::string_view::npos);
    EXPECT_TRUE(source.View().empty());
    EXPECT_EQ(moved.View(), "s3cret");
    // Cleared: the whole buffer, not only the bytes in use; assigned over: the old buffer is wiped too.
    moved.Append(" and more");
    const char* buffer = moved.Data();
    const std::size_t capacity = moved.Capacity();
    moved.Clear();
    EXPECT_EQ(std::string(buffer, capacity), std::string(capacity, '\0'));
    std::string password = "from the store";
    const Secret adopted(std::move(password));
    EXPECT_EQ(adopted.View(), "from the store");
    EXPECT_TRUE(password.empty());
}

} // namespace
} // namespace tarvel
