// The send flow with the OAuth 2.0 log-on: the first send signs in while the time-out stands still,
// Cancel ends the browser wait, a token refused as invalid is renewed once on a new connection, and a
// refused sign-in never connects.
#include "core/send/send_flow_fixture.h"

#include <gtest/gtest.h>

#include "core/oauth/fake_sign_in.h"
#include "core/oauth/sasl.h"

namespace tarvel {
namespace {

using test::Strings;

const std::string User = "ann@example.org", Target = "Tarvel Pro/oauth2/ann@example.org@localhost";
const std::string InvalidToken = "334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=\r\n"; // {"status":"invalid_token"}
using test::Tokens;

class OAuthSendTest : public test::SendFlowTest {
protected:
    OAuthSendTest() {
        view.security = SessionSecurity{SecurityMode::Implicit, User, Secret(), LogOnMethod::OAuth2};
        view.oauth = {&signIn, test::LocalOAuth()};
    }
    // The worker may still be asking the sign-in: it goes first.
    ~OAuthSendTest() override { flow.reset(); }

    bool Shown(const std::string& status) const {
        return std::find(view.log.begin(), view.log.end(), "status " + status) != view.log.end();
    }
    // On the connection the flow has just made, from the greeting to the log-on line.
    void LogOnWith(const std::string& token) {
        ASSERT_TRUE(ui.RunUntil([this] { return flow->Step() == SendStep::Exchanging; }));
        Server("220 mx ESMTP\r\n");
        Server("250-mx\r\n250 AUTH PLAIN OAUTHBEARER XOAUTH2\r\n");
        EXPECT_EQ(Log().back(), "AUTH OAUTHBEARER " +
                                    oauth::BearerInitialResponse(oauth::BearerMechanism::OAuthBearer, User,
                                                                 token, "mx.example.org", 2525) +
                                    "\r\n");
    }
    void Refused(const std::string& words) {
        Server(InvalidToken);
        EXPECT_EQ(Log().back(), "AQ==\r\n");
        Server(words);
        Server("221 bye\r\n");
    }
    void Deliver() {
        for (const char* reply :
             {"235 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n", "221 bye\r\n"})
            Server(reply);
        WaitIdle();
        EXPECT_EQ(view.LastStatus(), "Mail has been sent!");
    }

    test::FakeSignInSystem system;
    oauth::SignIn signIn{system};
};

TEST_F(OAuthSendTest, TheFirstSendSignsInWhileTheTimeOutStandsStillAndTheNextUsesTheToken) {
    system.release = false;
    system.tokenServer = {Tokens("at1", "rt1")};
    flow->OnClick();
    ASSERT_TRUE(ui.RunUntil([this] { return system.waiting.load(); }));
    for (int i = 0; i < flow->TimeoutTicks() + 2; ++i)
        flow->OnTick();
    ui.RunPending();
    EXPECT_EQ(shared.IdleTicks.load(), 0) << "the browser's time counted as the server's";
    EXPECT_FALSE(shared.SendAborted.load());
    EXPECT_TRUE(Shown("Waiting for sign-in in your browser..."));
    EXPECT_TRUE(Log().empty()) << "connected before the token was there";
    system.release = true;
    LogOnWith("at1");
    Deliver();
    EXPECT_EQ(system.store[Target], "rt1");

    system.events.clear();
    flow->OnClick();
    LogOnWith("at1");
    Deliver();
    EXPECT_TRUE(system.events.empty()) << "the token kept in memory serves the next send";
}

TEST_F(OAuthSendTest, CancelEndsTheBrowserWaitAtOnceAndStoresNothing) {
    system.release = false;
    flow->OnClick();
    ASSERT_TRUE(ui.RunUntil([this] { return system.waiting.load() && view.busy; }));
    flow->OnClick(); // Cancel
    ASSERT_TRUE(ui.RunUntil([this] { return !system.waiting.load(); }));
    flow->OnTick();
    WaitIdle();
    EXPECT_EQ(view.LastStatus(), "Mail has been cancelled!");
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(system.events, (Strings{"browser"}));
}

TEST_F(OAuthSendTest, ATokenRefusedAsInvalidIsRenewedOnceOnANewConnection) {
    system.store[Target] = "rt0";
    system.tokenServer = {Tokens("at1", "rt1"), Tokens("at2", "")};
    flow->OnClick();
    LogOnWith("at1");
    EXPECT_TRUE(Shown("Renewing sign-in..."));
    Refused("535 5.7.8 Error: authentication failed\r\n");
    LogOnWith("at2");
    Deliver();
    EXPECT_EQ(system.events, (Strings{"post refresh_token", "save rt1", "post refresh_token"}));
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "Ending -> Connecting"), 1);

    // Refused on the second try as well: the server's words stand, and no third connection is made.
    signIn.ForgetAccessToken();
    system.tokenServer = {Tokens("at3", ""), Tokens("at4", "")};
    flow->OnClick();
    LogOnWith("at3");
    Refused("535 5.7.8 Error: authentication failed\r\n");
    LogOnWith("at4");
    Refused("535 5.7.8 still no\r\n");
    WaitIdle();
    EXPECT_EQ(view.LastStatus(), "535 5.7.8 still no\r\n");
}

TEST_F(OAuthSendTest, ARefusedSignInSaysSoAndNeverConnects) {
    system.answer = "error=access_denied";
    flow->OnClick();
    // The worker aborts the send before it reports back; the next tick ends it.
    ASSERT_TRUE(ui.RunUntil([this] { return shared.SendAborted.load(); }));
    flow->OnTick();
    WaitIdle();
    EXPECT_EQ(view.LastStatus(), "The sign-in was refused: access_denied");
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(system.store.empty());
}

} // namespace
} // namespace tarvel
