// The sign-in steps against a fake of the system: which of memory, renewal and browser each situation
// takes, what is stored or deleted and in which order, and what the browser's page and the status say.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/oauth/pkce.h"
#include "core/oauth/sign_in_flow.h"
#include "core/oauth/token_store.h"
#include "core/oauth/url.h"

using namespace tarvel;
using namespace tarvel::oauth;

namespace {

enum class Browser { Code, WrongState, Denied, Silent, UserCancels };

// What the sign-in asked of the system, in order, shortened to what a case checks.
class FakeSystem : public SignInSystem {
public:
    Browser browser = Browser::Code;
    std::deque<HttpResult> tokenServer;
    std::map<std::string, std::string> store;
    std::vector<std::string> events;
    std::string url, form;
    BrowserPage page;
    std::atomic<bool>* cancel = nullptr;
    std::chrono::steady_clock::time_point now{};

    std::string OpenBrowser(const std::string& u) override {
        url = u;
        events.push_back("browser");
        return {};
    }
    ListenResult Listen() override { return {50123, {}}; }
    WaitResult WaitForRedirect(std::chrono::milliseconds, const std::atomic<bool>& cancelled,
                               const std::function<BrowserPage(std::string_view)>& answer) override {
        const std::size_t at = url.find("state=") + 6;
        const std::string state = url.substr(at, url.find('&', at) - at);
        switch (browser) {
        case Browser::Silent:
            return {WaitEnd::TimedOut, {}, {}};
        case Browser::UserCancels:
            cancel->store(true);
            return {cancelled ? WaitEnd::Cancelled : WaitEnd::Failed, {}, {}};
        case Browser::WrongState:
            page = answer("GET /?code=c1&state=x" + state + " HTTP/1.1");
            break;
        case Browser::Denied:
            page = answer("GET /?error=access_denied&state=" + state + " HTTP/1.1");
            break;
        case Browser::Code:
            page = answer("GET /?code=c1&state=" + state + " HTTP/1.1");
            break;
        }
        return {WaitEnd::Request, "GET", {}};
    }
    HttpResult PostForm(const std::string&, const std::string& f) override {
        form = f;
        events.push_back("post " + f.substr(11, f.find('&') - 11));
        HttpResult reply = tokenServer.front();
        tokenServer.pop_front();
        return reply;
    }
    TokenRead LoadToken(const std::string& target) override {
        const auto found = store.find(target);
        return found == store.end() ? TokenRead{} : TokenRead{true, found->second, {}};
    }
    std::string SaveToken(const std::string& target, const std::string& token) override {
        events.push_back("save " + token);
        store[target] = token;
        return {};
    }
    std::string DeleteToken(const std::string& target) override {
        events.push_back("delete");
        store.erase(target);
        return {};
    }
    std::optional<std::string> RandomBytes(std::size_t count) override { return std::string(count, '\x5a'); }
    std::chrono::steady_clock::time_point Now() override { return now; }
};

HttpResult Tokens(const std::string& access, const std::string& refresh, int expires = 3600) {
    return {200,
            R"({"token_type":"Bearer","access_token":")" + access + R"(","expires_in":)" +
                std::to_string(expires) + (refresh.empty() ? "" : R"(,"refresh_token":")" + refresh + "\"") +
                "}",
            {}};
}

const HttpResult InvalidGrant{400, R"({"error":"invalid_grant","error_description":"revoked"})", {}};

OAuth2Settings Settings() {
    OAuth2Settings s;
    s.Provider = OAuthProvider::Other;
    s.ClientId = "tarvel";
    s.AuthorizeUrl = "https://localhost/authorize";
    s.TokenUrl = "https://localhost/token";
    s.Scope = "smtp";
    return s;
}

const std::string Target = "Tarvel Pro/oauth2/me@example.com@localhost";

} // namespace

