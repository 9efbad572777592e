// The OAuth 2.0 log-on as transcripts: the mechanism chosen from the EHLO offer, the initial response
// on the AUTH line or after the 334 by the 512-octet rule, the 334 error answered per mechanism with
// the server's final words as the outcome, and Microsoft's 5.7.139.
#include "core/smtp/session_transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/oauth/sasl.h"

namespace tarvel {
namespace {

using oauth::BearerInitialResponse;
using oauth::BearerMechanism;
using test::C;
using test::S;
using test::ScriptedConnection;
using test::Turn;

const Turn Tls{false, ScriptedConnection::TlsEntry};
const std::string EhloBoth =
    "250-mx.example.org\r\n250-AUTH PLAIN LOGIN XOAUTH2 OAUTHBEARER\r\n250 8BITMIME\r\n";
const std::string EhloXOAuth2 = "250-mx.example.org\r\n250-AUTH PLAIN XOAUTH2\r\n250 SIZE\r\n";
const std::string EhloPassword = "250-mx.example.org\r\n250 AUTH PLAIN LOGIN\r\n";
const std::string Token = "ya29.a0token";
const std::string LongToken(3000, 'T');
const std::string User = "ann@example.org";

std::string Bearer(const std::string& token) {
    return BearerInitialResponse(BearerMechanism::OAuthBearer, User, token, "mx.example.org", 465);
}
std::string XOAuth2(const std::string& token) {
    return BearerInitialResponse(BearerMechanism::XOAuth2, User, token, "", 0);
}

// RFC 7628 section 3.2.2 and Google's 401, each in base64.
const std::string InvalidTokenJson =
    "eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NoZW1lcyI6ImJlYXJlciJ9"; // invalid_token
const std::string Google401Json = "eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=";
const std::string ScopeJson = "eyJzdGF0dXMiOiJpbnN1ZmZpY2llbnRfc2NvcGUifQ==";

struct LogOnCase {
    const char* name;
    SecurityMode mode;
    std::string token;
    std::vector<Turn> turns; // after the greeting, from the EHLO reply on
    SendOutcome outcome;     // None: logged on, the mail goes on to MAIL FROM
    bool tokenRefused = false;
};

class OAuthSessionTest : public test::SessionFixture {};

TEST_F(OAuthSessionTest, LogOnTranscripts) {
    const std::string MicrosoftRefusal =
        "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is "
        "disabled for the Tenant.\r\n";
    const std::vector<LogOnCase> cases = {
        {"OAUTHBEARER offered: taken, the response on the AUTH line",
         SecurityMode::Implicit,
         Token,
         {S(EhloBoth), C("AUTH OAUTHBEARER " + Bearer(Token)), S("235 2.7.0 Authentication successful\r\n"),
          C("MAIL FROM: <me@example.org>")},
         {}},
        {"XOAUTH2 only",
         SecurityMode::Implicit,
         Token,
         {S(EhloXOAuth2), C("AUTH XOAUTH2 " + XOAuth2(Token)), S("235 ok\r\n"),
          C("MAIL FROM: <me@example.org>")},
         {}},
        {"a 3,000-character token goes after the 334",
         SecurityMode::Implicit,
         LongToken,
         {S(EhloBoth), C("AUTH OAUTHBEARER"), S("334 \r\n"), C(Bearer(LongToken)), S("235 ok\r\n"),
          C("MAIL FROM: <me@example.org>")},
         {}},
        {"XOAUTH2 error challenge: an empty line, then the server's words",
         SecurityMode::Implicit,
         Token,
         {S(EhloXOAuth2), C("AUTH XOAUTH2 " + XOAuth2(Token)), S("334 " + Google401Json + "\r\n"), C(""),
          S("535 5.7.8 Username and Password not accepted\r\n"), C("QUIT")},
         SendOutcome::Refusal("535 5.7.8 Username and Password not accepted\r\n"),
         true},
        {"OAUTHBEARER error challenge: AQ==, then the server's words",
         SecurityMode::Implicit,
         Token,
         {S(EhloBoth), C("AUTH OAUTHBEARER " + Bearer(Token)), S("334 " + InvalidTokenJson + "\r\n"),
          C("AQ=="), S("535 5.7.8 Error: authentication failed\r\n"), C("QUIT")},
         SendOutcome::Refusal("535 5.7.8 Error: authentication failed\r\n"),
         true},
        {"an error that a new token does not mend",
         SecurityMode::Implicit,
         Token,
         {S(EhloBoth), C("AUTH OAUTHBEARER " + Bearer(Token)), S("334 " + ScopeJson + "\r\n"), C("AQ=="),
          S("535 no\r\n"), C("QUIT")},
         SendOutcome::Refusal("535 no\r\n")},
        {"the long token's AUTH refused before the 334",
         SecurityMode::Implicit,
         LongToken,
         {S(EhloXOAuth2), C("AUTH XOAUTH2"), S("504 5.5.4 Unrecognized authentication type\r\n"), C("QUIT")},
         SendOutcome::Refusal("504 5.5.4 Unrecognized authentication type\r\n")},
        {"Microsoft 365 with SMTP AUTH off",
         SecurityMode::Implicit,
         Token,
         {S(EhloXOAuth2), C("AUTH XOAUTH2 " + XOAuth2(Token)), S(MicrosoftRefusal), C("QUIT")},
         SendOutcome::Refusal(
             "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for "
             "the Tenant.\r\nAsk your Microsoft 365 administrator to allow authenticated SMTP "
             "(SMTP AUTH) for this mailbox.\r\n")},
        {"no OAuth mechanism offered",
         SecurityMode::Implicit,
         Token,
         {S(EhloPassword), C("QUIT")},
         SendOutcome::Failure(NoOAuthMechanismText)},
        {"never without encryption",
         SecurityMode::None,
         Token,
         {S(EhloBoth), C("QUIT")},
         SendOutcome::Failure(NoAuthWithoutTlsText)},
    };
    for (const LogOnCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedConnection conn;
        MessageList list(1);
        list[0] = Message();
        SendSignals sendState;
        SmtpSession s(conn, list, sendState);
        s.SetSecurity(SessionSecurity{c.mode, User, Secret(std::string_view(c.token)), LogOnMethod::OAuth2});
        ASSERT_TRUE(s.Start("mx.example.org", "465"));
        std::vector<Turn> turns = {S("220 hi\r\n"), C("EHLO testhost")};
        if (c.mode == SecurityMode::Implicit) turns.insert(turns.begin(), Tls);
        turns.insert(turns.end(), c.turns.begin(), c.turns.end());
        std::vector<std::string> expected = FeedServerTurns(s, turns);
        std::vector<std::string> log = conn.Log();
        // Where the handshake falls is the secure session tests' matter.
        std::erase(expected, std::string(ScriptedConnection::TlsEntry));
        std::erase(log, std::string(ScriptedConnection::TlsEntry));
        EXPECT_EQ(log, expected);
        EXPECT_EQ(list[0].Outcome, c.outcome);
        EXPECT_EQ(s.BearerTokenRefused(), c.tokenRefused);
        for (const std::string& line : log)
            EXPECT_LE(line.size(), line.rfind("AUTH ", 0) == 0 ? 512u : 8192u) << line.substr(0, 40);
    }
}

} // namespace
} // namespace tarvel
