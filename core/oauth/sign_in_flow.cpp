// The sign-in steps: the token kept in memory, a renewal, or the browser with PKCE and a loopback
// redirect. Nothing is stored unless the whole exchange succeeded.
#include "core/oauth/sign_in_flow.h"

#include "core/oauth/authorize.h"
#include "core/oauth/encoding.h"
#include "core/oauth/pkce.h"
#include "core/oauth/token_store.h"

namespace tarvel::oauth {
namespace {

// 16 random bytes: a state no other sign-in guesses (RFC 6749 section 10.12).
constexpr std::size_t StateRandomBytes = 16;

TokenOutcome Failed(std::string error) {
    return {TokenEnd::Failed, {}, std::move(error)};
}

void Wipe(std::string& secret) {
    volatile char* bytes = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i)
        bytes[i] = 0;
    secret.clear();
}

void Show(const SignIn::Observer& observer, std::string_view status) {
    if (observer.status) observer.status(status);
}

} // namespace

TokenOutcome SignIn::AccessToken(const OAuth2Settings& settings, const std::string& user,
                                 const Observer& observer) {
    const auto endpoints = ResolveEndpoints(settings);
    if (!endpoints) return Failed(std::string(sign_in_text::NoProvider));
    const std::string target = CredentialTarget(user, endpoints->tokenUrl);
    {
        std::lock_guard lock(mutex_);
        if (accessTarget_ == target && !accessToken_.empty() && expires_ - system_.Now() >= RenewBefore)
            return {TokenEnd::Ready, accessToken_, {}};
    }
    if (Cancelled(observer)) return {TokenEnd::Cancelled, {}, std::string(sign_in_text::Cancelled)};
    TokenRead stored = system_.LoadToken(target);
    if (!stored.error.empty()) return Failed("The stored sign-in could not be read: " + stored.error);
    if (stored.found) {
        bool invalidGrant = false;
        TokenOutcome renewed = Renew(*endpoints, settings, user, stored.token, observer, invalidGrant);
        Wipe(stored.token);
        if (!invalidGrant) return renewed;
        // The refresh token was revoked or has run out: it is of no further use to anyone.
        if (const std::string error = system_.DeleteToken(target); !error.empty())
            return Failed("The refused sign-in could not be removed: " + error);
    }
    return Browser(*endpoints, settings, user, observer);
}

TokenOutcome SignIn::SignInWithBrowser(const OAuth2Settings& settings, const std::string& user,
                                       const Observer& observer) {
    const auto endpoints = ResolveEndpoints(settings);
    if (!endpoints) return Failed(std::string(sign_in_text::NoProvider));
    return Browser(*endpoints, settings, user, observer);
}

void SignIn::ForgetAccessToken() {
    std::lock_guard lock(mutex_);
    Wipe(accessToken_);
    accessTarget_.clear();
}

bool SignIn::IsSignedIn(const OAuth2Settings& settings, const std::string& user) {
    const auto endpoints = ResolveEndpoints(settings);
    if (!endpoints) return false;
    TokenRead stored = system_.LoadToken(CredentialTarget(user, endpoints->tokenUrl));
    Wipe(stored.token);
    return stored.found;
}

TokenOutcome SignIn::Renew(const Endpoints& endpoints, const OAuth2Settings& settings,
                           const std::string& user, const std::string& refreshToken, const Observer& observer,
                           bool& invalidGrant) {
    Show(observer, sign_in_text::Renewing);
    std::string form = RefreshForm(settings, endpoints, refreshToken);
    HttpResult http = system_.PostForm(endpoints.tokenUrl, form);
    Wipe(form);
    if (http.status == 0) return Failed("The sign-in server could not be reached: " + http.error);
    TokenResponse response = ParseTokenResponse(http.status, http.body);
    Wipe(http.body);
    if (!response.ok) {
        invalidGrant = response.error == "invalid_grant";
        return Failed(response.description);
    }
    return Accept(CredentialTarget(user, endpoints.tokenUrl), response);
}