TEST(SignInSteps, EachSituationTakesItsWay) {
    const struct {
        const char* name;
        bool stored;
        Browser browser;
        std::vector<HttpResult> tokenServer;
        std::vector<std::string> events;
        std::vector<std::string> statuses;
        TokenEnd end;
        std::string result; // the access token, or the error
        std::string storedAfter;
    } cases[] = {
        {"no token: the browser",
         false,
         Browser::Code,
         {Tokens("at1", "rt1")},
         {"browser", "post authorization_code", "save rt1"},
         {"Waiting for sign-in in your browser..."},
         TokenEnd::Ready,
         "at1",
         "rt1"},
        {"stored token: renewed without the browser, the rotated one stored",
         true,
         Browser::Code,
         {Tokens("at2", "rt2")},
         {"post refresh_token", "save rt2"},
         {"Renewing sign-in..."},
         TokenEnd::Ready,
         "at2",
         "rt2"},
        {"renewal keeps the stored token when none comes back",
         true,
         Browser::Code,
         {Tokens("at2", "")},
         {"post refresh_token"},
         {"Renewing sign-in..."},
         TokenEnd::Ready,
         "at2",
         "rt0"},
        {"invalid_grant: deleted, the browser once",
         true,
         Browser::Code,
         {InvalidGrant, Tokens("at3", "rt3")},
         {"post refresh_token", "delete", "browser", "post authorization_code", "save rt3"},
         {"Renewing sign-in...", "Waiting for sign-in in your browser..."},
         TokenEnd::Ready,
         "at3",
         "rt3"},
        {"invalid_grant, then the browser refused: nothing left",
         true,
         Browser::Denied,
         {InvalidGrant},
         {"post refresh_token", "delete", "browser"},
         {"Renewing sign-in...", "Waiting for sign-in in your browser..."},
         TokenEnd::Failed,
         "The sign-in was refused: access_denied",
         ""},
        {"another server error keeps the token",
         true,
         Browser::Code,
         {{503, "{}", {}}},
         {"post refresh_token"},
         {"Renewing sign-in..."},
         TokenEnd::Failed,
         "The sign-in server refused: HTTP 503",
         "rt0"},
        {"server unreachable",
         true,
         Browser::Code,
         {{0, "", "no route"}},
         {"post refresh_token"},
         {"Renewing sign-in..."},
         TokenEnd::Failed,
         "The sign-in server could not be reached: no route",
         "rt0"},
        {"wrong state: nothing posted or stored",
         false,
         Browser::WrongState,
         {},
         {"browser"},
         {"Waiting for sign-in in your browser..."},
         TokenEnd::Failed,
         "The browser's answer did not belong to this sign-in (wrong state); nothing was stored",
         ""},
        {"no answer in time",
         false,
         Browser::Silent,
         {},
         {"browser"},
         {"Waiting for sign-in in your browser..."},
         TokenEnd::Failed,
         "The sign-in was not completed in the browser within the time allowed",
         ""},
        {"cancel",
         false,
         Browser::UserCancels,
         {},
         {"browser"},
         {"Waiting for sign-in in your browser..."},
         TokenEnd::Cancelled,
         "The sign-in was cancelled",
         ""},
        {"code refused at the token URL: nothing stored",
         false,
         Browser::Code,
         {InvalidGrant},
         {"browser", "post authorization_code"},
         {"Waiting for sign-in in your browser..."},
         TokenEnd::Failed,
         "The sign-in server refused: invalid_grant (revoked)",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystem system;
        std::atomic<bool> cancel{false};
        system.cancel = &cancel;
        system.browser = c.browser;
        system.tokenServer.assign(c.tokenServer.begin(), c.tokenServer.end());
        if (c.stored) system.store[Target] = "rt0";
        std::vector<std::string> statuses, waits;
        SignIn signIn(system);
        const SignIn::Observer observer{[&](std::string_view s) { statuses.emplace_back(s); },
                                        [&](bool w) { waits.push_back(w ? "wait" : "done"); }, &cancel};

        const TokenOutcome outcome = signIn.AccessToken(Settings(), "me@example.com", observer);
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(outcome.end == TokenEnd::Ready ? outcome.accessToken : outcome.error, c.result);
        EXPECT_EQ(system.events, c.events);
        EXPECT_EQ(statuses, c.statuses);
        EXPECT_EQ(system.store.count(Target) ? system.store[Target] : "", c.storedAfter);
        EXPECT_TRUE(system.tokenServer.empty());
        const bool browserUsed = !c.statuses.empty() && c.statuses.back() != "Renewing sign-in...";
        const std::vector<std::string> expectedWaits =
            browserUsed ? std::vector<std::string>{"wait", "done"} : std::vector<std::string>{};
        EXPECT_EQ(waits, expectedWaits);
        if (system.page.status != 0 && browserUsed && c.browser != Browser::Silent &&
            c.browser != Browser::UserCancels)
            EXPECT_EQ(system.page.text, outcome.end == TokenEnd::Ready
                                            ? std::string(sign_in_text::SignedInPage)
                                            : outcome.error);
    }
}

TEST(SignInSteps, TheBrowserRequestProvesTheVerifierAndTheTokenIsKeptUntilItsLastMinute) {
    FakeSystem system;
    system.tokenServer = {Tokens("at1", "rt1", 120), Tokens("at2", "rt2", 120)};
    SignIn signIn(system);
    const OAuth2Settings settings = Settings();
    ASSERT_EQ(signIn.AccessToken(settings, "me@example.com", {}).accessToken, "at1");

    // The challenge in the URL is the S256 of the verifier sent with the code, and both name the redirect.
    const std::string challenge = system.url.substr(system.url.find("code_challenge=") + 15, 43);
    const std::size_t at = system.form.find("code_verifier=") + 14;
    const auto verifier = PercentDecode(system.form.substr(at, system.form.find('&', at) - at));
    EXPECT_EQ(CodeChallengeS256(*verifier), challenge);
    EXPECT_NE(system.url.find("&login_hint=me%40example.com"), std::string::npos) << system.url;
    EXPECT_NE(system.form.find("redirect_uri=http%3A%2F%2F127.0.0.1%3A50123%2F"), std::string::npos);
    EXPECT_TRUE(signIn.IsSignedIn(settings, "me@example.com"));
    EXPECT_FALSE(signIn.IsSignedIn(settings, "you@example.com"));

    system.events.clear();
    system.now += std::chrono::seconds(60); // 60 s left: still used as it is
    EXPECT_EQ(signIn.AccessToken(settings, "me@example.com", {}).accessToken, "at1");
    system.now += std::chrono::seconds(1); // 59 s left: renewed first
    EXPECT_EQ(signIn.AccessToken(settings, "me@example.com", {}).accessToken, "at2");
    EXPECT_EQ(system.events, (std::vector<std::string>{"post refresh_token", "save rt2"}));

    // A refusal by the mail server makes the next send renew at once.
    system.tokenServer = {Tokens("at3", "")};
    signIn.ForgetAccessToken();
    EXPECT_EQ(signIn.AccessToken(settings, "me@example.com", {}).accessToken, "at3");

    // Another user's send does not get this user's token.
    system.events.clear();
    system.tokenServer = {Tokens("at4", "rt4")};
    EXPECT_EQ(signIn.AccessToken(settings, "you@example.com", {}).accessToken, "at4");
    EXPECT_EQ(system.events.front(), "browser");
}
