// The send flow with the OAuth 2.0 log-on: the first send signs in in the browser while the time-out
// stands still, Cancel ends the wait at once, a token the server refuses as invalid is renewed and
// the mail goes again on a new connection, and a refused sign-in never connects.
#include "core/send/send_flow_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/oauth/sasl.h"

namespace tarvel {
namespace {

using test::Strings;

// The system as a sign-in sees it: a browser that answers when the test lets it, or on Cancel.
class BrowserSystem : public oauth::SignInSystem {
public:
    std::atomic<bool> waiting{false}, release{false};
    std::string answer = "code=c1"; // the redirect's query before "&state=..."
    std::deque<oauth::HttpResult> tokenServer;
    std::map<std::string, std::string> store;
    std::vector<std::string> events;

    std::string OpenBrowser(const std::string& url) override {
        const std::size_t at = url.find("state=") + 6;
        state_ = url.substr(at, url.find('&', at) - at);
        return {};
    }
    oauth::ListenResult Listen() override { return {50123, {}}; }
    oauth::WaitResult
    WaitForRedirect(std::chrono::milliseconds, const std::atomic<bool>& cancel,
                    const std::function<oauth::BrowserPage(std::string_view)>& page) override {
        waiting = true;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!release.load() && !cancel.load() && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        waiting = false;
        if (cancel.load()) return {oauth::WaitEnd::Cancelled, {}, {}};
        page("GET /?" + answer + "&state=" + state_ + " HTTP/1.1");
        return {oauth::WaitEnd::Request, {}, {}};
    }
    oauth::HttpResult PostForm(const std::string&, const std::string& form) override {
        events.push_back("post " + form.substr(11, form.find('&') - 11));
        oauth::HttpResult reply = tokenServer.front();
        tokenServer.pop_front();
        return reply;
    }
    oauth::TokenRead LoadToken(const std::string& target) override {
        const auto found = store.find(target);
        return found == store.end() ? oauth::TokenRead{} : oauth::TokenRead{true, found->second, {}};
    }
    std::string SaveToken(const std::string& target, const std::string& token) override {
        events.push_back("save " + token);
        store[target] = token;
        return {};
    }
    std::string DeleteToken(const std::string& target) override {
        store.erase(target);
        return {};
    }
    std::optional<std::string> RandomBytes(std::size_t count) override { return std::string(count, 'r'); }

private:
    std::string state_;
};

oauth::HttpResult Tokens(const std::string& access, const std::string& refresh) {
    return {200,
            R"({"token_type":"Bearer","expires_in":3600,"access_token":")" + access + "\"" +
                (refresh.empty() ? "" : R"(,"refresh_token":")" + refresh + "\"") + "}",
            {}};
}

const std::string User = "ann@example.org";
const std::string Target = "Tarvel Pro/oauth2/ann@example.org@localhost";
const std::string EhloOAuth = "250-mx\r\n250 AUTH PLAIN OAUTHBEARER XOAUTH2\r\n";

std::string AuthLine(const std::string& token) {
    return "AUTH OAUTHBEARER " +
           oauth::BearerInitialResponse(oauth::BearerMechanism::OAuthBearer, User, token, "mx.example.org",
                                        2525) +
           "\r\n";
}

class OAuthSendTest : public test::SendFlowTest {
protected:
    OAuthSendTest() {
        view.security = SessionSecurity{SecurityMode::Implicit, User, Secret(), LogOnMethod::OAuth2};
        OAuth2Settings oauth;
        oauth.Provider = OAuthProvider::Other;
        oauth.ClientId = "tarvel";
        oauth.AuthorizeUrl = "https://localhost/authorize";
        oauth.TokenUrl = "https://localhost/token";
        oauth.Scope = "smtp";
        view.oauth = {&signIn, oauth};
    }
    // The worker may still be asking the sign-in: it goes before the sign-in does.
    ~OAuthSendTest() override { flow.reset(); }

    bool Shown(const std::string& status) const {
        return std::find(view.log.begin(), view.log.end(), "status " + status) != view.log.end();
    }
    // From the greeting to the log-on line, on a connection the flow has just made.
    void LogOnWith(const std::string& token) {
        ASSERT_TRUE(ui.RunUntil([this] { return flow->Step() == SendStep::Exchanging; }));
        Server("220 mx ESMTP\r\n");
        Server(EhloOAuth);
        const Strings log = Log();
        EXPECT_EQ(log.back(), AuthLine(token));
    }
    void Deliver() {
        Server("235 2.7.0 ok\r\n");
        Server("250 ok\r\n");
        Server("250 ok\r\n");
        Server("354 go\r\n");
        Server("250 queued\r\n");
        Server("221 bye\r\n");
        WaitIdle();
        EXPECT_EQ(view.LastStatus(), "Mail has been sent!");
    }

    BrowserSystem system;
    oauth::SignIn signIn{system};
};

TEST_F(OAuthSendTest, TheFirstSendSignsInWhileTheTimeOutStandsStill) {
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
    EXPECT_EQ(system.events, (Strings{"post authorization_code", "save rt1"}));
    EXPECT_EQ(system.store[Target], "rt1");

    // The next send takes the token kept in memory: no browser, no token server.
    system.events.clear();
    system.release = false;
    flow->OnClick();
    LogOnWith("at1");
    Deliver();
    EXPECT_TRUE(system.events.empty());
}

TEST_F(OAuthSendTest, CancelEndsTheBrowserWaitAtOnceAndStoresNothing) {
    flow->OnClick();
    ASSERT_TRUE(ui.RunUntil([this] { return system.waiting.load() && view.busy; }));
    flow->OnClick(); // Cancel
    ASSERT_TRUE(ui.RunUntil([this] { return !system.waiting.load(); }));
    flow->OnTick();
    WaitIdle();
    EXPECT_EQ(view.LastStatus(), "Mail has been cancelled!");
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(system.store.empty());
    EXPECT_TRUE(system.events.empty());
}

TEST_F(OAuthSendTest, ATokenRefusedAsInvalidIsRenewedOnceOnANewConnection) {
    system.store[Target] = "rt0";
    system.tokenServer = {Tokens("at1", "rt1"), Tokens("at2", "")};
    flow->OnClick();
    LogOnWith("at1");
    EXPECT_TRUE(Shown("Renewing sign-in..."));
    Server("334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=\r\n"); // {"status":"invalid_token"}
    EXPECT_EQ(Log().back(), "AQ==\r\n");
    Server("535 5.7.8 Error: authentication failed\r\n");
    Server("221 bye\r\n");
    LogOnWith("at2");
    Deliver();
    EXPECT_EQ(system.events, (Strings{"post refresh_token", "save rt1", "post refresh_token"}));
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "Ending -> Connecting"), 1);

    // Refused again on the next send's second try: the server's words stand, no third connection.
    system.tokenServer = {Tokens("at3", "")};
    signIn.ForgetAccessToken();
    system.tokenServer.push_front(Tokens("at4", ""));
    flow->OnClick();
    LogOnWith("at4");
    Server("334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=\r\n");
    Server("535 5.7.8 Error: authentication failed\r\n");
    Server("221 bye\r\n");
    LogOnWith("at3");
    Server("334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=\r\n");
    Server("535 5.7.8 still no\r\n");
    Server("221 bye\r\n");
    WaitIdle();
    EXPECT_EQ(view.LastStatus(), "535 5.7.8 still no\r\n");
}

TEST_F(OAuthSendTest, ARefusedSignInSaysSoAndNeverConnects) {
    system.answer = "error=access_denied";
    system.release = true;
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