TokenOutcome SignIn::Accept(const std::string& target, const TokenResponse& response) {
    // A rotated refresh token replaces the old one, which the server may no longer take: it is kept
    // before anything else is done with the answer.
    if (!response.refreshToken.empty()) {
        if (const std::string error = system_.SaveToken(target, response.refreshToken); !error.empty())
            return Failed("The sign-in could not be kept in Credential Manager: " + error);
    }
    std::lock_guard lock(mutex_);
    accessToken_ = response.accessToken;
    accessTarget_ = target;
    expires_ = system_.Now() + response.expiresIn;
    return {TokenEnd::Ready, accessToken_, {}};
}

TokenOutcome SignIn::Browser(const Endpoints& endpoints, const OAuth2Settings& settings,
                             const std::string& user, const Observer& observer) {
    if (Cancelled(observer)) return {TokenEnd::Cancelled, {}, std::string(sign_in_text::Cancelled)};
    const auto verifierBytes = system_.RandomBytes(VerifierRandomBytes);
    const auto stateBytes = system_.RandomBytes(StateRandomBytes);
    if (!verifierBytes || !stateBytes || verifierBytes->size() != VerifierRandomBytes ||
        stateBytes->size() != StateRandomBytes)
        return Failed("The system gave no random numbers for the sign-in");
    const std::string verifier = CodeVerifier(*verifierBytes);
    const std::string state = Base64UrlEncode(*stateBytes);

    const ListenResult listener = system_.Listen();
    if (listener.port == 0) return Failed("The sign-in could not wait for the browser: " + listener.error);
    const std::string redirectUri = RedirectUri(listener.port);
    const std::string url = AuthorizationUrl(
        endpoints, {settings.ClientId, redirectUri, state, CodeChallengeS256(verifier), user});

    Show(observer, sign_in_text::Waiting);
    if (observer.browserWait) observer.browserWait(true);
    TokenOutcome outcome = Failed("The browser's answer to the sign-in was not readable");
    auto answer = [&](std::string_view requestLine) -> BrowserPage {
        const RedirectAnswer redirect = ParseRedirect(requestLine, state);
        if (redirect.end != RedirectEnd::Code) {
            outcome = Failed(redirect.message);
            return {400, redirect.message};
        }
        std::string form = AuthorizationCodeForm(settings, endpoints, redirect.code, verifier, redirectUri);
        HttpResult http = system_.PostForm(endpoints.tokenUrl, form);
        Wipe(form);
        if (http.status == 0) {
            outcome = Failed("The sign-in server could not be reached: " + http.error);
        } else {
            TokenResponse response = ParseTokenResponse(http.status, http.body);
            Wipe(http.body);
            outcome = response.ok ? Accept(CredentialTarget(user, endpoints.tokenUrl), response)
                                  : Failed(response.description);
        }
        if (outcome.end == TokenEnd::Ready) return {200, std::string(sign_in_text::SignedInPage)};
        return {400, outcome.error};
    };

    static const std::atomic<bool> notCancellable{false};
    static const std::atomic<bool> stopAtOnce{true};
    WaitResult wait;
    if (std::string error = system_.OpenBrowser(url); !error.empty()) {
        // Closes the listener, which waits for nobody now.
        system_.WaitForRedirect(std::chrono::milliseconds(0), stopAtOnce, answer);
        outcome = Failed("The browser could not be opened for the sign-in: " + error);
    } else {
        wait =
            system_.WaitForRedirect(waitLimit_, observer.cancel ? *observer.cancel : notCancellable, answer);
        switch (wait.end) {
        case WaitEnd::Request:
            break;
        case WaitEnd::TimedOut:
            outcome = Failed(std::string(sign_in_text::TimedOut));
            break;
        case WaitEnd::Cancelled:
            outcome = {TokenEnd::Cancelled, {}, std::string(sign_in_text::Cancelled)};
            break;
        case WaitEnd::Failed:
            outcome = Failed("The sign-in could not wait for the browser: " + wait.error);
            break;
        }
    }
    if (observer.browserWait) observer.browserWait(false);
    return outcome;
}

} // namespace tarvel::oauth
