// The sign-in steps against a fake system: which of memory, renewal and browser each situation takes,
// what is stored or deleted in which order, and what the status and the browser's page say.
#include <gtest/gtest.h>

#include "core/oauth/fake_sign_in.h"
#include "core/oauth/pkce.h"
#include "core/oauth/sign_in_flow.h"
#include "core/oauth/url.h"

using namespace tarvel;
using namespace tarvel::oauth;
using test::FakeSignInSystem;
using Strings = std::vector<std::string>;

namespace {

const std::string Me = "me@example.com", Target = "Tarvel Pro/oauth2/me@example.com@localhost";
const std::string Waiting = "Waiting for sign-in in your browser...", Renewing = "Renewing sign-in...";
const HttpResult InvalidGrant{400, R"({"error":"invalid_grant","error_description":"revoked"})", {}};
using test::Tokens;

} // namespace

TEST(SignInSteps, EachSituationTakesItsWay) {
    enum Browser { Code, WrongState, Denied, Silent, UserCancels };
    const struct {
        const char* name;
        bool stored;
        Browser browser;
        std::vector<HttpResult> tokenServer;
        Strings events, statuses;
        TokenEnd end;
        std::string result; // the access token, or the error
        std::string storedAfter;
    } cases[] = {
        {"no token: the browser",
         false,
         Code,
         {Tokens("at1", "rt1")},
         {"browser", "post authorization_code", "save rt1"},
         {Waiting},
         TokenEnd::Ready,
         "at1",
         "rt1"},
        {"stored: renewed, the rotated token stored first",
         true,
         Code,
         {Tokens("at2", "rt2")},
         {"post refresh_token", "save rt2"},
         {Renewing},
         TokenEnd::Ready,
         "at2",
         "rt2"},
        {"renewal without a new refresh token keeps the old",
         true,
         Code,
         {Tokens("at2", "")},
         {"post refresh_token"},
         {Renewing},
         TokenEnd::Ready,
         "at2",
         "rt0"},
        {"invalid_grant: deleted, the browser once",
         true,
         Code,
         {InvalidGrant, Tokens("at3", "rt3")},
         {"post refresh_token", "delete", "browser", "post authorization_code", "save rt3"},
         {Renewing, Waiting},
         TokenEnd::Ready,
         "at3",
         "rt3"},
        {"invalid_grant, then refused in the browser",
         true,
         Denied,
         {InvalidGrant},
         {"post refresh_token", "delete", "browser"},
         {Renewing, Waiting},
         TokenEnd::Failed,
         "The sign-in was refused: access_denied",
         ""},
        {"another server error keeps the token",
         true,
         Code,
         {{503, "{}", {}}},
         {"post refresh_token"},
         {Renewing},
         TokenEnd::Failed,
         "The sign-in server refused: HTTP 503",
         "rt0"},
        {"server unreachable",
         true,
         Code,
         {{0, "", "no route"}},
         {"post refresh_token"},
         {Renewing},
         TokenEnd::Failed,
         "The sign-in server could not be reached: no route",
         "rt0"},
        {"wrong state",
         false,
         WrongState,
         {},
         {"browser"},
         {Waiting},
         TokenEnd::Failed,
         "The browser's answer did not belong to this sign-in (wrong state); nothing was stored",
         ""},
        {"no answer in time",
         false,
         Silent,
         {},
         {"browser"},
         {Waiting},
         TokenEnd::Failed,
         "The sign-in was not completed in the browser within the time allowed",
         ""},
        {"cancel",
         false,
         UserCancels,
         {},
         {"browser"},
         {Waiting},
         TokenEnd::Cancelled,
         "The sign-in was cancelled",
         ""},
        {"code refused at the token URL",
         false,
         Code,
         {InvalidGrant},
         {"browser", "post authorization_code"},
         {Waiting},
         TokenEnd::Failed,
         "The sign-in server refused: invalid_grant (revoked)",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSignInSystem system;
        std::atomic<bool> cancel{false};
        system.answer = c.browser == Denied ? "error=access_denied" : c.browser == Silent ? "" : "code=c1";
        system.wrongState = c.browser == WrongState;
        if (c.browser == UserCancels) system.release = false, system.cancelWhileWaiting = &cancel;
        system.tokenServer.assign(c.tokenServer.begin(), c.tokenServer.end());
        if (c.stored) system.store[Target] = "rt0";
        Strings statuses, waits;
        SignIn signIn(system);
        const TokenOutcome outcome = signIn.AccessToken(
            test::LocalOAuth(), Me, {[&](std::string_view s) { statuses.emplace_back(s); }, {}, &cancel});
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(outcome.end == TokenEnd::Ready ? outcome.accessToken : outcome.error, c.result);
        EXPECT_EQ(system.events, c.events);
        EXPECT_EQ(statuses, c.statuses);
        EXPECT_EQ(system.store.count(Target) ? system.store[Target] : "", c.storedAfter);
        EXPECT_TRUE(system.tokenServer.empty());
        // The browser's page tells how the sign-in ended.
        if (c.browser != Silent && c.browser != UserCancels && statuses.back() == Waiting) {
            EXPECT_EQ(system.page.text, outcome.end == TokenEnd::Ready
                                            ? std::string(sign_in_text::SignedInPage)
                                            : outcome.error);
        }
    }
}

TEST(SignInSteps, TheVerifierMatchesTheChallengeAndATokenServesUntilItsLastMinute) {
    FakeSignInSystem system;
    system.tokenServer = {Tokens("at1", "rt1", 120), Tokens("at2", "rt2", 120)};
    SignIn signIn(system);
    ASSERT_EQ(signIn.AccessToken(test::LocalOAuth(), Me, {}).accessToken, "at1");
    const std::string challenge = system.url.substr(system.url.find("code_challenge=") + 15, 43);
    const std::size_t at = system.form.find("code_verifier=") + 14;
    EXPECT_EQ(CodeChallengeS256(*PercentDecode(system.form.substr(at, system.form.find('&', at) - at))),
              challenge);
    EXPECT_NE(system.url.find("&login_hint=me%40example.com"), std::string::npos) << system.url;
    EXPECT_NE(system.form.find("redirect_uri=http%3A%2F%2F127.0.0.1%3A50123%2F"), std::string::npos);
    EXPECT_TRUE(signIn.IsSignedIn(test::LocalOAuth(), Me));
    EXPECT_FALSE(signIn.IsSignedIn(test::LocalOAuth(), "you@example.com"));

    system.events.clear();
    system.now += std::chrono::seconds(60); // 60 s left: used as it is
    EXPECT_EQ(signIn.AccessToken(test::LocalOAuth(), Me, {}).accessToken, "at1");
    system.now += std::chrono::seconds(1); // 59 s left: renewed first
    EXPECT_EQ(signIn.AccessToken(test::LocalOAuth(), Me, {}).accessToken, "at2");
    EXPECT_EQ(system.events, (Strings{"post refresh_token", "save rt2"}));
    // Another user's send does not get this user's token.
    system.tokenServer = {Tokens("at4", "rt4")};
    EXPECT_EQ(signIn.AccessToken(test::LocalOAuth(), "you@example.com", {}).accessToken, "at4");
}
